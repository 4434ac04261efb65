// An event handler that keeps what it is given, for the renderer tests.
#pragma once

#include <functional>
#include <vector>

#include "renderer/EventHandler.hh"

struct Recorder : EventHandler {
  void event(Renderer* r, const Event& e) override
  {
    events.push_back(e);
    if (onEvent)
      onEvent(r, e);
  }
  void resized(Renderer*, int x, int y, unsigned w, unsigned h, bool force) override
  {
    frames.push_back({x, y, (int)w, (int)h, force ? 1 : 0});
  }
  void shouldClose(Renderer*) override { ++closes; }
  std::vector<Event> events;
  std::vector<std::vector<int>> frames;
  int closes = 0;
  std::function<void(Renderer*, const Event&)> onEvent;
};
