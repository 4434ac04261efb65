// The resource directory and the debug-only log line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

#include "platform/Resources.hh"

namespace {

TEST(Resources, DirectoryFromEnvironmentElseExecutable)
{
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  std::string own(exe, (size_t)n);
  own = own.substr(0, own.rfind('/'));

  struct Case {
    const char* env; // nullptr = unset
    std::string dir;
  };
  const Case cases[] = {
      {nullptr, own},
      {"", own},
      {"/opt/tolm/share", "/opt/tolm/share"},
      {"/opt/tolm/share//", "/opt/tolm/share"},
      {"/", "/"},
      {"relative/dir", "relative/dir"},
  };
  for (const Case& c : cases) {
    if (c.env)
      setenv("TOLM_RESOURCE_DIR", c.env, 1);
    else
      unsetenv("TOLM_RESOURCE_DIR");
    EXPECT_EQ(platform::resourceDirectory(), c.dir) << (c.env ? c.env : "(unset)");
  }
  unsetenv("TOLM_RESOURCE_DIR");
}

TEST(Resources, SystemLogOnlyUnderTheDebugSwitch)
{
  struct Case {
    const char* env;
    std::string out;
  };
  const Case cases[] = {
      {nullptr, ""},
      {"0", ""},
      {"", ""},
      {"1", "tolm: scanner 3 ready\n"},
  };
  for (const Case& c : cases) {
    if (c.env)
      setenv("TOLM_DEBUG", c.env, 1);
    else
      unsetenv("TOLM_DEBUG");
    testing::internal::CaptureStderr();
    platform::systemLog("scanner %d %s", 3, "ready");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.out);
  }
  unsetenv("TOLM_DEBUG");
  // A long line is cut, never overrun.
  setenv("TOLM_DEBUG", "1", 1);
  testing::internal::CaptureStderr();
  platform::systemLog("%s", std::string(5000, 'x').c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr().size(), 6 + 1023 + 1);
  unsetenv("TOLM_DEBUG");
}

} // namespace
