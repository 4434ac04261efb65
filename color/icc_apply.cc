// applyICC: the dispatch by pixel type and the walk over the pixels. Every
// pixel type feeds its components through icc::Transform and folds the
// result back into its own layout; 8-bit types take fast paths that give the
// same bytes as the general walk.
#include <cstring>
#include <iostream>
#include <new>
#include <sstream>

#include "color/Colorspace2.hh"
#include "color/ICC.hh"
#include "color/ICCTransform.hh"
#include "image/Image.hh"
#include "image/ImageIterator2.hh"

namespace icc {

Transform::Transform(const ICCProfileState& state, float _max)
  : s(state), max(_max), lut(state.hasLUT())
{
  inScale = (float)(s.lutInSize - 1) / max;
  for (int k = 0; k < 3; ++k)
    gridScale[k] = (float)(s.lut3DDims[k] - 1);
  const std::vector<uint16_t>* curves[3] = {&s.rTRC, &s.gTRC, &s.bTRC};
  const int sizes[3] = {s.rTRCSize, s.gTRCSize, s.bTRCSize};
  for (int k = 0; k < 3; ++k) {
    trc[k] = curves[k]->data();
    trcSize[k] = sizes[k];
    trcScale[k] = (float)(sizes[k] - 1) / max;
  }
}

void Transform::grid(const Pos pos[3], float o[3]) const
{
  const int g1 = s.lut3DDims[1], g2 = s.lut3DDims[2];
  const float* t = s.lut3D.data();
  const double w0[2] = {1 - (double)pos[0].t, pos[0].t};
  const double w1[2] = {1 - (double)pos[1].t, pos[1].t};
  const double w2[2] = {1 - (double)pos[2].t, pos[2].t};
  const int a0[2] = {pos[0].lo, pos[0].hi};
  const int a1[2] = {pos[1].lo, pos[1].hi};
  const int a2[2] = {pos[2].lo, pos[2].hi};
  double sum[3] = {0, 0, 0};
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j)
      for (int k = 0; k < 2; ++k) {
        const float* v = t + 3 * (((int64_t)a0[i] * g1 + a1[j]) * g2 + a2[k]);
        for (int c = 0; c < 3; ++c)
          sum[c] += (double)v[c] * w0[i] * w1[j] * w2[k];
      }
  for (int c = 0; c < 3; ++c)
    o[c] = (float)sum[c];
}

void Transform::post(float o[3]) const
{
  if (s.lutMSize > 0 || s.hasMatrix || s.lutOutSize > 0) {
    // Curves and matrix work on the encoding scaled to 0..1.
    float n[3];
    for (int c = 0; c < 3; ++c)
      n[c] = o[c] / 65535.0f;
    if (s.lutMSize > 0) {
      const float sc = (float)(s.lutMSize - 1);
      for (int c = 0; c < 3; ++c)
        n[c] = curve3(s.lutM.data(), c, locate(n[c] * sc, s.lutMSize));
    }
    if (s.hasMatrix) {
      const float* e = s.matrix;
      float m[3];
      for (int c = 0; c < 3; ++c) {
        const float v = e[3 * c] * n[0] + e[3 * c + 1] * n[1] + e[3 * c + 2] * n[2] + e[9 + c];
        m[c] = v > 1 ? 1 : (v >= 0 ? v : 0);
      }
      for (int c = 0; c < 3; ++c)
        n[c] = m[c];
    }
    if (s.lutOutSize > 0) {
      const float sc = (float)(s.lutOutSize - 1);
      for (int c = 0; c < 3; ++c)
        n[c] = curve3(s.lutOut.data(), c, locate(n[c] * sc, s.lutOutSize));
    }
    for (int c = 0; c < 3; ++c)
      o[c] = n[c] * 65535.0f;
  }

  switch (s.pcs) {
  case ICC_PCS_LAB: {
    float lab[3];
    if (s.labV4) {
      lab[0] = (float)((double)o[0] * 100.0 / 65535.0);
      lab[1] = (float)((double)o[1] * 255.0 / 65535.0 - 128.0);
      lab[2] = (float)((double)o[2] * 255.0 / 65535.0 - 128.0);
    } else {
      lab[0] = (float)((double)o[0] * 100.0 / 65280.0);
      lab[1] = (o[1] - 32768.0f) * (1.0f / 256.0f);
      lab[2] = (o[2] - 32768.0f) * (1.0f / 256.0f);
    }
    labToXYZ(lab);
    for (int c = 0; c < 3; ++c)
      o[c] = lab[c];
    adaptToSRGB(o);
  } break;
  case ICC_PCS_XYZ:
    // u1Fixed15: 0x8000 is 1.0.
    o[0] = o[0] / 32768.0f * s.whiteX / 0.9642f;
    o[1] = o[1] / 32768.0f * s.whiteY / 1.0f;
    o[2] = o[2] / 32768.0f * s.whiteZ / 0.8249f;
    adaptToSRGB(o);
    break;
  default:
    for (int c = 0; c < 3; ++c)
      o[c] = o[c] / 65535.0f;
  }
}

