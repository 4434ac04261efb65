// X11 input in the window layer's terms, as pure functions of the X event
// fields and key symbols: pointer buttons and wheel steps, modifier bits,
// virtual key codes and the characters that scripts compare against.
#pragma once

#include <X11/Xlib.h>

#include <bitset>
#include <cstdint>
#include <string>

#include "platform/Display.hh"

namespace platform::x11 {

// Code reported for keys that have no virtual key code.
constexpr uint16_t kNoKeyCode = 0xFFFF;

// kShift | kControl | kAlt from an X modifier state (Mod1 is Alt).
unsigned modifierBits(unsigned state);

// The positional virtual key code of a key, from its unshifted key symbol
// (the US-layout key that symbol stands for): "a" is 0x00, Return 0x24,
// the left arrow 0x7B, and so on.
uint16_t virtualKeyCode(KeySym base);

// The UTF-8 text a key types, from the key symbol of the pressed state:
// printable keys their character (control letters their control code),
// editing and function keys the private-use characters U+F700 upwards
// (arrows U+F700..U+F703, F1 U+F704, Home U+F729, ...), BackSpace DEL,
// Return CR, keypad Enter ETX, Escape ESC, Tab HT, back-tab 0x19; ""
// for keys that type nothing.
std::string keyCharacters(KeySym sym, unsigned state);

// True for Shift, Control, Alt, Super, Caps Lock and the like, which
// report no key event of their own.
bool isModifierKey(KeySym sym);

// A pointer button event. Buttons 4-7 (the wheel) give a ScrollWheel on
// press and nothing on release; false when there is nothing to report.
bool translateButton(const XButtonEvent& ev, InputEvent& out);
InputEvent translateMotion(const XMotionEvent& ev);
InputEvent translateKey(const XKeyEvent& ev, KeySym base, KeySym sym, bool repeat);

// Keys held down: a press of a key already down is an auto-repeat (with the
// server's detectable auto-repeat, repeats come without releases).
class KeyRepeat {
public:
  bool press(unsigned keycode)
  {
    keycode &= 255;
    const bool repeat = down[keycode];
    down[keycode] = true;
    return repeat;
  }
  void release(unsigned keycode) { down[keycode & 255] = false; }
  void reset() { down.reset(); }

private:
  std::bitset<256> down;
};

} // namespace platform::x11
