// Our reader against zbarimg on a few hundred symbols of the six families
// in four orientations and at two noise levels: every symbol zbarimg reads
// must be read by us with the same text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>
#include <iostream>
#include <map>

#include "bardecode/read_barcodes.hh"
#include "symbols.hh"

using namespace BarDecode;

namespace {

std::string base64(const std::string& in)
{
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : in) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else continue;
    acc = (acc << 6) | (uint32_t)v;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += (char)((acc >> bits) & 0xFF);
    }
  }
  return out;
}

std::string attribute(const std::string& tag, const std::string& name)
{
  const size_t a = tag.find(name + "='");
  if (a == std::string::npos)
    return "";
  const size_t b = a + name.size() + 2;
  return tag.substr(b, tag.find('\'', b) - b);
}

// zbarimg's symbols in our terms: EAN check digits dropped, an EAN-13
// with a leading 0 is a UPC-A, GS1 marks a leading FNC1.
scanner_result_t fromZbar(const std::string& symbol)
{
  const std::string type = attribute(symbol, "type");
  const size_t c = symbol.find("<![CDATA[") + 9;
  std::string text = symbol.substr(c, symbol.find("]]>", c) - c);
  if (attribute(symbol, "format") == "base64")
    text = base64(text);
  scanner_result_t r;
  r.valid = true;
  r.code = text;
  if (type == "EAN-8" || type == "EAN-13") {
    r.code.pop_back();
    r.type = type == "EAN-8" ? ean8 : ean13;
    if (type == "EAN-13" && r.code[0] == '0') {
      r.type = upca;
      r.code.erase(0, 1);
    }
  } else if (type == "CODE-128") {
    r.type = attribute(symbol, "modifiers") == "GS1" ? gs1_128 : code128;
  } else if (type == "CODE-39") {
    r.type = code39;
  } else if (type == "I2/5") {
    r.type = code25i;
  }
  return r;
}

// Symbols per file from one zbarimg --xml run.
std::map<std::string, std::vector<scanner_result_t>> zbarRead(const std::string& zbarimg,
                                                              const std::string& dir,
                                                              const std::vector<std::string>& files)
{
  std::string cmd = "cd '" + dir + "' && '" + zbarimg + "' --xml -q";
  for (const auto& f : files)
    cmd += " " + f;
  cmd += " 2>/dev/null";
  std::string out;
  testsupport::run(cmd, &out);
  std::map<std::string, std::vector<scanner_result_t>> found;
  size_t pos = 0;
  while ((pos = out.find("<source href='", pos)) != std::string::npos) {
    const size_t end = out.find("</source>", pos);
    const std::string source = out.substr(pos, end - pos);
    auto& list = found[attribute(source, "href")];
    size_t s = 0;
    while ((s = source.find("<symbol ", s)) != std::string::npos) {
      const size_t e = source.find("</symbol>", s);
      list.push_back(fromZbar(source.substr(s, e - s)));
      s = e;
    }
    pos = end;
  }
  return found;
}

} // namespace

TEST(Peer, ReadsWhatZbarReads)
{
  REQUIRE_TOOL(zbarimg, "zbarimg");
  testsupport::TempDir tmp;
  struct Item {
    std::string file;
    bartest::Symbol symbol;
    std::vector<scanner_result_t> ours;
  };
  std::vector<Item> items;
  int i = 0;
  for (const auto& s : bartest::symbols())
    for (int orientation = 0; orientation < 4; ++orientation)
      for (double noise : {0.0, 10.0}) {
        bartest::Render r;
        r.module = 1 + i % 4;
        r.orientation = orientation;
        r.noise = noise;
        r.seed = (uint32_t)(1000 + i);
        r.length = 30;
        Image img;
        bartest::render(img, s.modules, r);
        Item it{"s" + std::to_string(i++) + ".pgm", s, read_barcodes(img, any_code)};
        ASSERT_TRUE(testsupport::writePNM(img, tmp.file(it.file)));
        items.push_back(it);
      }
  ASSERT_GE(items.size(), 300u);

  std::vector<std::string> files;
  for (const auto& it : items)
    files.push_back(it.file);
  const auto zbar = zbarRead(zbarimg, tmp.path(), files);

  int zbarReads = 0, ourReads = 0, both = 0;
  for (const auto& it : items) {
    const std::string what = it.file + " " + it.symbol.family + " " + it.symbol.text;
    bool oursRight = false;
    for (const auto& h : it.ours) {
      EXPECT_EQ(h.type, it.symbol.type) << what << ": no false reads";
      EXPECT_EQ(h.code, it.symbol.text) << what << ": no false reads";
      oursRight = oursRight || (h.type == it.symbol.type && h.code == it.symbol.text);
    }
    ourReads += oursRight;
    auto z = zbar.find(it.file);
    if (z == zbar.end() || z->second.empty())
      continue;
    ++zbarReads;
    for (const auto& zs : z->second) {
      EXPECT_EQ(zs.type, it.symbol.type) << what << " (zbar)";
      EXPECT_EQ(zs.code, it.symbol.text) << what << " (zbar)";
    }
    EXPECT_TRUE(oursRight) << what << ": zbarimg reads it, we do not";
    both += oursRight;
  }
  std::cout << "images " << items.size() << ", zbarimg read " << zbarReads << ", we read "
            << ourReads << ", both " << both << "\n";
  RecordProperty("images", (int)items.size());
  RecordProperty("zbarimg", zbarReads);
  RecordProperty("ours", ourReads);
  EXPECT_GT(zbarReads, 250);
}

TEST(Peer, Bartool)
{
  const std::string tool = BARTOOL;
  testsupport::TempDir tmp;
  Image img;
  bartest::Render r;
  r.orientation = 2;
  for (const auto& s : bartest::family("code128"))
    if (s.text == "A\tB\x01" "C")
      bartest::render(img, s.modules, r);
  ASSERT_GT(img.w, 0);
  ASSERT_TRUE(testsupport::writePNM(img, tmp.file("c.pgm")));
  std::string out;
  EXPECT_EQ(testsupport::run("'" + tool + "' " + tmp.file("c.pgm"), &out), 0);
  EXPECT_EQ(out, "code128\tA\\x09B\\x01C\t0\t19\n");
  EXPECT_EQ(testsupport::run("'" + tool + "' " + tmp.file("c.pgm") + " --types ean", &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(testsupport::run("'" + tool + "' " + tmp.file("c.pgm") + " --directions 1", &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_NE(testsupport::run("'" + tool + "' " + tmp.file("missing.pgm") + " 2>/dev/null", &out), 0);
  EXPECT_NE(testsupport::run("'" + tool + "' " + tmp.file("c.pgm") + " --lines x 2>/dev/null", &out), 0);
}
