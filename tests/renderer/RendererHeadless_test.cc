// The "appkit" renderer without a display: the run loop (timers, posted
// tasks, quit, the idle exit), injected input, close requests, deferred
// deletion and the PNG snapshot.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "renderer/RendererAppKit.hh"
#include "tests/renderer/Recorder.hh"
#include "tests/support/TestSupport.hh"

namespace {

class Headless : public ::testing::Test {
protected:
  void SetUp() override
  {
    setenv("TOLM_HEADLESS", "1", 1);
    unsetenv("TOLM_SNAPSHOT_DIR");
    root = std::make_unique<RendererAppKit>();
    ASSERT_TRUE(root->init(nullptr));
    ASSERT_STREQ(root->displayName(), "headless");
    // No test may hang: whatever happens, the loop ends within 20 seconds.
    root->addTimer(
        [](void* r) {
          static_cast<Renderer*>(r)->quit(99);
          return false;
        },
        20, root.get());
  }
  // Runs the loop until quit; the safety timer keeps it from going idle.
  int run() { return root->run(); }
  std::unique_ptr<RendererAppKit> root;
};

Event pointer(uint32_t type, int x, int y, uint32_t button = 0)
{
  Event e;
  e.type = type;
  e.x = x;
  e.y = y;
  e.button = button;
  return e;
}

TEST_F(Headless, QuitBeforeRunReturnsAtOnce)
{
  root->quit(3);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(run(), 3);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(Headless, TimersRepeatUntilFalseWhileTheLoopRuns)
{
  struct State {
    int calls = 0;
    Renderer* root;
  } state{0, root.get()};
  root->addTimer(
      [](void* p) {
        auto* s = static_cast<State*>(p);
        ++s->calls;
        return s->calls < 4; // true three times, then false
      },
      0.005, &state);
  root->addTimer(
      [](void* p) {
        static_cast<State*>(p)->root->quit(7);
        return false;
      },
      0.2, &state);
  EXPECT_EQ(run(), 7);
  EXPECT_EQ(state.calls, 4);
}

TEST_F(Headless, ThrowingTimerActionStaysInsideTheLoop)
{
  root->addTimer([](void*) -> bool { throw std::runtime_error("bad action"); }, 0.001, nullptr);
  root->addTimer(
      [](void* r) {
        static_cast<Renderer*>(r)->quit(1);
        return false;
      },
      0.05, root.get());
  testing::internal::CaptureStderr();
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "timer: bad action\n");
}

TEST(HeadlessIdle, EndsWhenNothingCanWakeIt)
{
  setenv("TOLM_HEADLESS", "1", 1);
  RendererAppKit root;
  ASSERT_TRUE(root.init(nullptr));
  Renderer* window = root.newWindow(0, 0, 10, 10, false); // a window alone wakes nothing
  int calls = 0;
  root.addTimer(
      [](void* p) {
        ++*static_cast<int*>(p);
        return false;
      },
      0.01, &calls);
  testing::internal::CaptureStderr();
  EXPECT_EQ(root.run(), 0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(calls, 1) << "the timer ran before the loop went idle";
  EXPECT_EQ(err, "run loop: no timer, task or event source left to wait for; leaving the loop\n");
  delete window;
}

TEST_F(Headless, PostedTaskFromAnotherThreadWakesTheLoop)
{
  std::atomic<int> ranOn{0};
  const auto loopThread = std::this_thread::get_id();
  root->addEventSource();
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    root->postTask([&] {
      ranOn = std::this_thread::get_id() == loopThread ? 1 : 2;
      root->quit(5);
    });
    root->removeEventSource();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(run(), 5);
  other.join();
  EXPECT_EQ(ranOn.load(), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(HeadlessIdle, EventSourceKeepsTheLoopUntilItLeaves)
{
  setenv("TOLM_HEADLESS", "1", 1);
  RendererAppKit root;
  ASSERT_TRUE(root.init(nullptr));
  std::atomic<bool> posted{false};
  root.addEventSource();
  std::thread scanner([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    for (int i = 0; i < 100; ++i)
      root.postTask([&] { posted = true; });
    root.removeEventSource();
  });
  testing::internal::CaptureStderr();
  EXPECT_EQ(root.run(), 0);
  testing::internal::GetCapturedStderr();
  scanner.join();
  EXPECT_TRUE(posted.load());
}

TEST_F(Headless, InjectedEventsReachTheHandlerInOrder)
{
  std::unique_ptr<Renderer> window(root->newWindow(10, 20, 64, 48, false));
  Recorder rec;
  window->handler = &rec;
  Event key;
  key.type = KeyPress;
  key.keycode = 0x7B;
  key.flags = 1;
  key.modifiers = ModShift | ModAlt;
  std::memcpy(key.text, "\xF0\x9F\x98\x80", 4);
  ASSERT_TRUE(window->injectEvent(pointer(ButtonPress, 3, 4, 1)));
  ASSERT_TRUE(window->injectEvent(key));
  ASSERT_TRUE(window->injectEvent(pointer(PointerMotion, 5, 6)));
  root->postTask([&] { root->quit(0); });
  EXPECT_EQ(run(), 0);
  ASSERT_EQ(rec.events.size(), 3u);
  EXPECT_EQ(rec.events[0].type, (uint32_t)ButtonPress);
  EXPECT_EQ(rec.events[0].button, 1u);
  EXPECT_EQ(rec.events[0].x, 3);
  EXPECT_EQ(rec.events[1].keycode, 0x7Bu);
  EXPECT_EQ(std::string(rec.events[1].text, 4), "\xF0\x9F\x98\x80");
  EXPECT_EQ(rec.events[1].modifiers, ModShift | ModAlt);
  EXPECT_EQ(rec.events[2].type, (uint32_t)PointerMotion);
}

TEST_F(Headless, ThrowingHandlerDoesNotLeaveTheLoop)
{
  std::unique_ptr<Renderer> window(root->newWindow(0, 0, 8, 8, false));
  Recorder rec;
  rec.onEvent = [](Renderer*, const Event& e) {
    if (e.button == 1)
      throw std::runtime_error("script error");
  };
  window->handler = &rec;
  window->injectEvent(pointer(ButtonPress, 0, 0, 1));
  window->injectEvent(pointer(ButtonPress, 0, 0, 2));
  root->postTask([&] { root->quit(0); });
  testing::internal::CaptureStderr();
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "event handler: script error\n");
  EXPECT_EQ(rec.events.size(), 2u);
}

TEST_F(Headless, CloseRequestAsksTheHandlerAndKeepsTheWindow)
{
  std::unique_ptr<Renderer> window(root->newWindow(0, 0, 8, 8, false));
  Recorder rec;
  window->handler = &rec;
  window->setHidden(false);
  window->injectClose();
  root->postTask([&] { root->quit(0); });
  run();
  EXPECT_EQ(rec.closes, 1);
  EXPECT_TRUE(static_cast<RendererAppKit*>(window.get())->platformWindow()->visible());
}

TEST_F(Headless, ScheduledDeleteHidesAtOnceAndDestroysAtASafePoint)
{
  auto* window = static_cast<RendererAppKit*>(root->newWindow(0, 0, 8, 8, false));
  Recorder rec;
  window->handler = &rec;
  window->setHidden(false);
  // The handler deletes its own window from inside its dispatch; the
  // events queued behind it must not arrive.
  rec.onEvent = [](Renderer* r, const Event&) { r->scheduleDelete(); };
  window->injectEvent(pointer(ButtonPress, 1, 1, 1));
  window->injectEvent(pointer(ButtonRelease, 1, 1, 1));
  window->injectClose();
  bool hiddenAtOnce = false, stillPending = false;
  root->postTask([&] {
    hiddenAtOnce = !window->platformWindow()->visible();
    stillPending = root->pendingDeletes.count(window) == 1;
  });
  root->addTimer(
      [](void* r) {
        static_cast<Renderer*>(r)->quit(0);
        return false;
      },
      0.05, root.get());
  run();
  EXPECT_EQ(rec.events.size(), 1u);
  EXPECT_EQ(rec.closes, 0);
  EXPECT_TRUE(hiddenAtOnce);
  EXPECT_TRUE(stillPending);
  EXPECT_TRUE(root->pendingDeletes.empty()) << "deleted at the loop's safe point";
}

TEST(HeadlessRoot, DestroysWindowsStillPending)
{
  setenv("TOLM_HEADLESS", "1", 1);
  auto root = std::make_unique<RendererAppKit>();
  root->init(nullptr);
  Renderer* a = root->newWindow(0, 0, 8, 8, false);
  Renderer* b = root->newWindow(0, 0, 8, 8, false);
  a->scheduleDelete();
  EXPECT_EQ(root->pendingDeletes.size(), 1u);
  root.reset(); // a is deleted here (the sanitizers see a leak otherwise)
  // b is cut loose but still usable and deletable.
  b->update(0, 0, 8, 8);
  b->setHidden(false);
  EXPECT_FALSE(b->postTask([] {}));
  delete b;
}

TEST_F(Headless, ShowingReportsTheFrameCentredForMinusOne)
{
  std::unique_ptr<Renderer> centred(root->newWindow(-1, -1, 200, 100, false));
  std::unique_ptr<Renderer> placed(root->newWindow(30, 40, 200, 100, false));
  Recorder a, b;
  centred->handler = &a;
  placed->handler = &b;
  EXPECT_FALSE(static_cast<RendererAppKit*>(centred.get())->platformWindow()->visible());
  centred->setHidden(false);
  placed->setHidden(false);
  ASSERT_EQ(a.frames.size(), 1u);
  EXPECT_EQ(a.frames[0], (std::vector<int>{860, 490, 200, 100, 0}));
  ASSERT_EQ(b.frames.size(), 1u);
  EXPECT_EQ(b.frames[0], (std::vector<int>{30, 40, 200, 100, 0}));
}

TEST_F(Headless, WindowBufferAndResize)
{
  std::unique_ptr<Renderer> window(root->newWindow(0, 0, 30, 20, false));
  EXPECT_EQ(window->width, 30u);
  EXPECT_EQ(window->height, 20u);
  EXPECT_EQ(window->bufferSize, 2400u);
  EXPECT_FALSE(window->resize(30, 20));
  EXPECT_TRUE(window->resize(40, 10));
  EXPECT_EQ(window->bufferSize, 1600u);
  std::unique_ptr<Renderer> empty(root->newWindow(0, 0, -5, 10, false));
  EXPECT_EQ(empty->width, 0u);
}

TEST_F(Headless, ClipboardInProcess)
{
  EXPECT_EQ(root->readClip(), "");
  EXPECT_TRUE(root->writeClip("grüße"));
  std::unique_ptr<Renderer> window(root->newWindow(0, 0, 8, 8, false));
  EXPECT_EQ(window->readClip(), "grüße");
}

TEST_F(Headless, SnapshotWrittenOnUpdateAndSync)
{
  REQUIRE_TOOL(python, "python3");
  testsupport::TempDir dir;
  root.reset();
  setenv("TOLM_SNAPSHOT_DIR", dir.path().c_str(), 1);
  root = std::make_unique<RendererAppKit>();
  ASSERT_TRUE(root->init(nullptr));
  unsetenv("TOLM_SNAPSHOT_DIR");
  std::unique_ptr<Renderer> window(root->newWindow(0, 0, 3, 2, false));
  const uint8_t pixels[] = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0,
                            1, 2, 3, 4, 250, 251, 252, 253, 9, 8, 7, 255};
  std::memcpy(window->buffer, pixels, sizeof pixels);
  window->syncImpl();
  const std::string png = dir.file("window-1.png");
  const std::string script = python + " -c \"from PIL import Image; im = Image.open('" + png +
                             "'); print(im.mode, im.size, list(im.getdata()))\"";
  std::string out;
  ASSERT_EQ(testsupport::run(script, &out), 0);
  EXPECT_EQ(out, "RGBA (3, 2) [(255, 0, 0, 255), (0, 255, 0, 128), (0, 0, 255, 0), (1, 2, 3, 4), "
                 "(250, 251, 252, 253), (9, 8, 7, 255)]\n");
  // update() writes it before the loop waits.
  window->buffer[0] = 17;
  window->update(0, 0, 1, 1);
  root->postTask([&] { root->quit(0); });
  run();
  ASSERT_EQ(testsupport::run(script, &out), 0);
  EXPECT_EQ(out.substr(0, 22), "RGBA (3, 2) [(17, 0, 0");
}

} // namespace
