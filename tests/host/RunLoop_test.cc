// The run loop entry points and the idle handler, over a renderer whose
// loop returns at once.
#include <gtest/gtest.h>

#include <cmath>

#include "host/Host.hh"
#include "host/RunLoop.hh"
#include "host_support.hh"
#include "renderer/Renderer.hh"

namespace {

struct LoopRenderer : Renderer {
  int code = 0;
  double ranFor = -1;
  Renderer* newWindow(int, int, int, int, bool) override { return nullptr; }
  void scheduleDelete() override {}
  bool init(void (*)()) override { return true; }
  int run() override { return code; }
  void runLoop(double seconds) override { ranFor = seconds; }
  void quit(int c) override { code = c; }
  void resizeWindow(unsigned, unsigned) override {}
  void setHidden(bool) override {}
  void setDecoration(bool) override {}
  void setFloating(bool) override {}
  void grabPointer(bool) override {}
  void updateImpl(int, int, int, int) override {}
};

class RunLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::L = state.L;
    host::parent_renderer = &renderer;
    host::tolm_ec = 0;
    host::run_entered = false;
  }
  void TearDown() override {
    host::L = nullptr;
    host::parent_renderer = nullptr;
  }
  // Makes `n` unreachable objects whose finalisers count into `collected`.
  void makeGarbage(int n) {
    std::string code = "collected = collected or 0; for i = 1, " + std::to_string(n) +
                       " do local p = newproxy(true); getmetatable(p).__gc = function() collected = collected + 1 end end";
    ASSERT_TRUE(state.run(code).ok);
  }
  int collected() { return std::atoi(state.run("return collected").value.c_str()); }

  hosttest::State state;
  LoopRenderer renderer;
};

TEST_F(RunLoopTest, ExitCodeComesFromTheLoop) {
  host::quitTolm(3);
  EXPECT_EQ(host::runTolm(), 3);
  EXPECT_EQ(host::tolm_ec, 3);
  EXPECT_TRUE(host::run_entered);
  host::runTolmLoop(0.25);
  EXPECT_EQ(renderer.ranFor, 0.25);
}

TEST_F(RunLoopTest, IdleThresholds) {
  ASSERT_TRUE(state.run("collectgarbage('stop')").ok);
  makeGarbage(10);
  host::idle_handler.idle(&renderer, 0.2);
  EXPECT_EQ(collected(), 0);
  host::idle_handler.idle(&renderer, std::nan(""));
  EXPECT_EQ(collected(), 0);
  host::idle_handler.idle(&renderer, 0.4);
  EXPECT_EQ(collected(), 10);
  makeGarbage(5);
  host::idle_handler.idle(&renderer, 0.0);
  EXPECT_EQ(collected(), 15);
  makeGarbage(5);
  host::idle_handler.oom(&renderer);
  EXPECT_EQ(collected(), 20);
}

TEST_F(RunLoopTest, RaisingFinaliserDoesNotEscapeTheLoop) {
  ASSERT_TRUE(state.run("collectgarbage('stop'); local p = newproxy(true); getmetatable(p).__gc = function() error('gc') end").ok);
  int top = lua_gettop(state.L);
  host::idle_handler.idle(&renderer, 1.0);  // must not throw
  EXPECT_EQ(lua_gettop(state.L), top);
}

}  // namespace
