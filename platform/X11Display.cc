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

#include "platform/Display.hh"
#include "platform/Loop.hh"
#include "platform/Resources.hh"
#include "platform/X11Input.hh"

namespace platform {

namespace {

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
  Frame reported;
  bool hasReported = false;
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
  std::string readClipboard() override;
  Frame screen() override
  {
    return Frame{0, 0, (unsigned)DisplayWidth(dpy, screenNum), (unsigned)DisplayHeight(dpy, screenNum)};
  }

  void pump();
  void handle(XEvent& ev);
  void serveSelection(const XSelectionRequestEvent& req);
  std::string readSelection(Atom target, bool& refused);

  Loop& loop;
  ::Display* dpy;
  int screenNum;
  ::Window root, utility;
  bool shmAvailable = false;
  bool detectableRepeat = false;
  x11::KeyRepeat keys;
  std::map<::Window, X11Window*> windows;
  std::string clipboard;
  struct {
    Atom protocols, deleteWindow, netName, utf8, clipboard, targets, text, motif, netState,
        netAbove, netPid, netType, netTypeNormal, netActive, transfer, incr;
  } atom;
};

X11Display::X11Display(Loop& loop, ::Display* dpy) : loop(loop), dpy(dpy)
{
  screenNum = DefaultScreen(dpy);
  root = RootWindow(dpy, screenNum);
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
  XCloseDisplay(dpy);
}

void X11Display::pump()
{
  while (XPending(dpy) > 0) {
    XEvent ev;
    XNextEvent(dpy, &ev);
    handle(ev);
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
      clipboard.clear();
    return;
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
  clipboard = utf8;
  XSetSelectionOwner(dpy, atom.clipboard, utility, CurrentTime);
  const bool owner = XGetSelectionOwner(dpy, atom.clipboard) == utility;
  if (!owner)
    clipboard.clear();
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
  // Larger texts would need the incremental protocol; such requests are
  // refused rather than cut short.
  const size_t maxBytes = (size_t)XExtendedMaxRequestSize(dpy) * 4 > 0
                              ? (size_t)XExtendedMaxRequestSize(dpy) * 4 - 1024
                              : (size_t)XMaxRequestSize(dpy) * 4 - 1024;
  if (req.selection == atom.clipboard && req.owner == utility) {
    if (req.target == atom.targets) {
      const Atom targets[] = {atom.targets, atom.utf8, XA_STRING, atom.text};
      XChangeProperty(dpy, req.requestor, property, XA_ATOM, 32, PropModeReplace,
                      (const unsigned char*)targets, 4);
      reply.property = property;
    } else if ((req.target == atom.utf8 || req.target == atom.text) && clipboard.size() <= maxBytes) {
      XChangeProperty(dpy, req.requestor, property, atom.utf8, 8, PropModeReplace,
                      (const unsigned char*)clipboard.data(), (int)clipboard.size());
      reply.property = property;
    } else if (req.target == XA_STRING && clipboard.size() <= maxBytes) {
      // STRING is Latin-1: characters beyond it become '?'.
      std::string latin1;
      for (size_t i = 0; i < clipboard.size();) {
        const unsigned char c = (unsigned char)clipboard[i];
        unsigned cp = c;
        size_t n = 1;
        if (c >= 0xC0 && c < 0xE0 && i + 1 < clipboard.size() &&
            ((unsigned char)clipboard[i + 1] & 0xC0) == 0x80) {
          cp = ((c & 0x1Fu) << 6) | ((unsigned char)clipboard[i + 1] & 0x3Fu);
          n = 2;
        } else if (c >= 0xE0) {
          cp = 0x100;
          n = c >= 0xF0 ? 4 : 3;
        } else if (c >= 0x80) {
          cp = 0x100;
        }
        latin1 += cp < 0x100 ? (char)cp : '?';
        i += n;
      }
      XChangeProperty(dpy, req.requestor, property, XA_STRING, 8, PropModeReplace,
                      (const unsigned char*)latin1.data(), (int)latin1.size());
      reply.property = property;
    }
  }
  XSendEvent(dpy, req.requestor, False, NoEventMask, (XEvent*)&reply);
  XFlush(dpy);
}

namespace {

// Waits for the SelectionNotify on `window`, at most `millis`, leaving every
// other event queued.
bool waitSelectionNotify(::Display* dpy, ::Window window, XEvent& ev, int millis)
{
  const int64_t end = monotonicMicros() + (int64_t)millis * 1000;
  for (;;) {
    if (XCheckTypedWindowEvent(dpy, window, SelectionNotify, &ev))
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

std::string X11Display::readSelection(Atom target, bool& refused)
{
  refused = true;
  XDeleteProperty(dpy, utility, atom.transfer);
  XConvertSelection(dpy, atom.clipboard, target, atom.transfer, utility, CurrentTime);
  XEvent ev;
  if (!waitSelectionNotify(dpy, utility, ev, 2000)) {
    refused = false; // the owner did not answer: trying another target would wait again
    return std::string();
  }
  if (ev.xselection.property == None)
    return std::string();
  refused = false;
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::string out;
  if (XGetWindowProperty(dpy, utility, atom.transfer, 0, 0x7FFFFFF, True, AnyPropertyType, &type,
                         &format, &count, &after, &data) == Success && data) {
    // The incremental protocol (large texts) is not followed: nothing is read.
    if (format == 8 && type != atom.incr) {
      if (type == XA_STRING) {
        for (unsigned long i = 0; i < count; ++i) {
          const unsigned char c = data[i];
          if (c < 0x80) {
            out += (char)c;
          } else {
            out += (char)(0xC0 | (c >> 6));
            out += (char)(0x80 | (c & 0x3F));
          }
        }
      } else {
        out.assign((const char*)data, count);
      }
    }
    XFree(data);
  }
  return out;
}

std::string X11Display::readClipboard()
{
  const ::Window owner = XGetSelectionOwner(dpy, atom.clipboard);
  if (owner == None)
    return std::string();
  if (owner == utility)
    return clipboard;
  bool refused = false;
  std::string text = readSelection(atom.utf8, refused);
  if (refused)
    text = readSelection(XA_STRING, refused);
  return text;
}

// --- windows

X11Window::X11Window(X11Display& d, int x, int y, unsigned w, unsigned h, bool translucent,
                     WindowDelegate* delegate)
  : d(d), dpy(d.dpy), delegate(delegate), width(w), height(h)
{
  visual = DefaultVisual(dpy, d.screenNum);
  depth = DefaultDepth(dpy, d.screenNum);
  XSetWindowAttributes attrs{};
  unsigned long mask = CWEventMask | CWBackPixel | CWBorderPixel;
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
  attrs.background_pixel = 0;
  attrs.border_pixel = 0;
  attrs.event_mask = ExposureMask | KeyPressMask | KeyReleaseMask | ButtonPressMask |
                     ButtonReleaseMask | PointerMotionMask | StructureNotifyMask | FocusChangeMask;
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
  d.windows.erase(win);
  if (grabbed)
    XUngrabPointer(dpy, CurrentTime);
  XFreeGC(dpy, gc);
  XDestroyWindow(dpy, win);
  if (colormap)
    XFreeColormap(dpy, colormap);
  XFlush(dpy);
}

void X11Window::applyHints()
{
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
  if (!pixels || !image)
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
  XMoveWindow(dpy, win, x, y);
  XFlush(dpy);
}

void X11Window::setContentSize(unsigned w, unsigned h)
{
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
  if (hidden) {
    if (grabbed) {
      XUngrabPointer(dpy, CurrentTime);
      grabbed = false;
    }
    XWithdrawWindow(dpy, win, d.screenNum);
    shown = false;
  } else {
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
  }
  XFlush(dpy);
}

void X11Window::setDecoration(bool flag)
{
  decorated = flag;
  applyMotif();
  XFlush(dpy);
}

void X11Window::setFloating(bool flag)
{
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
  Frame f;
  XWindowAttributes wa;
  if (XGetWindowAttributes(dpy, win, &wa)) {
    f.w = (unsigned)wa.width;
    f.h = (unsigned)wa.height;
  }
  ::Window child;
  XTranslateCoordinates(dpy, win, d.root, 0, 0, &f.x, &f.y, &child);
  return f;
}

void X11Window::handle(XEvent& ev)
{
  switch (ev.type) {
  case Expose:
    dirty.add(ev.xexpose.x, ev.xexpose.y, ev.xexpose.width, ev.xexpose.height);
    break;
  case ConfigureNotify: {
    if (!shown)
      break;
    const Frame f = frame();
    if (!hasReported || f.x != reported.x || f.y != reported.y || f.w != reported.w ||
        f.h != reported.h) {
      reported = f;
      hasReported = true;
      delegate->frameChanged(f);
    }
    break;
  }
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

std::unique_ptr<Display> openX11(Loop& loop, const char* displayName)
{
  ::Display* dpy = XOpenDisplay(displayName);
  if (!dpy)
    return nullptr;
  XSetErrorHandler(onXError);
  return std::make_unique<X11Display>(loop, dpy);
}

} // namespace platform