void Transform::fromLinear(float l[3]) const
{
  float xyz[3];
  xyz[0] = l[0] * s.rXYZ[0] + l[1] * s.gXYZ[0] + l[2] * s.bXYZ[0];
  xyz[1] = l[0] * s.rXYZ[1] + l[1] * s.gXYZ[1] + l[2] * s.bXYZ[1];
  xyz[2] = l[0] * s.rXYZ[2] + l[1] * s.gXYZ[2] + l[2] * s.bXYZ[2];
  adaptToSRGB(xyz);
  for (int c = 0; c < 3; ++c)
    l[c] = xyz[c];
}

void Transform::adaptToSRGB(float v[3])
{
  const double X = v[0], Y = v[1], Z = v[2];
  const float x = (float)(0.9555766 * X + -0.0230393 * Y + 0.0631636 * Z);
  const float y = (float)(-0.0282895 * X + 1.0099416 * Y + 0.0210077 * Z);
  const float z = (float)(0.0122982 * X + -0.020483 * Y + 1.3299098 * Z);
  double r, g, b;
  srgb::fromXYZ(x, y, z, r, g, b);
  v[0] = (float)r;
  v[1] = (float)g;
  v[2] = (float)b;
}

void Transform::labToXYZ(float lab[3])
{
  const float L = lab[0];
  const float eps = 0.008856452f, kappa = 903.2963f;
  const double fy = (L + 16.0) / 116.0;
  const float fyf = (float)fy;
  const float fx = (float)(lab[1] * 0.002 + fyf);
  const float fz = (float)(lab[2] * -0.005 + fyf);
  auto f3 = [&](float f) {
    const float c = f * f * f;
    return c > eps ? c : (float)((116.0 * f - 16.0) / (double)kappa);
  };
  const float yr = L > 8.0f ? (float)std::pow(fy, 3.0) : L / kappa;
  lab[0] = f3(fx) * 0.9642f;
  lab[1] = yr;
  lab[2] = f3(fz) * 0.8249f;
}

namespace {

// The sRGB encoding of a linear value straight to 8 bits, the same byte as
// quantize(compand(v), 255): each level starts at a threshold found once by
// bisection over the floats, and a coarse index finds the level in a step
// or two.
class Compand8 {
public:
  Compand8()
  {
    thr[0] = -HUGE_VALF;
    for (int k = 1; k < 256; ++k) {
      uint32_t lo = 0, hi = bits(1.0f); // quantize(compand(1)) is 255
      while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (slow(fromBits(mid)) >= k)
          hi = mid;
        else
          lo = mid + 1;
      }
      thr[k] = fromBits(lo);
    }
    for (int i = 0; i <= BUCKETS; ++i)
      bucket[i] = (uint8_t)slow((float)i / BUCKETS);
  }

  uint8_t operator()(float v) const
  {
    if (!(v > 0))
      return (uint8_t)slow(v);
    if (v >= thr[255])
      return 255;
    int k = bucket[(int)(v * BUCKETS)];
    while (k < 255 && v >= thr[k + 1])
      ++k;
    return (uint8_t)k;
  }

  static int slow(float v) { return quantize(compand(v), 255.0f); }

private:
  enum { BUCKETS = 16384 };
  float thr[256];
  uint8_t bucket[BUCKETS + 1];
  static uint32_t bits(float f) { uint32_t u; memcpy(&u, &f, 4); return u; }
  static float fromBits(uint32_t u) { float f; memcpy(&f, &u, 4); return f; }
};

const Compand8& compand8()
{
  static const Compand8 table;
  return table;
}

// Writes a result on the pixel type's scale.
template <typename It>
void store(It& it, const float rgb[3], float max)
{
  typedef typename It::accu::vtype T;
  it.setRGB((T)quantize(rgb[0], max), (T)quantize(rgb[1], max), (T)quantize(rgb[2], max));
}

template <typename It>
void walkGeneral(Image& image, const Transform& t)
{
  const float max = (float)It::accu::maxval;
  It base(image);
  for (int y = 0; y < image.h; ++y) {
    It it = base.at(0, y);
    for (int x = 0; x < image.w; ++x, ++it) {
      typename It::accu a = *it;
      typename It::accu::vtype r, g, b;
      a.getRGB(r, g, b);
      const float c[3] = {(float)r, (float)g, (float)b};
      float out[3];
      t.pixel(c, out);
      store(it, out, max);
    }
  }
}

