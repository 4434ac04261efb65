// agg::font_cache_manager keys a font's glyphs by the low 16 bits of the
// character code. This manager keeps the full code: each Unicode plane is
// cached under a signature of its own, so U+1F600 never answers for U+F600.
// Use it wherever a font_cache_manager would be used.
#pragma once

#include <vector>

#include <agg_font_cache_manager.h>

namespace agg {

template <class FontEngine>
class glyph_cache_manager : public font_cache_manager<FontEngine> {
  typedef font_cache_manager<FontEngine> base_type;

public:
  // Beyond the last Unicode character there are no glyphs; such codes
  // neither reach the engine nor take a slot in the cache.
  enum { max_code = 0x10FFFF };

  explicit glyph_cache_manager(FontEngine& engine, unsigned max_fonts = 32)
      : base_type(engine, max_fonts), m_engine(engine) {}

  const glyph_cache* glyph(unsigned glyph_code)
  {
    if (glyph_code > max_code)
      return 0;
    m_engine.glyph_plane(glyph_code >> 16);
    return base_type::glyph(glyph_code);
  }

  void precache(unsigned from, unsigned to)
  {
    for (; from <= to && from <= max_code; ++from)
      glyph(from);
  }

private:
  FontEngine& m_engine;
};

// A glyph with its own copy of the data, for holders that must outlive the
// cache entry it came from (the cache drops its oldest font when full).
class owned_glyph {
public:
  explicit owned_glyph(const glyph_cache& glyph)
      : m_glyph(glyph), m_data(glyph.data, glyph.data + (glyph.data ? glyph.data_size : 0))
  {
    m_glyph.data = m_data.empty() ? 0 : m_data.data();
    m_glyph.data_size = (unsigned)m_data.size();
  }
  owned_glyph(const owned_glyph&) = delete;
  owned_glyph& operator=(const owned_glyph&) = delete;

  const glyph_cache* get() const { return &m_glyph; }

private:
  glyph_cache m_glyph;
  std::vector<int8u> m_data;
};

} // namespace agg
