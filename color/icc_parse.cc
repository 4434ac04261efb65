// Reading ICC input profiles into ICCProfileState. The profile is untrusted:
// it is read into memory first and every count and offset is checked
// against the bytes present before anything is allocated; an element that
// does not fit counts as absent, with one trace line.
#include "color/ICC.hh"

#include <cmath>
#include <iostream>
#include <sstream>

#include "utility/Saturate.hh"

namespace {

// Trace lines go to standard error whole, so that a line never interleaves.
struct Trace {
  std::ostringstream s;
  template <typename T>
  Trace& operator<<(const T& v) { s << v; return *this; }
  ~Trace() { s << '\n'; std::cerr << s.str() << std::flush; }
};

uint64_t align4(uint64_t p) { return (p + 3) & ~(uint64_t)3; }

// Position of an element `off` bytes from `base`, or false when it lies
// outside the profile.
bool elementAt(const ICCBytes& p, uint64_t base, int64_t off, uint64_t& pos)
{
  const int64_t at = (int64_t)base + off;
  if (off < 0 || at < 0 || (uint64_t)at > p.size())
    return false;
  pos = (uint64_t)at;
  return true;
}

double evalPara(int type, const double* g, double x)
{
  const double gamma = g[0];
  auto powPos = [](double b, double e) { return b > 0 ? std::pow(b, e) : 0.0; };
  switch (type) {
  case 0: return powPos(x, gamma);
  case 1: { const double t = g[1] * x + g[2]; return t >= 0 ? powPos(t, gamma) : 0.0; }
  case 2: { const double t = g[1] * x + g[2]; return (t >= 0 ? powPos(t, gamma) : 0.0) + g[3]; }
  case 3: return x >= g[4] ? powPos(g[1] * x + g[2], gamma) : g[3] * x;
  case 4: return x >= g[4] ? powPos(g[1] * x + g[2], gamma) + g[5] : g[3] * x + g[6];
  }
  return 0.0;
}

// Three curves of a set brought to one table of `n` entries per channel,
// values 0..1; curves of another length are resampled, identity curves
// (empty tables) become straight lines.
std::vector<float> combineCurves(const std::vector<uint16_t>* t, const int* counts, int n)
{
  std::vector<float> out((size_t)n * 3);
  for (int c = 0; c < 3; ++c) {
    const std::vector<uint16_t>& tab = t[c];
    const int m = tab.empty() ? 0 : counts[c];
    for (int i = 0; i < n; ++i) {
      float v;
      if (m == n) {
        v = tab[i] / 65535.0f;
      } else {
        const double x = n > 1 ? (double)i / (n - 1) : 0.0;
        if (m == 0) {
          v = (float)x;
        } else if (m == 1) {
          v = tab[0] / 65535.0f;
        } else {
          const double pos = x * (m - 1);
          int lo = (int)pos;
          if (lo > m - 2)
            lo = m - 2;
          const double f = pos - lo;
          v = (float)(((1 - f) * tab[lo] + f * tab[lo + 1]) / 65535.0);
        }
      }
      out[(size_t)i * 3 + c] = v;
    }
  }
  return out;
}

// Three curve elements in a row, each from the next multiple of 4 after the
// one before. Yields the set as one table and its entries per channel, or
// size 0 when the set is the identity or unusable.
int readCurveSet(const ICCBytes& p, uint64_t pos, std::vector<float>& table)
{
  std::vector<uint16_t> t[3];
  int counts[3] = {0, 0, 0};
  bool ok = true;
  for (int c = 0; c < 3; ++c) {
    if (c)
      pos = align4(pos);
    if (!readCurv(p, pos, t[c], counts[c]))
      ok = false;
  }
  table.clear();
  if (!ok)
    return 0;
  if (counts[0] != counts[1] || counts[1] != counts[2])
    Trace() << "aymetric curve dimensions: " << counts[0] << " " << counts[1] << " " << counts[2];
  if (t[0].empty() && t[1].empty() && t[2].empty())
    return 0;
  int n = 0;
  for (int c = 0; c < 3; ++c)
    if (!t[c].empty() && counts[c] > n)
      n = counts[c];
  if (n < 2)
    n = 2;
  table = combineCurves(t, counts, n);
  return n;
}

void readXYZ(const ICCBytes& p, uint64_t off, const char* name, float& x, float& y, float& z)
{
  if (!p.has(off, 20)) {
    Trace() << "truncated tag: " << name;
    return;
  }
  x = p.s15f16(off + 8);
  y = p.s15f16(off + 12);
  z = p.s15f16(off + 16);
}

// Grid points of `dims` from `pos`, `prec` bytes per output, stored on the
// 16-bit scale. False when they do not fit.
bool readGrid(const ICCBytes& p, uint64_t pos, const int* dims, int prec, ICCProfileState& s)
{
  const uint64_t points = (uint64_t)dims[0] * dims[1] * dims[2];
  if (!p.has(pos, points * 3 * prec))
    return false;
  s.lut3D.assign(points * 3, 0.0f);
  for (uint64_t i = 0; i < points * 3; ++i)
    s.lut3D[i] = prec == 1 ? p.u8(pos + i) * 257.0f : (float)p.u16(pos + 2 * i);
  s.lut3DSize = dims[0];
  for (int k = 0; k < 3; ++k)
    s.lut3DDims[k] = dims[k];
  return true;
}

void clearTables(ICCProfileState& s)
{
  s.lutIn.clear(); s.lutInSize = 0;
  s.lut3D.clear(); s.lut3DSize = 0;
  s.lut3DDims[0] = s.lut3DDims[1] = s.lut3DDims[2] = 0;
  s.lutM.clear(); s.lutMSize = 0;
  s.hasMatrix = false;
  s.lutOut.clear(); s.lutOutSize = 0;
}

void readLut16(const ICCBytes& p, uint64_t at, ICCProfileState& s)
{
  if (!p.has(at, 52)) {
    Trace() << "truncated tag: A2B0";
    return;
  }
  const int in = p.u8(at + 8), out = p.u8(at + 9), g = p.u8(at + 10);
  const int n = p.u16(at + 48), m = p.u16(at + 50);
  Trace() << p.sig(at) << " " << in << " " << out << " " << n << " " << g << " " << m;
  if (in != 3 || out != 3) {
    Trace() << "unsupported A2B channels: " << in << " " << out;
    return;
  }
  const uint64_t grid = (uint64_t)g * g * g;
  if (!p.has(at + 52, 6 * ((uint64_t)n + grid + m))) {
    Trace() << "truncated tag: A2B0";
    return;
  }
  uint64_t pos = at + 52;
  auto curves = [&](int entries, std::vector<float>& t) {
    t.assign((size_t)entries * 3, 0.0f);
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < entries; ++i, pos += 2)
        t[(size_t)i * 3 + c] = p.u16(pos) / 65535.0f;
  };
  curves(n, s.lutIn);
  s.lutInSize = n;
  if (g > 0) {
    const int dims[3] = {g, g, g};
    readGrid(p, pos, dims, 2, s);
  }
  pos += 6 * grid;
  curves(m, s.lutOut);
  s.lutOutSize = m;
}

