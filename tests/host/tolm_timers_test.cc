// Timers and keyed callbacks of the Tolm module on the off-screen run loop:
// how long a timer lives, what it prints, and that its function is freed.
#include "host/tolm_module.hh"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "host/Host.hh"
#include "lua/lauxlib.h"
#include "lua/lua.h"
#include "lua/lualib.h"
#include "renderer/RendererAppKit.hh"

namespace {

class TolmTimers : public ::testing::Test {
protected:
  void SetUp() override
  {
    setenv("TOLM_HEADLESS", "1", 1);
    root = new RendererAppKit;
    ASSERT_TRUE(root->init(nullptr));
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
    lua_close(L);
    host::parent_renderer = nullptr;
    delete root;
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
};

} // namespace

TEST_F(TolmTimers, LifetimeByResult)
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

TEST_F(TolmTimers, ExitCodeAndNestedTimers)
{
  // A timer added by a timer runs too; the code given to exit comes back
  // from the loop.
  EXPECT_EQ(exec("order = ''\n"
                 "Tolm.addTimer(function()\n"
                 "  order = order .. 'a'\n"
                 "  Tolm.addTimer(function() order = order .. 'b' Tolm.exit(5) end, 0.001)\n"
                 "end, 0.001)\n"
                 "Tolm.run()\n"
                 "assert(order == 'ab', order)"),
            "");
  EXPECT_EQ(host::tolm_ec, 5);
}

TEST_F(TolmTimers, KeyedCallbacks)
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
