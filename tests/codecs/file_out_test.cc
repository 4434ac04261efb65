#include "codecs/FileOut.hh"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TestSupport.hh"

using namespace testsupport;

namespace fs = std::filesystem;

// A link that leads nowhere is neither written through (the file would
// appear wherever it points: a share not mounted) nor replaced by a file:
// the open fails and the folder is as it was.
TEST(FileOut, LinksToNothingAreNotWrittenThrough)
{
  const struct {
    const char* name;
    const char* to;
  } cases[] = {
    {"missing", "folder/keep.pdf"},      // the folder is there, the file not
    {"unmounted", "share/nothing/x.pdf"}, // neither
    {"loop", "loop"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    fs::create_directories(dir.file("folder"));
    ASSERT_EQ(symlink(c.to, dir.file("out").c_str()), 0);
    for (bool update : {false, true}) {
      FileOut f(dir.file("out"),
                std::ios::in | std::ios::out | std::ios::binary |
                  (update ? std::ios::app : std::ios::trunc),
                update);
      EXPECT_FALSE(f.isOpen());
      EXPECT_NE(f.openError(), 0);
      EXPECT_FALSE(f.commit());
    }
    EXPECT_EQ(fs::read_symlink(dir.file("out")).string(), c.to);
    EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"folder", "out"}));
    EXPECT_TRUE(fs::is_empty(dir.file("folder")));
  }
}

// A process ending in a hurry: every temporary file goes, the files put in
// place since recording began are named, and nothing is made or renamed
// afterwards (a writer still running on another thread cannot leave a
// file behind). Run in a child: the registry stays closed.
TEST(FileOut, RemoveTemporariesLeavesOnlyWhatWasCommitted)
{
  TempDir dir;
  const std::string d = dir.path();
  ASSERT_TRUE(writeFile(d + "/old", "old bytes"));
  auto hurry = [&]() {
    const std::ios::openmode mode = std::ios::out | std::ios::binary | std::ios::trunc;
    FileOut before(d + "/before", mode);
    before << "whole";
    if (!before.commit())
      _exit(1);
    FileOut::recordCommitted(true);
    FileOut done(d + "/done", mode), open1(d + "/open", mode), old(d + "/old", mode);
    done << "whole";
    open1 << "half";
    old << "new bytes, half";
    if (!done.commit() || !open1.isOpen() || !old.isOpen())
      _exit(2);
    if (listing(d).size() != 5) // before, done, old and two temporary files
      _exit(3);
    if (FileOut::removeTemporaries() != std::vector<std::string>{d + "/done"})
      _exit(4);
    if (listing(d) != std::vector<std::string>{"before", "done", "old"})
      _exit(5);
    if (open1.commit() || old.commit() || readFile(d + "/old") != "old bytes")
      _exit(6);
    FileOut late(d + "/late", mode);
    if (late.isOpen() || listing(d).size() != 3)
      _exit(7);
    _exit(0);
  };
  EXPECT_EXIT(hurry(), ::testing::ExitedWithCode(0), "");
}
