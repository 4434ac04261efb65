#include "fonts/system_fonts.hh"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fonts/FontTests.hh"
#include "tests/support/TestSupport.hh"

using fonts::FontLocation;
using fonts::Resolution;

namespace {

std::string baseName(const std::string& path)
{
  return path.substr(path.rfind('/') + 1);
}

// fontconfig's own answer for a pattern, from its command-line tool.
std::string fcMatchFile(const std::string& tool, const std::string& pattern)
{
  std::string out;
  testsupport::run(tool + " -f '%{file}' '" + pattern + ":outline=true:scalable=true'", &out);
  return out;
}

} // namespace

TEST(SystemFonts, InstalledNamesResolveInOrder)
{
  REQUIRE_FONT(fonttest::dejavuSans);
  struct Case {
    const char* name;
    const char* style;
    Resolution how;
    const char* file;
  } cases[] = {
      {"DejaVuSans-Bold", "", Resolution::PostScriptName, "DejaVuSans-Bold.ttf"},
      {"dejavusans-bold", "", Resolution::PostScriptName, "DejaVuSans-Bold.ttf"},
      {"DejaVuSans", "Bold", Resolution::PostScriptName, "DejaVuSans-Bold.ttf"},
      {"DejaVu Sans", "", Resolution::FullName, "DejaVuSans.ttf"},
      {"DejaVu Serif Bold", "", Resolution::FullName, "DejaVuSerif-Bold.ttf"},
      {"DejaVu Sans", "Bold", Resolution::FamilyStyle, "DejaVuSans-Bold.ttf"},
      {"DejaVu Serif-Italic", "", Resolution::FamilyStyle, "DejaVuSerif-Italic.ttf"},
      {"DejaVu Sans Mono-Bold", "", Resolution::FamilyStyle, "DejaVuSansMono-Bold.ttf"},
      // A style the family lacks lands on its nearest face.
      {"DejaVu Sans", "Bold Italic", Resolution::BestMatch, "DejaVuSans-BoldOblique.ttf"},
      {"Monaco", "", Resolution::Alias, "DejaVuSansMono.ttf"},
      {"Menlo", "Bold", Resolution::Alias, "DejaVuSansMono-Bold.ttf"},
  };
  for (const Case& c : cases) {
    FontLocation loc;
    Resolution how = Resolution::None;
    ASSERT_TRUE(fonts::resolveFont(c.name, c.style, loc, &how)) << c.name;
    EXPECT_EQ(int(how), int(c.how)) << c.name << " / " << c.style;
    EXPECT_EQ(baseName(loc.file), c.file) << c.name << " / " << c.style;
  }
}

TEST(SystemFonts, AliasesPreferMetricCompatibleFaces)
{
  REQUIRE_FONT(fonttest::dejavuSans);
  struct Case {
    const char* name;
    const char* style;
    std::vector<std::string> families; // acceptable stand-ins
    bool bold;
  } cases[] = {
      {"Helvetica", "", {"Nimbus Sans", "Liberation Sans", "Arimo", "DejaVu Sans"}, false},
      {"Helvetica-Bold", "", {"Nimbus Sans", "Liberation Sans", "Arimo", "DejaVu Sans"}, true},
      {"Times New Roman", "", {"Liberation Serif", "Tinos", "Nimbus Roman", "DejaVu Serif"}, false},
      {"Times", "Bold", {"Nimbus Roman", "Liberation Serif", "Tinos", "DejaVu Serif"}, true},
      {"Courier", "", {"Nimbus Mono PS", "Liberation Mono", "Cousine", "DejaVu Sans Mono"}, false},
  };
  for (const Case& c : cases) {
    FontLocation loc;
    Resolution how = Resolution::None;
    ASSERT_TRUE(fonts::resolveFont(c.name, c.style, loc, &how)) << c.name;
    EXPECT_EQ(int(how), int(Resolution::Alias)) << c.name;
    EXPECT_NE(std::find(c.families.begin(), c.families.end(), loc.family), c.families.end())
        << c.name << " -> " << loc.family;
    EXPECT_EQ(loc.style.find("Bold") != std::string::npos, c.bold) << c.name << " -> " << loc.style;
  }
}

