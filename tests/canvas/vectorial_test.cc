// The script class "Vectorial" in a script state over the off-screen
// window back end: geometry, lifetimes, drawing and event tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "canvas/LuaHandler.hh"
#include "canvas/Text.hh"
#include "canvas/Transform.hh"
#include "canvas/ScriptImages.hh"
#include "canvas/Vectorial.hh"
#include "canvas/XPath.hh"
#include "fonts/process_fonts.hh"
#include "image/Image.hh"
#include "renderer/RendererAppKit.hh"
#include "tests/bind/bind_support.hh"

namespace {

class VectorialTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    setenv("TOLM_HEADLESS", "1", 1);
    unsetenv("TOLM_SNAPSHOT_DIR");
    createFontEngine();
    root = new RendererAppKit();
    ASSERT_TRUE(root->init(nullptr));
    root->addTimer(
        [](void* r) {
          static_cast<Renderer*>(r)->quit(99);
          return false;
        },
        20, root);
    s = std::make_unique<bindtest::State>();
    LuaWrapper::DeclareToLua<Transform>(s->L, "Tolm");
    LuaWrapper::DeclareToLua<XPath>(s->L, "Tolm");
    LuaWrapper::DeclareToLua<Text>(s->L, "Tolm");
    LuaWrapper::DeclareToLua<Vectorial>(s->L, "Tolm");
    exportTransformClass(s->L);
    exportPathClass(s->L);
    exportTextClass(s->L);
    exportVectorialClass(s->L, &root);
  }
  void TearDown() override
  {
    s.reset(); // canvases first: their windows go back to the root
    delete root;
  }
  std::string run(const std::string& code)
  {
    bindtest::Outcome out = s->run(code);
    EXPECT_TRUE(out.ok) << code << "\n-> " << out.value;
    return out.value;
  }
  Vectorial* canvas(const char* name)
  {
    lua_getglobal(s->L, name);
    Vectorial** p = LuaWrapper::LuaClass<Vectorial>::getRawPtr(s->L, -1);
    lua_pop(s->L, 1);
    return p ? *p : nullptr;
  }
  // Channel c of canvas pixel x, y (device pixels).
  int px(const char* name, int x, int y, int c)
  {
    Vectorial* v = canvas(name);
    Vectorial::View view = v->view();
    return view.rbuf.row_ptr(y + view.shiftY)[(x + view.shiftX) * 4 + c];
  }
  // Delivers what was injected, then returns.
  void deliver()
  {
    Renderer* r = root;
    root->postTask([r] { r->quit(0); });
    root->run();
  }

  Renderer* root = nullptr;
  std::unique_ptr<bindtest::State> s;
};

// ---------------------------------------------------------------------------
// Geometry.

TEST_F(VectorialTest, GeometryTables)
{
  struct Case {
    const char* code;
    const char* expect;
  } cases[] = {
      // a clip far outside is placed inside the bounds
      {"w:setClip(-10, -10, 5000, 5000) return table.concat({w:getClip()}, ',')", "0,0,100,100"},
      {"w:setClip(10, 20, 30, 40) return table.concat({w:getClip()}, ',')", "10,20,30,40"},
      {"return w:width() .. ',' .. w:height()", "100,100"},
      {"local t = w:newTemporary(64, 32) return t:width() .. ',' .. t:height()", "64,32"},
      // a sub-clip reaching past its parent: bounds and clip stop at the parent's edge
      {"local c = Tolm.Vectorial.newSubClip(w, 90, 80, 50, 50) "
       "return c:width() .. ',' .. table.concat({c:getClip()}, ',')",
       "50,0,0,10,20"},
      {"local c = Tolm.Vectorial.newSubClip(w, 10, 10, 20, 20) "
       "c:setClip(-5, -5, 100, 100) return table.concat({c:getClip()}, ',')",
       "0,0,20,20"},
      // a sub-clip starting left of and above its parent
      {"local c = Tolm.Vectorial.newSubClip(w, -10, -20, 50, 50) "
       "return table.concat({c:getClip()}, ',')",
       "10,20,40,30"},
      // resize: the clip is brought inside the new bounds
      {"w:setClip(0, 0, 100, 100) w:resize(40, 30) "
       "return w:width() .. ',' .. w:height() .. ',' .. table.concat({w:getClip()}, ',')",
       "40,30,0,0,40,30"},
      // a clip that was the whole window grows with it; any other stays
      {"w:resize(150, 120) return table.concat({w:getClip()}, ',')", "0,0,150,120"},
      {"w:resize(40, 30) w:resize(120, 110) return table.concat({w:getClip()}, ',')",
       "0,0,120,110"},
      {"w:setClip(10, 10, 20, 20) w:resize(150, 120) return table.concat({w:getClip()}, ',')",
       "10,10,20,20"},
      {"w:setClip(0, 0, 100, 90) w:resize(150, 120) return table.concat({w:getClip()}, ',')",
       "0,0,100,90"},
  };
  for (const Case& c : cases) {
    run("w = Tolm.Vectorial.new(function() end, 0, 0, 100, 100)");
    EXPECT_EQ(run(c.code), c.expect) << c.code;
    run("w:delete() w = nil collectgarbage()");
  }
}

