// Convolution filters. The symmetric separable form is the sharpening step of
// the binariser and is compared bit for bit, so its order of additions and
// its truncation points are fixed.
#include "filters/convolution.hh"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "filters/fresh_buffer.hh"
#include "filters/rows.hh"
#include "image/TypedIterators.hh"
#include "utility/Saturate.hh"

namespace {

// 16-bit types truncate to 64-bit integers, the others to 32-bit ones.
template <typename T>
using conv_int = typename std::conditional<T::accu::maxval == 65535, int64_t, int32_t>::type;

template <typename T>
struct decomposable_sym_convolution_matrix_template {
  void operator()(Image& image, const double* h, const double* v, int xw, int yw, double src_add)
  {
    typedef conv_int<T> W;
    const int N = T::accu::samples;
    const W MAX = T::accu::maxval;
    const int w = image.w, height = image.h;
    // Taps farther out than the image reaches only ever meet missing
    // neighbours, so capping the half-widths changes no result and bounds
    // the ring for absurd radii.
    xw = std::min(xw, w);
    yw = std::min(yw, height);
    const int64_t n = (int64_t)w * N;
    const int R = 2 * yw + 1;

    std::vector<double> line(n), out(n), ring((size_t)R * n, 0.0);
    std::vector<int32_t> raw(n);

    for (int y = 0; y < height + yw; ++y) {
      if (y < height) {
        read_row<T>(image, y, raw.data());
        double* slot = &ring[(size_t)(y % R) * n];
        for (int64_t k = 0; k < n; ++k) {
          line[k] = raw[k];
          slot[k] = raw[k] * h[0];
        }
        for (int i = 1; i <= xw; ++i) {
          const int64_t d = (int64_t)i * N;
          const double hi = h[i];
          // Narrow rows may lack both neighbours of a pixel; only the ones
          // that exist are added.
          const int left = std::min(i, w);
          for (int64_t k = 0; k < (int64_t)left * N; ++k)
            if (k + d < n)
              slot[k] += line[k + d] * hi;
          for (int64_t k = d; k < n - d; ++k)
            slot[k] += (line[k + d] + line[k - d]) * hi;
          for (int64_t k = (int64_t)std::max(i, w - i) * N; k < n; ++k)
            slot[k] += line[k - d] * hi;
        }
      }

      const int o = y - yw;
      if (o < 0)
        continue;
      if (!(src_add == 0.0)) {
        read_row<T>(image, o, raw.data());
        for (int64_t k = 0; k < n; ++k)
          out[k] = raw[k] * src_add;
      } else {
        std::fill(out.begin(), out.end(), 0.0);
      }
      for (int j = 0; j <= yw; ++j) {
        const double vj = v[j];
        if (j >= 1 && o - j >= 0 && o + j < height) {
          const double* a = &ring[(size_t)((o - j) % R) * n];
          const double* b = &ring[(size_t)((o + j) % R) * n];
          for (int64_t k = 0; k < n; ++k)
            out[k] += (a[k] + b[k]) * vj;
        } else {
          // Rows past the bottom map to slots never filled: zeros.
          const int r = o - j < 0 ? o + j : o - j;
          const double* a = &ring[(size_t)(r % R) * n];
          for (int64_t k = 0; k < n; ++k)
            out[k] += a[k] * vj;
        }
      }
      for (int64_t k = 0; k < n; ++k)
        raw[k] = (int32_t)clamp_int<W>(saturate_cast<W>(out[k]), 0, MAX);
      write_row<T>(image, o, raw.data());
    }
    image.setRawData();
  }
};

template <typename T>
struct convolution_matrix_template {
  void operator()(Image& image, const double* matrix, int xw, int yw, double divisor)
  {
    typedef conv_int<T> W;
    // Accumulate with wrap-around arithmetic of the type's width: the
    // documented integer behaviour without undefined overflow on absurd
    // kernels.
    typedef typename std::make_unsigned<W>::type U;
    const int N = T::accu::samples;
    const W MAX = T::accu::maxval;
    const int w = image.w, height = image.h;
    const int xr = xw / 2, yr = yw / 2;
    const W d = saturate_cast<W>(divisor);

    std::vector<U> kernel((size_t)xw * yw);
    for (size_t k = 0; k < kernel.size(); ++k)
      kernel[k] = (U)saturate_cast<W>(matrix[k]);

    Image src;
    move_to_fresh_buffer(image, src);

    const int64_t n = (int64_t)w * N;
    // Converted source rows, kept while a later output row may still use
    // them: every row that output y needs lies at or below y - yw.
    std::vector<std::vector<int32_t>> rows(height);
    auto row = [&](int r) -> const int32_t* {
      if (rows[r].empty()) {
        rows[r].resize(n);
        read_row<T>(src, r, rows[r].data());
      }
      return rows[r].data();
    };
    auto mirror = [](int r, int size) {
      if (r < 0)
        r = -r;
      if (r >= size)
        r = 2 * (size - 1) - r;
      return std::min(std::max(r, 0), size - 1);
    };

    std::vector<const int32_t*> taps(yw);
    std::vector<int> cols(xw);
    std::vector<int32_t> outRow(n);
    std::vector<U> accRow(n);

    auto finish = [&](int64_t idx, U acc) {
      const W a = (W)acc;
      // The one quotient that overflows: the most negative sum over -1.
      const W q = (d == -1 && a == std::numeric_limits<W>::min()) ? std::numeric_limits<W>::max() : a / d;
      outRow[idx] = (int32_t)clamp_int<W>(q, 0, MAX);
    };

    for (int y = 0; y < height; ++y) {
      for (int j = 0; j < yw; ++j)
        taps[j] = row(mirror(y - yr + j, height));
      const bool innerRow = y >= yr && y < height - yr;
      // Interior pixels tap by tap over the whole row, in a loop the
      // compiler vectorises; the sums wrap, so the order does not matter.
      const int64_t innerBegin = innerRow ? (int64_t)xr * N : n, innerEnd = innerRow ? (int64_t)(w - xr) * N : n;
      if (innerBegin < innerEnd) {
        U* acc = accRow.data();
        std::fill(acc + innerBegin, acc + innerEnd, (U)0);
        const U* kp = kernel.data();
        for (int j = 0; j < yw; ++j)
          for (int i = 0; i < xw; ++i) {
            const U k = *kp++;
            const int32_t* p = taps[j] + (int64_t)(i - xr) * N;
            for (int64_t idx = innerBegin; idx < innerEnd; ++idx)
              acc[idx] += k * (U)p[idx];
          }
        if (sizeof(W) == 4 && d != -1) {
          // Quotients of 32-bit integers through doubles are exact (both
          // operands and the quotient fit 53 bits, and a non-integral
          // quotient stays at least 1/|d| away from an integer), and this
          // loop vectorises where integer division does not.
          const double dd = (double)d;
          for (int64_t idx = innerBegin; idx < innerEnd; ++idx) {
            const W q = (W)((double)(W)acc[idx] / dd);
            outRow[idx] = (int32_t)(q < 0 ? 0 : (q > MAX ? MAX : q));
          }
        } else {
          for (int64_t idx = innerBegin; idx < innerEnd; ++idx)
            finish(idx, acc[idx]);
        }
      }
      for (int x = 0; x < w; ++x) {
        if (innerRow && x >= xr && x < w - xr)
          continue;
        for (int i = 0; i < xw; ++i)
          cols[i] = mirror(x - xr + i, w);
        for (int c = 0; c < N; ++c) {
          U acc = 0;
          const U* kp = kernel.data();
          for (int j = 0; j < yw; ++j) {
            const int32_t* p = taps[j];
            for (int i = 0; i < xw; ++i)
              acc += *kp++ * (U)p[(int64_t)cols[i] * N + c];
          }
          finish((int64_t)x * N + c, acc);
        }
      }
      write_row<T>(image, y, outRow.data());
      const int drop = y - yw;
      if (drop >= 0)
        std::vector<int32_t>().swap(rows[drop]);
    }
  }
};

} // namespace

