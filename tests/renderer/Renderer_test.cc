// The renderer interface's own behaviour: the factory registry, buffer
// sizing, update clipping, timer records and keyed callbacks.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "renderer/Renderer.hh"

namespace {

struct NamedFactory : RendererFactory {
  explicit NamedFactory(const std::string& name) : RendererFactory(name), name(name) {}
  std::string info() override { return name + " back end"; }
  Renderer* create() override { return nullptr; }
  std::string name;
};

// Runs each case against an empty registry, restoring the real one after.
class FactoryRegistry : public ::testing::Test {
protected:
  void SetUp() override
  {
    saved = RendererFactory::library;
    RendererFactory::library = nullptr;
  }
  void TearDown() override { RendererFactory::library = saved; }
  std::map<std::string, RendererFactory*>* saved = nullptr;
};

TEST_F(FactoryRegistry, FindRules)
{
  struct Case {
    std::vector<std::string> registered;
    std::string query;
    std::string found; // "" = none
  };
  const Case cases[] = {
      {{}, "", ""},
      {{}, "appkit", ""},
      {{"appkit", "null"}, "", "appkit"},
      {{"null"}, "", ""},
      {{"x11"}, "", ""},
      {{"null", "x11"}, "", ""},
      {{"null", "x11", "zzz"}, "", "zzz"},
      {{"appkit", "null", "x11"}, "", "appkit"},
      // Only the leading "null" and "x11" are skipped.
      {{"a", "null"}, "", "a"},
      {{"appkit", "null"}, "null", "null"},
      {{"appkit", "x11"}, "x11", "x11"},
      {{"appkit"}, "AppKit", ""},
      {{"appkit"}, "gtk", ""},
  };
  for (const Case& c : cases) {
    std::vector<std::unique_ptr<NamedFactory>> factories;
    for (auto& name : c.registered)
      factories.push_back(std::make_unique<NamedFactory>(name));
    RendererFactory* f = RendererFactory::find(c.query);
    SCOPED_TRACE("query '" + c.query + "'");
    if (c.found.empty())
      EXPECT_EQ(f, nullptr);
    else {
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(static_cast<NamedFactory*>(f)->name, c.found);
    }
    factories.clear();
    EXPECT_EQ(RendererFactory::library, nullptr) << "the last factory leaving deletes the map";
  }
}

TEST_F(FactoryRegistry, LaterFactoryReplacesAndLeavingRemovesOnlyItself)
{
  NamedFactory first("appkit");
  {
    NamedFactory second("appkit");
    EXPECT_EQ(RendererFactory::find(""), &second);
    NamedFactory other("zed");
    EXPECT_EQ(RendererFactory::library->size(), 2u);
  }
  // The replaced factory is no longer registered: the entry went with the
  // factory that held it.
  EXPECT_EQ(RendererFactory::find("appkit"), nullptr);
  EXPECT_EQ(RendererFactory::library, nullptr);
}

TEST_F(FactoryRegistry, PrintLibraryListsNameTabInfoInNameOrder)
{
  NamedFactory b("beta"), a("alpha");
  testing::internal::CaptureStdout();
  RendererFactory::printLibrary();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "alpha\talpha back end\nbeta\tbeta back end\n");
}

