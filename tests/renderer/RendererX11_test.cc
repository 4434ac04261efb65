// The "appkit" renderer on an X server of its own (Xvfb): window attributes
// and hints read back by a second client, the buffer read back pixel-exact,
// synthetic input, the close button, the clipboard against xclip, timers.
#include <gtest/gtest.h>

// Before the X headers, whose macros share these names.
#include "renderer/Event.hh"
namespace {
constexpr uint32_t kMotion = PointerMotion, kPress = ButtonPress, kRelease = ButtonRelease,
                   kKeyPress = KeyPress, kKeyRelease = KeyRelease;
}

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "platform/Loop.hh"
#include "renderer/RendererAppKit.hh"
#include "tests/renderer/Recorder.hh"
#include "tests/renderer/Xvfb.hh"
#include "tests/support/TestSupport.hh"

namespace {

struct Wait {
  std::function<bool()> done;
  Renderer* root;
  int64_t end;
  bool met = false;
};

class X11 : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    const std::string path = testsupport::findTool("Xvfb");
    if (!path.empty())
      server = new Xvfb(path);
  }
  static void TearDownTestSuite()
  {
    delete server;
    server = nullptr;
  }

  void SetUp() override
  {
    REQUIRE_TOOL(xvfb, "Xvfb");
    ASSERT_FALSE(server->display().empty()) << "Xvfb did not start";
    setenv("DISPLAY", server->display().c_str(), 1);
    unsetenv("TOLM_HEADLESS");
    peer = XOpenDisplay(server->display().c_str());
    ASSERT_NE(peer, nullptr);
    root = std::make_unique<RendererAppKit>();
    ASSERT_TRUE(root->init(nullptr));
    ASSERT_STREQ(root->displayName(), "x11");
  }

  void TearDown() override
  {
    root.reset();
    waits.clear();
    if (peer)
      XCloseDisplay(peer);
    unsetenv("TOLM_X11_NOSHM");
  }

  // Runs the renderer's loop until `done` holds, at most `seconds`.
  bool runUntil(std::function<bool()> done, double seconds = 5)
  {
    waits.push_back(std::make_unique<Wait>(
        Wait{std::move(done), root.get(), platform::monotonicMicros() + (int64_t)(seconds * 1e6)}));
    root->addTimer(
        [](void* p) {
          auto* w = static_cast<Wait*>(p);
          w->met = w->done();
          if (w->met || platform::monotonicMicros() > w->end) {
            w->root->quit(0);
            return false;
          }
          return true;
        },
        0.01, waits.back().get());
    root->run();
    return waits.back()->met;
  }

  // Polls a condition seen by the second client, at most `seconds`.
  static bool eventually(std::function<bool()> cond, double seconds = 3)
  {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds((int)(seconds * 1000));
    while (std::chrono::steady_clock::now() < end) {
      if (cond())
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return cond();
  }

  ::Window idOf(Renderer* r)
  {
    return static_cast<RendererAppKit*>(r)->platformWindow()->nativeId();
  }

  std::string property(::Window w, const char* name, Atom* typeOut = nullptr)
  {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string out;
    if (XGetWindowProperty(peer, w, XInternAtom(peer, name, False), 0, 1 << 20, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
        data) {
      out.assign((const char*)data, count * (format == 32 ? sizeof(long) : format / 8));
      XFree(data);
    }
    if (typeOut)
      *typeOut = type;
    return out;
  }

  void sendEvent(::Window w, XEvent& ev)
  {
    ev.xany.window = w;
    ev.xany.display = peer;
    XSendEvent(peer, w, False, NoEventMask, &ev);
    XFlush(peer);
  }

  static Xvfb* server;
  ::Display* peer = nullptr;
  std::unique_ptr<RendererAppKit> root;
  std::vector<std::unique_ptr<Wait>> waits;
};

Xvfb* X11::server = nullptr;

TEST_F(X11, WindowAttributesAndHints)
{
  std::unique_ptr<Renderer> window(root->newWindow(-1, -1, 200, 100, false));
  Recorder rec;
  window->handler = &rec;
  const ::Window id = idOf(window.get());
  ASSERT_NE(id, 0u);

  XWindowAttributes wa;
  ASSERT_TRUE(eventually([&] { return XGetWindowAttributes(peer, id, &wa) != 0; }));
  EXPECT_EQ(wa.map_state, IsUnmapped) << "hidden until shown";
  EXPECT_EQ(wa.width, 200);
  EXPECT_EQ(wa.height, 100);

  XSizeHints hints;
  long supplied;
  ASSERT_TRUE(XGetWMNormalHints(peer, id, &hints, &supplied));
  EXPECT_TRUE(hints.flags & PMinSize);
  EXPECT_TRUE(hints.flags & PMaxSize);
  EXPECT_EQ(hints.min_width, 200);
  EXPECT_EQ(hints.max_width, 200);
  EXPECT_EQ(hints.min_height, 100);
  EXPECT_EQ(hints.max_height, 100);

  Atom* protocols = nullptr;
  int count = 0;
  ASSERT_TRUE(XGetWMProtocols(peer, id, &protocols, &count));
  bool deleteWindow = false;
  for (int i = 0; i < count; ++i)
    deleteWindow |= protocols[i] == XInternAtom(peer, "WM_DELETE_WINDOW", False);
  XFree(protocols);
  EXPECT_TRUE(deleteWindow);

  window->setTitle("Grüße ✓");
  Atom type;
  ASSERT_TRUE(eventually([&] { return property(id, "_NET_WM_NAME", &type) == "Grüße ✓"; }));
  EXPECT_EQ(type, XInternAtom(peer, "UTF8_STRING", False));

  auto motif = [&] {
    const std::string m = property(id, "_MOTIF_WM_HINTS");
    return m.size() == 5 * sizeof(long) ? ((const long*)m.data())[2] : -1;
  };
  EXPECT_NE(motif(), 0);
  window->setDecoration(false);
  EXPECT_TRUE(eventually([&] { return motif() == 0; }));

  window->setHidden(false);
  ASSERT_TRUE(eventually([&] {
    return XGetWindowAttributes(peer, id, &wa) && wa.map_state == IsViewable;
  }));
  int x, y;
  ::Window child;
  XTranslateCoordinates(peer, id, DefaultRootWindow(peer), 0, 0, &x, &y, &child);
  EXPECT_EQ(x, 300); // centred on 800 x 600
  EXPECT_EQ(y, 250);
  // Told once the server has it there.
  ASSERT_TRUE(runUntil([&] { return !rec.frames.empty(); }));
  EXPECT_EQ(rec.frames.size(), 1u);
  EXPECT_EQ(rec.frames[0], (std::vector<int>{300, 250, 200, 100, 0}));
  // Shown again where it is: told again, at once.
  window->setHidden(false);
  ASSERT_EQ(rec.frames.size(), 2u);
  EXPECT_EQ(rec.frames[1], rec.frames[0]);

  // While grabbed, nobody else can take the pointer.
  window->grabPointer(true);
  XSync(peer, False);
  auto peerGrab = [&] {
    const int r = XGrabPointer(peer, DefaultRootWindow(peer), False, ButtonPressMask, GrabModeAsync,
                               GrabModeAsync, None, None, CurrentTime);
    if (r == GrabSuccess)
      XUngrabPointer(peer, CurrentTime);
    XSync(peer, False);
    return r;
  };
  EXPECT_TRUE(eventually([&] { return peerGrab() == AlreadyGrabbed; }));
  window->grabPointer(false);
  EXPECT_TRUE(eventually([&] { return peerGrab() == GrabSuccess; }));

  window->resizeMinMax(50, 40, 400, 300);
  EXPECT_TRUE(eventually([&] {
    return XGetWMNormalHints(peer, id, &hints, &supplied) && hints.min_width == 50 &&
           hints.min_height == 40 && hints.max_width == 400 && hints.max_height == 300;
  }));

  window->setFloating(true);
  EXPECT_TRUE(eventually([&] {
    const std::string s = property(id, "_NET_WM_STATE");
    return s.size() == sizeof(long) &&
           (Atom)((const long*)s.data())[0] == XInternAtom(peer, "_NET_WM_STATE_ABOVE", False);
  }));

  // Moves are reported through resized.
  window->move(40, 50);
  ASSERT_TRUE(runUntil([&] { return rec.frames.size() >= 3; }));
  EXPECT_EQ(rec.frames.back(), (std::vector<int>{40, 50, 200, 100, 0}));
  window->resizeWindow(120, 80);
  ASSERT_TRUE(runUntil([&] { return rec.frames.back()[2] == 120; }));
  EXPECT_EQ(rec.frames.back(), (std::vector<int>{40, 50, 120, 80, 0}));
  ASSERT_TRUE(XGetWMNormalHints(peer, id, &hints, &supplied));
  EXPECT_EQ(hints.max_width, 400) << "the limits the script set stay";
}

// The buffer as the second client reads it from the screen.
void checkPixels(::Display* peer, ::Window id, const Renderer& r, bool* same)
{
  *same = false;
  XWindowAttributes wa;
  if (!XGetWindowAttributes(peer, id, &wa))
    return;
  XImage* img = XGetImage(peer, id, 0, 0, r.width, r.height, AllPlanes, ZPixmap);
  if (!img)
    return;
  // A 32-bit window keeps the buffer's alpha in the top byte.
  const bool withAlpha = wa.depth == 32;
  bool ok = true;
  for (uint32_t y = 0; y < r.height && ok; ++y)
    for (uint32_t x = 0; x < r.width && ok; ++x) {
      const uint8_t* p = r.buffer + ((size_t)y * r.width + x) * 4;
      unsigned long expected = ((unsigned long)p[0] << 16) | (p[1] << 8) | p[2];
      if (withAlpha)
        expected |= (unsigned long)p[3] << 24;
      ok = (XGetPixel(img, x, y) & (withAlpha ? 0xFFFFFFFFul : 0xFFFFFFul)) == expected;
    }
  XDestroyImage(img);
  *same = ok;
}

TEST_F(X11, BufferReadBackPixelExact)
{
  struct Case {
    bool shm, translucent;
  };
  for (const Case c : {Case{true, false}, Case{false, false}, Case{false, true}}) {
    const bool shm = c.shm;
    SCOPED_TRACE(std::string(shm ? "MIT-SHM" : "XPutImage") + (c.translucent ? ", translucent" : ""));
    if (!shm) {
      setenv("TOLM_X11_NOSHM", "1", 1);
      root = std::make_unique<RendererAppKit>();
      ASSERT_TRUE(root->init(nullptr));
    }
    Visual* v = DefaultVisual(peer, DefaultScreen(peer));
    ASSERT_EQ(v->red_mask, 0xFF0000u);
    std::unique_ptr<Renderer> window(root->newWindow(10, 10, 67, 45, c.translucent));
    for (uint32_t i = 0; i < window->width * window->height; ++i) {
      uint8_t* p = window->buffer + (size_t)i * 4;
      p[0] = (uint8_t)(i * 7);
      p[1] = (uint8_t)(i >> 3);
      p[2] = (uint8_t)(255 - i);
      p[3] = (uint8_t)(i * 13); // alpha does not show on an opaque window
    }
    const ::Window id = idOf(window.get());
    if (c.translucent) {
      XWindowAttributes wa;
      ASSERT_TRUE(XGetWindowAttributes(peer, id, &wa));
      EXPECT_EQ(wa.depth, 32) << "the server offers a 32-bit visual";
    }
    window->setHidden(false);
    window->syncImpl();
    bool same = false;
    EXPECT_TRUE(runUntil([&] {
      checkPixels(peer, id, *window, &same);
      return same;
    }));
    // A changed rectangle shows after update, before the loop waits.
    for (uint32_t y = 5; y < 20; ++y)
      for (uint32_t x = 30; x < 60; ++x)
        std::memset(window->buffer + ((size_t)y * window->width + x) * 4, 0x5A, 4);
    window->update(30, 5, 30, 15);
    EXPECT_TRUE(runUntil([&] {
      checkPixels(peer, id, *window, &same);
      return same;
    }));
    // After a resize the new buffer is what shows.
    ASSERT_TRUE(window->resize(33, 21));
    window->resizeWindow(33, 21);
    std::memset(window->buffer, 0xC3, window->bufferSize);
    window->update(0, 0, 33, 21);
    EXPECT_TRUE(runUntil([&] {
      checkPixels(peer, id, *window, &same);
      return same;
    }));
  }
}

TEST_F(X11, SyntheticInputArrivesAsEvents)
{
  std::unique_ptr<Renderer> window(root->newWindow(0, 0, 100, 100, false));
  Recorder rec;
  window->handler = &rec;
  window->setHidden(false);
  const ::Window id = idOf(window.get());
  runUntil([] { return true; });

  auto buttonEvent = [&](int type, unsigned b, unsigned state) {
    XEvent ev{};
    ev.xbutton.type = type;
    ev.xbutton.button = b;
    ev.xbutton.state = state;
    ev.xbutton.x = 5;
    ev.xbutton.y = 6;
    ev.xbutton.same_screen = True;
    sendEvent(id, ev);
  };
  Time keyTime = 1000;
  auto keyEvent = [&](int type, KeySym sym, unsigned state) {
    XEvent ev{};
    ev.xkey.type = type;
    ev.xkey.keycode = XKeysymToKeycode(peer, sym);
    ev.xkey.state = state;
    ev.xkey.x = 7;
    ev.xkey.y = 8;
    ev.xkey.time = ++keyTime;
    ev.xkey.same_screen = True;
    sendEvent(id, ev);
  };
  buttonEvent(ButtonPress, 1, ShiftMask);
  buttonEvent(ButtonRelease, 3, ControlMask | Mod1Mask);
  buttonEvent(ButtonPress, 5, 0); // wheel down
  buttonEvent(ButtonRelease, 5, 0);
  buttonEvent(ButtonPress, 7, 0); // wheel right
  XEvent motion{};
  motion.xmotion.type = MotionNotify;
  motion.xmotion.x = 9;
  motion.xmotion.y = 10;
  sendEvent(id, motion);
  keyEvent(KeyPress, XK_a, 0);
  keyEvent(KeyPress, XK_a, 0); // held: auto-repeat
  keyEvent(KeyRelease, XK_a, 0);
  keyEvent(KeyPress, XK_a, ShiftMask);
  keyEvent(KeyRelease, XK_a, ShiftMask);
  keyEvent(KeyPress, XK_Left, 0);
  keyEvent(KeyPress, XK_a, ControlMask);
  keyEvent(KeyPress, XK_Shift_L, 0); // modifiers alone report nothing

  const size_t expected = 1 + 1 + 2 + 2 + 1 + 3 + 4;
  ASSERT_TRUE(runUntil([&] { return rec.events.size() >= expected; }));
  runUntil([] { return false; }, 0.1); // nothing more arrives
  ASSERT_EQ(rec.events.size(), expected);
  struct Want {
    uint32_t type, button;
    uint8_t modifiers;
    int x, y;
  };
  const Want pointer[] = {
      {kPress, 1, ModShift, 5, 6},       {kRelease, 2, ModControl | ModAlt, 5, 6},
      {kPress, 5, 0, 5, 6},              {kRelease, 5, 0, 5, 6},
      {kPress, 6, 0, 5, 6},              {kRelease, 6, 0, 5, 6},
      {kMotion, 0, 0, 9, 10},
  };
  for (size_t i = 0; i < 7; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rec.events[i].type, pointer[i].type);
    EXPECT_EQ(rec.events[i].button, pointer[i].button);
    EXPECT_EQ(rec.events[i].modifiers, pointer[i].modifiers);
    EXPECT_EQ(rec.events[i].x, pointer[i].x);
    EXPECT_EQ(rec.events[i].y, pointer[i].y);
  }
  struct WantKey {
    uint32_t type, keycode, flags;
    std::string text;
    uint8_t modifiers;
  };
  const WantKey keys[] = {
      {kKeyPress, 0x00, 0, std::string("a\0\0\0", 4), 0},
      {kKeyPress, 0x00, 1, std::string("a\0\0\0", 4), 0},
      {kKeyRelease, 0x00, 0, std::string("a\0\0\0", 4), 0},
      {kKeyPress, 0x00, 0, std::string("A\0\0\0", 4), ModShift},
      {kKeyRelease, 0x00, 0, std::string("A\0\0\0", 4), ModShift},
      {kKeyPress, 0x7B, 0, std::string("\xEF\x9C\x82\0", 4), 0},
      {kKeyPress, 0x00, 0, std::string("\x01\0\0\0", 4), ModControl},
  };
  for (size_t i = 0; i < 7; ++i) {
    const Event& e = rec.events[7 + i];
    SCOPED_TRACE(i);
    EXPECT_EQ(e.type, keys[i].type);
    EXPECT_EQ(e.keycode, keys[i].keycode);
    EXPECT_EQ(e.flags, keys[i].flags);
    EXPECT_EQ(std::string(e.text, 4), keys[i].text);
    EXPECT_EQ(e.modifiers, keys[i].modifiers);
    EXPECT_EQ(e.x, 7);
  }
}