void decomposable_sym_convolution_matrix(Image& image, const double* h, const double* v,
                                         int xw, int yw, double src_add)
{
  if (!h || !v || xw < 0 || yw < 0) {
    fprintf(stderr, "decomposable_sym_convolution_matrix: invalid kernel\n");
    return;
  }
  if (image.getRawData() && !image.Type())
    return;
  codegen<decomposable_sym_convolution_matrix_template>(image, h, v, xw, yw, src_add);
}

void convolution_matrix(Image& image, const double* matrix, int xw, int yw, double divisor)
{
  if (image.w <= 0 || image.h <= 0 || !image.getRawData() || !image.Type())
    return;
  if (!matrix || xw < 1 || yw < 1 || xw > image.w || yw > image.h) {
    fprintf(stderr, "convolution_matrix: kernel %dx%d does not fit the image\n", xw, yw);
    return;
  }
  // An integer divisor of 0 (also any |divisor| < 1) would divide by zero.
  if (saturate_cast<int32_t>(divisor) == 0) {
    fprintf(stderr, "convolution_matrix: divisor %g has no integer part\n", divisor);
    return;
  }
  codegen<convolution_matrix_template>(image, matrix, xw, yw, divisor);
}

void decomposable_convolution_matrix(Image& image, const double* h, const double* v,
                                     int xw, int yw, double src_add)
{
  if (image.w <= 0 || image.h <= 0 || !image.getRawData())
    return;
  if (!h || !v || xw < 0 || yw < 0) {
    fprintf(stderr, "decomposable_convolution_matrix: invalid kernel\n");
    return;
  }
  if (image.Type() != Image::GRAY8) {
    fprintf(stderr, "decomposable_convolution_matrix: 8-bit gray images only\n");
    return;
  }
  const int w = image.w, height = image.h;
  uint8_t* data = image.getRawData();
  const uint64_t stride = image.stride();
  const int x0 = xw / 2, x1 = w - (xw + 1) / 2;
  const int y0 = yw / 2, y1 = height - (yw + 1) / 2;
  if (x0 >= x1 || y0 >= y1) {
    image.setRawData();
    return;
  }

  // Horizontally filtered rows, yw of them at a time: output row y needs
  // rows y - y0 .. y - y0 + yw - 1, and each row is filtered before its own
  // output overwrites it.
  const int slots = std::max(yw, 1);
  std::vector<double> ring((size_t)slots * w, 0.0);
  auto filter = [&](int r) {
    const uint8_t* p = data + (uint64_t)r * stride;
    double* t = &ring[(size_t)(r % slots) * w];
    for (int x = x0; x < x1; ++x) {
      double acc = 0.0;
      for (int i = 0; i < xw; ++i)
        acc += p[x - x0 + i] * h[i];
      t[x] = acc;
    }
  };
  for (int r = 0; r + 1 < yw; ++r)
    filter(r);
  for (int y = y0; y < y1; ++y) {
    if (yw >= 1)
      filter(y - y0 + yw - 1);
    uint8_t* p = data + (uint64_t)y * stride;
    for (int x = x0; x < x1; ++x) {
      double acc = p[x] * src_add;
      for (int j = 0; j < yw; ++j)
        acc += ring[(size_t)((y - y0 + j) % slots) * w + x] * v[j];
      p[x] = saturate_cast<uint8_t>(acc);
    }
  }
  image.setRawData();
}
