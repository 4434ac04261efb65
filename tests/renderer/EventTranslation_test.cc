// Window input records into Event records.
#include <gtest/gtest.h>

#include "renderer/EventTranslation.hh"

using platform::InputEvent;

namespace {

InputEvent input(InputEvent::Type type)
{
  InputEvent in;
  in.type = type;
  in.x = 11;
  in.y = 22;
  return in;
}

TEST(EventTranslation, PointerButtonsAndModifiers)
{
  struct Case {
    InputEvent::Type type;
    int number;
    unsigned mods;
    uint32_t eventType, button;
    uint8_t modifiers;
  };
  const Case cases[] = {
      {InputEvent::MouseDown, 0, 0, ButtonPress, 1, 0},
      {InputEvent::MouseUp, 1, platform::kShift, ButtonRelease, 2, ModShift},
      {InputEvent::MouseDown, 2, platform::kControl | platform::kAlt, ButtonPress, 3, ModControl | ModAlt},
      {InputEvent::MouseDown, 5, 0, ButtonPress, 6, 0},
      {InputEvent::MouseMoved, 0, platform::kShift | platform::kControl | platform::kAlt, PointerMotion, 0,
       ModShift | ModControl | ModAlt},
  };
  for (const Case& c : cases) {
    InputEvent in = input(c.type);
    in.buttonNumber = c.number;
    in.modifiers = c.mods;
    auto out = translateInput(in);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].type, c.eventType);
    EXPECT_EQ(out[0].button, c.button);
    EXPECT_EQ(out[0].modifiers, c.modifiers);
    EXPECT_EQ(out[0].x, 11);
    EXPECT_EQ(out[0].y, 22);
    EXPECT_EQ(out[0].flags, 0u);
    EXPECT_EQ(out[0].pressure, 0.0f);
  }
}

TEST(EventTranslation, WheelGivesPressAndReleasePerAxis)
{
  struct Case {
    float dx, dy;
    std::vector<uint32_t> buttons; // each press then release
  };
  const Case cases[] = {
      {0, 1, {4}}, {0, -1, {5}}, {1, 0, {6}}, {-1, 0, {7}},
      {1, -1, {5, 6}}, // down and to the right: vertical first
      {-0.5f, 2, {4, 7}}, {0, 0, {}},
  };
  for (const Case& c : cases) {
    InputEvent in = input(InputEvent::ScrollWheel);
    in.deltaX = c.dx;
    in.deltaY = c.dy;
    auto out = translateInput(in);
    ASSERT_EQ(out.size(), c.buttons.size() * 2);
    for (size_t i = 0; i < c.buttons.size(); ++i) {
      EXPECT_EQ(out[2 * i].type, (uint32_t)ButtonPress);
      EXPECT_EQ(out[2 * i + 1].type, (uint32_t)ButtonRelease);
      EXPECT_EQ(out[2 * i].button, c.buttons[i]);
      EXPECT_EQ(out[2 * i + 1].button, c.buttons[i]);
    }
  }
}

TEST(EventTranslation, KeysTextCodeAndRepeat)
{
  struct Case {
    InputEvent::Type type;
    std::string chars;
    uint16_t code;
    bool repeat;
    std::string text; // all 4 bytes
  };
  const Case cases[] = {
      {InputEvent::KeyDown, "a", 0x00, false, std::string("a\0\0\0", 4)},
      {InputEvent::KeyDown, "\xC3\xA9", 0x0E, true, std::string("\xC3\xA9\0\0", 4)},
      {InputEvent::KeyUp, "\xF0\x9F\x98\x80", 0x10, false, "\xF0\x9F\x98\x80"}, // full, no terminator
      {InputEvent::KeyDown, "\xEF\x9C\x80", 0x7E, false, std::string("\xEF\x9C\x80\0", 4)},
      {InputEvent::KeyDown, "", 0x38, false, std::string(4, '\0')},
      {InputEvent::KeyDown, "abcdef", 0x01, false, "abcd"},
  };
  for (const Case& c : cases) {
    InputEvent in = input(c.type);
    in.characters = c.chars;
    in.keyCode = c.code;
    in.isRepeat = c.repeat;
    auto out = translateInput(in);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].type, c.type == InputEvent::KeyDown ? (uint32_t)KeyPress : (uint32_t)KeyRelease);
    EXPECT_EQ(out[0].keycode, c.code);
    EXPECT_EQ(out[0].flags, c.repeat ? 1u : 0u);
    EXPECT_EQ(std::string(out[0].text, 4), c.text);
    EXPECT_EQ(out[0].button, 0u);
  }
}

} // namespace
