// applyICC: the dispatch by pixel type and the walk over the pixels. Every
// pixel type feeds its components through icc::Transform and folds the
// result back into its own layout; 8-bit types take fast paths that give the
// same bytes as the general walk.
#include <cmath>
#include <cstring>
#include <iostream>
#include <new>
#include <sstream>

#include "color/ColorManagement.hh"
#include "color/ICC.hh"
#include "color/ICCTransform.hh"
#include "image/Image.hh"
#include "image/TypedIterators.hh"

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
  if (lut)
    grid64.assign(s.lut3D.begin(), s.lut3D.end());
  mCurves = s.lutMSize > 0 && !identity(s.lutM, s.lutMSize);
  outCurves = s.lutOutSize > 0 && !identity(s.lutOut, s.lutOutSize);
}

// A curve table that is a straight line from 0 to 1 within half a step of
// the 16-bit encoding, as profile makers write for "no curve".
bool Transform::identity(const std::vector<float>& t, int n)
{
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k)
      if (std::fabs(t[(size_t)i * 3 + k] - (double)i / (n - 1)) > 0.5 / 65535)
        return false;
  return n > 1;
}

void Transform::grid(const Pos pos[3], float o[3]) const
{
  const int g1 = s.lut3DDims[1], g2 = s.lut3DDims[2];
  const double w0[2] = {1 - (double)pos[0].t, pos[0].t};
  const double w1[2] = {1 - (double)pos[1].t, pos[1].t};
  const double w2[2] = {1 - (double)pos[2].t, pos[2].t};
  const int off0[2] = {3 * pos[0].lo * g1 * g2, 3 * pos[0].hi * g1 * g2};
  const int off1[2] = {3 * pos[1].lo * g2, 3 * pos[1].hi * g2};
  const int off2[2] = {3 * pos[2].lo, 3 * pos[2].hi};
  trilinear(table(), off0, off1, off2, w0, w1, w2, o);
}

void Transform::curves(float& a, float& b, float& c) const
{
  float n[3] = {a / 65535.0f, b / 65535.0f, c / 65535.0f};
  if (mCurves) {
    const float sc = (float)(s.lutMSize - 1);
    for (int k = 0; k < 3; ++k)
      n[k] = curve3(s.lutM.data(), k, locate(n[k] * sc, s.lutMSize));
  }
  if (s.hasMatrix) {
    const float* e = s.matrix;
    float m[3];
    for (int k = 0; k < 3; ++k) {
      const float v = e[3 * k] * n[0] + e[3 * k + 1] * n[1] + e[3 * k + 2] * n[2] + e[9 + k];
      m[k] = v > 1 ? 1 : (v >= 0 ? v : 0);
    }
    for (int k = 0; k < 3; ++k)
      n[k] = m[k];
  }
  if (outCurves) {
    const float sc = (float)(s.lutOutSize - 1);
    for (int k = 0; k < 3; ++k)
      n[k] = curve3(s.lutOut.data(), k, locate(n[k] * sc, s.lutOutSize));
  }
  a = n[0] * 65535.0f;
  b = n[1] * 65535.0f;
  c = n[2] * 65535.0f;
}

namespace {

// The sRGB encoding of a linear value straight to 8 bits, the same byte as
// quantize(compand(v), 255): each level starts at a threshold found once by
// bisection over the floats. A bucket of the coarse index is narrower than
// any level, so at most one threshold lies inside it and one branch-free
// comparison finishes the lookup.
class Compand8 {
public:
  Compand8()
  {
    thr[0] = -HUGE_VALF;
    thr[256] = HUGE_VALF;
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
    for (int i = 0; i < BUCKETS; ++i)
      if (bucket[i] < 254 && thr[bucket[i] + 2] < (float)(i + 1) / BUCKETS)
        oneStep = false;
  }

  uint8_t operator()(float v) const
  {
    if (!(v > 0))
      return (uint8_t)slow(v);
    if (v >= 1)
      return 255;
    int k = bucket[(int)(v * BUCKETS)];
    if (oneStep)
      return (uint8_t)(k + (v >= thr[k + 1]));
    while (v >= thr[k + 1])
      ++k;
    return (uint8_t)k;
  }