TEST_F(X11, CloseButtonAsksTheScript)
{
  std::unique_ptr<Renderer> window(root->newWindow(0, 0, 50, 50, false));
  Recorder rec;
  window->handler = &rec;
  window->setHidden(false);
  const ::Window id = idOf(window.get());
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.message_type = XInternAtom(peer, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = (long)XInternAtom(peer, "WM_DELETE_WINDOW", False);
  ev.xclient.data.l[1] = CurrentTime;
  sendEvent(id, ev);
  ASSERT_TRUE(runUntil([&] { return rec.closes == 1; }));
  XWindowAttributes wa;
  EXPECT_TRUE(XGetWindowAttributes(peer, id, &wa));
  EXPECT_EQ(wa.map_state, IsViewable) << "the window stays until the script closes it";
}

TEST_F(X11, ScheduledDeleteDestroysTheWindowAtASafePoint)
{
  Renderer* window = root->newWindow(0, 0, 50, 50, false);
  Recorder rec;
  window->handler = &rec;
  window->setHidden(false);
  const ::Window id = idOf(window);
  auto exists = [&] {
    ::Window rootw, parent, *children = nullptr;
    unsigned n = 0;
    bool found = false;
    if (XQueryTree(peer, DefaultRootWindow(peer), &rootw, &parent, &children, &n)) {
      for (unsigned i = 0; i < n; ++i)
        found |= children[i] == id;
      XFree(children);
    }
    return found;
  };
  ASSERT_TRUE(eventually(exists));
  window->scheduleDelete();
  XEvent ev{};
  ev.xbutton.type = ButtonPress;
  ev.xbutton.button = 1;
  sendEvent(id, ev);
  EXPECT_TRUE(runUntil([&] { return root->pendingDeletes.empty(); }));
  EXPECT_TRUE(eventually([&] { return !exists(); }));
  EXPECT_TRUE(rec.events.empty());
}

TEST_F(X11, TimersFireWhileTheLoopRuns)
{
  int calls = 0;
  root->addTimer(
      [](void* p) {
        return ++*static_cast<int*>(p) < 5;
      },
      0.01, &calls);
  EXPECT_TRUE(runUntil([&] { return calls == 5; }));
  runUntil([] { return false; }, 0.1);
  EXPECT_EQ(calls, 5);
}

TEST_F(X11, ClipboardServedToAnotherClient)
{
  REQUIRE_TOOL(xclip, "xclip");
  REQUIRE_TOOL(timeout, "timeout");
  EXPECT_TRUE(root->writeClip("héllo ✓"));
  EXPECT_EQ(root->readClip(), "héllo ✓");
  struct Case {
    std::string target, expected;
  };
  const Case cases[] = {
      {"UTF8_STRING", "héllo ✓"},
      {"STRING", "h\xE9llo ?"},
  };
  for (const Case& c : cases) {
    std::atomic<bool> done{false};
    std::string out;
    std::thread client([&] {
      testsupport::run(timeout + " 10 " + xclip + " -selection clipboard -o -target " + c.target, &out);
      done = true;
    });
    runUntil([&] { return done.load(); }, 12);
    client.join();
    EXPECT_EQ(out, c.expected) << c.target;
  }
  std::atomic<bool> done{false};
  std::string targets;
  std::thread client([&] {
    testsupport::run(timeout + " 10 " + xclip + " -selection clipboard -o -target TARGETS", &targets);
    done = true;
  });
  runUntil([&] { return done.load(); }, 12);
  client.join();
  EXPECT_NE(targets.find("UTF8_STRING"), std::string::npos);
  EXPECT_NE(targets.find("TARGETS"), std::string::npos);
}

TEST_F(X11, ClipboardReadFromAnotherClient)
{
  REQUIRE_TOOL(xclip, "xclip");
  REQUIRE_TOOL(timeout, "timeout");
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("in.txt"), "from xclip ü ✓");
  std::thread owner([&] {
    testsupport::run(timeout + " 10 " + xclip + " -selection clipboard -quiet -loops 1 -i " +
                     dir.file("in.txt") + " >/dev/null 2>&1");
  });
  std::string text;
  const bool got = eventually([&] {
    text = root->readClip();
    return !text.empty();
  }, 8);
  owner.join();
  EXPECT_TRUE(got);
  EXPECT_EQ(text, "from xclip ü ✓");
  // Nobody owns it now (xclip served once and left).
  EXPECT_EQ(root->readClip(), "");
}