// 8-bit RGB and RGBA: the input stage depends on one component each, so it
// is tabulated per channel; the rest runs per pixel, with the last result
// reused for runs of one colour (paper white).
template <int BPP>
void walkRGB8(Image& image, const Transform& t)
{
  const Compand8& enc = compand8();
  Pos pos[3][256];
  float lin[3][256];
  for (int k = 0; k < 3; ++k)
    for (int c = 0; c < 256; ++c) {
      if (t.lutPath())
        pos[k][c] = t.gridPos(t.input((float)c, k), k);
      else
        lin[k][c] = t.linear((float)c, k);
    }
  const bool encodes = t.encodes();
  uint8_t* base = image.getRawData();
  const uint64_t stride = image.stride();
  uint32_t last = 0xffffffff;
  uint8_t res[3] = {0, 0, 0};
  for (int y = 0; y < image.h; ++y) {
    uint8_t* p = base + (uint64_t)y * stride;
    for (int x = 0; x < image.w; ++x, p += BPP) {
      const uint32_t key = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
      if (key != last) {
        float v[3];
        if (t.lutPath()) {
          const Pos q[3] = {pos[0][p[0]], pos[1][p[1]], pos[2][p[2]]};
          t.grid(q, v);
          t.post(v);
        } else {
          for (int k = 0; k < 3; ++k)
            v[k] = lin[k][p[k]];
          t.fromLinear(v);
        }
        for (int k = 0; k < 3; ++k)
          res[k] = encodes ? enc(v[k]) : (uint8_t)quantize(v[k], 255.0f);
        last = key;
      }
      p[0] = res[0];
      p[1] = res[1];
      p[2] = res[2];
    }
  }
}

// Gray of 8 bits or fewer: at most 256 distinct inputs, so the results are
// tabulated by input level.
template <typename It>
void walkGray8(Image& image, const Transform& t)
{
  uint8_t gray[256];
  for (int c = 0; c < 256; ++c) {
    const float in[3] = {(float)c, (float)c, (float)c};
    float out[3];
    t.pixel(in, out);
    const int r = quantize(out[0], 255), g = quantize(out[1], 255), b = quantize(out[2], 255);
    gray[c] = (uint8_t)((11 * r + 16 * g + 5 * b) / 32);
  }
  It base(image);
  for (int y = 0; y < image.h; ++y) {
    It it = base.at(0, y);
    for (int x = 0; x < image.w; ++x, ++it) {
      typename It::accu a = *it;
      a.v[0] = gray[a.v[0]];
      it.set(a);
    }
  }
}

template <typename It>
struct fast_walk {
  void operator()(Image& image, const Transform& t) { walkGeneral<It>(image, t); }
};
template <>
struct fast_walk<rgb_iterator> {
  void operator()(Image& image, const Transform& t) { walkRGB8<3>(image, t); }
};
template <>
struct fast_walk<rgba_iterator> {
  void operator()(Image& image, const Transform& t) { walkRGB8<4>(image, t); }
};
template <>
struct fast_walk<gray_iterator> {
  void operator()(Image& image, const Transform& t) { walkGray8<gray_iterator>(image, t); }
};
template <unsigned N>
struct fast_walk<bit_iterator<N>> {
  void operator()(Image& image, const Transform& t) { walkGray8<bit_iterator<N>>(image, t); }
};

template <typename It, bool Fast>
struct applyICC_functor {
  bool operator()(Image& image, std::istream& profile)
  {
    try {
      const ICCBytes bytes(readICCStream(profile));
      ICCProfileState state;
      parseICC(bytes, state);
      std::cerr << "lutIn: " << state.lutInSize << "\n"
                << "lut3D: " << state.lut3DSize << "\n"
                << "lutOut: " << state.lutOutSize << std::endl;
      if (!state.hasLUT() && !state.hasTRC()) {
        std::cerr << "no 3d LUT and no TRC!" << std::endl;
        return false;
      }
      const Transform t(state, (float)It::accu::maxval);
      if (Fast)
        fast_walk<It>()(image, t);
      else
        walkGeneral<It>(image, t);
      image.setRawData();
      return true;
    } catch (const std::bad_alloc&) {
      // Only the parse allocates; the pixels are untouched.
      std::cerr << "applyICC: out of memory" << std::endl;
      return false;
    }
  }
};

} // namespace
} // namespace icc

template <typename It>
struct applyICC_template : icc::applyICC_functor<It, true> {};
template <typename It>
struct applyICC_template_general : icc::applyICC_functor<It, false> {};

bool applyICC(Image& image, std::istream& profile)
{
  return codegen_return<bool, applyICC_template>(image, profile);
}

bool applyICCGeneral(Image& image, std::istream& profile)
{
  return codegen_return<bool, applyICC_template_general>(image, profile);
}
