// Synthetic sheet-fed scans for the deskew tests and benchmark: a light sheet
// with text-like marks, turned by a known angle about its centre and laid on
// a scanner background, with a little noise.
#pragma once

#include <cmath>
#include <cstdint>

#include "image/Image.hh"

namespace synthetic {

struct Sheet {
  int width = 600, height = 850; // pixels
  int marginX = 90, marginY = 100; // text keeps this far from the edges
};

struct Scan {
  int width = 800, height = 1040;
  int spp = 1, bps = 8;
  int resolution = 150;
  double angle = 0;            // degrees, positive turns the sheet clockwise
  double cx = -1, cy = -1;     // sheet centre, default the scan's centre
  int background = 30;         // 0..255
  int paper = 238;
  int ink = 25;
  int noise = 6;               // +- on every sample
  int shadow = 0;              // dark rim this many pixels wide around the sheet
  uint32_t seed = 12345;
};

// Where the sheet's corners land in the scan.
struct Truth {
  double tlx, tly, trx, try_, blx, bly;
};

inline Truth truth(const Scan& s, const Sheet& sh)
{
  const double cx = s.cx < 0 ? s.width / 2.0 : s.cx, cy = s.cy < 0 ? s.height / 2.0 : s.cy;
  const double r = s.angle * M_PI / 180, c = std::cos(r), sn = std::sin(r);
  auto map = [&](double u, double v, double& x, double& y) {
    x = cx + u * c - v * sn;
    y = cy + u * sn + v * c;
  };
  Truth t;
  map(-sh.width / 2.0, -sh.height / 2.0, t.tlx, t.tly);
  map(sh.width / 2.0, -sh.height / 2.0, t.trx, t.try_);
  map(-sh.width / 2.0, sh.height / 2.0, t.blx, t.bly);
  return t;
}

// Ink on the upright sheet: rows of "words", one long horizontal rule and one
// long vertical rule (the straightness probes).
inline bool inkAt(double u, double v, const Sheet& sh)
{
  if (u < sh.marginX || u >= sh.width - sh.marginX || v < sh.marginY || v >= sh.height - sh.marginY)
    return false;
  const double lu = u - sh.marginX, lv = v - sh.marginY;
  if (lv >= 0 && lv < 4)
    return true; // rule along the top of the text block
  if (lu >= 0 && lu < 4)
    return true; // rule down the left of the text block
  const int line = (int)(lv / 22);
  const double inLine = lv - line * 22;
  if (inLine < 12 || inLine >= 22 || lu < 12)
    return false;
  // Words of varying length with gaps, different on each line.
  const int pos = (int)(lu - 12) + line * 37;
  const int word = pos / 45;
  const int len = 20 + (word * 7919 % 19);
  return pos % 45 < len;
}

inline Image make(const Scan& s, const Sheet& sh = Sheet())
{
  Image img;
  img.spp = (uint8_t)s.spp;
  img.bps = (uint8_t)s.bps;
  img.resX = img.resY = s.resolution;
  img.resize(s.width, s.height);
  const double cx = s.cx < 0 ? s.width / 2.0 : s.cx, cy = s.cy < 0 ? s.height / 2.0 : s.cy;
  const double r = s.angle * M_PI / 180, c = std::cos(r), sn = std::sin(r);
  const double tint[3] = {1.0, 0.985, 0.96};
  uint32_t rnd = s.seed;
  const unsigned stride = img.stride();
  for (int y = 0; y < s.height; ++y) {
    uint8_t* row = img.data + (uint64_t)y * stride;
    if (s.bps == 1)
      for (unsigned i = 0; i < stride; ++i)
        row[i] = 0;
    for (int x = 0; x < s.width; ++x) {
      // 3 x 3 supersampling gives the edges the soft ramp of a real scan.
      double sum = 0;
      for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) {
          const double dx = x + (i + 0.5) / 3 - cx, dy = y + (j + 0.5) / 3 - cy;
          const double u = dx * c + dy * sn + sh.width / 2.0;
          const double v = -dx * sn + dy * c + sh.height / 2.0;
          double val = s.background;
          if (u >= 0 && u < sh.width && v >= 0 && v < sh.height)
            val = inkAt(u, v, sh) ? s.ink : s.paper;
          else if (s.shadow && u >= -s.shadow && u < sh.width + s.shadow && v >= -s.shadow &&
                   v < sh.height + s.shadow)
            val = s.background / 3;
          sum += val;
        }
      for (int ch = 0; ch < s.spp; ++ch) {
        rnd = rnd * 1664525u + 1013904223u;
        const int n = s.noise ? (int)(rnd >> 16) % (2 * s.noise + 1) - s.noise : 0;
        double v = sum / 9 * (s.spp == 3 ? tint[ch] : 1.0) + n;
        v = v < 0 ? 0 : v > 255 ? 255 : v;
        if (s.bps == 8) {
          row[x * s.spp + ch] = (uint8_t)v;
        } else if (s.bps == 16) {
          ((uint16_t*)row)[x * s.spp + ch] = (uint16_t)(v * 257);
        } else if (s.bps == 1) {
          if (v >= 128)
            row[x / 8] |= (uint8_t)(0x80 >> (x % 8));
        }
      }
    }
  }
  img.setRawData();
  return img;
}

} // namespace synthetic