// An owner holding an image answers the text requests with the image: no
// text, and one line saying why. Small images come in one piece, large
// ones in chunks.
TEST_F(X11, ImageOnTheClipboardIsNoText)
{
  REQUIRE_TOOL(xclip, "xclip");
  REQUIRE_TOOL(timeout, "timeout");
  REQUIRE_TOOL(convert, "convert");
  testsupport::TempDir dir;
  for (const char* size : {"40x20", "900x700"}) {
    const std::string png = dir.file(std::string(size) + ".png");
    ASSERT_EQ(testsupport::run(convert + " -size " + size + " xc:gray +noise Random " + png), 0);
    const Atom clipboard = XInternAtom(peer, "CLIPBOARD", False);
    const ::Window before = XGetSelectionOwner(peer, clipboard);
    std::thread owner([&] {
      testsupport::run(timeout + " 20 " + xclip + " -selection clipboard -t image/png -i " + png +
                       " >/dev/null 2>&1");
    });
    const bool owned = eventually([&] {
      const ::Window now = XGetSelectionOwner(peer, clipboard);
      return now != None && now != before;
    }, 10);
    EXPECT_TRUE(owned) << "xclip holds the clipboard";
    if (owned) {
      testing::internal::CaptureStderr();
      const std::string text = root->readClip();
      const std::string err = testing::internal::GetCapturedStderr();
      EXPECT_EQ(text.size(), 0u) << size;
      EXPECT_EQ(err, "clipboard: paste failed: the clipboard holds image/png, not text\n") << size;
    }
    // Taking the clipboard back ends xclip.
    EXPECT_TRUE(root->writeClip("mine"));
    owner.join();
  }
}

