// The X11 display: one top-level window per renderer window, the buffer
// shown through XPutImage or MIT-SHM, input and window-manager requests
// translated for the window's delegate, the CLIPBOARD selection.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <vector>

#include "platform/ClipboardText.hh"
#include "platform/Display.hh"
#include "platform/Loop.hh"
#include "platform/Resources.hh"
#include "platform/X11Input.hh"
#include "platform/X11Visual.hh"

namespace platform {

namespace {

// A paste waits this long for each answer of the owner, and this long in
// all for a text sent in chunks.
constexpr int kAnswerMillis = 2000;
constexpr int64_t kPasteMicros = 60 * 1000000;
// A requestor that takes no chunk for this long is given up.
constexpr int64_t kTransferIdleMicros = 30 * 1000000;

// A protocol error is reported and survived; the MIT-SHM attach looks at
// the last error code to fall back to plain images.
int lastXError = 0;

int onXError(::Display* dpy, XErrorEvent* e)
{
  lastXError = e->error_code;
  char text[256] = "";
  XGetErrorText(dpy, e->error_code, text, sizeof text);
  std::fprintf(stderr, "X error: %s (request %d.%d, resource 0x%lx)\n", text, e->request_code,
               e->minor_code, e->resourceid);
  return 0;
}

struct Rect {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0; // half-open; empty when x0 >= x1
  bool empty() const { return x0 >= x1 || y0 >= y1; }
  void add(int x, int y, int w, int h)
  {
    if (w <= 0 || h <= 0)
      return;
    if (empty()) {
      *this = Rect{x, y, x + w, y + h};
      return;
    }
    x0 = std::min(x0, x);
    y0 = std::min(y0, y);
    x1 = std::max(x1, x + w);
    y1 = std::max(y1, y + h);
  }
};

// One channel of a true-colour visual: where its bits go.
struct Channel {
  unsigned shift = 0, bits = 0;
  explicit Channel(unsigned long mask = 0)
  {
    if (!mask)
      return;
    while (!(mask & 1)) {
      mask >>= 1;
      ++shift;
    }
    while (mask & 1) {
      mask >>= 1;
      ++bits;
    }
  }
  unsigned long put(uint8_t v) const
  {
    if (!bits)
      return 0;
    return bits >= 8 ? (unsigned long)v << (shift + bits - 8) : (unsigned long)(v >> (8 - bits)) << shift;
  }
};

class X11Display;

class X11Window : public Window {
public:
  X11Window(X11Display& d, int x, int y, unsigned w, unsigned h, bool translucent,
            WindowDelegate* delegate);
  ~X11Window() override;
  void setContents(const uint8_t* rgba, uint32_t w, uint32_t h) override;
  void invalidate(int x, int y, int w, int h) override { dirty.add(x, y, w, h); }
  void display() override;
  void move(int x, int y) override;
  void setContentSize(unsigned w, unsigned h) override;
  void setSizeLimits(unsigned minW, unsigned minH, unsigned maxW, unsigned maxH) override;
  void setTitle(const std::string& utf8) override;
  void setHidden(bool hidden) override;
  void setDecoration(bool decorated) override;
  void setFloating(bool floating) override;
  void grabPointer(bool grab) override;
  Frame frame() override;
  bool visible() const override { return shown; }
  unsigned long nativeId() const override { return win; }

  void handle(XEvent& ev);
  bool hasDirty() const { return !dirty.empty(); }

private:
  void reportFrame();
  // The window's size from `wa`, its place on the screen from the server.
  Frame frameOf(const XWindowAttributes& wa);
  void destroyedElsewhere();
  void freeImage();
  bool makeImage(uint32_t w, uint32_t h);
  void blit(Rect r);
  void applyHints();
  void applyMotif();

  X11Display& d;
  ::Display* dpy;
  ::Window win = 0;
  WindowDelegate* delegate;
  Visual* visual;
  int depth;
  Colormap colormap = 0;
  GC gc = 0;
  Channel red, green, blue, alpha;
  const uint8_t* pixels = nullptr;
  uint32_t pw = 0, ph = 0;
  XImage* image = nullptr;
  XShmSegmentInfo shm{};
  bool usingShm = false;
  Rect dirty;
  bool shown = false, decorated = true, floating = false, grabbed = false;
  unsigned width, height;
  bool limits = false;
  unsigned minW = 0, minH = 0, maxW = 0, maxH = 0;
  Frame reported; // the last frame the delegate was given
  // Shown, and not yet told where: told once the window can be seen.
  bool placing = false;
};

class X11Display : public Display {
public:
  X11Display(Loop& loop, ::Display* dpy);
  ~X11Display() override;
  const char* name() const override { return "x11"; }
  bool endsWhenIdle() const override { return false; }
  std::unique_ptr<Window> createWindow(int x, int y, unsigned w, unsigned h, bool translucent,
                                       WindowDelegate* delegate) override
  {
    return std::make_unique<X11Window>(*this, x, y, w, h, translucent, delegate);
  }
  bool writeClipboard(const std::string& utf8) override;
  bool readClipboard(std::string& utf8) override;
  Frame screen() override
  {
    return Frame{0, 0, (unsigned)DisplayWidth(dpy, screenNum), (unsigned)DisplayHeight(dpy, screenNum)};
  }

