// The window system as the renderer sees it: a display that makes windows
// and holds the clipboard, windows that show an RGBA buffer, and the input
// records they report. Back ends: X11 and headless (off-screen).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class Loop;

// Modifier bits of InputEvent::modifiers.
constexpr unsigned kShift = 1, kControl = 2, kAlt = 4;

// One input event of a window, in the window's own terms.
struct InputEvent {
  enum Type { MouseMoved, MouseDown, MouseUp, KeyDown, KeyUp, ScrollWheel };
  Type type = MouseMoved;
  int x = 0, y = 0;        // from the content's top-left corner, y downwards
  int buttonNumber = 0;    // 0 left, 1 right, 2 middle, 3 and up further buttons
  unsigned modifiers = 0;  // kShift | kControl | kAlt
  float deltaX = 0;        // wheel: positive to the right
  float deltaY = 0;        // wheel: positive upwards
  uint16_t keyCode = 0;    // virtual key code (see X11Input.hh)
  std::string characters;  // typed text, UTF-8
  bool isRepeat = false;
};

// Content area: top-left corner in screen coordinates (origin at the top-left
// of the screen) and size.
struct Frame {
  int x = 0, y = 0;
  unsigned w = 0, h = 0;
};

class WindowDelegate {
public:
  virtual ~WindowDelegate() {}
  virtual void input(const InputEvent&) = 0;
  virtual void frameChanged(const Frame&) = 0;
  virtual void closeRequested() = 0;
};

class Window {
public:
  virtual ~Window() {}
  // The pixels to show (R, G, B, A, rows of w * 4 bytes), borrowed until the
  // next call; called again whenever the owner reallocates them.
  virtual void setContents(const uint8_t* rgba, uint32_t w, uint32_t h) = 0;
  // Marks a rectangle of the contents as changed; shown before the loop
  // next waits, or by display().
  virtual void invalidate(int x, int y, int w, int h) = 0;
  virtual void display() = 0;
  virtual void move(int x, int y) = 0;
  virtual void setContentSize(unsigned w, unsigned h) = 0;
  virtual void setSizeLimits(unsigned minW, unsigned minH, unsigned maxW, unsigned maxH) = 0;
  virtual void setTitle(const std::string& utf8) = 0;
  // Showing tells the delegate the frame (frameChanged) once the window
  // system confirms where the window is: at once without a window system,
  // else when the window can be seen, after a window manager placed it.
  // Later changes come the same way.
  virtual void setHidden(bool hidden) = 0;
  virtual void setDecoration(bool decorated) = 0;
  virtual void setFloating(bool floating) = 0;
  virtual void grabPointer(bool grab) = 0;
  virtual Frame frame() = 0;
  virtual bool visible() const = 0;
  // Native handle (the X window id), 0 when there is none.
  virtual unsigned long nativeId() const { return 0; }
};

class Display {
public:
  virtual ~Display() {}
  // X11 when DISPLAY names a display that opens and TOLM_HEADLESS is not
  // set; otherwise headless (with one line on standard error when DISPLAY
  // was set but did not open).
  static std::unique_ptr<Display> open(Loop& loop);

  virtual const char* name() const = 0; // "x11" or "headless"
  // Whether the loop should end once nothing is left that could wake it.
  virtual bool endsWhenIdle() const = 0;
  // A hidden window; x = y = -1 centres it on the screen.
  virtual std::unique_ptr<Window> createWindow(int x, int y, unsigned w, unsigned h,
                                               bool translucent, WindowDelegate* delegate) = 0;
  virtual bool writeClipboard(const std::string& utf8) = 0;
  // The clipboard's text in `utf8` (empty when nobody holds text). False
  // when a paste failed (the owner did not answer, answered with something
  // that is not text, or the transfer broke off or ran out of time), after
  // one line on standard error saying why.
  virtual bool readClipboard(std::string& utf8) = 0;
  virtual Frame screen() = 0;
};

std::unique_ptr<Display> openHeadless(Loop& loop);
// Null when the display cannot be opened, or when it opens but cannot show
// the buffer (then `unsupported` says why).
std::unique_ptr<Display> openX11(Loop& loop, const char* displayName, std::string* unsupported);

} // namespace platform
