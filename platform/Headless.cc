// The display without a window system: windows are off-screen, the
// clipboard lives in the process. With TOLM_SNAPSHOT_DIR set, every window
// writes its pixels as window-<n>.png there each time it is shown.
#include <cstdlib>
#include <set>

#include "platform/Display.hh"
#include "platform/Loop.hh"
#include "platform/Snapshot.hh"

namespace platform {

namespace {

constexpr unsigned kScreenW = 1920, kScreenH = 1080;

class HeadlessDisplay;

class HeadlessWindow : public Window {
public:
  HeadlessWindow(HeadlessDisplay& display, int serial, int x, int y, unsigned w, unsigned h,
                 WindowDelegate* delegate);
  ~HeadlessWindow() override;
  void setContents(const uint8_t* rgba, uint32_t w, uint32_t h) override
  {
    pixels = rgba;
    pw = w;
    ph = h;
  }
  void invalidate(int, int, int, int) override { dirty = true; }
  void display() override;
  void move(int x, int y) override
  {
    rect.x = x;
    rect.y = y;
  }
  void setContentSize(unsigned w, unsigned h) override
  {
    rect.w = w;
    rect.h = h;
  }
  void setSizeLimits(unsigned, unsigned, unsigned, unsigned) override {}
  void setTitle(const std::string&) override {}
  void setHidden(bool hidden) override
  {
    shown = !hidden;
    // Nothing places the window: it is where it was put.
    if (shown && delegate)
      delegate->frameChanged(rect);
  }
  void setDecoration(bool) override {}
  void setFloating(bool) override {}
  void grabPointer(bool) override {}
  Frame frame() override { return rect; }
  bool visible() const override { return shown; }

  bool dirty = false;

private:
  HeadlessDisplay& owner;
  int serial;
  WindowDelegate* delegate;
  Frame rect;
  bool shown = false;
  const uint8_t* pixels = nullptr;
  uint32_t pw = 0, ph = 0;
};

class HeadlessDisplay : public Display {
public:
  explicit HeadlessDisplay(Loop& loop)
  {
    const char* dir = std::getenv("TOLM_SNAPSHOT_DIR");
    if (dir && *dir)
      snapshotDir = dir;
    loop.setBeforeWait([this] {
      for (HeadlessWindow* w : windows)
        if (w->dirty)
          w->display();
    });
    this->loop = &loop;
  }
  ~HeadlessDisplay() override { loop->setBeforeWait(nullptr); }
  const char* name() const override { return "headless"; }
  bool endsWhenIdle() const override { return true; }
  std::unique_ptr<Window> createWindow(int x, int y, unsigned w, unsigned h, bool,
                                       WindowDelegate* delegate) override
  {
    if (x == -1 && y == -1) {
      x = ((int)kScreenW - (int)w) / 2;
      y = ((int)kScreenH - (int)h) / 2;
    }
    return std::make_unique<HeadlessWindow>(*this, ++serials, x, y, w, h, delegate);
  }
  bool writeClipboard(const std::string& text) override
  {
    clipboard = text;
    return true;
  }
  bool readClipboard(std::string& text) override
  {
    text = clipboard;
    return true;
  }
  Frame screen() override { return Frame{0, 0, kScreenW, kScreenH}; }

  std::string snapshotDir;
  std::set<HeadlessWindow*> windows;

private:
  Loop* loop;
  std::string clipboard;
  int serials = 0;
};

HeadlessWindow::HeadlessWindow(HeadlessDisplay& display, int serial, int x, int y, unsigned w,
                               unsigned h, WindowDelegate* delegate)
  : owner(display), serial(serial), delegate(delegate)
{
  rect = Frame{x, y, w, h};
  owner.windows.insert(this);
}

HeadlessWindow::~HeadlessWindow() { owner.windows.erase(this); }

void HeadlessWindow::display()
{
  dirty = false;
  if (owner.snapshotDir.empty() || !pixels)
    return;
  writePNG(owner.snapshotDir + "/window-" + std::to_string(serial) + ".png", pixels, pw, ph);
}

} // namespace

std::unique_ptr<Display> openHeadless(Loop& loop) { return std::make_unique<HeadlessDisplay>(loop); }

} // namespace platform
