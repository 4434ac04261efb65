// The input record a window hands to its event handler. Xlib defines macros
// named like some event types: include this header before the X headers.
#pragma once

#include <cstdint>

enum EventType : uint32_t {
  PointerMotion = 1,
  ButtonPress = 2,
  ButtonRelease = 3,
  KeyPress = 4,
  KeyRelease = 5,
};

// Modifier bits of Event::modifiers.
enum : uint8_t { ModShift = 1, ModControl = 2, ModAlt = 4 };

struct Event {
  uint32_t type = 0;   // EventType
  int32_t x = 0, y = 0; // logical points from the window's top-left corner
  // Pointer: 1 left, 2 right, 3 and up further buttons; wheel steps are a
  // press and a release of 4 (up), 5 (down), 6 (right), 7 (left).
  uint32_t button = 0;
  // Pointer: bit 0 touch, bit 1 pen. Key: bit 0 auto-repeat, bit 1 dead key.
  uint32_t flags = 0;
  union {
    float pressure;   // pointer events
    uint32_t keycode; // key events: virtual key code, 16 significant bits
  };
  // Key events: the first up to 4 bytes of the typed text in UTF-8,
  // zero-padded and not terminated when all 4 are used.
  char text[4] = {0, 0, 0, 0};
  uint8_t modifiers = 0; // ModShift | ModControl | ModAlt

  Event() : keycode(0) {}
};
