// Builds ICC profiles byte by byte for the tests: a header, a tag table and
// tag data, with helpers for the element types the parser reads.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace iccb {

inline std::string be16(unsigned v) { return std::string{(char)(v >> 8), (char)v}; }
inline std::string be32(uint32_t v) { return be16(v >> 16) + be16(v & 0xffff); }
inline std::string s15(double v) { return be32((uint32_t)(int32_t)std::lround(v * 65536.0)); }
inline std::string pad4(std::string s)
{
  while (s.size() % 4)
    s += '\0';
  return s;
}

inline std::string xyz(double x, double y, double z) { return "XYZ " + be32(0) + s15(x) + s15(y) + s15(z); }

inline std::string curv(const std::vector<unsigned>& entries)
{
  std::string s = "curv" + be32(0) + be32((uint32_t)entries.size());
  for (unsigned e : entries)
    s += be16(e);
  return s;
}
inline std::string curvGamma(double gamma) { return "curv" + be32(0) + be32(1) + be16((unsigned)std::lround(gamma * 256)); }
inline std::string curvIdentity() { return "curv" + be32(0) + be32(0); }
inline std::string para(unsigned type, const std::vector<double>& params)
{
  std::string s = "para" + be32(0) + be16(type) + be16(0);
  for (double p : params)
    s += s15(p);
  return s;
}

// A linear ramp of n entries.
inline std::vector<unsigned> ramp(int n)
{
  std::vector<unsigned> r((size_t)n);
  for (int i = 0; i < n; ++i)
    r[(size_t)i] = (unsigned)std::lround(65535.0 * i / (n - 1));
  return r;
}

// lut16: input tables (n entries, the same for all channels), g^3 grid
// points from f(i0, i1, i2, out[3]) in file order, output tables.
template <typename F>
std::string mft2(int in, int out, int g, const std::vector<unsigned>& inTable, F grid,
                 const std::vector<unsigned>& outTable)
{
  std::string s = "mft2" + be32(0);
  s += (char)in;
  s += (char)out;
  s += (char)g;
  s += '\0';
  for (int i = 0; i < 9; ++i)
    s += s15(i % 4 == 0 ? 1.0 : 0.0);
  s += be16((unsigned)inTable.size()) + be16((unsigned)outTable.size());
  for (int c = 0; c < in; ++c)
    for (unsigned e : inTable)
      s += be16(e);
  for (int i0 = 0; i0 < g; ++i0)
    for (int i1 = 0; i1 < g; ++i1)
      for (int i2 = 0; i2 < g; ++i2) {
        unsigned o[3];
        grid(i0, i1, i2, o);
        for (int c = 0; c < out; ++c)
          s += be16(o[c % 3]);
      }
  for (int c = 0; c < out; ++c)
    for (unsigned e : outTable)
      s += be16(e);
  return s;
}

// lutAtoB: each element given as bytes ("" = absent), laid out in the order
// A curves, CLUT, M curves, matrix, B curves as profile makers do.
inline std::string mAB(const std::string& bCurves, const std::string& matrix, const std::string& mCurves,
                       const std::string& clut, const std::string& aCurves, int in = 3, int out = 3)
{
  std::string body;
  uint32_t off[5] = {0, 0, 0, 0, 0};
  const std::string* el[5] = {&bCurves, &matrix, &mCurves, &clut, &aCurves};
  const int order[5] = {4, 3, 2, 1, 0};
  for (int k : order) {
    if (el[k]->empty())
      continue;
    off[k] = (uint32_t)(32 + body.size());
    body += pad4(*el[k]);
  }
  std::string s = "mAB " + be32(0);
  s += (char)in;
  s += (char)out;
  s += be16(0);
  for (uint32_t o : off)
    s += be32(o);
  return s + body;
}

inline std::string curveSet(const std::string& a, const std::string& b, const std::string& c)
{
  return pad4(a) + pad4(b) + c;
}

// CLUT element: grid points per axis, precision 1 or 2, points from f.
template <typename F>
std::string clut(int g0, int g1, int g2, int prec, F grid)
{
  std::string s(16, '\0');
  s[0] = (char)g0;
  s[1] = (char)g1;
  s[2] = (char)g2;
  s += (char)prec;
  s += std::string(3, '\0');
  for (int i0 = 0; i0 < g0; ++i0)
    for (int i1 = 0; i1 < g1; ++i1)
      for (int i2 = 0; i2 < g2; ++i2) {
        unsigned o[3];
        grid(i0, i1, i2, o);
        for (int c = 0; c < 3; ++c)
          s += prec == 1 ? std::string(1, (char)o[c]) : be16(o[c]);
      }
  return s;
}

struct Profile {
  std::string cmm = "test", space = "RGB ", pcs = "XYZ ", cls = "scnr";
  uint32_t version = 0x02100000;
  std::vector<std::pair<std::string, std::string>> tags;

  Profile& tag(const std::string& sig, const std::string& data)
  {
    tags.emplace_back(sig, data);
    return *this;
  }

  std::string bytes() const
  {
    std::string table = be32((uint32_t)tags.size()), data;
    const uint32_t start = 128 + 4 + 12 * (uint32_t)tags.size();
    for (auto& t : tags) {
      table += t.first + be32(start + (uint32_t)data.size()) + be32((uint32_t)t.second.size());
      data += pad4(t.second);
    }
    std::string h(128, '\0');
    const std::string size = be32(128 + (uint32_t)(table.size() + data.size()));
    h.replace(0, 4, size);
    h.replace(4, 4, cmm);
    h.replace(8, 4, be32(version));
    h.replace(12, 4, cls);
    h.replace(16, 4, space);
    h.replace(20, 4, pcs);
    h.replace(36, 4, "acsp");
    return h + table + data;
  }
};

// The D50 colorants of sRGB and its curve as a para type 3 element.
inline Profile matrixProfile(const std::string& trc)
{
  Profile p;
  p.cls = "mntr";
  p.tag("wtpt", xyz(0.9642, 1.0, 0.8249))
      .tag("rXYZ", xyz(0.4361, 0.2225, 0.0139))
      .tag("gXYZ", xyz(0.3851, 0.7169, 0.0971))
      .tag("bXYZ", xyz(0.1431, 0.0606, 0.7141))
      .tag("rTRC", trc)
      .tag("gTRC", trc)
      .tag("bTRC", trc);
  return p;
}

inline std::string srgbPara() { return para(3, {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045}); }

} // namespace iccb
