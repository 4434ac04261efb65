#include "renderer/RendererAppKit.hh"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <set>

#include "renderer/EventTranslation.hh"
#include "utility/Saturate.hh"

namespace {

// A handler that throws must not take the loop down: one line, then on.
template <typename F> void guarded(const char* what, F&& f)
{
  try {
    f();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", what, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unknown exception\n", what);
  }
}

} // namespace

RendererAppKit::RendererAppKit()
  : loop(std::make_unique<platform::Loop>()), self(std::make_shared<RendererAppKit*>(this))
{
  loop->setSafePoint([this] { deleteScheduled(); });
}

RendererAppKit::RendererAppKit(RendererAppKit* parent, int x, int y, int w, int h, bool translucent)
  : parent(parent), self(std::make_shared<RendererAppKit*>(this))
{
  RendererAppKit& r = root();
  r.windows.insert(this);
  if (!r.ensureDisplay())
    return;
  // Negative sizes become empty windows rather than huge ones.
  const unsigned uw = w > 0 ? (unsigned)w : 0, uh = h > 0 ? (unsigned)h : 0;
  window = r.display->createWindow(x, y, uw, uh, translucent, this);
  scale = 1.0f;
  Renderer::resize(uw, uh);
  if (buffer)
    std::memset(buffer, 0xFF, (size_t)bufferSize); // white until drawn
  if (window)
    window->setContents(buffer, width, height);
}

RendererAppKit::~RendererAppKit()
{
  *self = nullptr;
  if (parent) {
    window.reset();
    parent->pendingDeletes.erase(this);
    parent->windows.erase(this);
    return;
  }
  // The root destroys the windows still waiting for deletion, and detaches
  // the others (their owners delete them later; they no longer show).
  std::set<Renderer*> doomed;
  doomed.swap(pendingDeletes);
  for (Renderer* r : doomed)
    delete r;
  std::set<RendererAppKit*> rest;
  rest.swap(windows);
  for (RendererAppKit* child : rest) {
    child->window.reset();
    child->parent = nullptr;
  }
  display.reset();
  loop.reset();
}

bool RendererAppKit::ensureDisplay()
{
  if (display)
    return true;
  if (!loop)
    return false; // a window cut loose from its root
  display = platform::Display::open(*loop);
  return display != nullptr;
}

const char* RendererAppKit::displayName()
{
  RendererAppKit& r = root();
  return r.display ? r.display->name() : "";
}

Renderer* RendererAppKit::newWindow(int x, int y, int w, int h, bool translucent)
{
  return new RendererAppKit(this, x, y, w, h, translucent);
}

void RendererAppKit::scheduleDelete()
{
  if (!parent || deleting)
    return;
  deleting = true;
  if (window) {
    window->grabPointer(false);
    window->setHidden(true);
  }
  parent->pendingDeletes.insert(this);
  // Wake the loop so that its next iteration reaches the safe point.
  if (root().loop)
    root().loop->post([] {});
}

void RendererAppKit::deleteScheduled()
{
  if (pendingDeletes.empty())
    return;
  std::set<Renderer*> doomed;
  doomed.swap(pendingDeletes);
  for (Renderer* r : doomed)
    delete r;
}

bool RendererAppKit::init(void (*)())
{
  if (parent)
    return true;
  // The working directory stays the user's: relative paths on the command
  // line keep their meaning.
  return ensureDisplay();
}

int RendererAppKit::run()
{
  RendererAppKit& r = root();
  if (!r.loop || !r.ensureDisplay())
    return r.exitCode;
  r.loop->run(r.display->endsWhenIdle());
  return r.exitCode;
}

void RendererAppKit::quit(int code)
{
  RendererAppKit& r = root();
  r.exitCode = code;
  if (r.loop)
    r.loop->quit();
}

void RendererAppKit::move(int x, int y)
{
  if (window)
    window->move(x, y);
}

