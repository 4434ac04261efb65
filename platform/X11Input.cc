#include "platform/X11Input.hh"

#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace platform::x11 {

unsigned modifierBits(unsigned state)
{
  return (state & ShiftMask ? kShift : 0) | (state & ControlMask ? kControl : 0) |
         (state & Mod1Mask ? kAlt : 0);
}

namespace {

struct KeyCode_ {
  KeySym sym;
  uint16_t code;
};

// Virtual key codes by the unshifted key symbol of the key.
constexpr KeyCode_ kCodes[] = {
    {XK_a, 0x00}, {XK_s, 0x01}, {XK_d, 0x02}, {XK_f, 0x03}, {XK_h, 0x04}, {XK_g, 0x05},
    {XK_z, 0x06}, {XK_x, 0x07}, {XK_c, 0x08}, {XK_v, 0x09}, {XK_b, 0x0B}, {XK_q, 0x0C},
    {XK_w, 0x0D}, {XK_e, 0x0E}, {XK_r, 0x0F}, {XK_y, 0x10}, {XK_t, 0x11}, {XK_1, 0x12},
    {XK_2, 0x13}, {XK_3, 0x14}, {XK_4, 0x15}, {XK_6, 0x16}, {XK_5, 0x17}, {XK_equal, 0x18},
    {XK_9, 0x19}, {XK_7, 0x1A}, {XK_minus, 0x1B}, {XK_8, 0x1C}, {XK_0, 0x1D},
    {XK_bracketright, 0x1E}, {XK_o, 0x1F}, {XK_u, 0x20}, {XK_bracketleft, 0x21}, {XK_i, 0x22},
    {XK_p, 0x23}, {XK_Return, 0x24}, {XK_l, 0x25}, {XK_j, 0x26}, {XK_apostrophe, 0x27},
    {XK_k, 0x28}, {XK_semicolon, 0x29}, {XK_backslash, 0x2A}, {XK_comma, 0x2B},
    {XK_slash, 0x2C}, {XK_n, 0x2D}, {XK_m, 0x2E}, {XK_period, 0x2F}, {XK_Tab, 0x30},
    {XK_ISO_Left_Tab, 0x30}, {XK_space, 0x31}, {XK_grave, 0x32}, {XK_less, 0x0A},
    {XK_BackSpace, 0x33}, {XK_Escape, 0x35}, {XK_Super_R, 0x36}, {XK_Meta_R, 0x36},
    {XK_Super_L, 0x37}, {XK_Meta_L, 0x37}, {XK_Shift_L, 0x38}, {XK_Caps_Lock, 0x39},
    {XK_Alt_L, 0x3A}, {XK_Control_L, 0x3B}, {XK_Shift_R, 0x3C}, {XK_Alt_R, 0x3D},
    {XK_ISO_Level3_Shift, 0x3D}, {XK_Control_R, 0x3E}, {XK_F17, 0x40}, {XK_KP_Decimal, 0x41},
    {XK_KP_Delete, 0x41}, {XK_KP_Multiply, 0x43}, {XK_KP_Add, 0x45}, {XK_Num_Lock, 0x47},
    {XK_KP_Divide, 0x4B}, {XK_KP_Enter, 0x4C}, {XK_KP_Subtract, 0x4E}, {XK_F18, 0x4F},
    {XK_F19, 0x50}, {XK_KP_Equal, 0x51}, {XK_KP_0, 0x52}, {XK_KP_Insert, 0x52},
    {XK_KP_1, 0x53}, {XK_KP_End, 0x53}, {XK_KP_2, 0x54}, {XK_KP_Down, 0x54}, {XK_KP_3, 0x55},
    {XK_KP_Next, 0x55}, {XK_KP_4, 0x56}, {XK_KP_Left, 0x56}, {XK_KP_5, 0x57},
    {XK_KP_Begin, 0x57}, {XK_KP_6, 0x58}, {XK_KP_Right, 0x58}, {XK_KP_7, 0x59},
    {XK_KP_Home, 0x59}, {XK_F20, 0x5A}, {XK_KP_8, 0x5B}, {XK_KP_Up, 0x5B}, {XK_KP_9, 0x5C},
    {XK_KP_Prior, 0x5C}, {XK_F5, 0x60}, {XK_F6, 0x61}, {XK_F7, 0x62}, {XK_F3, 0x63},
    {XK_F8, 0x64}, {XK_F9, 0x65}, {XK_F11, 0x67}, {XK_F13, 0x69}, {XK_F16, 0x6A},
    {XK_F14, 0x6B}, {XK_F10, 0x6D}, {XK_F12, 0x6F}, {XK_F15, 0x71}, {XK_Help, 0x72},
    {XK_Insert, 0x72}, {XK_Home, 0x73}, {XK_Prior, 0x74}, {XK_Delete, 0x75}, {XK_F4, 0x76},
    {XK_End, 0x77}, {XK_F2, 0x78}, {XK_Next, 0x79}, {XK_F1, 0x7A}, {XK_Left, 0x7B},
    {XK_Right, 0x7C}, {XK_Down, 0x7D}, {XK_Up, 0x7E}, {XK_Menu, 0x6E},
};

// Characters of the editing and function keys.
constexpr KeyCode_ kFunctionChars[] = {
    {XK_Up, 0xF700}, {XK_Down, 0xF701}, {XK_Left, 0xF702}, {XK_Right, 0xF703},
    {XK_KP_Up, 0xF700}, {XK_KP_Down, 0xF701}, {XK_KP_Left, 0xF702}, {XK_KP_Right, 0xF703},
    {XK_Insert, 0xF727}, {XK_KP_Insert, 0xF727}, {XK_Delete, 0xF728}, {XK_KP_Delete, 0xF728},
    {XK_Home, 0xF729}, {XK_KP_Home, 0xF729}, {XK_Begin, 0xF72A}, {XK_KP_Begin, 0xF72A},
    {XK_End, 0xF72B}, {XK_KP_End, 0xF72B}, {XK_Prior, 0xF72C}, {XK_KP_Prior, 0xF72C},
    {XK_Next, 0xF72D}, {XK_KP_Next, 0xF72D}, {XK_Print, 0xF72E}, {XK_Scroll_Lock, 0xF72F},
    {XK_Pause, 0xF730}, {XK_Sys_Req, 0xF731}, {XK_Break, 0xF732}, {XK_Menu, 0xF735},
    {XK_Select, 0xF741}, {XK_Execute, 0xF742}, {XK_Undo, 0xF743}, {XK_Redo, 0xF744},
    {XK_Find, 0xF745}, {XK_Help, 0xF746}, {XK_Mode_switch, 0xF747},
};

void appendUtf8(std::string& out, uint32_t c)
{
  if (c < 0x80) {
    out += (char)c;
  } else if (c < 0x800) {
    out += (char)(0xC0 | (c >> 6));
    out += (char)(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += (char)(0xE0 | (c >> 12));
    out += (char)(0x80 | ((c >> 6) & 0x3F));
    out += (char)(0x80 | (c & 0x3F));
  } else {
    out += (char)(0xF0 | (c >> 18));
    out += (char)(0x80 | ((c >> 12) & 0x3F));
    out += (char)(0x80 | ((c >> 6) & 0x3F));
    out += (char)(0x80 | (c & 0x3F));
  }
}

// The Unicode character of a key symbol, 0 when it has none.
uint32_t keysymChar(KeySym sym)
{
  if ((sym >= 0x20 && sym <= 0x7E) || (sym >= 0xA0 && sym <= 0xFF))
    return (uint32_t)sym; // Latin-1 key symbols are their code points
  if (sym >= 0x1000100 && sym <= 0x110FFFF)
    return (uint32_t)(sym - 0x1000000);
  if (sym >= XK_F1 && sym <= XK_F35)
    return 0xF704 + (uint32_t)(sym - XK_F1);
  for (const auto& f : kFunctionChars)
    if (f.sym == sym)
      return f.code;
  if (sym >= XK_KP_0 && sym <= XK_KP_9)
    return '0' + (uint32_t)(sym - XK_KP_0);
  switch (sym) {
  case XK_BackSpace: return 0x7F;
  case XK_Tab: case XK_KP_Tab: return 0x09;
  case XK_ISO_Left_Tab: return 0x19;
  case XK_Return: return 0x0D;
  case XK_KP_Enter: return 0x03;
  case XK_Escape: return 0x1B;
  case XK_KP_Space: return ' ';
  case XK_KP_Multiply: return '*';
  case XK_KP_Add: return '+';
  case XK_KP_Separator: return ',';
  case XK_KP_Subtract: return '-';
  case XK_KP_Decimal: return '.';
  case XK_KP_Divide: return '/';
  case XK_KP_Equal: return '=';
  case XK_EuroSign: return 0x20AC;
  default: return 0;
  }
}

} // namespace

uint16_t virtualKeyCode(KeySym base)
{
  // Upper-case symbols name the same keys as lower-case ones.
  if (base >= XK_A && base <= XK_Z)
    base += XK_a - XK_A;
  for (const auto& k : kCodes)
    if (k.sym == base)
      return k.code;
  return kNoKeyCode;
}

bool isModifierKey(KeySym sym)
{
  return IsModifierKey(sym) || sym == XK_ISO_Level3_Shift || sym == XK_Super_L ||
         sym == XK_Super_R || sym == XK_Hyper_L || sym == XK_Hyper_R;
}

std::string keyCharacters(KeySym sym, unsigned state)
{
  uint32_t c = keysymChar(sym);
  if (!c)
    return std::string();
  // Control with a letter or one of @[\]^_ types the control code.
  if (state & ControlMask) {
    if (c >= 'a' && c <= 'z')
      c -= 'a' - 'A';
    if (c >= '@' && c <= '_')
      c &= 0x1F;
  }
  std::string out;
  appendUtf8(out, c);
  return out;
}

bool translateButton(const XButtonEvent& ev, InputEvent& out)
{
  out = InputEvent();
  out.x = ev.x;
  out.y = ev.y;
  out.modifiers = modifierBits(ev.state);
  const bool press = ev.type == ButtonPress;
  switch (ev.button) {
  case Button4: case Button5: case 6: case 7:
    if (!press)
      return false;
    out.type = InputEvent::ScrollWheel;
    out.deltaY = ev.button == Button4 ? 1.0f : ev.button == Button5 ? -1.0f : 0.0f;
    out.deltaX = ev.button == 7 ? 1.0f : ev.button == 6 ? -1.0f : 0.0f; // 6 scrolls left
    return true;
  default:
    break;
  }
  out.type = press ? InputEvent::MouseDown : InputEvent::MouseUp;
  // Left, right, middle, then the further buttons from 8 on.
  out.buttonNumber = ev.button == Button1 ? 0 : ev.button == Button3 ? 1 : ev.button == Button2 ? 2
                                                                                    : (int)ev.button - 5;
  return out.buttonNumber >= 0;
}

InputEvent translateMotion(const XMotionEvent& ev)
{
  InputEvent out;
  out.type = InputEvent::MouseMoved;
  out.x = ev.x;
  out.y = ev.y;
  out.modifiers = modifierBits(ev.state);
  return out;
}

InputEvent translateKey(const XKeyEvent& ev, KeySym base, KeySym sym, bool repeat)
{
  InputEvent out;
  out.type = ev.type == KeyPress ? InputEvent::KeyDown : InputEvent::KeyUp;
  out.x = ev.x;
  out.y = ev.y;
  out.modifiers = modifierBits(ev.state);
  out.keyCode = virtualKeyCode(base);
  out.characters = keyCharacters(sym, ev.state);
  out.isRepeat = repeat;
  return out;
}

} // namespace platform::x11