TEST(SystemFonts, GenericAndUnknownNamesTakeFontconfigsChoice)
{
  REQUIRE_TOOL(fcmatch, "fc-match");
  for (const char* name : {"sans-serif", "serif", "monospace", "cursive", "NoSuchFontXyzzy"}) {
    FontLocation loc;
    Resolution how = Resolution::None;
    ASSERT_TRUE(fonts::resolveFont(name, "", loc, &how)) << name;
    EXPECT_EQ(int(how), int(Resolution::BestMatch)) << name;
    EXPECT_EQ(loc.file, fcMatchFile(fcmatch, name)) << name;
  }
}

TEST(SystemFonts, LookupsAreCachedByNameAndStyle)
{
  REQUIRE_FONT(fonttest::dejavuSans);
  FontLocation a, b, c;
  ASSERT_TRUE(fonts::resolveFont("DejaVu Sans", "Bold", a));
  ASSERT_TRUE(fonts::resolveFont("DejaVu Sans", "", b));
  ASSERT_TRUE(fonts::resolveFont("DejaVu Sans", "Bold", c));
  EXPECT_EQ(a.file, c.file);
  EXPECT_NE(a.file, b.file);
}

TEST(SystemFonts, SystemFontIsAnInstalledPostScriptName)
{
  REQUIRE_TOOL(fcmatch, "fc-match");
  std::string name = fonts::systemFontName();
  ASSERT_FALSE(name.empty());
  std::string expected;
  testsupport::run(fcmatch + " -f '%{postscriptname}' 'system-ui:outline=true:scalable=true'",
                   &expected);
  EXPECT_EQ(name, expected);
  FontLocation loc;
  Resolution how = Resolution::None;
  ASSERT_TRUE(fonts::resolveFont(name, "", loc, &how));
  EXPECT_EQ(int(how), int(Resolution::PostScriptName));
}

TEST(FontFace, FilesAreSharedAndBytesAreCopied)
{
  REQUIRE_FONT(fonttest::dejavuSans);
  auto a = fonts::FontFace::openFile(fonttest::dejavuSans, 0);
  auto b = fonts::FontFace::openFile(fonttest::dejavuSans, 0);
  ASSERT_TRUE(a);
  EXPECT_EQ(a.get(), b.get());
  EXPECT_EQ(a->unitsPerEm(), 2048u);

  std::shared_ptr<fonts::FontFace> m;
  {
    std::string bytes = testsupport::readFile(fonttest::dejavuSans);
    m = fonts::FontFace::openMemory(bytes.data(), bytes.size());
    bytes.assign(bytes.size(), '\0'); // the face must not see this
  }
  ASSERT_TRUE(m);
  ASSERT_EQ(FT_Load_Glyph(m->face(), FT_Get_Char_Index(m->face(), 'g'), FT_LOAD_NO_SCALE), 0);
  EXPECT_GT(m->face()->glyph->outline.n_points, 10);
}

TEST(FontFace, InvalidBytesAndFilesGiveNoFace)
{
  std::string junk(4096, 'x');
  std::string truncated = testsupport::readFile(fonttest::dejavuSans).substr(0, 100);
  EXPECT_FALSE(fonts::FontFace::openMemory(junk.data(), junk.size()));
  EXPECT_FALSE(fonts::FontFace::openMemory(junk.data(), 0));
  EXPECT_FALSE(fonts::FontFace::openMemory(nullptr, 10));
  if (!truncated.empty()) {
    EXPECT_FALSE(fonts::FontFace::openMemory(truncated.data(), truncated.size()));
  }
  EXPECT_FALSE(fonts::FontFace::openFile("/nonexistent/font.ttf", 0));
  EXPECT_FALSE(fonts::FontFace::openFile(fonttest::dejavuSans, 5));
}