// A text of `size` bytes whose every line is numbered, so that a lost,
// doubled or reordered chunk shows.
std::string numberedText(size_t size)
{
  std::string text;
  text.reserve(size + 64);
  for (int i = 0; text.size() < size; ++i)
    text += "line " + std::to_string(i) + " \xC3\xA9\xE2\x82\xAC\n"; // é€
  text.resize(size);
  return text;
}

TEST_F(X11, LargePastesReadWhole)
{
  REQUIRE_TOOL(xclip, "xclip");
  REQUIRE_TOOL(timeout, "timeout");
  testsupport::TempDir dir;
  // xclip sends these in chunks (the incremental protocol).
  for (size_t size : {(size_t)1049000, (size_t)2 * 1024 * 1024 + 3}) {
    // Cut at a line end, so that the text stays valid UTF-8.
    std::string text = numberedText(size);
    text.resize(text.rfind('\n') + 1);
    ASSERT_TRUE(testsupport::writeFile(dir.file("big.txt"), text));
    std::thread owner([&] {
      testsupport::run(timeout + " 20 " + xclip + " -selection clipboard -quiet -loops 1 -i " +
                       dir.file("big.txt") + " >/dev/null 2>&1");
    });
    std::string got;
    eventually([&] {
      got = root->readClip();
      return !got.empty();
    }, 15);
    owner.join();
    EXPECT_EQ(got.size(), text.size()) << size;
    EXPECT_TRUE(got == text) << size;
  }
}

