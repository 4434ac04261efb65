// The script surface of Transform, Path and Text.
#include <gtest/gtest.h>

#include "canvas/Text.hh"
#include "canvas/Transform.hh"
#include "canvas/XPath.hh"
#include "tests/bind/bind_support.hh"
#include "tests/support/TestSupport.hh"

namespace {

class ScriptClasses : public ::testing::Test {
protected:
  void SetUp() override
  {
    createFontEngine();
    LuaWrapper::DeclareToLua<Transform>(s.L, "Tolm");
    LuaWrapper::DeclareToLua<XPath>(s.L, "Tolm");
    LuaWrapper::DeclareToLua<Text>(s.L, "Tolm");
    exportTransformClass(s.L);
    exportPathClass(s.L);
    exportTextClass(s.L);
  }
  void expectRun(const std::string& code, const std::string& value)
  {
    bindtest::Outcome out = s.run(code);
    EXPECT_TRUE(out.ok) << code << " -> " << out.value;
    EXPECT_EQ(out.value, value) << code;
  }
  void expectError(const std::string& code, const std::string& message)
  {
    bindtest::Outcome out = s.run(code);
    EXPECT_FALSE(out.ok) << code;
    EXPECT_NE(out.value.find(message), std::string::npos) << code << " -> " << out.value;
  }
  bindtest::State s;
};

} // namespace

TEST_F(ScriptClasses, Transform)
{
  struct {
    const char* code;
    const char* value;
  } cases[] = {
    {"local t = Tolm.Transform.new(); t:rotate(math.pi / 2); local x, y = t:transform(1, 0);"
     "return string.format('%.12f %.12f', x, y)", "0.000000000000 1.000000000000"},
    {"local t = Tolm.Transform.new(); t:set(1, 2, 3, 4, 5, 6); return table.concat({t:get()}, ',')",
     "1,2,3,4,5,6"},
    {"local t = Tolm.Transform.new(); t:scale(2); return table.concat({t:get()}, ',')", "2,0,0,2,0,0"},
    {"local t = Tolm.Transform.new(); t:scale(2, 3); t:translate(1, 1);"
     "return table.concat({t:transform(1, 1)}, ',')", "3,4"},
    {"local a = Tolm.Transform.new(); a:scale(2); local b = Tolm.Transform.new(); b:translate(1, 0);"
     "a:multiply(b); return (a:transform(1, 0))", "3"},
    {"local t = Tolm.Transform.new(); t:translate(4, 5); t:invert(); return table.concat({t:translation()}, ',')",
     "-4,-5"},
    {"local t = Tolm.Transform.new(); t:rotate(0.5); t:scale(3);"
     "local sx, sy = t:scaling(); return string.format('%.6f %.6f %.6f', t:rotation(), sx, sy)",
     "0.500000 3.000000 3.000000"},
    {"local t = Tolm.Transform.new(); t:translate(1, 2); local u = Tolm.Transform.newWithTransform(t);"
     "t:reset(); return table.concat({u:translation()}, ',') .. ';' .. table.concat({t:translation()}, ',')",
     "1,2;0,0"},
  };
  for (auto& c : cases)
    expectRun(c.code, c.value);
  expectError("Tolm.Transform.new():rotate('x')", "cannot convert argument #2 from string to double");
  expectError("Tolm.Transform.new():multiply(Tolm.Path.new())", "to Transform");
}