// A grown window keeps its picture at the top-left, the added area is
// white, and drawing reaches all of it.
TEST_F(VectorialTest, GrownWindowIsWhiteAndDrawable)
{
  run("w = Tolm.Vectorial.new(function() end, 0, 0, 30, 20) "
      "p = Tolm.Path.new() p:rect(0, 0, 1000, 1000) w:color(1, 0, 0, 1) w:fillPath(p) "
      "w:resize(50, 40)");
  struct Probe {
    int x, y;
    int rgba[4];
  } probes[] = {{0, 0, {255, 0, 0, 255}},     {29, 19, {255, 0, 0, 255}},
                {30, 0, {255, 255, 255, 255}}, {0, 20, {255, 255, 255, 255}},
                {49, 39, {255, 255, 255, 255}}};
  for (const Probe& p : probes)
    for (int c = 0; c < 4; ++c)
      EXPECT_EQ(px("w", p.x, p.y, c), p.rgba[c]) << p.x << "," << p.y << " channel " << c;
  run("w:color(0, 0, 1, 1) w:fillPath(p)");
  for (const Probe& p : probes)
    EXPECT_EQ(px("w", p.x, p.y, 2), 255) << p.x << "," << p.y;
  EXPECT_EQ(px("w", 49, 39, 0), 0);
}

TEST_F(VectorialTest, CheckedSizesAndClearTemporaries)
{
  run("w = Tolm.Vectorial.new(function() end, 0, 0, 10, 10)");
  for (const char* size : {"-1, 5", "5, -1", "100000, 100000", "40000, 1"}) {
    bindtest::Outcome out = s->run(std::string("return w:newTemporary(") + size + ")");
    EXPECT_FALSE(out.ok) << size;
    EXPECT_NE(out.value.find("size out of range"), std::string::npos) << out.value;
  }
  run("t = w:newTemporary(3, 2)");
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int c = 0; c < 4; ++c)
        EXPECT_EQ(px("t", x, y, c), 0);
  // no root renderer: a script error, not a crash
  Renderer* saved = root;
  root = nullptr;
  bindtest::Outcome out = s->run("return Tolm.Vectorial.new(function() end, 0, 0, 10, 10)");
  root = saved;
  EXPECT_FALSE(out.ok);
  EXPECT_NE(out.value.find("no renderer"), std::string::npos) << out.value;
}

// ---------------------------------------------------------------------------
// Lifetimes (meaningful under the sanitizers).

TEST_F(VectorialTest, SubClipOutlivesCollectedParent)
{
  run("local t = Tolm.Vectorial.new(function() end, 0, 0, 8, 8):newTemporary(8, 8) "
      "c = Tolm.Vectorial.newSubClip(t, 2, 2, 4, 4) t = nil collectgarbage() collectgarbage() "
      "p = Tolm.Path.new() p:rect(0, 0, 4, 4) c:color(1, 0, 0, 1) c:fillPath(p) "
      "c:blur(2) c:blur(2.5)");
  EXPECT_EQ(px("c", 0, 0, 0), 255);
  EXPECT_EQ(px("c", 3, 3, 3), 255);
}

