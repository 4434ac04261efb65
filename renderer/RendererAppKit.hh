// The window back end over the platform layer ("appkit"): the root owns the
// run loop and the display (X11, or off-screen without one); every window is
// a further renderer whose platform window shows its buffer and reports its
// input as Event records.
#pragma once

#include <memory>
#include <set>

#include "platform/Display.hh"
#include "platform/Loop.hh"
#include "renderer/Renderer.hh"

class RendererAppKit : public Renderer, private platform::WindowDelegate {
public:
  RendererAppKit(); // a root
  RendererAppKit(RendererAppKit* parent, int x, int y, int w, int h, bool translucent);
  ~RendererAppKit() override;

  Renderer* newWindow(int x, int y, int w, int h, bool translucent) override;
  void scheduleDelete() override;
  bool init(void (*callback)()) override;
  int run() override;
  void quit(int code) override;
  void move(int x, int y) override;
  bool resize(unsigned w, unsigned h) override;
  void resizeMinMax(unsigned minW, unsigned minH, unsigned maxW, unsigned maxH) override;
  void resizeWindow(unsigned w, unsigned h) override;
  void setTitle(const char* title) override;
  void setHidden(bool hidden) override;
  void setDecoration(bool decorated) override;
  void setFloating(bool floating) override;
  void grabPointer(bool grab) override;
  void addTimer(bool (*action)(void*), double seconds, void* user) override;
  bool writeClip(const std::string& text) override;
  std::string readClip() override;
  void updateImpl(int x, int y, int w, int h) override;
  void syncImpl() override;

  bool postTask(std::function<void()> task) override;
  void addEventSource() override;
  void removeEventSource() override;
  bool injectEvent(const Event& event) override;
  bool injectClose() override;

  // "x11" or "headless" once the root is initialised; "" before.
  const char* displayName();
  // The platform window of a window renderer (null for the root).
  platform::Window* platformWindow() { return window.get(); }

private:
  RendererAppKit& root() { return parent ? *parent : *this; }
  bool ensureDisplay();
  void deliver(const Event& event);
  void deleteScheduled();
  // platform::WindowDelegate
  void input(const platform::InputEvent& in) override;
  void frameChanged(const platform::Frame& frame) override;
  void closeRequested() override;

  RendererAppKit* parent = nullptr;
  // Root only.
  std::unique_ptr<platform::Loop> loop;
  std::unique_ptr<platform::Display> display;
  int exitCode = 0;
  std::set<RendererAppKit*> windows; // alive, for detaching when the root goes
  // Window only.
  std::unique_ptr<platform::Window> window;
  bool deleting = false; // scheduled for deletion: deliver nothing more
  // Tasks queued for this renderer check it still exists when they run.
  std::shared_ptr<RendererAppKit*> self;
};