TEST_F(ScriptClasses, Path)
{
  struct {
    const char* code;
    const char* value;
  } cases[] = {
    {"local p = Tolm.Path.new(); p:rect(0, 0, 10, 5); return table.concat({p:getBounds()}, ',')", "0,0,10,5"},
    {"return table.concat({Tolm.Path.new():getBounds()}, ',')", "0,0,0,0"},
    {"local p = Tolm.Path.new(); p:lineRel(5, 5); return table.concat({p:getLast()}, ',')", "5,5"},
    {"local p = Tolm.Path.new(); p:moveTo(1, 1); p:reset(); return tostring(p:isEmpty())", "true"},
    {"local p, q = Tolm.Path.new(), Tolm.Path.new(); p:rect(0, 0, 1, 1); p:addToPath(q);"
     "return table.concat({q:getBounds()}, ',') .. ' ' .. tostring(p:isEmpty())", "0,0,1,1 false"},
    // One extra radius only: r on every corner (a radius of 3 would leave
    // nothing of the top edge left of 2.5).
    {"local p = Tolm.Path.new(); p:roundedRect(0, 0, 10, 10, 2, 3); local q = Tolm.Path.new();"
     "q:rect(0, -1, 2.5, 0.01); p:clip(q, false); local x1, y1, x2, y2 = p:getBounds();"
     "return string.format('%.0f %g %g %g', x1, y1, x2, y2)", "2 0 2.5 0.01"},
    {"local p, w = Tolm.Path.new(), Tolm.Path.new(); p:rect(0, 0, 10, 10); w:rect(5, 5, 20, 20);"
     "p:clip(w, true); return table.concat({p:getBounds()}, ',')", "5,5,10,10"},
    {"local p = Tolm.Path.new(); p:moveTo(0, 0); p:lineTo(15, 0); p:setLineDash(3, 1); p:strokePath(2);"
     "local x1, y1, x2, y2 = p:getBounds(); return x1 .. ',' .. y1 .. ',' .. x2 .. ',' .. y2", "0,-1,15,1"},
    {"local p = Tolm.Path.new(); p:moveTo(0, 0); p:arcTo(5, 5, 0, false, true, 10, 0);"
     "local x1, y1 = p:getBounds(); return string.format('%.1f %.1f', x1, y1)", "0.0 -5.0"},
    {"local p = Tolm.Path.new(); p:moveTo(0, 0); p:curve4Rel(0, 8, 10, 8, 10, 0); p:curve3Rel(5, 5, 10, 0);"
     "return table.concat({p:getLast()}, ',')", "20,0"},
    {"local p = Tolm.Path.new(); p:rect(0, 0, 1, 1); local t = Tolm.Transform.new(); t:scale(3);"
     "p:transform(t); return table.concat({p:getBounds()}, ',')", "0,0,3,3"},
  };
  for (auto& c : cases)
    expectRun(c.code, c.value);
  testing::internal::CaptureStderr();
  expectRun("local p = Tolm.Path.new(); p:setLineStyle('round', 'pointy', 3); return 1", "1");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "unmatched join: pointy\n");
  expectError("local p, w = Tolm.Path.new(), Tolm.Path.new(); p:rect(0, 0, 0/0, 1e300);"
              "w:rect(0, 0, 1, 1); p:clip(w, false)", "Path.clip");
  expectError("Tolm.Path.new():setLineDash(1, 'x')", "cannot convert argument #3");
  expectError("Tolm.Path.new():roundedRect(0, 0, 1, 1)", "argument #6");
}

TEST_F(ScriptClasses, Text)
{
  expectRun("local t = Tolm.Text.new(); return table.concat({t:getBounds()}, ',') .. ';' .."
            "table.concat({t:getAscenderDescender()}, ',') .. ';' .. table.concat({t:getKerning()}, ',')",
            "0,0,0,0;0,0;0,0");
  expectRun("return type(Tolm.Text.new():getFonts())", "table");
  testing::internal::CaptureStderr();
  expectRun("return tostring(Tolm.Text.new():addToPath(0, 0, Tolm.Path.new()))", "false");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning: no glyph\n");
  if (testsupport::readFile("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf").empty())
    return;
  expectRun("local t = Tolm.Text.new(); local ok = t:setFont('DejaVu Sans', 'Regular', 20);"
            "local a, d = t:getAscenderDescender();"
            "local found = t:selectGlyph(65); local p = Tolm.Path.new();"
            "local drawn = t:addToPath(10, 30, p); local x1, y1, x2, y2 = p:getBounds();"
            "local ax = t:getAdvancements();"
            "return tostring(ok and found and drawn and a > 0 and d < 0 and x1 >= 9 and y2 <= 31 and ax > 5)",
            "true");
  expectRun("local t = Tolm.Text.new(); t:setFont('DejaVu Sans', '', 20); t:selectGlyph(65);"
            "return tostring(t:selectGlyph(0xE000)) .. ' ' .. select(3, t:getBounds())", "false 0");
}