TEST_F(VectorialTest, ClosedWindowLeavesSubClipsHarmless)
{
  run("w = Tolm.Vectorial.new(function() end, 0, 0, 20, 20) "
      "c = Tolm.Vectorial.newSubClip(w, 5, 5, 10, 10) w:delete() collectgarbage() "
      "p = Tolm.Path.new() p:rect(0, 0, 10, 10) c:fillPath(p) c:blur(3) c:applyLut({}) "
      "c:move(1, 1) c:resize(50, 50) c:setTitle('x') c:update(0, 0, 5, 5) c:sync()");
  EXPECT_EQ(run("return tostring(c:writeClip('a')) .. '|' .. c:readClip() .. '|' .. c:width()"),
            "false||10");
  deliver(); // the window is deleted at the loop's safe point
  run("c:fillPath(p) c:blend(c, 1, 1, 1)");
}

TEST_F(VectorialTest, ParentResizedUnderSubClips)
{
  run("w = Tolm.Vectorial.new(function() end, 0, 0, 40, 40) "
      "c = Tolm.Vectorial.newSubClip(w, 20, 20, 20, 20) "
      "d = Tolm.Vectorial.newSubClip(w, -5, -5, 60, 60) "
      "p = Tolm.Path.new() p:rect(-100, -100, 200, 200) "
      "w:resize(10, 10) c:color(0, 1, 0, 1) d:color(0, 1, 0, 1) c:fillPath(p) d:fillPath(p) c:blur(4) d:blur(3.5) "
      "d:blend(c, -3, -3, 1) c:blend(d, 0, 0, 0.5) w:resize(80, 80) c:fillPath(p) d:fillPath(p) "
      "d:blur(5) w:blend(d, -50, 70, 1)");
  EXPECT_EQ(px("w", 20, 20, 1), 255);
}

// ---------------------------------------------------------------------------
// Drawing.

TEST_F(VectorialTest, SolidFillStrokeAndCompOp)
{
  run("t = Tolm.Vectorial.new(function() end, 0, 0, 1, 1):newTemporary(8, 4) "
      "p = Tolm.Path.new() p:rect(1, 1, 3, 3) t:color(1, 0.5, 0, 1) t:fillPath(p)");
  EXPECT_EQ(px("t", 1, 1, 0), 255);
  EXPECT_EQ(px("t", 2, 2, 1), 128);
  EXPECT_EQ(px("t", 3, 1, 3), 0);
  // components clamp: 1.5 is 255, -1 is 0
  run("t:color(1.5, -1, 0, 1) t:fillPath(p)");
  EXPECT_EQ(px("t", 1, 1, 0), 255);
  EXPECT_EQ(px("t", 1, 1, 1), 0);
  // clear inside the clip only
  run("t:setClip(0, 0, 2, 4) t:setCompOp('clear') q = Tolm.Path.new() q:rect(0, 0, 8, 4) "
      "t:fillPath(q) t:setCompOp() t:setClip(0, 0, 8, 4)");
  EXPECT_EQ(px("t", 1, 1, 3), 0);
  EXPECT_EQ(px("t", 2, 1, 3), 255);
  // a horizontal stroke one unit wide along y = 3.5
  run("l = Tolm.Path.new() l:moveTo(4, 3.5) l:lineTo(8, 3.5) t:color(0, 0, 1, 1) t:strokePath(l, 1)");
  EXPECT_EQ(px("t", 5, 3, 2), 255);
  EXPECT_EQ(px("t", 5, 2, 3), 0);
}

