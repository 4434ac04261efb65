// LCD sub-pixel text: a pixel format over a 32-bit RGBA buffer whose
// columns are sub-pixels (R, G, B of each pixel), spreading each
// coverage value over five neighbouring sub-pixels.
#pragma once

#include <vector>

#include <agg_basics.h>
#include <agg_color_rgba.h>
#include <agg_rendering_buffer.h>

// Primary, secondary and tertiary shares of a coverage value:
// entry i = floor(i * weight / (p + 2s + 2t)).
struct lcd_distribution_lut {
  agg::int8u primary[256], secondary[256], tertiary[256];
  lcd_distribution_lut(double p, double s, double t);
};

// Weights 5/9, 2/9, 1/9.
extern const lcd_distribution_lut lcd_subpix_lut;

class pixfmt_rgba32_lcd {
public:
  typedef agg::rgba8 color_type;
  typedef agg::rendering_buffer::row_data row_data;

  pixfmt_rgba32_lcd(agg::rendering_buffer& rbuf, const lcd_distribution_lut& lut)
    : m_rbuf(&rbuf), m_lut(&lut)
  {
  }

  unsigned width() const { return m_rbuf->width() * 3; }
  unsigned height() const { return m_rbuf->height(); }

  // x counts sub-pixels; the spread reaches two sub-pixels beyond each end
  // of the run, within the row.
  void blend_solid_hspan(int x, int y, unsigned len, const color_type& c,
                         const agg::int8u* covers);
  void blend_hline(int x, int y, unsigned len, const color_type& c, agg::int8u cover);

private:
  agg::rendering_buffer* m_rbuf;
  const lcd_distribution_lut* m_lut;
  std::vector<agg::int8u> m_spread, m_run;
};