void readLutAtoB(const ICCBytes& p, uint64_t at, ICCProfileState& s)
{
  if (!p.has(at, 32)) {
    Trace() << "truncated tag: A2B0";
    return;
  }
  const int in = p.u8(at + 8), out = p.u8(at + 9);
  int32_t off[5];
  for (int i = 0; i < 5; ++i)
    off[i] = (int32_t)p.u32(at + 12 + 4 * i);
  {
    Trace t;
    t << p.sig(at) << " " << in << " " << out;
    for (int i = 0; i < 5; ++i)
      t << " " << off[i];
  }
  if (in != 3 || out != 3) {
    Trace() << "unsupported A2B channels: " << in << " " << out;
    return;
  }
  s.labV4 = true;
  uint64_t pos;
  auto absent = [&](const char* what) { Trace() << "A2B0 " << what << " outside the profile"; };

  if (off[0]) {
    if (elementAt(p, at, off[0], pos))
      s.lutOutSize = readCurveSet(p, pos, s.lutOut);
    else
      absent("B curves");
  }
  if (off[1]) {
    if (elementAt(p, at, off[1], pos) && p.has(pos, 48)) {
      for (int i = 0; i < 12; ++i) {
        s.matrix[i] = p.s15f16(pos + 4 * i);
        Trace() << "[" << i << "] " << s.matrix[i];
      }
      s.hasMatrix = true;
    } else {
      absent("matrix");
    }
  }
  if (off[2]) {
    if (elementAt(p, at, off[2], pos))
      s.lutMSize = readCurveSet(p, pos, s.lutM);
    else
      absent("M curves");
  }
  if (off[3] > 0) {
    if (elementAt(p, at, off[3], pos) && p.has(pos, 20)) {
      int dims[3] = {0, 0, 0};
      for (int i = 0; i < 16; ++i) {
        const int d = p.u8(pos + i);
        if (!d)
          continue;
        Trace() << d;
        if (i < 3)
          dims[i] = d;
      }
      const int prec = p.u8(pos + 16);
      Trace() << "bytes: " << prec;
      if (!dims[0] || !dims[1] || !dims[2])
        Trace() << "A2B0 grid without points";
      else if (prec != 1 && prec != 2)
        Trace() << "unsupported CLUT precision: " << prec;
      else if (!readGrid(p, align4(pos + 17), dims, prec, s))
        absent("CLUT");
    } else {
      absent("CLUT");
    }
  }
  if (off[4]) {
    if (elementAt(p, at, off[4], pos))
      s.lutInSize = readCurveSet(p, pos, s.lutIn);
    else
      absent("A curves");
  }
}

} // namespace