TEST_F(VectorialTest, CompOpWordsAreCaseSensitive)
{
  run("t = Tolm.Vectorial.new(function() end, 0, 0, 1, 1):newTemporary(1, 1) t:setCompOp('xor')");
  EXPECT_EQ(canvas("t")->compOp, 11);
  testing::internal::CaptureStderr();
  run("t:setCompOp('Src-Over')");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "unmatched composite op: Src-Over\n");
  EXPECT_EQ(canvas("t")->compOp, 11);
  run("t:setCompOp()");
  EXPECT_EQ(canvas("t")->compOp, 3);
}

// Image patterns: a 2 x 2 RGB image, one image pixel per user unit
// without a placing transform; a placing transform in canvas units.
TEST_F(VectorialTest, ImagePatterns)
{
  Image image;
  image.bps = 8;
  image.spp = 3;
  image.resize(2, 2);
  const uint8_t rgb[12] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
  std::copy(rgb, rgb + 12, image.getRawData());
  image.setRawData();
  run("w = Tolm.Vectorial.new(function() end, 0, 0, 1, 1) t = w:newTemporary(4, 4) "
      "s = Tolm.Transform.new() s:scale(2, 2) t:setTransform(s)");
  XPath path;
  path.rect(0, 0, 2, 2);
  Vectorial* t = canvas("t");
  t->fillPathImage(path, image, 1.0, nullptr, false);
  // the user transform scales the image with the path: 2 x 2 device pixels each
  EXPECT_EQ(px("t", 0, 0, 0), 255);
  EXPECT_EQ(px("t", 3, 0, 1), 255);
  EXPECT_EQ(px("t", 1, 3, 2), 255);
  EXPECT_EQ(px("t", 3, 3, 0), 255);
  // with a placing transform the image sits in canvas units: identity here
  Transform place;
  run("t2 = w:newTemporary(4, 4) t2:setTransform(s)");
  canvas("t2")->fillPathImage(path, image, 0.5, &place, false);
  // alpha 0.5 over transparent black with the plain blender: halfway
  EXPECT_EQ(px("t2", 1, 0, 1), 127);
  EXPECT_EQ(px("t2", 1, 0, 0), 0);
  EXPECT_EQ(px("t2", 1, 0, 3), 127);
  EXPECT_EQ(px("t2", 2, 0, 1), 127); // beyond the image its edge repeats
  EXPECT_EQ(px("t2", 0, 1, 2), 127);
  // glyph with the image in device pixels
  run("f = Tolm.Text.new() ok = f:setFont('DejaVu Sans', '', 30) f:selectGlyph(string.byte('M')) "
      "t3 = w:newTemporary(40, 40)");
  if (run("return ok") == "true") {
    Text* f = nullptr;
    lua_getglobal(s->L, "f");
    f = *LuaWrapper::LuaClass<Text>::getRawPtr(s->L, -1);
    lua_pop(s->L, 1);
    canvas("t3")->fillTextImage(2, 35, *f, image);
    int ink = 0;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 40; ++x)
        ink += px("t3", x, y, 3) == 255 && px("t3", x, y, 0) == 255 && px("t3", x, y, 1) == 255;
    EXPECT_GT(ink, 10); // the image's white corner repeats over most of the glyph
  }
}

