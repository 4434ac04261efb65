// A window back end: an RGBA buffer shown in a window, the event loop, and
// the translation of window input into Event records for an EventHandler.
// A root renderer (made by a RendererFactory) runs the loop; windows are
// further renderers made by the root's newWindow.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "renderer/Event.hh"
#include "renderer/EventHandler.hh"
#include "renderer/RendererFactory.hh"

class Renderer {
public:
  struct timer {
    bool (*callback)(void*);
    void* user;
    double interval; // seconds
    uint64_t due;    // microseconds since 1970
    int active;
  };
  struct timer_sorter {
    bool operator()(const timer& a, const timer& b) const { return a.due < b.due; }
  };
  struct callback {
    void (*fn)(int, void*);
    void* user;
  };

  Renderer();
  // Frees the buffer and empties the containers; the user pointers they
  // hold are not freed.
  virtual ~Renderer();

  virtual Renderer* newWindow(int x, int y, int w, int h, bool translucent) = 0;
  virtual void scheduleDelete() = 0;
  virtual bool init(void (*callback)()) = 0;
  virtual int run() = 0;
  virtual void runLoop(double seconds);
  virtual void quit(int code) = 0;
  virtual void move(int x, int y);
  // Buffer of w x h logical points; false when nothing changed or the size
  // is refused (then buffer and geometry stay as they were).
  virtual bool resize(unsigned w, unsigned h);
  virtual void resizeMinMax(unsigned minW, unsigned minH, unsigned maxW, unsigned maxH);
  virtual void resizeWindow(unsigned w, unsigned h) = 0;
  virtual void setInputPos(unsigned, unsigned, unsigned, unsigned);
  virtual void setTitle(const char* title);
  virtual void setHidden(bool hidden) = 0;
  virtual void setDecoration(bool decorated) = 0;
  virtual void setFloating(bool floating) = 0;
  virtual void grabPointer(bool grab) = 0;
  virtual void addTimer(bool (*callback)(void*), double seconds, void* user);
  virtual void addCallback(int key, void (*fn)(int, void*), void* user);
  virtual void* removeCallback(int key);
  virtual bool writeClip(const std::string& text);
  virtual std::string readClip();
  virtual void eventCallback(bool (*callback)(void*));
  virtual void updateImpl(int x, int y, int w, int h) = 0;
  virtual void syncImpl();

  // Operations the interface adds for its users off the main thread and for
  // tests; none has an effect on a renderer without a loop.

  // Thread-safe: queues `task` to run on the main loop and wakes the loop.
  // False when the task cannot be queued.
  virtual bool postTask(std::function<void()> task);
  // Thread-safe: while at least one event source is registered (a thread
  // that may still post), a loop without a display does not end for lack
  // of anything that could wake it.
  virtual void addEventSource();
  virtual void removeEventSource();
  // Queues an input event or a close request for this window as if the
  // display had sent it; delivered by the loop. False when not supported.
  virtual bool injectEvent(const Event& event);
  virtual bool injectClose();

  // Marks a rectangle of the buffer (in buffer pixels) for redisplay,
  // clipped to the buffer.
  void update(int x, int y, int w, int h);

  uint64_t startTime;
  std::multiset<timer, timer_sorter> timers;
  std::map<int, callback> callbacks;
  std::set<Renderer*> pendingDeletes;
  uint32_t width = 0, height = 0;
  uint64_t bufferSize = 0; // width * height * 4
  float scale = 1.0f;
  uint8_t* buffer = nullptr; // R, G, B, A; rows of width * 4 bytes, top row first
  EventHandler* handler = nullptr;

  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;
};
