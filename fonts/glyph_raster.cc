// Glyph outlines into AGG's scanline storages. AGG's rasteriser shifts
// negative cover and cell values left, which it means as multiplication
// (and C++20 defines so); this file alone is built without the sanitizer's
// check of that, see CMakeLists.txt.
#include <agg_renderer_scanline.h>

#include "fonts/font_engine.hh"

namespace agg {

void font_engine_system_base::rasterize_outline(bool inked, bool gray)
{
  m_rasterizer.reset();
  if (inked) {
    if (m_flag32)
      m_rasterizer.add_path(m_curves32);
    else
      m_rasterizer.add_path(m_curves16);
  }
  // render_scanlines prepares a storage only when there is coverage.
  bool empty;
  if (gray) {
    m_scanlines_aa.prepare();
    render_scanlines(m_rasterizer, m_scanline, m_scanlines_aa);
    empty = m_scanlines_aa.min_x() > m_scanlines_aa.max_x();
    if (!empty)
      m_bounds = rect_i(m_scanlines_aa.min_x(), m_scanlines_aa.min_y(),
                        m_scanlines_aa.max_x() + 1, m_scanlines_aa.max_y() + 1);
  } else {
    m_scanlines_bin.prepare();
    render_scanlines(m_rasterizer, m_scanline, m_scanlines_bin);
    empty = m_scanlines_bin.min_x() > m_scanlines_bin.max_x();
    if (!empty)
      m_bounds = rect_i(m_scanlines_bin.min_x(), m_scanlines_bin.min_y(),
                        m_scanlines_bin.max_x() + 1, m_scanlines_bin.max_y() + 1);
  }
  if (empty)
    m_bounds = rect_i(0, 0, 0, 0);
}

} // namespace agg