// The script entries take their image from the host through ScriptImages
// (the script class "Image" lives above the canvas); here a light userdata
// stands for a script image. Without ScriptImages no value converts.
TEST_F(VectorialTest, ImagePatternsFromScripts)
{
  struct LightImages : ScriptImages {
    Image& argument(lua_State* L, int index) const override
    {
      if (!lua_islightuserdata(L, index))
        LuaWrapper::argError(L, index, "Image");
      return *static_cast<Image*>(lua_touserdata(L, index));
    }
  };
  static const LightImages images;
  Image image;
  image.bps = 8;
  image.spp = 3;
  image.resize(2, 2);
  const uint8_t rgb[12] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
  std::copy(rgb, rgb + 12, image.getRawData());
  image.setRawData();
  lua_pushlightuserdata(s->L, &image);
  lua_setglobal(s->L, "img");
  run("w = Tolm.Vectorial.new(function() end, 0, 0, 1, 1) t = w:newTemporary(4, 4) "
      "s = Tolm.Transform.new() s:scale(2, 2) t:setTransform(s) "
      "p = Tolm.Path.new() p:rect(0, 0, 2, 2)");
  for (const char* call : {"t:fillPathImage(p, img)", "t:fillTextImage(0, 0, Tolm.Text.new(), img)"}) {
    const bindtest::Outcome out = s->run(call);
    EXPECT_FALSE(out.ok) << call;
    EXPECT_NE(out.value.find("to Image"), std::string::npos) << out.value;
  }
  EXPECT_EQ(px("t", 0, 0, 0), 0);

  exportVectorialClass(s->L, &root, &images);
  run("t:fillPathImage(p, img)");
  // the same pixels as the native call in ImagePatterns
  EXPECT_EQ(px("t", 0, 0, 0), 255);
  EXPECT_EQ(px("t", 3, 0, 1), 255);
  EXPECT_EQ(px("t", 1, 3, 2), 255);
  EXPECT_EQ(px("t", 3, 3, 0), 255);
  const bindtest::Outcome wrong = s->run("t:fillPathImage(p, 5)");
  EXPECT_FALSE(wrong.ok);
  EXPECT_NE(wrong.value.find("argument #3"), std::string::npos) << wrong.value;
  const bindtest::Outcome text = s->run("t:fillTextImage(0, 0, Tolm.Text.new(), 'x')");
  EXPECT_FALSE(text.ok);
  EXPECT_NE(text.value.find("argument #5"), std::string::npos) << text.value;
  exportVectorialClass(s->L, &root);
}

TEST_F(VectorialTest, DashVariants)
{
  struct Case {
    const char* dash;
    const char* on;  // columns 0..11 of row 0: '#' drawn
  } cases[] = {
      {"", "############"},
      {"4", "############"},         // an offset only: solid
      {"2, 2", "##..##..##.."},
      {"2, 2, 1", "#..##..##..#"},   // one unit into the pattern
      {"3, 1, 1, 1", "###.#.###.#."},
      {"6, 2, 4, 2, 1", "#####..####."},
  };
  for (const Case& c : cases) {
    run(std::string("t = Tolm.Vectorial.new(function() end, 0, 0, 1, 1):newTemporary(12, 1) "
                    "t:color(0, 0, 0, 1) t:setLineDash(") + c.dash + ") "
        "l = Tolm.Path.new() l:moveTo(0, 0.5) l:lineTo(12, 0.5) t:strokePath(l, 1)");
    std::string got;
    for (int x = 0; x < 12; ++x)
      got += px("t", x, 0, 3) == 255 ? '#' : px("t", x, 0, 3) == 0 ? '.' : '?';
    EXPECT_EQ(got, c.on) << c.dash;
  }
}

TEST_F(VectorialTest, GradientStops)
{
  struct Case {
    const char* stops;
    int left[3], right[3];
    const char* warning;
  } cases[] = {
      {"{1, 0, 0, 1}, {0, 0, 1, 1}", {255, 0, 0}, {0, 0, 255}, ""},
      {"{r=1, a=1, offset=0.5}, {b=1, a=1}", {255, 0, 0}, {0, 0, 255}, "first offset != 0"},
      {"{g=1, a=1}, {r=1, a=1, offset=0.5}", {0, 255, 0}, {255, 0, 0}, "last offset != 1"},
      // keyed and positional mixed: g keyed, the rest from the array part
      {"{1, 0, 1, g=1}, {0, 0, 0.5, 1}", {255, 255, 0}, {0, 0, 128}, ""},
      // colours clamp
      {"{2, -1, 0, 1}, {0, 0, 9, 1}", {255, 0, 0}, {0, 0, 255}, ""},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    run(std::string("t = Tolm.Vectorial.new(function() end, 0, 0, 1, 1):newTemporary(256, 1) "
                    "t:setGradient({") + c.stops + "}) p = Tolm.Path.new() p:rect(0, 0, 256, 1) "
        "t:fillPathGradient(p)");
    const std::string err = testing::internal::GetCapturedStderr();
    if (*c.warning)
      EXPECT_NE(err.find(c.warning), std::string::npos) << c.stops << ": " << err;
    else
      EXPECT_EQ(err, "") << c.stops;
    for (int ch = 0; ch < 3; ++ch) {
      EXPECT_NEAR(px("t", 0, 0, ch), c.left[ch], 1) << c.stops;
      // the last pixel's centre is 255.5 of 256: two levels short
      EXPECT_NEAR(px("t", 255, 0, ch), c.right[ch], 2) << c.stops;
    }
  }
  // one stop warns and leaves the table as it was (the last case: red to blue)
  testing::internal::CaptureStderr();
  run("t:setGradient({{0, 1, 0, 1}}) t:fillPathGradient(p)");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("first offset != 0"), std::string::npos);
  EXPECT_EQ(px("t", 0, 0, 0), 255);
  EXPECT_EQ(px("t", 255, 0, 2), 253);
}

