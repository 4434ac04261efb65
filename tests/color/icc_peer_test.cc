// applyICC against lcms2: colours through icctool and transicc, whole
// images against tificc, for the real RGB profiles of icc-profiles-free and
// colord-data, the embedded sRGB profile, devicelinks made with linkicc and
// synthetic table profiles. Every channel within 2 levels.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "color/ColorManagement.hh"
#include "color/sRGBProfile.hh"
#include "tests/color/ICCBuilder.hh"
#include "tests/support/TestSupport.hh"

using namespace iccb;
using testsupport::run;

namespace {

std::string icctool()
{
  return ICCTOOL;
}

// The peer colours: a 12-level cube with the corners and near-black and
// near-white levels where encodings differ most.
std::string colours()
{
  static const int v[] = {0, 1, 8, 30, 64, 100, 128, 160, 200, 230, 254, 255};
  std::ostringstream s;
  for (int r : v)
    for (int g : v)
      for (int b : v)
        s << r << " " << g << " " << b << "\n";
  return s.str();
}

std::vector<double> numbers(const std::string& text)
{
  std::vector<double> r;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || !(isdigit((unsigned char)line[0]) || line[0] == '-'))
      continue; // banner lines
    std::istringstream l(line);
    double d;
    while (l >> d)
      r.push_back(d);
  }
  return r;
}

// Largest channel difference between our bytes and lcms's (clamped) values.
double worst(const std::vector<double>& ours, const std::vector<double>& theirs, std::string& where)
{
  if (ours.size() != theirs.size() || ours.empty()) {
    where = "sizes " + std::to_string(ours.size()) + " vs " + std::to_string(theirs.size());
    return 1e9;
  }
  double m = 0;
  for (size_t i = 0; i < ours.size(); ++i) {
    const double t = std::min(255.0, std::max(0.0, theirs[i]));
    if (std::abs(ours[i] - t) > m) {
      m = std::abs(ours[i] - t);
      where = "value " + std::to_string(i) + ": " + std::to_string(ours[i]) + " vs " + std::to_string(theirs[i]);
    }
  }
  return m;
}

// Through the library, in this process.
std::vector<double> ourColoursInProcess(const std::string& profile)
{
  const std::vector<double> in = numbers(colours());
  const int n = (int)(in.size() / 3);
  Image img = testsupport::makeImage(n, 1, 3, 8);
  for (int i = 0; i < 3 * n; ++i)
    img.data[i] = (uint8_t)in[(size_t)i];
  std::istringstream bytes(testsupport::readFile(profile));
  testing::internal::CaptureStderr();
  applyICC(img, bytes);
  testing::internal::GetCapturedStderr();
  return std::vector<double>(img.data, img.data + 3 * n);
}

// Through icctool.
std::vector<double> ourColours(const std::string& profile, const testsupport::TempDir& dir)
{
  testsupport::writeFile(dir.file("colours.txt"), colours());
  std::string out;
  run(icctool() + " '" + profile + "' < " + dir.file("colours.txt") + " 2>/dev/null", &out);
  return numbers(out);
}

std::string lcmsColours(const std::string& tool, const std::string& args, const std::string& input,
                        const testsupport::TempDir& dir)
{
  testsupport::writeFile(dir.file("in.txt"), input);
  std::string out;
  run(tool + " -n -t1 " + args + " < " + dir.file("in.txt") + " 2>/dev/null", &out);
  return out;
}

bool isRGBProfile(const std::string& path)
{
  const std::string b = testsupport::readFile(path);
  return b.size() > 132 && b.compare(16, 4, "RGB ") == 0 && b.compare(36, 4, "acsp") == 0;
}

std::vector<std::string> packagedProfiles()
{
  std::vector<std::string> r;
  for (const char* d : {"/usr/share/color/icc", "/usr/share/color/icc/colord"}) {
    DIR* dir = opendir(d);
    if (!dir)
      continue;
    while (dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".icc") == 0 && isRGBProfile(std::string(d) + "/" + name))
        r.push_back(std::string(d) + "/" + name);
    }
    closedir(dir);
  }
  return r;
}