bool RendererAppKit::resize(unsigned w, unsigned h)
{
  if (w == width && h == height)
    return false;
  // The picture keeps its place at the top-left corner and the rest is
  // white, as in a new window: the base class leaves the old rows where
  // they were, sheared at the new stride, and the added bytes unset.
  const uint32_t oldW = width, oldH = height;
  uint8_t* old = buffer;
  const bool unchanged = old && saturate_cast<uint32_t>((float)w * scale) == width &&
                         saturate_cast<uint32_t>((float)h * scale) == height;
  bool changed = false;
  if (!unchanged) {
    buffer = nullptr; // the base allocates afresh; the old pixels are copied below
    changed = Renderer::resize(w, h);
    if (!changed) {
      buffer = old; // refused: all stays as it was
      width = oldW;
      height = oldH;
      bufferSize = (uint64_t)oldW * oldH * 4;
    } else {
      const size_t keepW = std::min(oldW, width), keepH = std::min(oldH, height);
      for (size_t y = 0; y < height; ++y) {
        uint8_t* row = buffer + y * width * 4;
        const size_t kept = old && y < keepH ? keepW * 4 : 0;
        if (kept)
          std::memcpy(row, old + y * oldW * 4, kept);
        std::memset(row + kept, 0xFF, (size_t)width * 4 - kept);
      }
      std::free(old);
    }
  }
  if (window)
    window->setContents(buffer, width, height);
  return changed;
}

void RendererAppKit::resizeMinMax(unsigned minW, unsigned minH, unsigned maxW, unsigned maxH)
{
  if (window)
    window->setSizeLimits(minW, minH, maxW, maxH);
}

void RendererAppKit::resizeWindow(unsigned w, unsigned h)
{
  if (window)
    window->setContentSize(w, h);
}

void RendererAppKit::setTitle(const char* title)
{
  if (window)
    window->setTitle(title ? title : "");
}

void RendererAppKit::setHidden(bool hidden)
{
  if (!window || (deleting && !hidden))
    return;
  // Shown, the window tells where it is once that is known.
  window->setHidden(hidden);
}

void RendererAppKit::setDecoration(bool decorated)
{
  if (window)
    window->setDecoration(decorated);
}

void RendererAppKit::setFloating(bool floating)
{
  if (window)
    window->setFloating(floating);
}

void RendererAppKit::grabPointer(bool grab)
{
  if (window && !deleting)
    window->grabPointer(grab);
}

void RendererAppKit::addTimer(bool (*action)(void*), double seconds, void* user)
{
  RendererAppKit& r = root();
  if (!r.loop || !action)
    return;
  r.loop->addTimer([action, user] { return action(user); }, seconds);
}

bool RendererAppKit::writeClip(const std::string& text)
{
  RendererAppKit& r = root();
  return r.ensureDisplay() && r.display->writeClipboard(text);
}

std::string RendererAppKit::readClip()
{
  RendererAppKit& r = root();
  std::string text;
  // A failed paste gives "" like an empty clipboard; the display has said
  // why on standard error.
  if (!r.ensureDisplay() || !r.display->readClipboard(text))
    return std::string();
  return text;
}

void RendererAppKit::updateImpl(int x, int y, int w, int h)
{
  if (window)
    window->invalidate(x, y, w, h);
}

void RendererAppKit::syncImpl()
{
  if (window)
    window->display();
}

bool RendererAppKit::postTask(std::function<void()> task)
{
  RendererAppKit& r = root();
  return r.loop && r.loop->post(std::move(task));
}

void RendererAppKit::addEventSource()
{
  if (root().loop)
    root().loop->addEventSource();
}

void RendererAppKit::removeEventSource()
{
  if (root().loop)
    root().loop->removeEventSource();
}

bool RendererAppKit::injectEvent(const Event& event)
{
  std::weak_ptr<RendererAppKit*> alive = self;
  return postTask([alive, event] {
    if (auto me = alive.lock())
      if (*me)
        (*me)->deliver(event);
  });
}

bool RendererAppKit::injectClose()
{
  std::weak_ptr<RendererAppKit*> alive = self;
  return postTask([alive] {
    if (auto me = alive.lock())
      if (*me)
        (*me)->closeRequested();
  });
}

void RendererAppKit::deliver(const Event& event)
{
  if (deleting || !handler)
    return;
  guarded("event handler", [&] { handler->event(this, event); });
}

void RendererAppKit::input(const platform::InputEvent& in)
{
  // Typed keys are never written to any log.
  for (const Event& e : translateInput(in))
    deliver(e);
}

void RendererAppKit::frameChanged(const platform::Frame& f)
{
  if (deleting || !handler)
    return;
  guarded("event handler", [&] { handler->resized(this, f.x, f.y, f.w, f.h, false); });
}

void RendererAppKit::closeRequested()
{
  // The window stays until the script deletes it.
  if (deleting || !handler)
    return;
  guarded("event handler", [&] { handler->shouldClose(this); });
}

namespace {

struct AppKitFactory : RendererFactory {
  AppKitFactory() : RendererFactory("appkit") {}
  std::string info() override { return "AppKit renderer"; }
  Renderer* create() override { return new RendererAppKit(); }
};

AppKitFactory appkitFactory;

} // namespace