TEST_F(VectorialTest, BlendCoverRounding)
{
  struct Case {
    const char* alpha;
    int red; // white over black at this alpha
  } cases[] = {{"1", 255}, {"0.999", 254}, {"2", 255}, {"0.5", 127}, {"-1", 0}, {"0/0", 0}};
  for (const Case& c : cases) {
    run(std::string("local w = Tolm.Vectorial.new(function() end, 0, 0, 1, 1) "
                    "d = w:newTemporary(2, 2) src = w:newTemporary(2, 2) "
                    "local p = Tolm.Path.new() p:rect(0, 0, 2, 2) d:color(0, 0, 0, 1) d:fillPath(p) "
                    "src:color(1, 1, 1, 1) src:fillPath(p) d:blend(src, 1, 0, ") + c.alpha + ")");
    EXPECT_EQ(px("d", 1, 0, 0), c.red) << c.alpha;
    EXPECT_EQ(px("d", 0, 0, 0), 0) << c.alpha;
  }
}

TEST_F(VectorialTest, ApplyLutShortTablesKeepIdentity)
{
  run("t = Tolm.Vectorial.new(function() end, 0, 0, 1, 1):newTemporary(2, 1) "
      "p = Tolm.Path.new() p:rect(0, 0, 2, 1) t:color(0, 1/255, 2/255, 1) t:fillPath(p) "
      "t:setClip(1, 0, 1, 1) t:applyLut({7, 300}, {9})");
  EXPECT_EQ(px("t", 0, 0, 0), 0); // outside the clip
  EXPECT_EQ(px("t", 1, 0, 0), 7);
  EXPECT_EQ(px("t", 1, 0, 1), 1); // green entry 2 missing: identity
  EXPECT_EQ(px("t", 1, 0, 2), 2); // blue copies green
  run("t:setClip(0, 0, 2, 1) t:applyLut({[1] = 5})");
  EXPECT_EQ(px("t", 0, 0, 0), 5);
  EXPECT_EQ(px("t", 1, 0, 0), 7);
}

TEST_F(VectorialTest, BlurPicksItsAlgorithm)
{
  // A single opaque pixel: the stack blur of radius 1 spreads it with
  // weights 1-2-1 in each direction (255 / 4 and 255 / 8, truncated); the
  // recursive blur has no hard edge.
  const char* setup = "t = Tolm.Vectorial.new(function() end, 0, 0, 1, 1):newTemporary(9, 9) "
                      "p = Tolm.Path.new() p:rect(4, 4, 5, 5) t:color(1, 1, 1, 1) t:fillPath(p) ";
  run(std::string(setup) + "t:blur(1)");
  const int stackCentre = px("t", 4, 4, 3), stackSide = px("t", 5, 4, 3);
  EXPECT_EQ(stackCentre, 63);
  EXPECT_EQ(stackSide, 31);
  EXPECT_EQ(px("t", 6, 4, 3), 0);
  run(std::string(setup) + "t:blur(1.5)");
  EXPECT_EQ(px("t", 3, 4, 3), px("t", 5, 4, 3));
  EXPECT_GT(px("t", 6, 4, 3), 0); // the recursive blur has no hard edge
}

