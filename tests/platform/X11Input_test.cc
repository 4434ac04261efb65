// X11 input into window-layer records: buttons, wheel, modifiers, virtual
// key codes, typed characters and the auto-repeat flag. No display needed.
#include <gtest/gtest.h>

#include <X11/Xutil.h>
#include <X11/keysym.h>

#include "platform/X11Input.hh"

using namespace platform;

namespace {

XButtonEvent button(int type, unsigned number, unsigned state = 0)
{
  XButtonEvent ev{};
  ev.type = type;
  ev.button = number;
  ev.state = state;
  ev.x = 7;
  ev.y = 9;
  return ev;
}

TEST(X11Input, Buttons)
{
  struct Case {
    int type;
    unsigned xbutton;
    bool reported;
    InputEvent::Type kind;
    int number;
  };
  const Case cases[] = {
      {ButtonPress, 1, true, InputEvent::MouseDown, 0},   // left
      {ButtonPress, 3, true, InputEvent::MouseDown, 1},   // right
      {ButtonRelease, 2, true, InputEvent::MouseUp, 2},   // middle
      {ButtonPress, 8, true, InputEvent::MouseDown, 3},   // back
      {ButtonRelease, 9, true, InputEvent::MouseUp, 4},   // forward
      {ButtonRelease, 4, false, InputEvent::MouseUp, 0},  // wheel releases say nothing
      {ButtonRelease, 7, false, InputEvent::MouseUp, 0},
  };
  for (const Case& c : cases) {
    InputEvent in;
    SCOPED_TRACE(c.xbutton);
    ASSERT_EQ(x11::translateButton(button(c.type, c.xbutton), in), c.reported);
    if (!c.reported)
      continue;
    EXPECT_EQ(in.type, c.kind);
    EXPECT_EQ(in.buttonNumber, c.number);
    EXPECT_EQ(in.x, 7);
    EXPECT_EQ(in.y, 9);
  }
}

TEST(X11Input, WheelDirections)
{
  struct Case {
    unsigned xbutton;
    float dx, dy;
  };
  // 4 up, 5 down, 6 left, 7 right.
  const Case cases[] = {{4, 0, 1}, {5, 0, -1}, {6, -1, 0}, {7, 1, 0}};
  for (const Case& c : cases) {
    InputEvent in;
    ASSERT_TRUE(x11::translateButton(button(ButtonPress, c.xbutton), in));
    EXPECT_EQ(in.type, InputEvent::ScrollWheel);
    EXPECT_EQ(in.deltaX, c.dx) << c.xbutton;
    EXPECT_EQ(in.deltaY, c.dy) << c.xbutton;
  }
}

TEST(X11Input, Modifiers)
{
  struct Case {
    unsigned state, bits;
  };
  const Case cases[] = {
      {0, 0},
      {ShiftMask, kShift},
      {ControlMask, kControl},
      {Mod1Mask, kAlt},
      {ShiftMask | ControlMask | Mod1Mask, kShift | kControl | kAlt},
      {LockMask | Mod2Mask | Mod4Mask | Button1Mask, 0}, // caps, num lock, super, buttons: none
  };
  for (const Case& c : cases) {
    EXPECT_EQ(x11::modifierBits(c.state), c.bits) << c.state;
    InputEvent in;
    x11::translateButton(button(ButtonPress, 1, c.state), in);
    EXPECT_EQ(in.modifiers, c.bits);
  }
}

TEST(X11Input, VirtualKeyCodes)
{
  struct Case {
    KeySym sym;
    uint16_t code;
  };
  const Case cases[] = {
      {XK_a, 0x00}, {XK_A, 0x00}, {XK_s, 0x01}, {XK_z, 0x06}, {XK_q, 0x0C}, {XK_1, 0x12},
      {XK_5, 0x17}, {XK_0, 0x1D}, {XK_Return, 0x24}, {XK_Tab, 0x30}, {XK_space, 0x31},
      {XK_BackSpace, 0x33}, {XK_Escape, 0x35}, {XK_Shift_L, 0x38}, {XK_Control_L, 0x3B},
      {XK_Alt_L, 0x3A}, {XK_KP_Enter, 0x4C}, {XK_KP_0, 0x52}, {XK_KP_Insert, 0x52},
      {XK_KP_9, 0x5C}, {XK_F1, 0x7A}, {XK_F2, 0x78}, {XK_F5, 0x60}, {XK_F12, 0x6F},
      {XK_Home, 0x73}, {XK_End, 0x77}, {XK_Prior, 0x74}, {XK_Next, 0x79}, {XK_Delete, 0x75},
      {XK_Left, 0x7B}, {XK_Right, 0x7C}, {XK_Down, 0x7D}, {XK_Up, 0x7E},
      {XK_eacute, x11::kNoKeyCode}, {NoSymbol, x11::kNoKeyCode},
  };
  for (const Case& c : cases)
    EXPECT_EQ(x11::virtualKeyCode(c.sym), c.code) << std::hex << c.sym;
}

TEST(X11Input, KeyCharacters)
{
  struct Case {
    KeySym sym;
    unsigned state;
    std::string text;
  };
  const Case cases[] = {
      {XK_a, 0, "a"},
      {XK_A, ShiftMask, "A"},
      {XK_a, ControlMask, "\x01"},
      {XK_bracketleft, ControlMask, "\x1b"},
      {XK_1, ControlMask, "1"},
      {XK_eacute, 0, "\xC3\xA9"},
      {0x10020AC, 0, "\xE2\x82\xAC"},   // Unicode key symbol
      {0x101F600, 0, "\xF0\x9F\x98\x80"}, // four bytes
      {XK_EuroSign, 0, "\xE2\x82\xAC"},
      {XK_Up, 0, "\xEF\x9C\x80"},       // U+F700
      {XK_Down, 0, "\xEF\x9C\x81"},
      {XK_Left, 0, "\xEF\x9C\x82"},
      {XK_Right, 0, "\xEF\x9C\x83"},
      {XK_F1, 0, "\xEF\x9C\x84"},       // U+F704
      {XK_F12, 0, "\xEF\x9C\x8F"},
      {XK_Delete, 0, "\xEF\x9C\xA8"},   // U+F728
      {XK_Home, 0, "\xEF\x9C\xA9"},
      {XK_End, 0, "\xEF\x9C\xAB"},
      {XK_Prior, 0, "\xEF\x9C\xAC"},
      {XK_Next, 0, "\xEF\x9C\xAD"},
      {XK_BackSpace, 0, "\x7F"},
      {XK_Return, 0, "\r"},
      {XK_KP_Enter, 0, "\x03"},
      {XK_Tab, 0, "\t"},
      {XK_ISO_Left_Tab, ShiftMask, "\x19"},
      {XK_Escape, 0, "\x1B"},
      {XK_KP_7, 0, "7"},
      {XK_KP_Home, 0, "\xEF\x9C\xA9"},
      {XK_Shift_L, 0, ""},
      {NoSymbol, 0, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(x11::keyCharacters(c.sym, c.state), c.text) << std::hex << c.sym;
}

TEST(X11Input, KeyEventAndRepeat)
{
  XKeyEvent ev{};
  ev.type = KeyPress;
  ev.keycode = 38;
  ev.state = ShiftMask;
  ev.x = 3;
  ev.y = 4;
  x11::KeyRepeat keys;
  InputEvent first = x11::translateKey(ev, XK_a, XK_A, keys.press(38));
  InputEvent again = x11::translateKey(ev, XK_a, XK_A, keys.press(38));
  EXPECT_EQ(first.type, InputEvent::KeyDown);
  EXPECT_FALSE(first.isRepeat);
  EXPECT_TRUE(again.isRepeat);
  EXPECT_EQ(first.keyCode, 0x00);
  EXPECT_EQ(first.characters, "A");
  EXPECT_EQ(first.modifiers, kShift);
  EXPECT_EQ(first.x, 3);
  keys.release(38);
  EXPECT_FALSE(keys.press(38));
  ev.type = KeyRelease;
  EXPECT_EQ(x11::translateKey(ev, XK_a, XK_A, false).type, InputEvent::KeyUp);
  keys.reset();
  EXPECT_FALSE(keys.press(38));
  EXPECT_TRUE(x11::isModifierKey(XK_Shift_L));
  EXPECT_TRUE(x11::isModifierKey(XK_ISO_Level3_Shift));
  EXPECT_FALSE(x11::isModifierKey(XK_a));
}

} // namespace
