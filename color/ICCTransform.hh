// The per-pixel ICC transform from a parsed profile to sRGB: the lookup-table
// path (input curves, grid, output curves, connection space) and the
// matrix/tone-curve path, each ending in the Bradford adaptation to D65 and
// the sRGB encoding. Components are on the pixel type's scale 0..max.
#pragma once

#include <cmath>
#include <cstdint>

#include "color/ICC.hh"
#include "color/srgb.hh"
#include "utility/Saturate.hh"

namespace icc {

// Neighbours of position x in a table of n entries: the last entry is
// reached through the last interval with full weight. Positions are clamped
// to the table, so a value a hair above 1 (or NaN) cannot leave it.
struct Pos {
  int lo, hi;
  float t;
};

inline Pos locate(float x, int n)
{
  Pos p;
  if (n < 2) {
    p.lo = p.hi = 0;
    p.t = 0;
    return p;
  }
  const float top = (float)(n - 1);
  if (!(x > 0))
    x = 0;
  else if (x > top)
    x = top;
  const int i = (int)std::floor(x);
  if (i + 1 < n) {
    p.lo = i;
    p.hi = i + 1;
  } else {
    p.lo = i - 1;
    p.hi = i;
  }
  p.t = x - (float)p.lo;
  return p;
}

// Curve k of a three-channel table at p.
inline float curve3(const float* table, int k, Pos p)
{
  return p.t * table[3 * p.hi + k] + (1 - p.t) * table[3 * p.lo + k];
}

// Component of a sRGB result on a scale of `max`: clamped to 0..1, scaled
// in single precision and truncated (0.999 gives 254 of 255).
inline int quantize(float v, float max)
{
  if (v > 1)
    v = 1;
  else if (!(v >= 0))
    v = 0;
  return saturate_cast<int>(v * max);
}

inline float compand(float v)
{
  return (float)srgb::encode(v, srgb::exponentSingle);
}

class Transform {
public:
  Transform(const ICCProfileState& state, float max);

  bool lutPath() const { return lut; }
  // False for a device-space table, whose outputs are sRGB values as they
  // stand.
  bool encodes() const { return !lut || s.pcs != ICC_PCS_DEVICE; }

  // The whole transform: components in, sRGB components 0..1 (unclamped)
  // out.
  void pixel(const float c[3], float out[3]) const
  {
    float lin[3];
    if (lut) {
      Pos pos[3];
      for (int k = 0; k < 3; ++k)
        pos[k] = gridPos(input(c[k], k), k);
      grid(pos, lin);
      post(lin);
    } else {
      for (int k = 0; k < 3; ++k)
        lin[k] = linear(c[k], k);
      fromLinear(lin);
    }
    for (int k = 0; k < 3; ++k)
      out[k] = encodes() ? compand(lin[k]) : lin[k];
  }

  // Lookup-table path, stage by stage.
  float input(float c, int k) const
  {
    if (s.lutInSize <= 0)
      return c / max;
    return curve3(s.lutIn.data(), k, locate(c * inScale, s.lutInSize));
  }
  Pos gridPos(float p, int k) const { return locate(p * gridScale[k], s.lut3DDims[k]); }
  void grid(const Pos pos[3], float o[3]) const;
  // Table outputs (16-bit scale) to linear sRGB, or to the final values of a
  // device-space table.
  void post(float o[3]) const;

  // Matrix/tone-curve path: a component through its tone curve.
  float linear(float c, int k) const
  {
    const Pos p = locate(c * trcScale[k], trcSize[k]);
    const uint16_t* t = trc[k];
    const double u = (1 - (double)p.t) * t[p.lo] + (double)p.t * t[p.hi];
    return (float)(int)u / 65535.0f;
  }
  // Linear channel values through the colorants to linear sRGB.
  void fromLinear(float l[3]) const;

  static void adaptToSRGB(float xyz[3]);
  static void labToXYZ(float lab[3]);

private:
  const ICCProfileState& s;
  float max;
  bool lut;
  float inScale;
  float gridScale[3];
  const uint16_t* trc[3];
  int trcSize[3];
  float trcScale[3];
};

} // namespace icc