TEST_F(VectorialTest, LcdRules)
{
  // fillPath uses sub-pixels only when asked; fillText unless told not to.
  run("t = Tolm.Vectorial.new(function() end, 0, 0, 1, 1):newTemporary(6, 1) "
      "p = Tolm.Path.new() p:rect(2, 0, 4, 1) t:color(1, 1, 1, 1) t:fillPath(p)");
  EXPECT_EQ(px("t", 1, 0, 0), 0);
  EXPECT_EQ(px("t", 2, 0, 0), 255);
  // opaque black over white: inner sub-pixels get 253 of 255 and end at
  // 3; the spread reaches two sub-pixels beyond the run
  run("t = t:newTemporary(6, 1) q = Tolm.Path.new() q:rect(0, 0, 6, 1) t:color(1, 1, 1, 1) "
      "t:fillPath(q) p = Tolm.Path.new() p:rect(1, 0, 5, 1) t:color(0, 0, 0, 1) "
      "t:fillPath(p, 0, true)");
  EXPECT_EQ(px("t", 3, 0, 1), 3);
  EXPECT_EQ(px("t", 0, 0, 0), 255);
  EXPECT_LT(px("t", 0, 0, 1), 255);
  EXPECT_EQ(px("t", 5, 0, 2), 255);
}

// A window of scale 2 (a high-density screen): canvas units are two
// device pixels, temporaries follow, and no fill uses sub-pixels.
TEST_F(VectorialTest, ScaleTwoWindow)
{
  run("w = Tolm.Vectorial.new(function() end, 0, 0, 10, 10)");
  canvas("w")->surface->window->scale = 2;
  run("s = Tolm.Transform.new() w:setTransform(s)"); // the base transform stays 1:1 here
  EXPECT_EQ(run("w:setClip(1, 1, 2, 2) return table.concat({w:getClip()}, ',')"), "1,1,2,2");
  EXPECT_EQ(canvas("w")->clip.x1, 2);
  EXPECT_EQ(canvas("w")->clip.x2, 5);
  EXPECT_EQ(run("t = w:newTemporary(6, 3) return t:width() .. ',' .. t:height()"), "6,3");
  EXPECT_EQ(canvas("t")->view().rbuf.width(), 12u);
  run("p = Tolm.Path.new() p:rect(1, 0, 3, 3) t:color(1, 1, 1, 1) t:fillPath(p, 0, true)");
  EXPECT_EQ(px("t", 1, 0, 2), 0); // no spread into the neighbour
  EXPECT_EQ(px("t", 2, 0, 0), 255);
  EXPECT_EQ(px("t", 5, 5, 0), 255);
  EXPECT_EQ(px("t", 6, 0, 0), 0);
}

TEST_F(VectorialTest, TextDrawsWithAndWithoutLcd)
{
  run("w = Tolm.Vectorial.new(function() end, 0, 0, 1, 1) "
      "f = Tolm.Text.new() ok = f:setFont('DejaVu Sans', '', 20) f:selectGlyph(string.byte('I'))");
  if (run("return ok") != "true")
    GTEST_SKIP() << "no DejaVu Sans";
  run("a = w:newTemporary(20, 24) b = w:newTemporary(20, 24) c = w:newTemporary(20, 24) "
      "a:color(1, 1, 1, 1) b:color(1, 1, 1, 1) c:color(1, 1, 1, 1) "
      "a:fillText(5, 20, f) b:fillText(5, 20, f, false) c:strokeText(5, 20, f, 1)");
  int lcdColour = 0, greyOnly = 0, strokeInk = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 20; ++x) {
      if (px("a", x, y, 0) != px("a", x, y, 2))
        ++lcdColour;
      if (px("b", x, y, 0) != px("b", x, y, 2))
        ++greyOnly;
      strokeInk += px("c", x, y, 3) > 0;
    }
  EXPECT_GT(lcdColour, 0);
  EXPECT_EQ(greyOnly, 0);
  EXPECT_GT(strokeInk, 0);
}

