// Differential tests against the reference interpreter and compiler: every
// script of the corpus prints the same under both runners, and the compiler
// produces the same instruction listing as the reference compiler.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "tests/support/Harness.hh"

namespace {

std::vector<std::string> corpus() {
  std::string dir = testsupport::sourceDir() + "/tests/lua/corpus";
  std::vector<std::string> files;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".lua") == 0) files.push_back(dir + "/" + name);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Replaces every "0x" + hex digits with ADDR (addresses differ between runs).
std::string withoutAddresses(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "0x") == 0 && i + 2 < text.size() && isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += "ADDR";
      i += 2;
      while (i < text.size() && isxdigit(static_cast<unsigned char>(text[i]))) i++;
    } else {
      out += text[i++];
    }
  }
  return out;
}

TEST(LuaCorpus, ScriptsPrintWhatTheReferencePrints) {
  REQUIRE_TOOL(lua, "lua5.1");
  std::vector<std::string> files = corpus();
  ASSERT_FALSE(files.empty());
  for (const std::string& f : files) {
    std::string ours, theirs;
    int rc1 = testsupport::run(std::string(TLUA_PATH) + " " + f + " 2>/dev/null", &ours);
    int rc2 = testsupport::run(lua + " " + f + " 2>/dev/null", &theirs);
    EXPECT_EQ(rc1 == 0, rc2 == 0) << f;
    EXPECT_EQ(ours, theirs) << f;
  }
}

TEST(LuaCorpus, ListingsMatchTheReferenceCompiler) {
  REQUIRE_TOOL(luac, "luac5.1");
  std::vector<std::string> files = corpus();
  ASSERT_FALSE(files.empty());
  for (const std::string& f : files) {
    std::string ours, theirs;
    ASSERT_EQ(testsupport::run(std::string(TLUA_PATH) + " -l " + f, &ours), 0) << f;
    ASSERT_EQ(testsupport::run(luac + " -l -l -p " + f, &theirs), 0) << f;
    EXPECT_EQ(withoutAddresses(ours), withoutAddresses(theirs)) << f;
  }
}

}  // namespace