// A clipboard owner on a connection of its own that answers wrongly or
// not at all.
class BrokenOwner {
public:
  enum Mode { Silent, IncrThenStall, RefusesAll, TypedText };
  // TypedText answers every request with `text` typed TEXT.
  BrokenOwner(const std::string& display, Mode mode, std::string text = "") : text(std::move(text))
  {
    thread = std::thread([this, display, mode] { serve(display, mode); });
    while (!owning && !stop)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ~BrokenOwner()
  {
    stop = true;
    thread.join();
  }

private:
  void serve(const std::string& name, Mode mode)
  {
    ::Display* dpy = XOpenDisplay(name.c_str());
    if (!dpy) {
      stop = true;
      return;
    }
    const ::Window win = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(dpy, XInternAtom(dpy, "CLIPBOARD", False), win, CurrentTime);
    XSync(dpy, False);
    owning = true;
    while (!stop) {
      while (XPending(dpy)) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        if (ev.type != SelectionRequest || mode == Silent)
          continue;
        const XSelectionRequestEvent& req = ev.xselectionrequest;
        XSelectionEvent reply{};
        reply.type = SelectionNotify;
        reply.requestor = req.requestor;
        reply.selection = req.selection;
        reply.target = req.target;
        reply.time = req.time;
        reply.property = None;
        if (mode == IncrThenStall) {
          const long size = 1 << 20;
          XChangeProperty(dpy, req.requestor, req.property, XInternAtom(dpy, "INCR", False), 32,
                          PropModeReplace, (const unsigned char*)&size, 1);
          reply.property = req.property;
        } else if (mode == TypedText) {
          XChangeProperty(dpy, req.requestor, req.property, XInternAtom(dpy, "TEXT", False), 8,
                          PropModeReplace, (const unsigned char*)text.data(), (int)text.size());
          reply.property = req.property;
        }
        XSendEvent(dpy, req.requestor, False, NoEventMask, (XEvent*)&reply);
        XFlush(dpy);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    XCloseDisplay(dpy);
  }

  const std::string text;
  std::thread thread;
  std::atomic<bool> owning{false}, stop{false};
};

TEST_F(X11, FailedPasteIsToldFromAnEmptyClipboard)
{
  struct Case {
    BrokenOwner::Mode mode;
    bool failure;
    const char* said;
  } cases[] = {{BrokenOwner::Silent, true, "clipboard: paste failed"},
               {BrokenOwner::IncrThenStall, true, "clipboard: paste failed"},
               {BrokenOwner::RefusesAll, false,
                "clipboard: nothing pasted: the clipboard holds no text\n"}};
  for (const Case& c : cases) {
    BrokenOwner owner(server->display(), c.mode);
    testing::internal::CaptureStderr();
    EXPECT_EQ(root->readClip(), "") << c.mode;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("clipboard: paste failed") != std::string::npos, c.failure)
        << c.mode << ": " << err;
    EXPECT_EQ(err.find(c.said), 0u) << c.mode << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.mode << ": " << err;
  }
  // Nobody owns the clipboard now: empty, and no failure.
  testing::internal::CaptureStderr();
  EXPECT_EQ(root->readClip(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// An answer typed TEXT is text: UTF-8 when it reads as that, else Latin-1.
TEST_F(X11, TextTypedAnswerIsText)
{
  const struct {
    std::string sent, pasted;
  } cases[] = {
    {"h\xC3\xA9llo \xE2\x9C\x93", "h\xC3\xA9llo \xE2\x9C\x93"},
    {"h\xE9llo", "h\xC3\xA9llo"},
  };
  for (const auto& c : cases) {
    BrokenOwner owner(server->display(), BrokenOwner::TypedText, c.sent);
    testing::internal::CaptureStderr();
    EXPECT_EQ(root->readClip(), c.pasted);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  }
}

TEST_F(X11, LargeCopyPastedWholeByAnotherClient)
{
  REQUIRE_TOOL(xclip, "xclip");
  REQUIRE_TOOL(timeout, "timeout");
  // Larger than the server's largest request: served in chunks. ASCII, so
  // that both targets give the same bytes.
  std::string text;
  for (int i = 0; text.size() < 21u * 1000 * 1000; ++i)
    text += "line " + std::to_string(i) + "\n";
  ASSERT_TRUE(root->writeClip(text));
  testsupport::TempDir dir;
  for (const char* target : {"UTF8_STRING", "STRING"}) {
    std::atomic<bool> done{false};
    std::thread client([&] {
      testsupport::run(timeout + " 30 " + xclip + " -selection clipboard -o -target " + target +
                       " >" + dir.file("out.txt"));
      done = true;
    });
    runUntil([&] { return done.load(); }, 35);
    client.join();
    const std::string out = testsupport::readFile(dir.file("out.txt"));
    EXPECT_EQ(out.size(), text.size()) << target;
    EXPECT_TRUE(out == text) << target;
  }
  // The script's copy is unchanged by the transfers.
  EXPECT_TRUE(root->readClip() == text);
}

// A requestor that goes away in the middle of a chunked paste is
// forgotten quietly; the next paste gets the whole text.
TEST_F(X11, AbandonedChunkedPasteIsForgotten)
{
  REQUIRE_TOOL(xclip, "xclip");
  REQUIRE_TOOL(timeout, "timeout");
  const std::string text = numberedText(20u * 1000 * 1000);
  ASSERT_TRUE(root->writeClip(text));
  const ::Window requestor = XCreateSimpleWindow(peer, DefaultRootWindow(peer), 0, 0, 1, 1, 0, 0, 0);
  XConvertSelection(peer, XInternAtom(peer, "CLIPBOARD", False), XInternAtom(peer, "UTF8_STRING", False),
                    XInternAtom(peer, "PEER_PASTE", False), requestor, CurrentTime);
  XFlush(peer);
  Atom type = None;
  ASSERT_TRUE(runUntil([&] {
    property(requestor, "PEER_PASTE", &type);
    return type == XInternAtom(peer, "INCR", False);
  }));
  testing::internal::CaptureStderr();
  XDestroyWindow(peer, requestor);
  XSync(peer, False);
  runUntil([] { return false; }, 0.3);
  std::atomic<bool> done{false};
  testsupport::TempDir dir;
  std::thread client([&] {
    testsupport::run(timeout + " 30 " + xclip + " -selection clipboard -o >" + dir.file("out.txt"));
    done = true;
  });
  runUntil([&] { return done.load(); }, 35);
  client.join();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(testsupport::readFile(dir.file("out.txt")) == text);
}

TEST_F(X11, GrownWindowShowsWhiteNewArea)
{
  std::unique_ptr<Renderer> window(root->newWindow(0, 0, 40, 30, false));
  for (size_t i = 0; i < (size_t)40 * 30; ++i) {
    uint8_t* p = window->buffer + i * 4;
    p[0] = (uint8_t)(i * 7);
    p[1] = (uint8_t)(i / 40);
    p[2] = (uint8_t)(i % 40);
    p[3] = 255;
  }
  const std::vector<uint8_t> before(window->buffer, window->buffer + 40 * 30 * 4);
  window->setHidden(false);
  // Grown, shrunk in one side and grown in the other, shrunk back.
  for (auto [w, h] : {std::pair<unsigned, unsigned>{90, 70}, {30, 80}, {20, 10}}) {
    const uint32_t oldW = window->width, oldH = window->height;
    const std::vector<uint8_t> old(window->buffer, window->buffer + (size_t)oldW * oldH * 4);
    ASSERT_TRUE(window->resize(w, h));
    window->resizeWindow(w, h);
    ASSERT_EQ(window->width, w);
    bool kept = true, white = true;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        for (int c = 0; c < 4; ++c) {
          const uint8_t v = window->buffer[((size_t)y * w + x) * 4 + c];
          if (x < oldW && y < oldH)
            kept &= v == old[((size_t)y * oldW + x) * 4 + c];
          else
            white &= v == 255;
        }
    EXPECT_TRUE(kept) << w << "x" << h;
    EXPECT_TRUE(white) << w << "x" << h;
    bool same = false;
    const ::Window id = idOf(window.get());
    runUntil([&] {
      checkPixels(peer, id, *window, &same);
      return same;
    });
    EXPECT_TRUE(same) << "the screen shows the buffer at " << w << "x" << h;
  }
  EXPECT_EQ(window->buffer[0], before[0]);
}

// A screenshot of a window by ImageMagick's `import`: RGB rows, false when
// it could not be taken.
bool screenshot(const std::string& import, const std::string& display, ::Window id,
                unsigned& w, unsigned& h, std::string& rgb)
{
  testsupport::TempDir dir;
  const std::string file = dir.file("shot.ppm");
  if (testsupport::run(import + " -display " + display + " -window " + std::to_string(id) +
                       " -depth 8 ppm:" + file + " 2>/dev/null") != 0)
    return false;
  const std::string ppm = testsupport::readFile(file);
  unsigned maxval = 0;
  int used = 0;
  if (std::sscanf(ppm.c_str(), "P6 %u %u %u%n", &w, &h, &maxval, &used) != 3 || maxval != 255)
    return false;
  rgb = ppm.substr((size_t)used + 1);
  return rgb.size() == (size_t)w * h * 3;
}

// The user (here another client) makes the window larger and the script
// leaves its picture as it is: beyond the picture the window is white.
TEST_F(X11, WindowGrownByTheUserIsWhiteBeyondThePicture)
{
  REQUIRE_TOOL(import, "import");
  std::unique_ptr<Renderer> window(root->newWindow(0, 0, 40, 30, false));
  Recorder rec;
  window->handler = &rec;
  for (size_t i = 0; i < (size_t)40 * 30; ++i) {
    const uint8_t red[4] = {200, 30, 60, 255};
    std::copy(red, red + 4, window->buffer + i * 4);
  }
  window->resizeMinMax(20, 20, 300, 300);
  window->update(0, 0, 40, 30);
  window->setHidden(false);
  const ::Window id = idOf(window.get());
  bool same = false;
  ASSERT_TRUE(runUntil([&] {
    checkPixels(peer, id, *window, &same);
    return same;
  }));
  XResizeWindow(peer, id, 90, 70);
  XFlush(peer);
  ASSERT_TRUE(runUntil([&] { return !rec.frames.empty() && rec.frames.back()[2] == 90; }));
  ASSERT_EQ(window->width, 40u) << "the picture keeps its size";
  // Taken while the loop runs, until the window shows the redrawn picture.
  unsigned w = 0, h = 0;
  std::string rgb;
  size_t black = 0, notWhite = 0, pictureWrong = 0;
  const bool taken = runUntil([&] {
    if (!screenshot(import, server->display(), id, w, h, rgb) || w != 90 || h != 70)
      return false;
    black = notWhite = pictureWrong = 0;
    for (unsigned y = 0; y < h; ++y)
      for (unsigned x = 0; x < w; ++x) {
        const uint8_t* p = (const uint8_t*)rgb.data() + ((size_t)y * w + x) * 3;
        if (x < 40 && y < 30) {
          pictureWrong += p[0] != 200 || p[1] != 30 || p[2] != 60;
        } else {
          notWhite += p[0] != 255 || p[1] != 255 || p[2] != 255;
          black += p[0] == 0 && p[1] == 0 && p[2] == 0;
        }
      }
    return notWhite == 0 && pictureWrong == 0;
  }, 10);
  EXPECT_TRUE(taken) << w << "x" << h << ": " << notWhite << " pixels beyond the picture not white ("
                     << black << " black), " << pictureWrong << " of the picture wrong";
}

TEST_F(X11, WindowDestroyedByAnotherClientAsksToClose)
{
  Renderer* window = root->newWindow(10, 10, 60, 40, false);
  Recorder rec;
  window->handler = &rec;
  window->setHidden(false);
  const ::Window id = idOf(window);
  XSync(peer, False);
  XDestroyWindow(peer, id);
  XFlush(peer);
  ASSERT_TRUE(runUntil([&] { return rec.closes == 1; })) << "the script hears of it";
  // Everything on the window that is gone is harmless.
  testing::internal::CaptureStderr();
  window->setTitle("after");
  window->move(5, 5);
  window->resize(80, 50);
  window->resizeWindow(80, 50);
  window->resizeMinMax(10, 10, 100, 100);
  window->setDecoration(false);
  window->setFloating(true);
  window->grabPointer(true);
  window->setHidden(false);
  window->update(0, 0, 80, 50);
  window->syncImpl();
  window->scheduleDelete();
  EXPECT_TRUE(runUntil([&] { return root->pendingDeletes.empty(); }));
  EXPECT_EQ(testing::internal::GetCapturedStderr().find("X error"), std::string::npos);
  EXPECT_EQ(rec.closes, 1);
}

// The first case of a fresh server of the given screen, for the visuals.
class X11Screen : public ::testing::Test {
protected:
  void TearDown() override
  {
    root.reset();
    server.reset();
  }
  bool start(const std::string& screen)
  {
    const std::string path = testsupport::findTool("Xvfb");
    if (path.empty())
      return false;
    server = std::make_unique<Xvfb>(path, screen);
    if (server->display().empty())
      return false;
    setenv("DISPLAY", server->display().c_str(), 1);
    unsetenv("TOLM_HEADLESS");
    root = std::make_unique<RendererAppKit>();
    return true;
  }
  std::unique_ptr<Xvfb> server;
  std::unique_ptr<RendererAppKit> root;
};

TEST_F(X11Screen, PseudoColorScreenDrawsThroughTrueColor)
{
  REQUIRE_TOOL(xvfb, "Xvfb");
  ASSERT_TRUE(start("320x240x8"));
  testing::internal::CaptureStderr();
  ASSERT_TRUE(root->init(nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStderr().find("not supported"), std::string::npos);
  ASSERT_STREQ(root->displayName(), "x11");
  std::unique_ptr<Renderer> window(root->newWindow(0, 0, 16, 16, false));
  const uint8_t colours[][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255},
                                {0, 0, 0},   {200, 100, 50}};
  for (int i = 0; i < 16 * 16; ++i) {
    const uint8_t* c = colours[i % 6];
    std::copy(c, c + 3, window->buffer + i * 4);
    window->buffer[i * 4 + 3] = 255;
  }
  window->update(0, 0, 16, 16);
  window->setHidden(false);
  ::Display* peer = XOpenDisplay(server->display().c_str());
  ASSERT_NE(peer, nullptr);
  const ::Window id = static_cast<RendererAppKit*>(window.get())->platformWindow()->nativeId();
  XWindowAttributes wa{};
  ASSERT_TRUE(XGetWindowAttributes(peer, id, &wa));
  ASSERT_EQ(wa.visual->c_class, TrueColor);
  // Each sample keeps its top bits in the visual's channel.
  auto put = [](unsigned long mask, uint8_t v) {
    unsigned shift = 0, bits = 0;
    while (!(mask >> shift & 1))
      ++shift;
    while (mask >> (shift + bits) & 1)
      ++bits;
    return (unsigned long)(v >> (8 - bits)) << shift;
  };
  bool same = false;
  for (int attempt = 0; attempt < 100 && !same; ++attempt) {
    window->syncImpl();
    XImage* img = XGetImage(peer, id, 0, 0, 16, 16, AllPlanes, ZPixmap);
    if (!img)
      continue;
    same = true;
    for (int i = 0; i < 16 * 16; ++i) {
      const uint8_t* c = colours[i % 6];
      const unsigned long want = put(wa.visual->red_mask, c[0]) | put(wa.visual->green_mask, c[1]) |
                                 put(wa.visual->blue_mask, c[2]);
      same &= XGetPixel(img, i % 16, i / 16) == want;
    }
    XDestroyImage(img);
    if (!same)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(same);
  window.reset();
  XCloseDisplay(peer);
}

// A server with a reparenting window manager (openbox), which places and
// moves windows after they map.
class X11Managed : public X11Screen {
protected:
  void TearDown() override
  {
    root.reset();
    if (wm > 0) {
      kill(wm, SIGTERM);
      waitpid(wm, nullptr, 0);
    }
    X11Screen::TearDown();
  }
  bool startManaged(const std::string& openbox)
  {
    if (!start("800x600x24"))
      return false;
    wm = fork();
    if (wm == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 1);
      dup2(null, 2);
      execl(openbox.c_str(), "openbox", "--sm-disable", (char*)nullptr);
      _exit(127);
    }
    // Running once it manages a probe window (puts it into a frame).
    ::Display* peer = XOpenDisplay(server->display().c_str());
    if (!peer)
      return false;
    const ::Window probe = XCreateSimpleWindow(peer, DefaultRootWindow(peer), 0, 0, 10, 10, 0, 0, 0);
    XMapWindow(peer, probe);
    bool up = false;
    for (int i = 0; i < 500 && !up; ++i) {
      ::Window rootW, parent, *children = nullptr;
      unsigned n = 0;
      if (XQueryTree(peer, probe, &rootW, &parent, &children, &n))
        up = parent != rootW;
      if (children)
        XFree(children);
      if (!up)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    XDestroyWindow(peer, probe);
    XCloseDisplay(peer);
    return up && root->init(nullptr);
  }
  pid_t wm = -1;
};

// What xwininfo says of a window: x, y, w, h of its inside on the screen.
std::vector<int> xwininfo(const std::string& tool, const std::string& display, ::Window id)
{
  std::string out;
  testsupport::run(tool + " -display " + display + " -id " + std::to_string(id) + " 2>/dev/null", &out);
  std::vector<int> told;
  for (const char* key : {"Absolute upper-left X:", "Absolute upper-left Y:", "Width:", "Height:"}) {
    const size_t at = out.find(key);
    if (at == std::string::npos)
      return {};
    told.push_back(std::atoi(out.c_str() + at + std::strlen(key)));
  }
  return told;
}

// Hidden, moved and shown again, ten times: every position the window
// reports is where the server has it at that moment (xwininfo), one report
// for each show, and the window manager's frame stands where it was moved.
TEST_F(X11Managed, PositionAfterHideMoveAndShowIsTheServers)
{
  REQUIRE_TOOL(xvfb, "Xvfb");
  REQUIRE_TOOL(openbox, "openbox");
  REQUIRE_TOOL(info, "xwininfo");
  ASSERT_TRUE(startManaged(openbox)) << "openbox did not start";
  ::Display* peer = XOpenDisplay(server->display().c_str());
  ASSERT_NE(peer, nullptr);
  std::unique_ptr<Renderer> window(root->newWindow(50, 60, 120, 80, false));
  // Each report checked at once, while the loop waits for the handler.
  struct Checked : Recorder {
    std::function<void(const std::vector<int>&)> check;
    void resized(Renderer* r, int x, int y, unsigned w, unsigned h, bool force) override
    {
      Recorder::resized(r, x, y, w, h, force);
      check(frames.back());
    }
  } rec;
  const ::Window id = static_cast<RendererAppKit*>(window.get())->platformWindow()->nativeId();
  std::vector<std::string> wrong;
  int round = 0;
  rec.check = [&](const std::vector<int>& f) {
    const std::vector<int> truth = xwininfo(info, server->display(), id);
    const std::vector<int> told(f.begin(), f.begin() + 4);
    if (told != truth) {
      std::string text = "round " + std::to_string(round) + ": told";
      for (int v : told)
        text += " " + std::to_string(v);
      text += ", xwininfo";
      for (int v : truth)
        text += " " + std::to_string(v);
      wrong.push_back(text);
    }
  };
  window->handler = &rec;
  auto wait = [&](std::function<bool()> done, double seconds) {
    const int64_t end = platform::monotonicMicros() + (int64_t)(seconds * 1e6);
    struct W {
      std::function<bool()> done;
      RendererAppKit* root;
      int64_t end;
      bool met;
    } w{done, root.get(), end, false};
    root->addTimer(
        [](void* p) {
          auto* w = static_cast<W*>(p);
          w->met = w->done();
          if (w->met || platform::monotonicMicros() > w->end) {
            w->root->quit(0);
            return false;
          }
          return true;
        },
        0.02, &w);
    root->run();
    return w.met;
  };
  auto viewable = [&] {
    XWindowAttributes wa;
    return XGetWindowAttributes(peer, id, &wa) && wa.map_state == IsViewable;
  };
  // Where the window manager's frame stands on the screen.
  auto framePlace = [&] {
    ::Window rootW, parent, *children = nullptr;
    unsigned n = 0;
    int x = -1, y = -1;
    if (XQueryTree(peer, id, &rootW, &parent, &children, &n) && parent != rootW) {
      ::Window child;
      XTranslateCoordinates(peer, parent, rootW, 0, 0, &x, &y, &child);
    }
    if (children)
      XFree(children);
    return std::pair<int, int>{x, y};
  };
  window->setHidden(false);
  ASSERT_TRUE(wait([&] { return rec.frames.size() == 1; }, 10)) << "the first show is told";
  for (round = 1; round <= 10; ++round) {
    const size_t before = rec.frames.size();
    window->setHidden(true);
    // Half the rounds move and show at once, half once the window is gone.
    if (round % 2 == 0) {
      ASSERT_TRUE(wait([&] { return !viewable(); }, 10)) << round;
    }
    const int x = 30 + round * 20, y = 40 + round * 15;
    window->move(x, y);
    window->setHidden(false);
    ASSERT_TRUE(wait([&] { return rec.frames.size() > before && viewable(); }, 10)) << round;
    // Whatever else the window manager does comes now or never.
    wait([] { return false; }, 0.3);
    EXPECT_EQ(rec.frames.size(), before + 1) << "one report for show " << round;
    EXPECT_EQ(framePlace(), (std::pair<int, int>{x, y})) << round;
    std::vector<int> truth = xwininfo(info, server->display(), id);
    truth.push_back(0); // not forced
    EXPECT_EQ(rec.frames.back(), truth) << round;
  }
  for (const std::string& w : wrong)
    ADD_FAILURE() << w;
  window.reset();
  XCloseDisplay(peer);
}

} // namespace