// ---------------------------------------------------------------------------
// Events.

TEST_F(VectorialTest, EventTables)
{
  run("got = {} "
      "local function dump(t) local keys = {} "
      "  for k, v in pairs(t) do keys[#keys + 1] = k .. '=' .. (type(v) == 'table' and '{' .. dump(v) .. '}' or tostring(v)) end "
      "  table.sort(keys) return table.concat(keys, ' ') end "
      "_G.dump = dump "
      "w = Tolm.Vectorial.new(function(e) got[#got + 1] = dump(e) end, 0, 0, 20, 20)");
  Renderer* win = canvas("w")->surface->window;
  ASSERT_NE(win, nullptr);
  auto ev = [](uint32_t type) {
    Event e;
    e.type = type;
    e.x = 3;
    e.y = 4;
    return e;
  };
  Event move = ev(PointerMotion);
  move.modifiers = ModShift | ModAlt;
  Event press = ev(ButtonPress);
  press.button = 1;
  press.flags = 2;
  press.pressure = 0.5f;
  press.modifiers = ModControl;
  Event wheel = ev(ButtonRelease);
  wheel.button = 5;
  Event key = ev(KeyPress);
  key.keycode = 0x1234ABCD;
  memcpy(key.text, "\xc3\xa9", 2);
  Event key4 = ev(KeyRelease);
  key4.flags = 3;
  memcpy(key4.text, "\xf0\x9f\x98\x80", 4);
  Event other = ev(9);
  other.modifiers = 7;
  for (const Event& e : {move, press, wheel, key, key4, other})
    win->injectEvent(e);
  win->injectClose();
  deliver();
  canvas("w")->surface->handler->resized(win, 5, 6, 70, 80, true);
  const char* expect[] = {
      "alt=true pointer={pen=false touch=false type=move x=3 y=4} shift=true",
      "cntrl=true pointer={button=1 pen=true pressure=0.5 touch=false type=press x=3 y=4}",
      "pointer={button=5 pen=false touch=false type=release x=3 y=4}",
      "key={autoRepeat=false keycode=305441741 string=\xc3\xa9 type=press x=3 y=4}",
      "key={autoRepeat=true dead=true keycode=0 string=\xf0\x9f\x98\x80 type=release x=3 y=4}",
      "alt=true cntrl=true shift=true",
      "shouldClose=true",
      "frame={force=true h=80 w=70 x=5 y=6}",
  };
  ASSERT_EQ(run("return #got"), std::to_string(sizeof expect / sizeof *expect));
  for (size_t i = 0; i < sizeof expect / sizeof *expect; ++i)
    EXPECT_EQ(run("return got[" + std::to_string(i + 1) + "]"), expect[i]);
}

TEST_F(VectorialTest, RaisingHandlerPrintsOneLineAndGoesOn)
{
  run("n = 0 w = Tolm.Vectorial.new(function(e) n = n + 1 error('boom ' .. n) end, 0, 0, 5, 5)");
  Renderer* win = canvas("w")->surface->window;
  Event e;
  e.type = PointerMotion;
  win->injectEvent(e);
  win->injectEvent(e);
  testing::internal::CaptureStderr();
  deliver();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(run("return n"), "2");
  EXPECT_NE(err.find("eventWrapper: "), std::string::npos) << err;
  EXPECT_NE(err.find("boom 2"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
  EXPECT_EQ(lua_gettop(s->L), 0);
}

TEST_F(VectorialTest, HandlerClosingItsOwnWindow)
{
  run("w = Tolm.Vectorial.new(function(e) w:delete() w = nil collectgarbage() end, 0, 0, 5, 5)");
  Renderer* win = canvas("w")->surface->window;
  Event e;
  e.type = KeyPress;
  win->injectEvent(e);
  win->injectEvent(e); // not delivered: the window is going
  deliver();
  EXPECT_EQ(run("return tostring(w)"), "nil");
}

} // namespace