// A wide-gamut matrix profile of our own, so that the devicelinks below
// do more than the identity.
std::string wideProfile()
{
  Profile p;
  p.cls = "mntr";
  const std::string trc = para(0, {1.8});
  p.tag("wtpt", xyz(0.9642, 1.0, 0.8249))
      .tag("rXYZ", xyz(0.7977, 0.2880, 0.0))
      .tag("gXYZ", xyz(0.1352, 0.7119, 0.0))
      .tag("bXYZ", xyz(0.0313, 0.0001, 0.8249))
      .tag("rTRC", trc).tag("gTRC", trc).tag("bTRC", trc);
  return p.bytes();
}

// Table profiles with every stage in use: Lab output curves, and a
// version-4 XYZ table with M curves, matrix and B curves.
std::vector<std::pair<std::string, std::string>> syntheticTables()
{
  std::vector<std::pair<std::string, std::string>> r;
  // Lab of a gamma-2.2 RGB with the neutral axis bent by curves.
  auto labGrid = [](int g) {
    return [g](int i0, int i1, int i2, unsigned* o) {
      const double r = (double)i0 / (g - 1), gg = (double)i1 / (g - 1), b = (double)i2 / (g - 1);
      const double L = 100 * (0.3 * r + 0.6 * gg + 0.1 * b);
      const double a = 60 * (r - gg), bb = 60 * (gg - b);
      o[0] = (unsigned)std::lround(L * 652.80);
      o[1] = (unsigned)std::lround((a + 128) * 256);
      o[2] = (unsigned)std::lround((bb + 128) * 256);
    };
  };
  {
    std::vector<unsigned> in(256), out(256);
    for (int i = 0; i < 256; ++i) {
      in[(size_t)i] = (unsigned)std::lround(65535 * std::pow(i / 255.0, 2.2));
      out[(size_t)i] = (unsigned)std::lround(65535 * std::pow(i / 255.0, 0.9));
    }
    Profile p;
    p.pcs = "Lab ";
    p.tag("A2B0", mft2(3, 3, 17, in, labGrid(17), out));
    p.tag("wtpt", xyz(0.9642, 1.0, 0.8249));
    r.emplace_back("lab-lut16-curves.icc", p.bytes());
  }
  {
    Profile p;
    p.pcs = "XYZ ";
    p.version = 0x04300000;
    std::string matrix;
    const double m[12] = {0.8, 0.1, 0.05, 0.05, 0.85, 0.05, 0.0, 0.1, 0.7, 0.02, 0.01, 0.03};
    for (double v : m)
      matrix += s15(v);
    const std::string g = para(0, {1.2}), bc = para(0, {0.9});
    auto xyzGrid = [](int i0, int i1, int i2, unsigned* o) {
      const double r = i0 / 8.0, gg = i1 / 8.0, b = i2 / 8.0;
      o[0] = (unsigned)std::lround(65535 * 0.5 * (0.44 * r + 0.39 * gg + 0.14 * b));
      o[1] = (unsigned)std::lround(65535 * 0.5 * (0.22 * r + 0.72 * gg + 0.06 * b));
      o[2] = (unsigned)std::lround(65535 * 0.5 * (0.01 * r + 0.10 * gg + 0.71 * b));
    };
    p.tag("A2B0", mAB(curveSet(bc, bc, bc), matrix, curveSet(g, g, g), clut(9, 9, 9, 2, xyzGrid),
                      curveSet(para(0, {2.2}), para(0, {2.2}), para(0, {2.2}))));
    p.tag("wtpt", xyz(0.9642, 1.0, 0.8249));
    r.emplace_back("xyz-lutAtoB-matrix.icc", p.bytes());
  }
  return r;
}

} // namespace

TEST(IccPeer, InputProfilesAgainstTransicc)
{
  REQUIRE_TOOL(transicc, "transicc");
  testsupport::TempDir dir;
  std::vector<std::string> profiles = packagedProfiles();
  if (profiles.empty()) {
    if (testsupport::underCI())
      FAIL() << "no profiles of icc-profiles-free or colord-data";
    std::cerr << "no packaged RGB profiles; checking our own\n";
  }
  testsupport::writeFile(dir.file("srgb.icc"), std::string((const char*)srgbProfile, srgbProfileSize));
  testsupport::writeFile(dir.file("wide.icc"), wideProfile());
  profiles.push_back(dir.file("srgb.icc"));
  profiles.push_back(dir.file("wide.icc"));
  for (auto& t : syntheticTables()) {
    testsupport::writeFile(dir.file(t.first), t.second);
    profiles.push_back(dir.file(t.first));
  }
  for (const std::string& p : profiles) {
    const std::vector<double> theirs = numbers(lcmsColours(transicc, "-i '" + p + "' -o '*sRGB'", colours(), dir));
    std::string where;
    EXPECT_LE(worst(ourColoursInProcess(p), theirs, where), 2.0) << p << " " << where;
  }
}