  static int slow(float v) { return quantize(compand(v), 255.0f); }

private:
  enum { BUCKETS = 16384 };
  float thr[257];
  uint8_t bucket[BUCKETS + 1];
  bool oneStep = true;
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
// is tabulated per channel (grid offsets and weights, or linear values);
// the matrices then run over blocks of pixels in planes, which the compiler
// turns into vector code with the same arithmetic, and the encoding ends in
// Compand8.
template <int BPP>
void walkRGB8(Image& image, const Transform& t, const ICCProfileState& s)
{
  enum { BLOCK = 64 };
  const Compand8& enc = compand8();
  const bool lut = t.lutPath(), encodes = t.encodes();
  int off[3][256][2];
  double weight[3][256][2];
  float lin[3][256];
  if (lut) {
    const int stride[3] = {3 * s.lut3DDims[1] * s.lut3DDims[2], 3 * s.lut3DDims[2], 3};
    for (int k = 0; k < 3; ++k)
      for (int c = 0; c < 256; ++c) {
        const Pos p = t.gridPos(t.input((float)c, k), k);
        off[k][c][0] = stride[k] * p.lo;
        off[k][c][1] = stride[k] * p.hi;
        weight[k][c][0] = 1 - (double)p.t;
        weight[k][c][1] = p.t;
      }
  } else {
    for (int k = 0; k < 3; ++k)
      for (int c = 0; c < 256; ++c)
        lin[k][c] = t.linear((float)c, k);
  }
  const double* table = t.table();
  float a[BLOCK] = {}, b[BLOCK] = {}, c[BLOCK] = {};
  uint8_t* base = image.getRawData();
  const uint64_t stride = image.stride();
  for (int y = 0; y < image.h; ++y) {
    uint8_t* row = base + (uint64_t)y * stride;
    for (int x0 = 0; x0 < image.w; x0 += BLOCK) {
      const int n = image.w - x0 < BLOCK ? image.w - x0 : BLOCK;
      uint8_t* p = row + (uint64_t)x0 * BPP;
      for (int i = 0; i < n; ++i, p += BPP) {
        if (lut) {
          float o[3];
          Transform::trilinear(table, off[0][p[0]], off[1][p[1]], off[2][p[2]], weight[0][p[0]], weight[1][p[1]],
                               weight[2][p[2]], o);
          a[i] = o[0];
          b[i] = o[1];
          c[i] = o[2];
        } else {
          a[i] = lin[0][p[0]];
          b[i] = lin[1][p[1]];
          c[i] = lin[2][p[2]];
        }
      }
      // Whole blocks, so that the loops have a fixed count; the tail of the
      // last one holds values of no pixel.
      if (lut) {
        if (t.postCurves())
          for (int i = 0; i < n; ++i)
            t.curves(a[i], b[i], c[i]);
        switch (s.pcs) {
        case ICC_PCS_LAB:
          if (s.labV4)
            for (int i = 0; i < BLOCK; ++i)
              Transform::labV4(a[i], b[i], c[i]);
          else
            for (int i = 0; i < BLOCK; ++i)
              Transform::labV2(a[i], b[i], c[i]);
          break;
        case ICC_PCS_XYZ:
          for (int i = 0; i < BLOCK; ++i)
            t.xyz(a[i], b[i], c[i]);
          break;
        default:
          for (int i = 0; i < BLOCK; ++i)
            Transform::device(a[i], b[i], c[i]);
        }
      } else {
        for (int i = 0; i < BLOCK; ++i)
          t.toXYZ(a[i], b[i], c[i]);
      }
      if (encodes)
        for (int i = 0; i < BLOCK; ++i)
          Transform::adapt(a[i], b[i], c[i]);
      p = row + (uint64_t)x0 * BPP;
      for (int i = 0; i < n; ++i, p += BPP) {
        if (encodes) {
          p[0] = enc(a[i]);
          p[1] = enc(b[i]);
          p[2] = enc(c[i]);
        } else {
          p[0] = (uint8_t)quantize(a[i], 255.0f);
          p[1] = (uint8_t)quantize(b[i], 255.0f);
          p[2] = (uint8_t)quantize(c[i], 255.0f);
        }
      }
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
  void operator()(Image& image, const Transform& t, const ICCProfileState&) { walkGeneral<It>(image, t); }
};
template <>
struct fast_walk<rgb_iterator> {
  void operator()(Image& image, const Transform& t, const ICCProfileState& s) { walkRGB8<3>(image, t, s); }
};
template <>
struct fast_walk<rgba_iterator> {
  void operator()(Image& image, const Transform& t, const ICCProfileState& s) { walkRGB8<4>(image, t, s); }
};
template <>
struct fast_walk<gray_iterator> {
  void operator()(Image& image, const Transform& t, const ICCProfileState&) { walkGray8<gray_iterator>(image, t); }
};
template <unsigned N>
struct fast_walk<bit_iterator<N>> {
  void operator()(Image& image, const Transform& t, const ICCProfileState&) { walkGray8<bit_iterator<N>>(image, t); }
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
      // The tables take image samples as RGB (gray as R = G = B): a profile
      // for any other kind of data would turn the pixels into nonsense.
      if (!state.dataSpace.empty() && state.dataSpace != "RGB " && state.dataSpace != "GRAY") {
        std::cerr << "applyICC: the profile is for '" << state.dataSpace << "' data, not RGB or gray" << std::endl;
        return false;
      }
      if (!state.hasLUT() && !state.hasTRC()) {
        std::cerr << "no 3d LUT and no TRC!" << std::endl;
        return false;
      }
      const Transform t(state, (float)It::accu::maxval);
      if (Fast)
        fast_walk<It>()(image, t, state);
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
