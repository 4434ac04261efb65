// Timers and keyed callbacks of the Tolm module on the run loop, off-screen
// and on an X server of the test's own: how long a timer lives, what it
// prints, and that its function is freed.
#include "host/tolm_module.hh"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "host/Host.hh"
#include "lua/lauxlib.h"
#include "lua/lua.h"
#include "lua/lualib.h"
#include "renderer/RendererAppKit.hh"
#include "tests/renderer/Xvfb.hh"
#include "tests/support/TestSupport.hh"

namespace {

// The display the root renderer runs on: "headless" or "x11".
class TolmTimers : public ::testing::TestWithParam<const char*> {
protected:
  static void TearDownTestSuite()
  {
    delete server;
    server = nullptr;
  }

  void SetUp() override
  {
    if (std::string(GetParam()) == "x11") {
      REQUIRE_TOOL(xvfb, "Xvfb");
      if (!server)
        server = new Xvfb(xvfb);
      ASSERT_FALSE(server->display().empty()) << "Xvfb did not start";
      const char* display = getenv("DISPLAY");
      savedDisplay = display ? display : "";
      changedDisplay = true;
      setenv("DISPLAY", server->display().c_str(), 1);
      unsetenv("TOLM_HEADLESS");
    } else {
      setenv("TOLM_HEADLESS", "1", 1);
    }
    RendererAppKit* appkit = new RendererAppKit;
    root = appkit;
    ASSERT_TRUE(root->init(nullptr));
    ASSERT_STREQ(appkit->displayName(), GetParam());
    host::parent_renderer = root;
    L = luaL_newstate();
    luaL_openlibs(L);
    lua_pushcfunction(L, luaopen_tolm);
    ASSERT_EQ(lua_pcall(L, 0, 0, 0), 0);
    // Every run ends within two seconds whatever the timers under test do.
    ASSERT_EQ(exec("Tolm.addTimer(function() Tolm.exit(99) end, 2)"), "");
  }
  void TearDown() override
  {
    if (L)
      lua_close(L);
    host::parent_renderer = nullptr;
    delete root;
    unsetenv("TOLM_HEADLESS");
    if (changedDisplay && savedDisplay.empty())
      unsetenv("DISPLAY");
    else if (changedDisplay)
      setenv("DISPLAY", savedDisplay.c_str(), 1);
  }

  std::string exec(const std::string& code)
  {
    if (luaL_loadbuffer(L, code.data(), code.size(), "=test") || lua_pcall(L, 0, 0, 0)) {
      std::string message = lua_tostring(L, -1) ? lua_tostring(L, -1) : "(no message)";
      lua_pop(L, 1);
      return message;
    }
    return "";
  }

  lua_State* L = nullptr;
  Renderer* root = nullptr;
  std::string savedDisplay;
  bool changedDisplay = false;
  static inline Xvfb* server = nullptr;
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Displays, TolmTimers, ::testing::Values("headless", "x11"),
                         [](const auto& info) { return std::string(info.param); });

TEST_P(TolmTimers, LifetimeByResult)
{
  // Each timer counts its runs; `results` are what it returns on its runs,
  // after which it returns nothing.
  testing::internal::CaptureStderr();
  EXPECT_EQ(exec("runs = {}\n"
                 "alive = setmetatable({}, {__mode = 'k'})\n"
                 "local cases = {\n"
                 "  three = {true, true, true},\n"
                 "  falseAt2 = {true, false, true},\n"
                 "  number = {1, true},\n"
                 "  string = {'true'},\n"
                 "  raises = 'error',\n"
                 "}\n"
                 "for name, results in pairs(cases) do\n"
                 "  runs[name] = 0\n"
                 "  local f = function()\n"
                 "    runs[name] = runs[name] + 1\n"
                 "    if results == 'error' then error('boom ' .. name) end\n"
                 "    if results[runs[name]] ~= nil then return results[runs[name]] end\n"
                 "  end\n"
                 "  alive[f] = name\n"
                 "  Tolm.addTimer(f, 0.001)\n"
                 "end\n"
                 "Tolm.addTimer(function() Tolm.exit(7) end, 0.3)\n"
                 "Tolm.run()"),
            "");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "timerWrapper: test:14: boom raises\n");
  EXPECT_EQ(exec("assert(runs.three == 4, runs.three)\n"
                 "assert(runs.falseAt2 == 2, runs.falseAt2)\n"
                 "assert(runs.number == 1, runs.number)\n"
                 "assert(runs.string == 1, runs.string)\n"
                 "assert(runs.raises == 1, runs.raises)\n"
                 "collectgarbage('collect')\n"
                 "for f, name in pairs(alive) do error(name .. ' still referenced') end"),
            "");
}

