// A script run by tolm on an X server of its own (Xvfb): its window canvas
// read back with XGetImage against the same drawing on an off-screen
// canvas, and input sent by a second client arriving as event tables.
#include <gtest/gtest.h>

// Before the X headers, whose macros share these names.
#include "renderer/Event.hh"
#include "canvas/Text.hh"
#include "canvas/Transform.hh"
#include "canvas/Vectorial.hh"
#include "canvas/XPath.hh"
#include "fonts/process_fonts.hh"
#include "renderer/RendererAppKit.hh"
#include "tests/bind/bind_support.hh"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/renderer/Xvfb.hh"
#include "tests/support/TestSupport.hh"

namespace {

const std::string kScript = testsupport::sourceDir() + "/tests/canvas/scripts/vectorial_preview.lua";

// tolm running the preview script, its standard output read line by line.
class Tolm {
public:
  explicit Tolm(const std::string& display)
  {
    int fds[2];
    if (pipe(fds) != 0)
      return;
    pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      close(fds[0]);
      dup2(fds[1], 1);
      unsetenv("TOLM_HEADLESS");
      unsetenv("TOLM_SNAPSHOT_DIR");
      setenv("DISPLAY", display.c_str(), 1);
      execl(TOLM_EXE, "tolm", "--script", kScript.c_str(), (char*)nullptr);
      _exit(127);
    }
    close(fds[1]);
    out = fds[0];
  }
  ~Tolm()
  {
    if (out >= 0)
      close(out);
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  // The next line, or "" after `seconds`.
  std::string line(double seconds = 10)
  {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds((int)(seconds * 1000));
    for (;;) {
      const size_t nl = buffer.find('\n');
      if (nl != std::string::npos) {
        std::string l = buffer.substr(0, nl);
        buffer.erase(0, nl + 1);
        return l;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0)
        return "";
      pollfd p{out, POLLIN, 0};
      if (poll(&p, 1, (int)left.count()) <= 0)
        continue;
      char chunk[512];
      const ssize_t n = read(out, chunk, sizeof chunk);
      if (n <= 0)
        return "";
      buffer.append(chunk, (size_t)n);
    }
  }
  // The exit status, or -1 when it does not end within `seconds`.
  int wait(double seconds = 10)
  {
    for (int i = 0; i < seconds * 20; ++i) {
      int status;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }

private:
  pid_t pid = -1;
  int out = -1;
  std::string buffer;
};

::Window findByName(::Display* d, ::Window w, const char* name)
{
  char* title = nullptr;
  if (XFetchName(d, w, &title) && title) {
    const bool match = std::string(title) == name;
    XFree(title);
    if (match)
      return w;
  }
  ::Window rootW, parent, *children = nullptr;
  unsigned n = 0;
  ::Window found = 0;
  if (XQueryTree(d, w, &rootW, &parent, &children, &n)) {
    for (unsigned i = 0; i < n && !found; ++i)
      found = findByName(d, children[i], name);
    if (children)
      XFree(children);
  }
  return found;
}

// The same preview drawn off-screen in a state of this process.
std::vector<uint8_t> referencePreview()
{
  setenv("TOLM_HEADLESS", "1", 1);
  createFontEngine();
  Renderer* root = new RendererAppKit();
  std::vector<uint8_t> pixels;
  if (root->init(nullptr)) {
    auto s = std::make_unique<bindtest::State>();
    LuaWrapper::DeclareToLua<Transform>(s->L, "Tolm");
    LuaWrapper::DeclareToLua<XPath>(s->L, "Tolm");
    LuaWrapper::DeclareToLua<Text>(s->L, "Tolm");
    LuaWrapper::DeclareToLua<Vectorial>(s->L, "Tolm");
    exportTransformClass(s->L);
    exportPathClass(s->L);
    exportTextClass(s->L);
    exportVectorialClass(s->L, &root);
    // the script's require finds the module already there
    lua_getglobal(s->L, "Tolm");
    lua_getglobal(s->L, "package");
    lua_getfield(s->L, -1, "loaded");
    lua_pushvalue(s->L, -3);
    lua_setfield(s->L, -2, "Tolm");
    lua_settop(s->L, 0);
    bindtest::Outcome out = s->run("preview_only = true dofile('" + kScript + "') "
                                   "local w = Tolm.Vectorial.new(function() end, 0, 0, 1, 1) "
                                   "t = w:newTemporary(160, 120) drawPreview(t, previewFont())");
    EXPECT_TRUE(out.ok) << out.value;
    lua_getglobal(s->L, "t");
    Vectorial** v = LuaWrapper::LuaClass<Vectorial>::getRawPtr(s->L, -1);
    if (v && *v) {
      Vectorial::View view = (*v)->view();
      for (unsigned y = 0; y < view.rbuf.height(); ++y)
        pixels.insert(pixels.end(), view.rbuf.row_ptr(y), view.rbuf.row_ptr(y) + view.rbuf.width() * 4);
    }
    lua_settop(s->L, 0);
  }
  delete root;
  unsetenv("TOLM_HEADLESS");
  return pixels;
}

TEST(VectorialX11, PreviewReadBackAndEvents)
{
  REQUIRE_TOOL(xvfb, "Xvfb");
  Xvfb server(xvfb);
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  ::Display* peer = XOpenDisplay(server.display().c_str());
  ASSERT_NE(peer, nullptr);
  Tolm tolm(server.display());
  std::vector<std::string> events;
  std::string l;
  while ((l = tolm.line()) != "READY") {
    ASSERT_NE(l, "") << "tolm said nothing more";
    events.push_back(l);
  }
  const ::Window id = findByName(peer, DefaultRootWindow(peer), "vectorial-preview");
  ASSERT_NE(id, 0u);

  // The window's pixels against the off-screen drawing of the same preview.
  const std::vector<uint8_t> ref = referencePreview();
  ASSERT_EQ(ref.size(), 160u * 120 * 4);
  int differing = -1, firstX = 0, firstY = 0;
  for (int attempt = 0; attempt < 100 && differing != 0; ++attempt) {
    if (attempt)
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    XImage* img = XGetImage(peer, id, 0, 0, 160, 120, AllPlanes, ZPixmap);
    if (!img)
      continue;
    differing = 0;
    for (int y = 0; y < 120; ++y)
      for (int x = 0; x < 160; ++x) {
        const uint8_t* p = &ref[((size_t)y * 160 + x) * 4];
        const unsigned long want = ((unsigned long)p[0] << 16) | (p[1] << 8) | p[2];
        if ((XGetPixel(img, x, y) & 0xFFFFFF) != want && differing++ == 0) {
          firstX = x;
          firstY = y;
        }
      }
    XDestroyImage(img);
  }
  EXPECT_EQ(differing, 0) << "first at " << firstX << "," << firstY;
  // the preview is not blank: ink, gradient and page differ from the desk
  EXPECT_NE(ref[(46 * 160 + 20) * 4 + 0], ref[(10 * 160 + 50) * 4 + 0]);

  // Input from a second client.
  auto send = [&](XEvent ev) {
    ev.xany.window = id;
    ev.xany.display = peer;
    XSendEvent(peer, id, False, NoEventMask, &ev);
    XFlush(peer);
  };
  XEvent motion{};
  motion.xmotion.type = MotionNotify;
  motion.xmotion.x = 9;
  motion.xmotion.y = 10;
  send(motion);
  for (auto [type, button, state] : {std::tuple<int, unsigned, unsigned>{ButtonPress, 1, ShiftMask},
                                     {ButtonPress, 5, 0},
                                     {ButtonRelease, 5, 0}}) {
    XEvent ev{};
    ev.xbutton.type = type;
    ev.xbutton.button = button;
    ev.xbutton.state = state;
    ev.xbutton.x = 5;
    ev.xbutton.y = 6;
    ev.xbutton.same_screen = True;
    send(ev);
  }
  Time t = 1000;
  for (int type : {KeyPress, KeyRelease}) {
    XEvent ev{};
    ev.xkey.type = type;
    ev.xkey.keycode = XKeysymToKeycode(peer, XK_a);
    ev.xkey.state = ControlMask;
    ev.xkey.x = 7;
    ev.xkey.y = 8;
    ev.xkey.time = ++t;
    ev.xkey.same_screen = True;
    send(ev);
  }
  XEvent close{};
  close.xclient.type = ClientMessage;
  close.xclient.message_type = XInternAtom(peer, "WM_PROTOCOLS", False);
  close.xclient.format = 32;
  close.xclient.data.l[0] = (long)XInternAtom(peer, "WM_DELETE_WINDOW", False);
  close.xclient.data.l[1] = CurrentTime;
  send(close);

  while (events.empty() || events.back() != "EVENT shouldClose=true") {
    l = tolm.line();
    ASSERT_NE(l, "") << "no close request arrived";
    events.push_back(l);
  }
  EXPECT_EQ(tolm.wait(), 0);
  XCloseDisplay(peer);

  std::vector<std::string> input;
  bool framed = false;
  for (const std::string& e : events) {
    if (e.rfind("EVENT frame={", 0) == 0)
      framed = framed || e.find("h=120 w=160") != std::string::npos;
    else
      input.push_back(e);
  }
  EXPECT_TRUE(framed);
  const std::vector<std::string> expect = {
      "EVENT pointer={pen=false touch=false type=move x=9 y=10}",
      "EVENT pointer={button=1 pen=false touch=false type=press x=5 y=6} shift=true",
      "EVENT pointer={button=5 pen=false touch=false type=press x=5 y=6}",
      "EVENT pointer={button=5 pen=false touch=false type=release x=5 y=6}",
      "EVENT cntrl=true key={autoRepeat=false keycode=0 string=\x01 type=press x=7 y=8}",
      "EVENT cntrl=true key={autoRepeat=false keycode=0 string=\x01 type=release x=7 y=8}",
      "EVENT shouldClose=true",
  };
  EXPECT_EQ(input, expect);
}


// The window destroyed by another program (xdotool windowclose): the
// script hears it as the close button and ends normally.
TEST(VectorialX11, WindowDestroyedElsewhereEndsTheScript)
{
  REQUIRE_TOOL(xvfb, "Xvfb");
  REQUIRE_TOOL(xdotool, "xdotool");
  Xvfb server(xvfb);
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  ::Display* peer = XOpenDisplay(server.display().c_str());
  ASSERT_NE(peer, nullptr);
  Tolm tolm(server.display());
  std::string l;
  while ((l = tolm.line()) != "READY")
    ASSERT_NE(l, "") << "tolm said nothing more";
  const ::Window id = findByName(peer, DefaultRootWindow(peer), "vectorial-preview");
  ASSERT_NE(id, 0u);
  EXPECT_EQ(testsupport::run("DISPLAY=" + server.display() + " " + xdotool + " windowclose " +
                             std::to_string(id)),
            0);
  bool closed = false;
  while (!closed && !(l = tolm.line()).empty())
    closed = l == "EVENT shouldClose=true";
  EXPECT_TRUE(closed) << "no close request arrived";
  EXPECT_EQ(tolm.wait(), 0);
  XCloseDisplay(peer);
}

} // namespace