std::string ICCBytes::sig(uint64_t off) const
{
  std::string r;
  for (int i = 0; i < 4; ++i) {
    const uint8_t c = has(off + i, 1) ? u8(off + i) : ' ';
    // Keeps one trace line one line whatever the profile holds.
    r += (c >= 0x20 && c < 0x7f) ? (char)c : '?';
  }
  return r;
}

std::string readICCStream(std::istream& in)
{
  std::string bytes;
  char buf[65536];
  while (in && bytes.size() <= ICC_MAX_PROFILE) {
    in.read(buf, sizeof buf);
    bytes.append(buf, (size_t)in.gcount());
  }
  return bytes;
}

bool readCurv(const ICCBytes& p, uint64_t& pos, std::vector<uint16_t>& table, int& count)
{
  table.clear();
  const uint64_t start = pos;
  if (!p.has(start, 12)) {
    pos = start + 12;
    Trace() << "truncated curve";
    return false;
  }
  pos = start + 12;
  const std::string type = p.sig(start);
  if (type == "curv") {
    const uint32_t n = p.u32(start + 8);
    Trace() << "readCurv: " << type << " " << (int32_t)n;
    if (!p.has(start + 12, 2 * (uint64_t)n)) {
      Trace() << "truncated curve";
      return false;
    }
    pos = start + 12 + 2 * (uint64_t)n;
    if (n == 0)
      return true;
    if (n == 1) {
      const float gamma = p.u16(start + 12) * (1.0f / 256.0f);
      Trace() << "gamma: " << gamma;
      count = 512;
      table.resize(512);
      for (int i = 0; i < 512; ++i)
        table[i] = saturate_cast<uint16_t>(std::pow((double)(i / 511.0f), (double)gamma) * 65535.0);
      return true;
    }
    count = (int)n;
    table.resize(n);
    for (uint32_t i = 0; i < n; ++i)
      table[i] = p.u16(start + 12 + 2 * (uint64_t)i);
    return true;
  }
  if (type == "para") {
    static const int params[5] = {1, 3, 4, 5, 7};
    const int fn = p.has(start + 8, 2) ? p.u16(start + 8) : -1;
    Trace() << "readCurv: " << type << " " << fn;
    if (fn < 0 || fn > 4) {
      Trace() << "unsupported para function: " << fn;
      return false;
    }
    if (!p.has(start + 12, 4 * (uint64_t)params[fn])) {
      Trace() << "truncated curve";
      return false;
    }
    double g[7] = {0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < params[fn]; ++i)
      g[i] = p.s15f16(start + 12 + 4 * i);
    pos = start + 12 + 4 * (uint64_t)params[fn];
    count = ICC_PARA_ENTRIES;
    table.resize(ICC_PARA_ENTRIES);
    for (int i = 0; i < ICC_PARA_ENTRIES; ++i) {
      double v = evalPara(fn, g, (double)i / (ICC_PARA_ENTRIES - 1));
      v = v < 0 ? 0 : (v > 1 ? 1 : v);
      table[i] = saturate_cast<uint16_t>(v * 65535.0 + 0.5);
    }
    return true;
  }
  return false;
}