TEST_P(TolmTimers, ExitCodeAndNestedTimers)
{
  // A timer added by a timer runs too; the code given to exit comes back
  // from the loop.
  EXPECT_EQ(exec("order = ''\n"
                 "Tolm.addTimer(function()\n"
                 "  order = order .. 'a'\n"
                 "  Tolm.addTimer(function() order = order .. 'b' Tolm.exit(5) end, 0.001)\n"
                 "end, 0.001)\n"
                 "Tolm.runLoop(0.01)\n"
                 "assert(order == '', 'runLoop makes no pass of the loop')\n"
                 "Tolm.run()\n"
                 "assert(order == 'ab', order)"),
            "");
  EXPECT_EQ(host::tolm_ec, 5);
}

TEST_P(TolmTimers, KeyedCallbacks)
{
  testing::internal::CaptureStderr();
  EXPECT_EQ(exec("alive = setmetatable({}, {__mode = 'k'})\n"
                 "local first = function(key) got = 'first ' .. key end\n"
                 "local second = function(key) got = 'second ' .. key end\n"
                 "alive[first] = 'first' alive[second] = 'second'\n"
                 "Tolm.addCallback(1, first)\n"
                 "Tolm.addCallback(1, second)\n"
                 "first, second = nil, nil\n"
                 "collectgarbage('collect')\n"
                 "assert(alive[next(alive)] == 'first' and next(alive, next(alive)) == nil)\n"
                 "Tolm.addCallback(2, function(key) error('bad ' .. key) end)\n"
                 "Tolm.addCallback(4, function(key) Tolm.removeCallback(key) removed = key end)"),
            "");
  // Fired as a back end with keyed events would.
  auto& callbacks = root->callbacks;
  ASSERT_EQ(callbacks.size(), 3u);
  callbacks.at(1).fn(1, callbacks.at(1).user);
  callbacks.at(2).fn(2, callbacks.at(2).user);
  // One that removes itself while it runs.
  const auto fourth = callbacks.at(4);
  fourth.fn(4, fourth.user);
  EXPECT_EQ(callbacks.count(4), 0u);
  EXPECT_EQ(exec("assert(got == 'first 1', got)\n"
                 "assert(removed == 4)\n"
                 "Tolm.removeCallback(1)\n"
                 "Tolm.removeCallback(2)\n"
                 "Tolm.removeCallback(3)\n"
                 "collectgarbage('collect')\n"
                 "assert(next(alive) == nil, 'first still referenced')"),
            "");
  EXPECT_TRUE(callbacks.empty());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "callback already present for: 1\n"
                 "callbackWrapper: test:10: bad 2\n"
                 "No callback for: 3\n");
}

TEST_P(TolmTimers, AddedFromACoroutineThatIsGone)
{
  // The timer runs on the main thread after its coroutine was collected.
  EXPECT_EQ(exec("fired = 0\n"
                 "coroutine.wrap(function()\n"
                 "  Tolm.addTimer(function() fired = fired + 1 Tolm.exit(4) end, 0.01)\n"
                 "end)()\n"
                 "collectgarbage('collect')\n"
                 "Tolm.run()\n"
                 "assert(fired == 1, fired)"),
            "");
  EXPECT_EQ(host::tolm_ec, 4);
}
