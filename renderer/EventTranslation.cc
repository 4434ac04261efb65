#include "renderer/EventTranslation.hh"

#include <cstring>

std::vector<Event> translateInput(const platform::InputEvent& in)
{
  using platform::InputEvent;
  Event e;
  e.x = in.x;
  e.y = in.y;
  e.modifiers = (uint8_t)((in.modifiers & platform::kShift ? ModShift : 0) |
                          (in.modifiers & platform::kControl ? ModControl : 0) |
                          (in.modifiers & platform::kAlt ? ModAlt : 0));
  std::vector<Event> out;
  switch (in.type) {
  case InputEvent::MouseMoved:
    e.type = PointerMotion;
    out.push_back(e);
    break;
  case InputEvent::MouseDown:
  case InputEvent::MouseUp:
    e.type = in.type == InputEvent::MouseDown ? ButtonPress : ButtonRelease;
    e.button = (uint32_t)in.buttonNumber + 1;
    out.push_back(e);
    break;
  case InputEvent::KeyDown:
  case InputEvent::KeyUp:
    e.type = in.type == InputEvent::KeyDown ? KeyPress : KeyRelease;
    e.flags = in.isRepeat ? 1 : 0;
    e.keycode = in.keyCode & 0xFFFFu;
    std::memcpy(e.text, in.characters.data(), in.characters.size() < 4 ? in.characters.size() : 4);
    out.push_back(e);
    break;
  case InputEvent::ScrollWheel:
    if (in.deltaY != 0) {
      e.button = in.deltaY > 0 ? 4 : 5;
      e.type = ButtonPress;
      out.push_back(e);
      e.type = ButtonRelease;
      out.push_back(e);
    }
    if (in.deltaX != 0) {
      e.button = in.deltaX > 0 ? 6 : 7;
      e.type = ButtonPress;
      out.push_back(e);
      e.type = ButtonRelease;
      out.push_back(e);
    }
    break;
  }
  return out;
}
