// The root renderer's event handler: a full collection when the renderer
// reports enough idle time or a memory shortage.
#pragma once

#include "host/Host.hh"
#include "renderer/EventHandler.hh"

namespace host {

class IdleHandler : public EventHandler {
 public:
  void idle(Renderer*, double seconds) override;
  void oom(Renderer*) override;
};

extern IdleHandler idle_handler;

void fullCollection();

}  // namespace host
