// Test fixtures of the barcode reader: the symbols zint made (symbols.txt),
// tokens cut from their modules, and a renderer that draws them into images
// of any pixel type, scale, orientation and noise.
#pragma once

#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bardecode/bardecode.hh"
#include "bardecode/tokenizer.hh"
#include "image/Image.hh"
#include "tests/support/TestSupport.hh"

namespace bartest {

struct Symbol {
  std::string family; // ean8, ean13, upca, code128, gs1_128, code39, code25
  int type;           // the result's type bit
  std::string text;   // what the reader returns
  std::string modules;
};

inline int familyType(const std::string& f)
{
  using namespace BarDecode;
  if (f == "ean8") return ean8;
  if (f == "ean13") return ean13;
  if (f == "upca") return upca;
  if (f == "code128") return code128;
  if (f == "gs1_128") return gs1_128;
  if (f == "code39") return code39;
  if (f == "code25") return code25i;
  return 0;
}

inline std::string unescape(const std::string& s)
{
  std::string r;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 >= s.size()) {
      r += s[i];
    } else if (s[i + 1] == 't') {
      r += '\t';
      ++i;
    } else if (s[i + 1] == 'x' && i + 3 < s.size()) {
      r += (char)std::stoi(s.substr(i + 2, 2), nullptr, 16);
      i += 3;
    } else {
      r += s[++i];
    }
  }
  return r;
}

inline const std::vector<Symbol>& symbols()
{
  static std::vector<Symbol> all;
  if (all.empty()) {
    std::ifstream f(testsupport::sourceDir() + "/tests/bardecode/symbols.txt");
    std::string line;
    while (std::getline(f, line)) {
      if (line.empty() || line[0] == '#')
        continue;
      const size_t a = line.find('\t'), b = line.find('\t', a + 1);
      Symbol s;
      s.family = line.substr(0, a);
      s.type = familyType(s.family);
      s.text = unescape(line.substr(a + 1, b - a - 1));
      s.modules = line.substr(b + 1);
      all.push_back(s);
    }
  }
  return all;
}

inline std::vector<Symbol> family(const std::string& name)
{
  std::vector<Symbol> r;
  for (const Symbol& s : symbols())
    if (s.family == name)
      r.push_back(s);
  return r;
}

inline std::string mirrored(const std::string& modules)
{
  return std::string(modules.rbegin(), modules.rend());
}

// Runs of a module string at u pixels per module between light margins of
// `quiet` pixels: what the tokenizer yields for a crisp line.
inline std::vector<BarDecode::token_t> tokensOf(const std::string& modules, unsigned u,
                                                unsigned quiet)
{
  std::vector<BarDecode::token_t> t;
  t.push_back({false, quiet});
  for (char c : modules) {
    const bool black = c == '1';
    if (t.back().first == black)
      t.back().second += u;
    else
      t.push_back({black, u});
  }
  if (t.back().first)
    t.push_back({false, quiet});
  else
    t.back().second += quiet;
  return t;
}

struct Render {
  int module = 2;     // pixels per module
  int quiet = 10;     // light modules on each side
  int length = 24;    // pixels across the bars
  int orientation = 0; // 0 rows, 1 rows mirrored, 2 columns, 3 columns mirrored
  double noise = 0;   // uniform noise of +-noise levels (8-bit scale)
  uint32_t seed = 1;
  int spp = 1, bps = 8;
  int dark = 0, light = 255;
};

// Luminance along the line, 8-bit scale.
inline std::vector<int> profile(const std::string& modules, const Render& r)
{
  std::vector<int> p;
  for (int i = 0; i < r.quiet * r.module; ++i) p.push_back(r.light);
  for (char c : modules)
    for (int i = 0; i < r.module; ++i) p.push_back(c == '1' ? r.dark : r.light);
  for (int i = 0; i < r.quiet * r.module; ++i) p.push_back(r.light);
  return p;
}

inline void setGray(Image& img, int x, int y, int v)
{
  if (v < 0) v = 0;
  if (v > 255) v = 255;
  if (img.bps == 16) {
    for (int c = 0; c < img.spp; ++c) testsupport::setSampleAt(img, x, y, c, v * 257);
  } else if (img.bps == 8) {
    for (int c = 0; c < img.spp; ++c) testsupport::setSampleAt(img, x, y, c, c == 3 ? 255 : v);
  } else {
    testsupport::setSampleAt(img, x, y, 0, v >> (8 - img.bps));
  }
}

// Places the symbol's line profile into img at (x0, y0) (its top-left
// corner, after orientation); img must be large enough.
inline void draw(Image& img, const std::string& modules, const Render& r, int x0, int y0)
{
  std::mt19937 rng(r.seed);
  std::uniform_real_distribution<double> noise(-r.noise, r.noise);
  std::vector<int> p = profile(r.orientation & 1 ? mirrored(modules) : modules, r);
  const int n = (int)p.size();
  for (int a = 0; a < r.length; ++a)
    for (int i = 0; i < n; ++i) {
      const int v = p[i] + (r.noise > 0 ? (int)noise(rng) : 0);
      if (r.orientation < 2)
        setGray(img, x0 + i, y0 + a, v);
      else
        setGray(img, x0 + a, y0 + i, v);
    }
}

// An image holding just the symbol with its margins.
inline void render(Image& img, const std::string& modules, const Render& r)
{
  const int n = (int)(modules.size() + 2 * r.quiet) * r.module;
  img.spp = (uint8_t)r.spp;
  img.bps = (uint8_t)r.bps;
  if (r.orientation < 2)
    img.resize(n, r.length);
  else
    img.resize(r.length, n);
  draw(img, modules, r, 0, 0);
  img.setRawData();
}

} // namespace bartest
