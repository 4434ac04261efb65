// The per-pixel ICC transform from a parsed profile to sRGB: the lookup-table
// path (input curves, grid, output curves, connection space) and the
// matrix/tone-curve path, each ending in the Bradford adaptation to D65 and
// the sRGB encoding. Components are on the pixel type's scale 0..max.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "color/ICC.hh"
#include "color/sRGBEncoding.hh"
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
  x = x > 0 ? x : 0;
  x = x < top ? x : top;
  // x >= 0, so truncation is the floor; the top entry is reached from the
  // interval below it.
  const int i = (int)x;
  p.lo = i < n - 1 ? i : n - 2;
  p.hi = p.lo + 1;
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
  // The table widened once: the interpolation works in double.
  const double* table() const { return grid64.data(); }

  void pixel(const float c[3], float out[3]) const
  {
    float v[3];
    if (lut) {
      Pos pos[3];
      for (int k = 0; k < 3; ++k)
        pos[k] = gridPos(input(c[k], k), k);
      grid(pos, v);
      decode(v);
    } else {
      for (int k = 0; k < 3; ++k)
        v[k] = linear(c[k], k);
      toXYZ(v[0], v[1], v[2]);
    }
    if (encodes()) {
      adapt(v[0], v[1], v[2]);
      for (int k = 0; k < 3; ++k)
        v[k] = compand(v[k]);
    }
    for (int k = 0; k < 3; ++k)
      out[k] = v[k];
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
  // Trilinear interpolation of the eight points at `base` plus the corner
  // offsets, with the axis weights given; weights and sum in double.
  static void trilinear(const double* base, const int* off0, const int* off1, const int* off2, const double* w0,
                        const double* w1, const double* w2, float o[3])
  {
    double sum[3] = {0, 0, 0};
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) {
        const double w01 = w0[i] * w1[j];
        for (int k = 0; k < 2; ++k) {
          const double w = w01 * w2[k];
          const double* v = base + off0[i] + off1[j] + off2[k];
          sum[0] += v[0] * w;
          sum[1] += v[1] * w;
          sum[2] += v[2] * w;
        }
      }
    for (int c = 0; c < 3; ++c)
      o[c] = (float)sum[c];
  }
  // Table outputs (16-bit encoding scale) through the curves and matrix
  // that follow the table, then to XYZ (D50, media white applied), or to
  // the final values of a device-space table.
  void decode(float o[3]) const
  {
    if (postCurves())
      curves(o[0], o[1], o[2]);
    switch (s.pcs) {
    case ICC_PCS_LAB:
      if (s.labV4)
        labV4(o[0], o[1], o[2]);
      else
        labV2(o[0], o[1], o[2]);
      break;
    case ICC_PCS_XYZ:
      xyz(o[0], o[1], o[2]);
      break;
    default:
      device(o[0], o[1], o[2]);
    }
  }
  bool postCurves() const { return mCurves || s.hasMatrix || outCurves; }
  // M curves, matrix and output curves, on the encoding scaled to 0..1.
  void curves(float& a, float& b, float& c) const;
  static void labV2(float& a, float& b, float& c)
  {
    float lab[3] = {(float)((double)a * 100.0 / 65280.0), (b - 32768.0f) * (1.0f / 256.0f),
                    (c - 32768.0f) * (1.0f / 256.0f)};
    labToXYZ(lab);
    a = lab[0];
    b = lab[1];
    c = lab[2];
  }
  static void labV4(float& a, float& b, float& c)
  {
    float lab[3] = {(float)((double)a * 100.0 / 65535.0), (float)((double)b * 255.0 / 65535.0 - 128.0),
                    (float)((double)c * 255.0 / 65535.0 - 128.0)};
    labToXYZ(lab);
    a = lab[0];
    b = lab[1];
    c = lab[2];
  }
  // u1Fixed15 (0x8000 is 1.0), scaled from D50 to the media white.
  void xyz(float& a, float& b, float& c) const
  {
    a = a / 32768.0f * s.whiteX / 0.9642f;
    b = b / 32768.0f * s.whiteY / 1.0f;
    c = c / 32768.0f * s.whiteZ / 0.8249f;
  }
  static void device(float& a, float& b, float& c)
  {
    a = a / 65535.0f;
    b = b / 65535.0f;
    c = c / 65535.0f;
  }

  // Matrix/tone-curve path: a component through its tone curve.
  float linear(float c, int k) const
  {
    const Pos p = locate(c * trcScale[k], trcSize[k]);
    const uint16_t* t = trc[k];
    const double u = (1 - (double)p.t) * t[p.lo] + (double)p.t * t[p.hi];
    return (float)(int)u / 65535.0f;
  }
  // Linear channel values through the colorants to XYZ.
  void toXYZ(float& a, float& b, float& c) const
  {
    const float x = a * s.rXYZ[0] + b * s.gXYZ[0] + c * s.bXYZ[0];
    const float y = a * s.rXYZ[1] + b * s.gXYZ[1] + c * s.bXYZ[1];
    const float z = a * s.rXYZ[2] + b * s.gXYZ[2] + c * s.bXYZ[2];
    a = x;
    b = y;
    c = z;
  }

  // XYZ (D50) to linear sRGB: Bradford to D65, then the sRGB matrix.
  static void adapt(float& a, float& b, float& c)
  {
    const double X = a, Y = b, Z = c;
    const double x = (float)(0.9555766 * X + -0.0230393 * Y + 0.0631636 * Z);
    const double y = (float)(-0.0282895 * X + 1.0099416 * Y + 0.0210077 * Z);
    const double z = (float)(0.0122982 * X + -0.020483 * Y + 1.3299098 * Z);
    double r, g, bl;
    srgb::fromXYZ(x, y, z, r, g, bl);
    a = (float)r;
    b = (float)g;
    c = (float)bl;
  }
  // Lab (D50) to XYZ.
  static bool identity(const std::vector<float>& table, int n);
  static void labToXYZ(float lab[3])
  {
    const float L = lab[0];
    const float eps = 0.008856452f, kappa = 903.2963f;
    const double fy = (L + 16.0) / 116.0;
    const float fyf = (float)fy;
    const float fx = (float)(lab[1] * 0.002 + fyf);
    const float fz = (float)(lab[2] * -0.005 + fyf);
    const float fx3 = fx * fx * fx, fz3 = fz * fz * fz;
    const float xr = fx3 > eps ? fx3 : (float)((116.0 * fx - 16.0) / (double)kappa);
    const float zr = fz3 > eps ? fz3 : (float)((116.0 * fz - 16.0) / (double)kappa);
    const float yr = L > 8.0f ? (float)(fy * fy * fy) : L / kappa;
    lab[0] = xr * 0.9642f;
    lab[1] = yr;
    lab[2] = zr * 0.8249f;
  }

private:
  const ICCProfileState& s;
  std::vector<double> grid64;
  // Curves after the table that are not the identity.
  bool mCurves, outCurves;
  float max;
  bool lut;
  float inScale;
  float gridScale[3];
  const uint16_t* trc[3];
  int trcSize[3];
  float trcScale[3];
};

} // namespace icc
