// Median filter. The value taken per channel is the sample of rank
// count / 2 among the window's samples (the upper middle one for an even
// count): networks for full 3 x 3 and 5 x 5 windows, a sliding histogram
// for wide windows of 8-bit samples, a selection otherwise.
#include "filters/median.hh"

#include <algorithm>
#include <type_traits>
#include <vector>

#include "filters/fresh_buffer.hh"
#include "filters/rows.hh"
#include "image/TypedIterators.hh"

namespace {

template <typename V>
inline void cx(V* p, int a, int b)
{
  if (p[a] > p[b])
    std::swap(p[a], p[b]);
}

template <typename T>
struct median_template {
  void operator()(Image& image, unsigned radius)
  {
    typedef typename std::conditional<T::accu::maxval == 65535, int64_t, int32_t>::type V;
    const int N = T::accu::samples;
    const int w = image.w, h = image.h;
    // A window wider than the image gathers no more than the whole image.
    const int r = (int)std::min<uint64_t>(radius, (uint64_t)std::max(w, h));
    const int64_t n = (int64_t)w * N;
    const int64_t side = 2 * (int64_t)r + 1;

    Image src;
    move_to_fresh_buffer(image, src);

    // Source rows as integers, kept while the window can still reach them.
    std::vector<std::vector<V>> rows(h);
    // Wide windows of 8-bit samples: a window histogram slid along the row
    // gives the same rank count / 2 value without sorting.
    const bool sliding = T::accu::maxval == 255 && r >= 3;
    std::vector<V> block(sliding ? 0 : (size_t)N * (size_t)std::min<int64_t>(side * side, (int64_t)w * h));
    const size_t stride = block.size() / N;
    std::vector<V> out(n);

    std::vector<int32_t> fine(sliding ? (size_t)N * 256 : 0), coarse(sliding ? (size_t)N * 16 : 0);

    for (int y = 0; y < h; ++y) {
      const int y0 = std::max(0, y - r), y1 = std::min(h - 1, y + r);
      for (int yy = y0; yy <= y1; ++yy)
        if (rows[yy].empty()) {
          rows[yy].resize(n);
          read_row<T>(src, yy, rows[yy].data());
        }
      if (sliding) {
        std::fill(fine.begin(), fine.end(), 0);
        std::fill(coarse.begin(), coarse.end(), 0);
        auto column = [&](int xx, int delta) {
          for (int yy = y0; yy <= y1; ++yy) {
            const V* px = &rows[yy][(int64_t)xx * N];
            for (int c = 0; c < N; ++c) {
              fine[c * 256 + px[c]] += delta;
              coarse[c * 16 + (px[c] >> 4)] += delta;
            }
          }
        };
        for (int xx = 0; xx <= std::min(r, w - 1); ++xx)
          column(xx, 1);
        for (int x = 0; x < w; ++x) {
          if (x > 0) {
            if (x - r - 1 >= 0)
              column(x - r - 1, -1);
            if (x + r < w)
              column(x + r, 1);
          }
          const int64_t count = (int64_t)(std::min(w - 1, x + r) - std::max(0, x - r) + 1) * (y1 - y0 + 1);
          for (int c = 0; c < N; ++c) {
            int64_t k = count / 2;
            int b = 0;
            while (k >= coarse[c * 16 + b])
              k -= coarse[c * 16 + b++];
            int v = b * 16;
            while (k >= fine[c * 256 + v])
              k -= fine[c * 256 + v++];
            out[(int64_t)x * N + c] = v;
          }
        }
        write_row<T>(image, y, out.data());
        if (y - r >= 0)
          std::vector<V>().swap(rows[y - r]);
        continue;
      }
      for (int x = 0; x < w; ++x) {
        const int x0 = std::max(0, x - r), x1 = std::min(w - 1, x + r);
        size_t count = 0;
        for (int yy = y0; yy <= y1; ++yy) {
          const V* row = rows[yy].data();
          for (int xx = x0; xx <= x1; ++xx, ++count)
            for (int c = 0; c < N; ++c)
              block[c * stride + count] = row[(int64_t)xx * N + c];
        }
        for (int c = 0; c < N; ++c) {
          V* p = &block[c * stride];
          V m;
          if (count == 9) {
            median_opt9(p);
            m = p[4];
          } else if (count == 25) {
            median_opt25(p);
            m = p[12];
          } else {
            // Same value as a partial selection sort up to count / 2.
            std::nth_element(p, p + count / 2, p + count);
            m = p[count / 2];
          }
          out[(int64_t)x * N + c] = m;
        }
      }
      write_row<T>(image, y, out.data());
      if (y - r >= 0)
        std::vector<V>().swap(rows[y - r]);
    }
  }
};

} // namespace

template <typename V>
void median_opt9(V* p)
{
  cx(p, 1, 2); cx(p, 4, 5); cx(p, 7, 8); cx(p, 0, 1); cx(p, 3, 4); cx(p, 6, 7);
  cx(p, 1, 2); cx(p, 4, 5); cx(p, 7, 8); cx(p, 0, 3); cx(p, 5, 8); cx(p, 4, 7);
  cx(p, 3, 6); cx(p, 1, 4); cx(p, 2, 5); cx(p, 4, 7); cx(p, 4, 2); cx(p, 6, 4);
  cx(p, 4, 2);
}

template <typename V>
void median_opt25(V* p)
{
  static const uint8_t net[][2] = {
      {0, 1}, {3, 4}, {2, 4}, {2, 3}, {6, 7}, {5, 7}, {5, 6}, {9, 10}, {8, 10}, {8, 9},
      {12, 13}, {11, 13}, {11, 12}, {15, 16}, {14, 16}, {14, 15}, {18, 19}, {17, 19}, {17, 18},
      {21, 22}, {20, 22}, {20, 21}, {23, 24}, {2, 5}, {3, 6}, {0, 6}, {0, 3}, {4, 7}, {1, 7},
      {1, 4}, {11, 14}, {8, 14}, {8, 11}, {12, 15}, {9, 15}, {9, 12}, {13, 16}, {10, 16},
      {10, 13}, {20, 23}, {17, 23}, {17, 20}, {21, 24}, {18, 24}, {18, 21}, {19, 22}, {8, 17},
      {9, 18}, {0, 18}, {0, 9}, {10, 19}, {1, 19}, {1, 10}, {11, 20}, {2, 20}, {2, 11},
      {12, 21}, {3, 21}, {3, 12}, {13, 22}, {4, 22}, {4, 13}, {14, 23}, {5, 23}, {5, 14},
      {15, 24}, {6, 24}, {6, 15}, {7, 16}, {7, 19}, {13, 21}, {15, 23}, {7, 13}, {7, 15},
      {1, 9}, {3, 11}, {5, 17}, {11, 17}, {9, 17}, {4, 10}, {6, 12}, {7, 14}, {4, 6}, {4, 7},
      {12, 14}, {10, 14}, {6, 7}, {10, 12}, {6, 10}, {6, 17}, {12, 17}, {7, 17}, {7, 10},
      {12, 18}, {7, 12}, {10, 18}, {12, 20}, {10, 20}, {10, 12}};
  for (const auto& e : net)
    cx(p, e[0], e[1]);
}

template void median_opt9<int32_t>(int32_t*);
template void median_opt9<int64_t>(int64_t*);
template void median_opt25<int32_t>(int32_t*);
template void median_opt25<int64_t>(int64_t*);

void median(Image& image, unsigned radius)
{
  // Sample layouts that are no pixel type would run a gray body over part
  // of each row.
  if (image.getRawData() && !image.Type())
    return;
  codegen<median_template>(image, radius);
}