// Devicelinks from RGB to Lab and XYZ, versions 2 and 4: their outputs
// taken to sRGB by lcms are what our conversion must give.
TEST(IccPeer, LinkiccTablesAgainstTransicc)
{
  REQUIRE_TOOL(transicc, "transicc");
  REQUIRE_TOOL(linkicc, "linkicc");
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("wide.icc"), wideProfile());
  struct Case {
    const char* version;
    const char* pcs;
  } cases[] = {{"2.1", "*Lab2"}, {"4.3", "*Lab4"}, {"2.1", "*XYZ"}, {"4.3", "*XYZ"}};
  for (const Case& c : cases) {
    const std::string link = dir.file(std::string("link") + c.version + c.pcs + ".icc");
    ASSERT_EQ(run(linkicc + " -t1 -r" + c.version + " -o '" + link + "' '" + dir.file("wide.icc") + "' '" +
                  c.pcs + "' >/dev/null 2>&1"),
              0);
    const std::string pcsValues = lcmsColours(transicc, "-l '" + link + "'", colours(), dir);
    const std::string back = std::string(c.pcs).find("Lab") != std::string::npos ? "*Lab" : "*XYZ";
    const std::vector<double> theirs = numbers(lcmsColours(transicc, "-i " + back + " -o '*sRGB'", pcsValues, dir));
    std::string where;
    EXPECT_LE(worst(ourColours(link, dir), theirs, where), 2.0) << link << " " << where;
  }
}

TEST(IccPeer, ImagesAgainstTificc)
{
  REQUIRE_TOOL(tificc, "tificc");
  REQUIRE_TOOL(python, "python3");
  testsupport::TempDir dir;
  Image img = testsupport::makeImage(61, 47, 3, 8);
  testsupport::fillPattern(img, 11);
  ASSERT_TRUE(testsupport::writePNM(img, dir.file("in.ppm")));
  auto pil = [&](const std::string& from, const std::string& to) {
    return run("/usr/bin/python3 -c \"from PIL import Image; Image.open('" + from + "').save('" + to + "')\"");
  };
  ASSERT_EQ(pil(dir.file("in.ppm"), dir.file("in.tif")), 0);

  testsupport::writeFile(dir.file("wide.icc"), wideProfile());
  std::vector<std::string> profiles = {dir.file("wide.icc")};
  for (auto& t : syntheticTables()) {
    testsupport::writeFile(dir.file(t.first), t.second);
    profiles.push_back(dir.file(t.first));
  }
  for (const std::string& p : profiles) {
    ASSERT_EQ(run(tificc + " -t1 -i '" + p + "' -o '*sRGB' " + dir.file("in.tif") + " " + dir.file("lcms.tif") +
                  " >/dev/null 2>&1"),
              0)
        << p;
    ASSERT_EQ(pil(dir.file("lcms.tif"), dir.file("lcms.ppm")), 0);
    ASSERT_EQ(run(icctool() + " '" + p + "' " + dir.file("in.ppm") + " " + dir.file("ours.ppm") + " 2>/dev/null"), 0);
    Image ours, lcms;
    ASSERT_TRUE(testsupport::readPNM(ours, dir.file("ours.ppm")));
    ASSERT_TRUE(testsupport::readPNM(lcms, dir.file("lcms.ppm")));
    ASSERT_EQ(ours.w, lcms.w);
    int m = 0;
    for (int y = 0; y < ours.h; ++y)
      for (int x = 0; x < ours.w; ++x)
        for (int c = 0; c < 3; ++c)
          m = std::max(m, std::abs(testsupport::sampleAt(ours, x, y, c) - testsupport::sampleAt(lcms, x, y, c)));
    EXPECT_LE(m, 2) << p;
  }
}