void parseICC(const ICCBytes& p, ICCProfileState& s)
{
  if (p.size() > ICC_MAX_PROFILE) {
    Trace() << "ICC profile too large: " << p.size();
    return;
  }
  if (!p.has(0, 128) || !p.sigIs(36, "acsp"))
    return;

  {
    std::ostringstream v;
    v << std::hex << p.u32(8);
    Trace() << "ICC '" << p.sig(4) << "' '" << p.sig(16) << "' '" << p.sig(20) << "'" << v.str();
  }
  s.dataSpace = p.sig(16);
  if (p.sigIs(20, "XYZ "))
    s.pcs = ICC_PCS_XYZ;
  else if (p.sigIs(20, "Lab "))
    s.pcs = ICC_PCS_LAB;
  else if (p.sigIs(20, "RGB "))
    s.pcs = ICC_PCS_DEVICE;
  else {
    Trace() << "Unknown PCS: " << p.sig(20);
    s.pcs = ICC_PCS_DEVICE;
  }

  if (!p.has(128, 4)) {
    Trace() << "truncated tag table";
    return;
  }
  uint64_t count = p.u32(128);
  const uint64_t fit = (p.size() - 132) / 12;
  if (count > fit) {
    Trace() << "tag table truncated: " << count << " entries, " << fit << " present";
    count = fit;
  }

  enum { A2B0, WTPT, RTRC, GTRC, BTRC, RXYZ, GXYZ, BXYZ, KEPT };
  static const char* const kept[KEPT] = {"A2B0", "wtpt", "rTRC", "gTRC", "bTRC", "rXYZ", "gXYZ", "bXYZ"};
  uint32_t offset[KEPT] = {0, 0, 0, 0, 0, 0, 0, 0};
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t e = 132 + 12 * i;
    const std::string sig = p.sig(e);
    Trace() << i << ": " << sig << " " << p.u32(e + 4) << " " << p.u32(e + 8);
    for (int k = 0; k < KEPT; ++k)
      if (p.sigIs(e, kept[k]))
        offset[k] = p.u32(e + 4);
  }

  if (const uint64_t at = offset[A2B0]) {
    if (p.sigIs(at, "mft2"))
      readLut16(p, at, s);
    else if (p.sigIs(at, "mAB "))
      readLutAtoB(p, at, s);
    else
      Trace() << "unsupported A2B tag: " << p.sig(at);
    if (!s.hasLUT())
      clearTables(s);
  }

  if (offset[WTPT])
    readXYZ(p, offset[WTPT], "wtpt", s.whiteX, s.whiteY, s.whiteZ);

  std::vector<uint16_t>* trc[3] = {&s.rTRC, &s.gTRC, &s.bTRC};
  int* trcSize[3] = {&s.rTRCSize, &s.gTRCSize, &s.bTRCSize};
  for (int c = 0; c < 3; ++c) {
    if (uint64_t pos = offset[RTRC + c]) {
      if (!readCurv(p, pos, *trc[c], *trcSize[c]) || trc[c]->empty()) {
        trc[c]->clear();
        *trcSize[c] = 0;
      }
    }
  }
  float* col[3] = {s.rXYZ, s.gXYZ, s.bXYZ};
  for (int c = 0; c < 3; ++c)
    if (offset[RXYZ + c])
      readXYZ(p, offset[RXYZ + c], kept[RXYZ + c], col[c][0], col[c][1], col[c][2]);
}