// A renderer that records what reaches the back end.
struct RecordingRenderer : Renderer {
  Renderer* newWindow(int, int, int, int, bool) override { return nullptr; }
  void scheduleDelete() override {}
  bool init(void (*)()) override { return true; }
  int run() override { return 0; }
  void quit(int) override {}
  void resizeWindow(unsigned, unsigned) override {}
  void setHidden(bool) override {}
  void setDecoration(bool) override {}
  void setFloating(bool) override {}
  void grabPointer(bool) override {}
  void updateImpl(int x, int y, int w, int h) override { updates.push_back({x, y, w, h}); }
  struct Rect {
    int x, y, w, h;
    bool operator==(const Rect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
  };
  std::vector<Rect> updates;
};

TEST(Renderer, ConstructionState)
{
  RecordingRenderer r;
  EXPECT_EQ(r.width, 0u);
  EXPECT_EQ(r.height, 0u);
  EXPECT_EQ(r.buffer, nullptr);
  EXPECT_EQ(r.handler, nullptr);
  EXPECT_EQ(r.scale, 1.0f);
  EXPECT_GT(r.startTime, 1600000000ull * 1000000ull);
}

TEST(Renderer, ResizeAtScaleTwo)
{
  RecordingRenderer r;
  r.scale = 2.0f;
  EXPECT_TRUE(r.resize(100, 50));
  EXPECT_EQ(r.width, 200u);
  EXPECT_EQ(r.height, 100u);
  EXPECT_EQ(r.bufferSize, 80000u);
  ASSERT_NE(r.buffer, nullptr);
  r.buffer[79999] = 7; // the whole buffer is there
  EXPECT_FALSE(r.resize(100, 50));
  EXPECT_TRUE(r.resize(10, 5));
  EXPECT_EQ(r.bufferSize, 800u);
}

TEST(Renderer, ZeroSizeBufferExists)
{
  RecordingRenderer r;
  EXPECT_TRUE(r.resize(0, 0));
  EXPECT_NE(r.buffer, nullptr);
  EXPECT_FALSE(r.resize(0, 0));
}

TEST(Renderer, ResizeRefusalsKeepBufferAndGeometry)
{
  struct Case {
    float scale;
    unsigned w, h;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {1.0f, 0xFFFFFFFFu, 0xFFFFFFFFu}, // 2^66 bytes: 32-bit products would wrap
      {1.0f, 0x80000000u, 1},           // a side beyond int
      {1.0f, 1u << 16, 1u << 16},       // 16 GiB wraps to 0 in 32 bits
      {inf, 10, 10},
      {1e30f, 10, 10},
      {1.0f, 32768, 1},
      {2.0f, 20000, 10},
  };
  for (const Case& c : cases) {
    RecordingRenderer r;
    ASSERT_TRUE(r.resize(20, 10));
    r.buffer[0] = 42;
    uint8_t* before = r.buffer;
    r.scale = c.scale;
    testing::internal::CaptureStderr();
    const bool changed = r.resize(c.w, c.h);
    std::string err = testing::internal::GetCapturedStderr();
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    EXPECT_FALSE(changed);
    EXPECT_EQ(r.buffer, before);
    EXPECT_EQ(r.buffer[0], 42);
    EXPECT_EQ(r.width, 20u);
    EXPECT_EQ(r.height, 10u);
    EXPECT_EQ(r.bufferSize, 800u);
    EXPECT_NE(err, "");
  }
}

TEST(Renderer, UpdateClipsToBuffer)
{
  using Rect = RecordingRenderer::Rect;
  struct Case {
    Rect in;
    std::vector<Rect> out;
  };
  const int big = std::numeric_limits<int>::max();
  const int small = std::numeric_limits<int>::min();
  const Case cases[] = {
      {{-10, -10, 30, 30}, {{0, 0, 20, 20}}},
      {{95, 0, 10, 10}, {{95, 0, 5, 10}}},
      {{100, 0, 10, 10}, {}},
      {{0, 100, 10, 10}, {}},
      {{0, 0, 100, 100}, {{0, 0, 100, 100}}},
      {{-5, 0, 5, 10}, {}},
      {{0, 0, 0, 10}, {}},
      {{0, 0, -3, 10}, {}},
      {{10, 10, big, big}, {{10, 10, 90, 90}}},          // x + w overflows int
      {{small, small, big, big}, {}},                    // w += x overflows int
      {{-1, -1, big, big}, {{0, 0, 100, 100}}},
      {{big, 0, big, 10}, {}},
  };
  for (const Case& c : cases) {
    RecordingRenderer r;
    ASSERT_TRUE(r.resize(100, 100));
    r.update(c.in.x, c.in.y, c.in.w, c.in.h);
    SCOPED_TRACE(testing::Message() << c.in.x << "," << c.in.y << "," << c.in.w << "," << c.in.h);
    EXPECT_EQ(r.updates, c.out);
  }
}

bool noop(void*) { return true; }

TEST(Renderer, TimersWithEqualDueTimesKeepTheirOrder)
{
  RecordingRenderer r;
  int tags[4];
  // A huge interval makes the due times equal (saturated) regardless of
  // when each call reads the clock.
  for (int& t : tags)
    r.addTimer(noop, 1e300, &t);
  ASSERT_EQ(r.timers.size(), 4u);
  int i = 0;
  for (auto& t : r.timers) {
    EXPECT_EQ(t.user, &tags[i++]);
    EXPECT_EQ(t.active, 1);
    EXPECT_EQ(t.callback, noop);
  }
}

TEST(Renderer, TimerIntervalsAreClamped)
{
  struct Case {
    double seconds, interval;
  };
  const Case cases[] = {
      {0.5, 0.5},
      {std::nan(""), 0.0001},
      {-3, 0.0001},
      {0, 0.0001},
      {1e300, 1e9},
      {std::numeric_limits<double>::infinity(), 1e9},
  };
  for (const Case& c : cases) {
    RecordingRenderer r;
    r.addTimer(noop, c.seconds, nullptr);
    const auto& t = *r.timers.begin();
    EXPECT_EQ(t.interval, c.interval) << c.seconds;
    EXPECT_GE(t.due, r.startTime);
    EXPECT_LE(t.due, r.startTime + (uint64_t)(c.interval * 1e6) + 60000000ull);
  }
}

void cb(int, void*) {}

TEST(Renderer, KeyedCallbacks)
{
  RecordingRenderer r;
  int a, b;
  EXPECT_EQ(r.removeCallback(7), nullptr);
  r.addCallback(7, cb, &a);
  testing::internal::CaptureStderr();
  r.addCallback(7, cb, &b);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "callback already present for: 7\n");
  EXPECT_EQ(r.removeCallback(7), &a);
  EXPECT_EQ(r.removeCallback(7), nullptr);
}

TEST(Renderer, Defaults)
{
  RecordingRenderer r;
  EXPECT_FALSE(r.writeClip("x"));
  EXPECT_EQ(r.readClip(), "");
  testing::internal::CaptureStderr();
  r.eventCallback(noop);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "eventCallback unsupported on this platform!\n");
  EXPECT_FALSE(r.postTask([] {}));
  EXPECT_FALSE(r.injectEvent(Event()));
}

TEST(Event, LayoutAndZeroStart)
{
  Event e;
  EXPECT_EQ(e.type, 0u);
  EXPECT_EQ(e.keycode, 0u);
  EXPECT_EQ(e.pressure, 0.0f);
  for (char c : e.text)
    EXPECT_EQ(c, 0);
  EXPECT_EQ(sizeof(e.text), 4u);
  EXPECT_EQ(sizeof(e.keycode), sizeof(e.pressure));
}

} // namespace