  void pump();
  void handle(XEvent& ev);
  void serveSelection(const XSelectionRequestEvent& req);
  size_t maxPropertyBytes() const;
  void continueTransfer(const XPropertyEvent& ev);
  // Forgets the transfers to `requestor`; `gone` when the window no
  // longer exists (then its event mask cannot be reset).
  void dropTransfers(::Window requestor, bool gone);
  enum class Read { Text, Refused, Failed };
  Read readSelection(Atom target, std::string& out, std::string& why);

  Loop& loop;
  ::Display* dpy;
  int screenNum;
  ::Window root, utility;
  bool shmAvailable = false;
  bool detectableRepeat = false;
  x11::KeyRepeat keys;
  std::map<::Window, X11Window*> windows;
  // Windows draw through a true-colour visual: the default one when it is,
  // else another of the screen's (x11::chooseTrueColor) with a colormap of
  // its own.
  Visual* visual = nullptr;
  int depth = 0;
  Colormap colormap = 0;
  // Shared with the transfers under way, which keep serving the text they
  // started with when the script copies something else.
  std::shared_ptr<const std::string> clipboard = std::make_shared<const std::string>();
  // Selections too large for one property go out in chunks (INCR), each
  // when the requestor has deleted the previous one.
  struct Transfer {
    ::Window requestor;
    Atom property, type;
    std::shared_ptr<const std::string> data;
    size_t offset;
    int64_t lastActivity;
  };
  std::vector<Transfer> transfers;
  struct {
    Atom protocols, deleteWindow, netName, utf8, clipboard, targets, text, motif, netState,
        netAbove, netPid, netType, netTypeNormal, netActive, transfer, incr;
  } atom;
};

X11Display::X11Display(Loop& loop, ::Display* dpy) : loop(loop), dpy(dpy)
{
  screenNum = DefaultScreen(dpy);
  root = RootWindow(dpy, screenNum);
  visual = DefaultVisual(dpy, screenNum);
  depth = DefaultDepth(dpy, screenNum);
  auto intern = [&](const char* n) { return XInternAtom(dpy, n, False); };
  atom.protocols = intern("WM_PROTOCOLS");
  atom.deleteWindow = intern("WM_DELETE_WINDOW");
  atom.netName = intern("_NET_WM_NAME");
  atom.utf8 = intern("UTF8_STRING");
  atom.clipboard = intern("CLIPBOARD");
  atom.targets = intern("TARGETS");
  atom.text = intern("TEXT");
  atom.motif = intern("_MOTIF_WM_HINTS");
  atom.netState = intern("_NET_WM_STATE");
  atom.netAbove = intern("_NET_WM_STATE_ABOVE");
  atom.netPid = intern("_NET_WM_PID");
  atom.netType = intern("_NET_WM_WINDOW_TYPE");
  atom.netTypeNormal = intern("_NET_WM_WINDOW_TYPE_NORMAL");
  atom.netActive = intern("_NET_ACTIVE_WINDOW");
  atom.transfer = intern("TOLM_SELECTION");
  atom.incr = intern("INCR");

  // Selections need a window of their own, never shown.
  XSetWindowAttributes attrs{};
  attrs.event_mask = PropertyChangeMask;
  utility = XCreateWindow(dpy, root, -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent, CWEventMask,
                          &attrs);

  const char* noShm = std::getenv("TOLM_X11_NOSHM");
  shmAvailable = XShmQueryExtension(dpy) && !(noShm && *noShm && std::strcmp(noShm, "0") != 0);
  Bool supported = False;
  detectableRepeat = XkbSetDetectableAutoRepeat(dpy, True, &supported) && supported;

  loop.watch(ConnectionNumber(dpy), [this] { pump(); });
  loop.setBeforeWait([this] {
    pump();
    for (auto& w : windows)
      if (w.second->hasDirty())
        w.second->display();
    XFlush(this->dpy);
    // Events read while flushing would sit in Xlib's queue unseen by poll.
    if (XQLength(this->dpy) > 0)
      this->loop.post([] {});
  });
  systemLog("display %s: MIT-SHM %s", DisplayString(dpy), shmAvailable ? "on" : "off");
}

X11Display::~X11Display()
{
  loop.setBeforeWait(nullptr);
  loop.unwatch(ConnectionNumber(dpy));
  XDestroyWindow(dpy, utility);
  if (colormap)
    XFreeColormap(dpy, colormap);
  XCloseDisplay(dpy);
}

void X11Display::pump()
{
  while (XPending(dpy) > 0) {
    XEvent ev;
    XNextEvent(dpy, &ev);
    handle(ev);
  }
  // A requestor that stopped taking chunks without going away.
  if (!transfers.empty()) {
    const int64_t now = monotonicMicros();
    for (size_t i = 0; i < transfers.size();) {
      if (now - transfers[i].lastActivity > kTransferIdleMicros) {
        const ::Window stalled = transfers[i].requestor;
        std::fprintf(stderr, "clipboard: a paste by window 0x%lx stalled; given up\n", stalled);
        dropTransfers(stalled, false);
        i = 0;
      } else {
        ++i;
      }
    }
  }
}

void X11Display::handle(XEvent& ev)
{
  switch (ev.type) {
  case SelectionRequest:
    serveSelection(ev.xselectionrequest);
    return;
  case SelectionClear:
    if (ev.xselectionclear.selection == atom.clipboard)
      clipboard = std::make_shared<const std::string>();
    return;
  case PropertyNotify:
    if (ev.xproperty.state == PropertyDelete && !windows.count(ev.xproperty.window)) {
      continueTransfer(ev.xproperty);
      return;
    }
    break;
  case DestroyNotify:
    if (!windows.count(ev.xdestroywindow.window)) {
      dropTransfers(ev.xdestroywindow.window, true);
      return;
    }
    break;
  case FocusOut:
    keys.reset();
    break;
  case KeyRelease:
    // Without detectable auto-repeat the server sends a release just before
    // each repeated press, at the same time: drop it.
    if (!detectableRepeat && XEventsQueued(dpy, QueuedAfterReading)) {
      XEvent next;
      XPeekEvent(dpy, &next);
      if (next.type == KeyPress && next.xkey.time == ev.xkey.time &&
          next.xkey.keycode == ev.xkey.keycode && next.xkey.window == ev.xkey.window)
        return;
    }
    keys.release(ev.xkey.keycode);
    break;
  default:
    break;
  }
  auto it = windows.find(ev.xany.window);
  if (it != windows.end())
    it->second->handle(ev);
}

bool X11Display::writeClipboard(const std::string& utf8)
{
  try {
    clipboard = std::make_shared<const std::string>(utf8);
  } catch (const std::bad_alloc&) {
    std::fputs("clipboard: no memory for the copy\n", stderr);
    clipboard = std::make_shared<const std::string>();
    return false;
  }
  XSetSelectionOwner(dpy, atom.clipboard, utility, CurrentTime);
  const bool owner = XGetSelectionOwner(dpy, atom.clipboard) == utility;
  if (!owner)
    clipboard = std::make_shared<const std::string>();
  return owner;
}

void X11Display::serveSelection(const XSelectionRequestEvent& req)
{
  XSelectionEvent reply{};
  reply.type = SelectionNotify;
  reply.requestor = req.requestor;
  reply.selection = req.selection;
  reply.target = req.target;
  reply.time = req.time;
  reply.property = None;
  // Obsolete clients give no property: the target names it.
  const Atom property = req.property == None ? req.target : req.property;
  if (req.selection == atom.clipboard && req.owner == utility) {
    if (req.target == atom.targets) {
      const Atom targets[] = {atom.targets, atom.utf8, XA_STRING, atom.text};
      XChangeProperty(dpy, req.requestor, property, XA_ATOM, 32, PropModeReplace,
                      (const unsigned char*)targets, 4);
      reply.property = property;
    } else if (req.target == atom.utf8 || req.target == atom.text || req.target == XA_STRING) {
      const bool latin1 = req.target == XA_STRING;
      std::shared_ptr<const std::string> data = clipboard;
      bool ok = true;
      if (latin1) {
        try {
          data = std::make_shared<const std::string>(x11::toLatin1(*clipboard));
        } catch (const std::bad_alloc&) {
          ok = false;
        }
      }
      const Atom type = latin1 ? XA_STRING : atom.utf8;
      if (!ok) {
        std::fputs("clipboard: no memory for the Latin-1 copy; paste refused\n", stderr);
      } else if (data->size() <= maxPropertyBytes()) {
        XChangeProperty(dpy, req.requestor, property, type, 8, PropModeReplace,
                        (const unsigned char*)data->data(), (int)data->size());
        reply.property = property;
      } else {
        // Too large for one request: announce the size (a lower bound) and
        // send chunks as the requestor deletes the property.
        XSelectInput(dpy, req.requestor, PropertyChangeMask | StructureNotifyMask);
        const long size = (long)std::min<size_t>(data->size(), 0x7FFFFFFF);
        XChangeProperty(dpy, req.requestor, property, atom.incr, 32, PropModeReplace,
                        (const unsigned char*)&size, 1);
        transfers.push_back(Transfer{req.requestor, property, type, std::move(data), 0,
                                     monotonicMicros()});
        reply.property = property;
      }
    }
  }
  XSendEvent(dpy, req.requestor, False, NoEventMask, (XEvent*)&reply);
  XFlush(dpy);
}

size_t X11Display::maxPropertyBytes() const
{
  const long extended = XExtendedMaxRequestSize(dpy);
  const long units = extended > 0 ? extended : XMaxRequestSize(dpy);
  return (size_t)units * 4 - 1024;
}

void X11Display::continueTransfer(const XPropertyEvent& ev)
{
  for (size_t i = 0; i < transfers.size(); ++i) {
    Transfer& t = transfers[i];
    if (t.requestor != ev.window || t.property != ev.atom)
      continue;
    // Chunks of a plain request's size: every requestor can take them.
    const size_t chunk = std::min<size_t>((size_t)XMaxRequestSize(dpy) * 4 - 1024, 256 * 1024);
    const size_t n = std::min(chunk, t.data->size() - t.offset);
    // The last chunk is empty: it tells the requestor the text is complete.
    XChangeProperty(dpy, t.requestor, t.property, t.type, 8, PropModeReplace,
                    (const unsigned char*)t.data->data() + t.offset, (int)n);
    t.offset += n;
    t.lastActivity = monotonicMicros();
    if (n == 0) {
      const ::Window requestor = t.requestor;
      transfers.erase(transfers.begin() + (ptrdiff_t)i);
      bool more = false;
      for (const Transfer& other : transfers)
        more |= other.requestor == requestor;
      if (!more)
        XSelectInput(dpy, requestor, NoEventMask);
    }
    XFlush(dpy);
    return;
  }
}

void X11Display::dropTransfers(::Window requestor, bool gone)
{
  const size_t before = transfers.size();
  transfers.erase(std::remove_if(transfers.begin(), transfers.end(),
                                 [&](const Transfer& t) { return t.requestor == requestor; }),
                  transfers.end());
  if (transfers.size() != before && !gone)
    XSelectInput(dpy, requestor, NoEventMask);
}

namespace {

// Waits for an event of `type` on `window` that `wanted` accepts, at most
// `millis`, discarding the ones it refuses and leaving every other event
// queued.
template <typename Want>
bool waitWindowEvent(::Display* dpy, ::Window window, int type, XEvent& ev, int millis, Want wanted)
{
  const int64_t end = monotonicMicros() + (int64_t)millis * 1000;
  for (;;) {
    while (XCheckTypedWindowEvent(dpy, window, type, &ev))
      if (wanted(ev))
        return true;
    const int64_t left = end - monotonicMicros();
    if (left <= 0)
      return false;
    pollfd fd{ConnectionNumber(dpy), POLLIN, 0};
    XFlush(dpy);
    poll(&fd, 1, (int)std::min<int64_t>(left / 1000 + 1, 100));
  }
}

} // namespace

X11Display::Read X11Display::readSelection(Atom target, std::string& out, std::string& why)
{
  out.clear();
  XDeleteProperty(dpy, utility, atom.transfer);
  XConvertSelection(dpy, atom.clipboard, target, atom.transfer, utility, CurrentTime);
  XEvent ev;
  if (!waitWindowEvent(dpy, utility, SelectionNotify, ev, kAnswerMillis,
                       [](const XEvent&) { return true; })) {
    why = "the owner did not answer";
    return Read::Failed;
  }
  if (ev.xselection.property == None)
    return Read::Refused;

  // Reads and deletes the transfer property; false when it cannot be read
  // whole.
  Atom type = None;
  auto take = [&](std::string& chunk) {
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    chunk.clear();
    if (XGetWindowProperty(dpy, utility, atom.transfer, 0, 0x7FFFFFF, True, AnyPropertyType, &type,
                           &format, &count, &after, &data) != Success)
      return false;
    bool ok = after == 0;
    if (data) {
      if (type == atom.incr || format == 8)
        chunk.assign((const char*)data, type == atom.incr ? 0 : count);
      else
        ok = false;
      XFree(data);
    }
    return ok;
  };

  // Owners may answer any request with what they hold (an image, say):
  // only text is taken. No type is an empty text.
  auto isText = [&](Atom t) {
    return t == atom.utf8 || t == XA_STRING || t == atom.text || t == None;
  };
  auto notText = [&](Atom t) {
    char* name = XGetAtomName(dpy, t);
    why = std::string("the clipboard holds ") + (name ? name : "data") + ", not text";
    if (name)
      XFree(name);
    out.clear();
    return Read::Failed;
  };

  std::string chunk;
  // Notifications of earlier changes to the property are stale.
  XEvent stale;
  while (XCheckTypedWindowEvent(dpy, utility, PropertyNotify, &stale)) {
  }
  if (!take(chunk)) {
    if (type != atom.incr && !isText(type))
      return notText(type);
    why = "the text could not be read";
    return Read::Failed;
  }
  Atom textType = type;
  if (type == atom.incr) {
    // Deleting the INCR property (done by take) asks for the first chunk;
    // every chunk read and deleted asks for the next, until an empty one.
    const int64_t end = monotonicMicros() + kPasteMicros;
    textType = None;
    for (;;) {
      auto newValue = [&](const XEvent& e) {
        return e.xproperty.atom == atom.transfer && e.xproperty.state == PropertyNewValue;
      };
      if (monotonicMicros() > end || !waitWindowEvent(dpy, utility, PropertyNotify, ev,
                                                      kAnswerMillis, newValue)) {
        why = "the owner stopped sending the text (" + std::to_string(out.size()) + " bytes read)";
        return Read::Failed;
      }
      if (!take(chunk)) {
        why = "a part of the text could not be read";
        return Read::Failed;
      }
      if (chunk.empty())
        break;
      if (textType == None)
        textType = type;
      if (!isText(textType))
        break; // told below; the owner gives up on its own
      try {
        out += chunk;
      } catch (const std::bad_alloc&) {
        out.clear();
        why = "no memory for the text";
        return Read::Failed;
      }
    }
  } else {
    out.swap(chunk);
  }
  if (!isText(textType))
    return notText(textType);
  // TEXT names no encoding: UTF-8 when the bytes are that, else Latin-1.
  if (textType == XA_STRING || (textType == atom.text && !x11::isUtf8(out)))
    out = x11::fromLatin1(out);
  return Read::Text;
}

bool X11Display::readClipboard(std::string& text)
{
  text.clear();
  const ::Window owner = XGetSelectionOwner(dpy, atom.clipboard);
  if (owner == None)
    return true;
  if (owner == utility) {
    text = *clipboard;
    return true;
  }
  std::string why;
  Read r = Read::Failed;
  try {
    // The text targets only, the richest first.
    for (Atom target : {atom.utf8, (Atom)XA_STRING, atom.text}) {
      r = readSelection(target, text, why);
      if (r != Read::Refused)
        break;
    }
  } catch (const std::bad_alloc&) {
    why = "no memory for the text";
  }
  if (r == Read::Failed) {
    text.clear();
    std::fprintf(stderr, "clipboard: paste failed: %s\n", why.c_str());
    return false;
  }
  if (r == Read::Refused) {
    // The owner holds something, only no text (an image, say).
    text.clear();
    std::fputs("clipboard: nothing pasted: the clipboard holds no text\n", stderr);
  }
  return true;
}

// --- windows

X11Window::X11Window(X11Display& d, int x, int y, unsigned w, unsigned h, bool translucent,
                     WindowDelegate* delegate)
  : d(d), dpy(d.dpy), delegate(delegate), width(w), height(h)
{
  visual = d.visual;
  depth = d.depth;
  XSetWindowAttributes attrs{};
  unsigned long mask = CWEventMask | CWBackPixel | CWBorderPixel;
  if (d.colormap) {
    attrs.colormap = d.colormap;
    mask |= CWColormap;
  }
  XVisualInfo vi;
  if (translucent && XMatchVisualInfo(dpy, d.screenNum, 32, TrueColor, &vi)) {
    visual = vi.visual;
    depth = 32;
    colormap = XCreateColormap(dpy, d.root, visual, AllocNone);
    attrs.colormap = colormap;
    mask |= CWColormap;
  }
  red = Channel(visual->red_mask);
  green = Channel(visual->green_mask);
  blue = Channel(visual->blue_mask);
  if (depth == 32)
    alpha = Channel(0xFFFFFFFFul & ~(visual->red_mask | visual->green_mask | visual->blue_mask));
  // What the server shows where the picture does not reach (a window the
  // user made larger than it): white, as a picture grows.
  attrs.background_pixel = red.put(255) | green.put(255) | blue.put(255) | alpha.put(255);
  attrs.border_pixel = 0;
  attrs.event_mask = ExposureMask | KeyPressMask | KeyReleaseMask | ButtonPressMask |
                     ButtonReleaseMask | PointerMotionMask | StructureNotifyMask | FocusChangeMask |
                     VisibilityChangeMask;
  const Frame screen = d.screen();
  if (x == -1 && y == -1) {
    x = ((int)screen.w - (int)w) / 2;
    y = ((int)screen.h - (int)h) / 2;
  }
  // X has no empty windows.
  win = XCreateWindow(dpy, d.root, x, y, std::max(1u, std::min(w, 32767u)),
                      std::max(1u, std::min(h, 32767u)), 0, depth, InputOutput, visual, mask, &attrs);
  gc = XCreateGC(dpy, win, 0, nullptr);
  d.windows[win] = this;

  XClassHint klass{const_cast<char*>("tolm"), const_cast<char*>("Tolm")};
  XWMHints wm{};
  wm.flags = InputHint | StateHint;
  wm.input = True;
  wm.initial_state = NormalState;
  XSetWMProperties(dpy, win, nullptr, nullptr, nullptr, 0, nullptr, &wm, &klass);
  XSetWMProtocols(dpy, win, &d.atom.deleteWindow, 1);
  const long pid = getpid();
  XChangeProperty(dpy, win, d.atom.netPid, XA_CARDINAL, 32, PropModeReplace,
                  (const unsigned char*)&pid, 1);
  XChangeProperty(dpy, win, d.atom.netType, XA_ATOM, 32, PropModeReplace,
                  (const unsigned char*)&d.atom.netTypeNormal, 1);
  applyHints();
  applyMotif();
  // The position is the script's: keep it when the window first maps.
  XSizeHints* hints = XAllocSizeHints();
  long supplied;
  XGetWMNormalHints(dpy, win, hints, &supplied);
  hints->flags |= USPosition | PPosition;
  hints->x = x;
  hints->y = y;
  XSetWMNormalHints(dpy, win, hints);
  XFree(hints);
}

X11Window::~X11Window()
{
  freeImage();
  if (grabbed)
    XUngrabPointer(dpy, CurrentTime);
  XFreeGC(dpy, gc);
  if (win) {
    d.windows.erase(win);
    XDestroyWindow(dpy, win);
  }
  if (colormap)
    XFreeColormap(dpy, colormap);
  XFlush(dpy);
}

void X11Window::applyHints()
{
  if (!win)
    return; // destroyed by another client
  XSizeHints* hints = XAllocSizeHints();
  long supplied;
  XGetWMNormalHints(dpy, win, hints, &supplied);
  hints->flags |= PMinSize | PMaxSize | PWinGravity;
  hints->win_gravity = NorthWestGravity;
  // Not resizable by the user unless limits were given.
  hints->min_width = (int)std::min(limits ? minW : width, 32767u);
  hints->min_height = (int)std::min(limits ? minH : height, 32767u);
  hints->max_width = (int)std::min(limits ? maxW : width, 32767u);
  hints->max_height = (int)std::min(limits ? maxH : height, 32767u);
  XSetWMNormalHints(dpy, win, hints);
  XFree(hints);
}

void X11Window::applyMotif()
{
  if (!win)
    return;
  // flags, functions, decorations, input mode, status
  enum { kFunctions = 1, kDecorations = 2 };
  enum { kMove = 4, kMinimize = 8, kClose = 32 };
  enum { kBorder = 2, kTitle = 8, kMenu = 16, kMinimizeButton = 32 };
  const long hints[5] = {kFunctions | kDecorations, kMove | kMinimize | kClose,
                         decorated ? kBorder | kTitle | kMenu | kMinimizeButton : 0, 0, 0};
  XChangeProperty(dpy, win, d.atom.motif, d.atom.motif, 32, PropModeReplace,
                  (const unsigned char*)hints, 5);
}

void X11Window::freeImage()
{
  if (!image)
    return;
  if (usingShm) {
    XShmDetach(dpy, &shm);
    XSync(dpy, False);
    image->data = nullptr;
    XDestroyImage(image);
    shmdt(shm.shmaddr);
  } else {
    XDestroyImage(image); // frees the data too
  }
  image = nullptr;
  usingShm = false;
}

bool X11Window::makeImage(uint32_t w, uint32_t h)
{
  freeImage();
  if (!w || !h)
    return false;
  if (d.shmAvailable) {
    image = XShmCreateImage(dpy, visual, depth, ZPixmap, nullptr, &shm, w, h);
    if (image) {
      shm.shmid = shmget(IPC_PRIVATE, (size_t)image->bytes_per_line * h, IPC_CREAT | 0600);
      void* addr = shm.shmid >= 0 ? shmat(shm.shmid, nullptr, 0) : (void*)-1;
      if (addr != (void*)-1) {
        shm.shmaddr = image->data = (char*)addr;
        shm.readOnly = False;
        lastXError = 0;
        XShmAttach(dpy, &shm);
        XSync(dpy, False);
        // Marked for removal now: it goes away with the last detach, even
        // if the process dies.
        shmctl(shm.shmid, IPC_RMID, nullptr);
        if (lastXError == 0) {
          usingShm = true;
          return true;
        }
        // A remote server cannot attach: plain images from now on.
        d.shmAvailable = false;
        shmdt(addr);
      } else if (shm.shmid >= 0) {
        shmctl(shm.shmid, IPC_RMID, nullptr);
      }
      image->data = nullptr;
      XDestroyImage(image);
      image = nullptr;
    }
  }
  image = XCreateImage(dpy, visual, depth, ZPixmap, 0, nullptr, w, h, 32, 0);
  if (!image)
    return false;
  image->data = (char*)std::malloc((size_t)image->bytes_per_line * h);
  if (!image->data) {
    XDestroyImage(image);
    image = nullptr;
    return false;
  }
  return true;
}

void X11Window::setContents(const uint8_t* rgba, uint32_t w, uint32_t h)
{
  pixels = rgba;
  if (w != pw || h != ph || !image) {
    pw = w;
    ph = h;
    makeImage(w, h);
  }
  dirty.add(0, 0, (int)w, (int)h);
}

void X11Window::blit(Rect r)
{
  if (!pixels || !image || !win)
    return;
  r.x0 = std::max(r.x0, 0);
  r.y0 = std::max(r.y0, 0);
  r.x1 = std::min<int>(r.x1, (int)pw);
  r.y1 = std::min<int>(r.y1, (int)ph);
  if (r.empty())
    return;
  // The buffer's alpha counts only for translucent windows; the samples go
  // through unchanged.
  const bool fast = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                    red.bits == 8 && green.bits == 8 && blue.bits == 8;
  for (int y = r.y0; y < r.y1; ++y) {
    const uint8_t* src = pixels + ((size_t)y * pw + r.x0) * 4;
    if (fast) {
      uint32_t* dst = (uint32_t*)(image->data + (size_t)y * image->bytes_per_line) + r.x0;
      for (int x = r.x0; x < r.x1; ++x, src += 4)
        *dst++ = (uint32_t)(red.put(src[0]) | green.put(src[1]) | blue.put(src[2]) | alpha.put(src[3]));
    } else {
      for (int x = r.x0; x < r.x1; ++x, src += 4)
        XPutPixel(image, x, y, red.put(src[0]) | green.put(src[1]) | blue.put(src[2]) | alpha.put(src[3]));
    }
  }
  const unsigned w = (unsigned)(r.x1 - r.x0), h = (unsigned)(r.y1 - r.y0);
  if (usingShm) {
    XShmPutImage(dpy, win, gc, image, r.x0, r.y0, r.x0, r.y0, w, h, False);
    // The server reads the segment later: wait until it has, so that the
    // next conversion cannot overwrite pixels not yet shown.
    XSync(dpy, False);
  } else {
    XPutImage(dpy, win, gc, image, r.x0, r.y0, r.x0, r.y0, w, h);
  }
}

void X11Window::display()
{
  Rect r = dirty;
  dirty = Rect{};
  blit(r);
  XFlush(dpy);
}

void X11Window::move(int x, int y)
{
  if (!win)
    return;
  XMoveWindow(dpy, win, x, y);
  XFlush(dpy);
}

void X11Window::setContentSize(unsigned w, unsigned h)
{
  if (!win)
    return;
  width = std::max(1u, std::min(w, 32767u));
  height = std::max(1u, std::min(h, 32767u));
  applyHints();
  XResizeWindow(dpy, win, width, height);
  XFlush(dpy);
}

void X11Window::setSizeLimits(unsigned minW_, unsigned minH_, unsigned maxW_, unsigned maxH_)
{
  limits = true;
  minW = minW_;
  minH = minH_;
  maxW = std::max(maxW_, minW_);
  maxH = std::max(maxH_, minH_);
  applyHints();
  XFlush(dpy);
}

void X11Window::setTitle(const std::string& utf8)
{
  if (!win)
    return;
  XChangeProperty(dpy, win, d.atom.netName, d.atom.utf8, 8, PropModeReplace,
                  (const unsigned char*)utf8.data(), (int)utf8.size());
  // WM_NAME for older window managers: the ASCII part only.
  std::string ascii;
  for (unsigned char c : utf8)
    ascii += c < 0x80 ? (char)c : (c >= 0xC0 ? '?' : '\0');
  ascii.erase(std::remove(ascii.begin(), ascii.end(), '\0'), ascii.end());
  XChangeProperty(dpy, win, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                  (const unsigned char*)ascii.data(), (int)ascii.size());
  XFlush(dpy);
}

void X11Window::setHidden(bool hidden)
{
  if (!win)
    return;
  if (hidden) {
    if (grabbed) {
      XUngrabPointer(dpy, CurrentTime);
      grabbed = false;
    }
    XWithdrawWindow(dpy, win, d.screenNum);
    shown = false;
    placing = false;
  } else {
    const bool wasShown = shown;
    XMapRaised(dpy, win);
    // Ask a window manager to activate it (ignored without one).
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = win;
    ev.xclient.message_type = d.atom.netActive;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = 1;
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, d.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    shown = true;
    dirty.add(0, 0, (int)pw, (int)ph);
    // Where the window is becomes known when it can be seen: a window
    // manager first puts it into a frame of its own and places that. One
    // already in sight is told where it is at once.
    placing = true;
    if (wasShown)
      reportFrame();
  }
  XFlush(dpy);
}

void X11Window::setDecoration(bool flag)
{
  if (!win)
    return;
  decorated = flag;
  applyMotif();
  XFlush(dpy);
}

void X11Window::setFloating(bool flag)
{
  if (!win)
    return;
  floating = flag;
  if (shown) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = win;
    ev.xclient.message_type = d.atom.netState;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = flag ? 1 : 0; // add, remove
    ev.xclient.data.l[1] = (long)d.atom.netAbove;
    ev.xclient.data.l[3] = 1;
    XSendEvent(dpy, d.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
  }
  // Read by the window manager when the window is next mapped.
  if (flag)
    XChangeProperty(dpy, win, d.atom.netState, XA_ATOM, 32, PropModeReplace,
                    (const unsigned char*)&d.atom.netAbove, 1);
  else
    XDeleteProperty(dpy, win, d.atom.netState);
  XFlush(dpy);
}

void X11Window::grabPointer(bool grab)
{
  if (!win)
    return;
  if (grab && shown) {
    grabbed = XGrabPointer(dpy, win, True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                           GrabModeAsync, GrabModeAsync, None, None, CurrentTime) == GrabSuccess;
  } else if (!grab && grabbed) {
    XUngrabPointer(dpy, CurrentTime);
    grabbed = false;
  }
  XFlush(dpy);
}

Frame X11Window::frame()
{
  if (!win)
    return reported;
  XWindowAttributes wa{};
  XGetWindowAttributes(dpy, win, &wa);
  return frameOf(wa);
}

Frame X11Window::frameOf(const XWindowAttributes& wa)
{
  Frame f{0, 0, (unsigned)wa.width, (unsigned)wa.height};
  ::Window child;
  XTranslateCoordinates(dpy, win, d.root, 0, 0, &f.x, &f.y, &child);
  return f;
}

void X11Window::reportFrame()
{
  if (!shown || !win)
    return;
  // Unmapped, or in a frame not yet mapped, the window is between places
  // (being withdrawn, reparented, or not yet placed): nothing to tell.
  XWindowAttributes wa;
  if (!XGetWindowAttributes(dpy, win, &wa) || wa.map_state != IsViewable)
    return;
  const Frame f = frameOf(wa);
  if (placing || f.x != reported.x || f.y != reported.y || f.w != reported.w || f.h != reported.h) {
    placing = false;
    reported = f;
    delegate->frameChanged(f);
  }
}

void X11Window::destroyedElsewhere()
{
  // Another client destroyed the window: forget it (nothing more is sent
  // for it) and tell the owner as if the window manager's close had been
  // pressed, so that a script can end.
  d.windows.erase(win);
  win = 0;
  grabbed = false;
  shown = false;
  dirty = Rect{};
  delegate->closeRequested();
}

void X11Window::handle(XEvent& ev)
{
  switch (ev.type) {
  case Expose:
    dirty.add(ev.xexpose.x, ev.xexpose.y, ev.xexpose.width, ev.xexpose.height);
    if (placing)
      reportFrame();
    break;
  // Each asks the server where the window is now: a real ConfigureNotify
  // gives a place in the parent (a window manager's frame), a synthetic
  // one the manager's word, and the frame may move again before either is
  // read.
  case ConfigureNotify:
  case ReparentNotify:
  case MapNotify:
  case VisibilityNotify: // also when the window becomes viewable
    reportFrame();
    break;
  case DestroyNotify:
    if (ev.xdestroywindow.window == win)
      destroyedElsewhere();
    break;
  case ClientMessage:
    // The close button: the script decides; the window stays.
    if (ev.xclient.message_type == d.atom.protocols && ev.xclient.format == 32 &&
        (Atom)ev.xclient.data.l[0] == d.atom.deleteWindow)
      delegate->closeRequested();
    break;
  case ButtonPress:
  case ButtonRelease: {
    InputEvent in;
    if (x11::translateButton(ev.xbutton, in))
      delegate->input(in);
    break;
  }
  case MotionNotify:
    delegate->input(x11::translateMotion(ev.xmotion));
    break;
  case KeyPress:
  case KeyRelease: {
    char buf[32];
    KeySym sym = NoSymbol;
    XLookupString(&ev.xkey, buf, sizeof buf, &sym, nullptr);
    const KeySym base = XLookupKeysym(&ev.xkey, 0);
    if (x11::isModifierKey(base) || x11::isModifierKey(sym))
      break;
    const bool repeat = ev.type == KeyPress && d.keys.press(ev.xkey.keycode);
    delegate->input(x11::translateKey(ev.xkey, base, sym, repeat));
    break;
  }
  default:
    break;
  }
}

} // namespace

namespace x11 {

const XVisualInfo* chooseTrueColor(const XVisualInfo* visuals, int n, VisualID defaultVisual)
{
  // 32 bits would carry an alpha channel opaque windows do not use.
  auto rank = [&](const XVisualInfo& v) {
    return v.visualid == defaultVisual ? 1000 : v.depth == 24 ? 100 : v.depth < 24 ? v.depth : 1;
  };
  const XVisualInfo* best = nullptr;
  for (int i = 0; i < n; ++i)
    if (visuals[i].c_class == TrueColor && (!best || rank(visuals[i]) > rank(*best)))
      best = &visuals[i];
  return best;
}

std::string unsupportedVisual(int depth, int visualClass)
{
  static const char* const kinds[] = {"StaticGray",  "GrayScale", "StaticColor",
                                      "PseudoColor", "TrueColor", "DirectColor"};
  const char* kind = visualClass >= 0 && visualClass < 6 ? kinds[visualClass] : "unknown";
  return std::to_string(depth) + "-bit " + kind + " visual not supported (no TrueColor visual)";
}

} // namespace x11

std::unique_ptr<Display> openX11(Loop& loop, const char* displayName, std::string* unsupported)
{
  ::Display* dpy = XOpenDisplay(displayName);
  if (!dpy)
    return nullptr;
  XSetErrorHandler(onXError);
  // The buffer is shown through a true-colour visual: the default one, or
  // another the screen offers (an 8-bit PseudoColor screen may have one);
  // without any the display is of no use.
  const int screen = DefaultScreen(dpy);
  XVisualInfo want{};
  want.screen = screen;
  int n = 0;
  XVisualInfo* visuals = XGetVisualInfo(dpy, VisualScreenMask, &want, &n);
  const XVisualInfo* chosen =
      x11::chooseTrueColor(visuals, n, XVisualIDFromVisual(DefaultVisual(dpy, screen)));
  if (!chosen) {
    if (unsupported)
      *unsupported = x11::unsupportedVisual(DefaultDepth(dpy, screen),
                                            DefaultVisual(dpy, screen)->c_class);
    if (visuals)
      XFree(visuals);
    XCloseDisplay(dpy);
    return nullptr;
  }
  Visual* visual = chosen->visual;
  const int depth = chosen->depth;
  XFree(visuals);
  auto display = std::make_unique<X11Display>(loop, dpy);
  display->visual = visual;
  display->depth = depth;
  if (visual != DefaultVisual(dpy, screen))
    display->colormap = XCreateColormap(dpy, display->root, visual, AllocNone);
  return display;
}

} // namespace platform
