// The receiver of a window's input, moves, resizes and close requests.
#pragma once

#include "renderer/Event.hh"

class Renderer;

class EventHandler {
public:
  virtual ~EventHandler() {}
  virtual void event(Renderer*, const Event&) {}
  // Content area's top-left corner in screen coordinates and its size, in
  // logical points.
  virtual void resized(Renderer*, int /*x*/, int /*y*/, unsigned /*w*/, unsigned /*h*/,
                       bool /*force*/) {}
  virtual void shouldClose(Renderer*) {}
  virtual void idle(Renderer*, double /*seconds*/) {}
  virtual void oom(Renderer*) {}
};
