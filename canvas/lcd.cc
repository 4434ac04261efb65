// Coverage distribution over sub-pixels and its blending.
#include "canvas/Lcd.hh"

#include <cmath>

lcd_distribution_lut::lcd_distribution_lut(double p, double s, double t)
{
  // The products land a hair below whole numbers that the weights make
  // exact (2/9 of 9/11 times 11 is 2): a tiny bias keeps those entries
  // whole, far below the next fraction the weights can make.
  const double n = 1.0 / (p + 2 * s + 2 * t);
  for (int i = 0; i < 256; ++i) {
    primary[i] = (agg::int8u)std::floor(i * p * n + 1e-9);
    secondary[i] = (agg::int8u)std::floor(i * s * n + 1e-9);
    tertiary[i] = (agg::int8u)std::floor(i * t * n + 1e-9);
  }
}

const lcd_distribution_lut lcd_subpix_lut(5.0 / 9.0, 2.0 / 9.0, 1.0 / 9.0);

void pixfmt_rgba32_lcd::blend_solid_hspan(int x, int y, unsigned len, const color_type& c,
                                          const agg::int8u* covers)
{
  m_spread.assign(len + 4, 0);
  agg::int8u* e = m_spread.data();
  for (unsigned i = 0; i < len; ++i) {
    const unsigned v = covers[i];
    e[i] += m_lut->tertiary[v];
    e[i + 1] += m_lut->secondary[v];
    e[i + 2] += m_lut->primary[v];
    e[i + 3] += m_lut->secondary[v];
    e[i + 4] += m_lut->tertiary[v];
  }
  const int last = (int)width() - 1;
  agg::int8u* row = m_rbuf->row_ptr(y);
  const unsigned colour[3] = {c.r, c.g, c.b};
  for (unsigned k = 0; k < len + 4; ++k) {
    const int sub = x - 2 + (int)k;
    if (sub < 0 || sub > last)
      continue;
    agg::int8u* pix = row + (sub / 3) * 4;
    const int ch = sub % 3;
    const unsigned a = c.a * e[k];
    if (a == 65025)
      pix[ch] = (agg::int8u)colour[ch];
    else if (a)
      pix[ch] = (agg::int8u)((((int)pix[ch] << 16) + ((int)colour[ch] - pix[ch]) * (int)a) >> 16);
    if (ch == 2) {
      const unsigned ka = (c.a * e[k]) >> 8, alpha = pix[3];
      pix[3] = (agg::int8u)(alpha + ka - ((ka * alpha + 255) >> 8));
    }
  }
}

void pixfmt_rgba32_lcd::blend_hline(int x, int y, unsigned len, const color_type& c,
                                    agg::int8u cover)
{
  m_run.assign(len, cover);
  blend_solid_hspan(x, y, len, c, m_run.data());
}
