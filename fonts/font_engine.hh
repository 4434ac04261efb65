// The glyph engine: installed fonts (or font bytes) through FreeType and
// fontconfig, one character at a time, as outlines, anti-aliased or
// monochrome scanlines and metrics, in the form of an AGG font engine so
// that agg::font_cache_manager caches and serves the glyphs.
#pragma once

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <agg_basics.h>
#include <agg_conv_curve.h>
#include <agg_font_cache_manager.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_scanline_storage_aa.h>
#include <agg_scanline_storage_bin.h>
#include <agg_scanline_u.h>
#include <agg_trans_affine.h>

#include "fonts/integer_outline.hh"

namespace fonts {
class FontFace;
}

namespace agg {

// Name of the desktop's interface font, fetched on first need.
extern std::string sysfont;

class font_engine_system_base {
public:
  typedef serialized_scanlines_adaptor_aa<int8u> gray8_adaptor_type;
  typedef serialized_scanlines_adaptor_bin mono_adaptor_type;
  typedef scanline_storage_aa8 scanlines_aa_type;
  typedef scanline_storage_bin scanlines_bin_type;

  font_engine_system_base(bool flag32, unsigned max_faces = 32);
  ~font_engine_system_base();
  font_engine_system_base(const font_engine_system_base&) = delete;
  font_engine_system_base& operator=(const font_engine_system_base&) = delete;

  // Makes the face of `name` (with `style`, or of `font_mem` when given)
  // current at the present height, reusing a loaded face of the same
  // signature. Native renderings become the AGG ones.
  bool load_font(const char* name, const char* style, glyph_rendering ren_type,
                 const char* font_mem = 0, long font_mem_size = 0);

  // These take effect with the next load_font; resolution remakes the
  // signature at once.
  void resolution(unsigned dpi);
  void height(double h) { m_height = to_float(h); }
  void width(double w) { m_width = to_float(w); }
  void hinting(bool h) { m_hinting = h; }
  void flip_y(bool f) { m_flip_y = f; }

  const char* name() const { return m_name.c_str(); }
  unsigned resolution() const { return m_resolution; }
  double height() const { return m_height; }
  double width() const { return m_width; }
  bool hinting() const { return m_hinting; }
  bool flip_y() const { return m_flip_y; }
  glyph_rendering rendering() const { return m_glyph_rendering; }
  unsigned num_faces() const { return (unsigned)m_faces.size(); }
  unsigned max_faces() const { return m_max_faces; }

  // Ascent and descent (negative) of the current face at its size.
  double ascender() const;
  double descender() const;

  int find_font(const char* signature) const;
  bool add_kerning(unsigned, unsigned, double*, double*) { return false; }
  void get_font_list(std::vector<std::string>& list, const char* filter);

  // The interface agg::font_cache_manager drives.
  const char* font_signature() const { return m_cache_signature.c_str(); }
  int change_stamp() const { return m_change_stamp; }
  bool prepare_glyph(unsigned glyph_code);
  unsigned glyph_index() const { return m_glyph_index; }
  unsigned data_size() const { return m_data_size; }
  glyph_data_type data_type() const { return m_data_type; }
  const rect_i& bounds() const { return m_bounds; }
  double advance_x() const { return m_advance_x; }
  double advance_y() const { return m_advance_y; }
  void write_glyph_to(int8u* data) const;

  // The glyph cache keys glyphs by 16 bits: characters of each Unicode
  // plane are cached under a signature of their own (see
  // glyph_cache_manager).
  void glyph_plane(unsigned plane);

  // Largest glyph, in pixels on either axis, rendered into scanlines.
  enum { max_raster_extent = 4096 };

private:
  struct face_entry;

  // Sizes beyond a float's range become infinite rather than undefined.
  static float to_float(double v)
  {
    return v > 3.4028234663852886e38 ? HUGE_VALF : v < -3.4028234663852886e38 ? -HUGE_VALF : float(v);
  }

  std::string make_signature() const;
  void set_signature(const std::string& signature);
  void update_signature();
  template <class Storage> bool decompose(Storage& storage, double scale);
  template <class Storage> bool finish_glyph(Storage& storage);
  // Renders the outline in use into the gray8 or the mono scanline storage
  // and sets the bounds from it.
  void rasterize_outline(bool inked, bool gray);

  bool m_flag32;
  int m_change_stamp = 0;
  std::string m_name;
  std::string m_signature;
  std::string m_cache_signature; // m_signature and the current plane
  float m_height = 0;
  float m_width = 0;
  bool m_hinting = true;
  bool m_flip_y = false;
  std::vector<std::shared_ptr<face_entry>> m_faces; // oldest first
  unsigned m_max_faces;
  std::shared_ptr<face_entry> m_cur_face;
  unsigned m_resolution = 0;
  glyph_rendering m_glyph_rendering = glyph_ren_native_gray8;
  // Identity of the bytes of the face being loaded from memory: length and
  // CRC-32, so that such a face never answers for one loaded by name.
  bool m_from_memory = false;
  unsigned long m_mem_size = 0;
  unsigned m_mem_crc = 0;
  unsigned m_plane = 0;
  unsigned m_glyph_index = 0;
  unsigned m_data_size = 0;
  glyph_data_type m_data_type = glyph_data_invalid;
  rect_i m_bounds{1, 1, 0, 0};
  double m_advance_x = 0;
  double m_advance_y = 0;
  trans_affine m_affine;

  integer_outline_storage<int16, 6> m_path16;
  integer_outline_storage<int32, 6> m_path32;
  conv_curve<integer_outline_storage<int16, 6>> m_curves16;
  conv_curve<integer_outline_storage<int32, 6>> m_curves32;
  scanline_u8 m_scanline;
  scanlines_aa_type m_scanlines_aa;
  scanlines_bin_type m_scanlines_bin;
  rasterizer_scanline_aa<> m_rasterizer;
};

// Outline coordinates as 16-bit integers with 6 fraction bits: compact, but
// a coordinate keeps only 15 bits with the command bit, so outlines reach
// no further than 256 pixels from the origin; beyond, points are clamped.
class font_engine_system_int16 : public font_engine_system_base {
public:
  typedef serialized_integer_path_adaptor<int16, 6> path_adaptor_type;
  typedef font_engine_system_base::gray8_adaptor_type gray8_adaptor_type;
  typedef font_engine_system_base::mono_adaptor_type mono_adaptor_type;
  typedef font_engine_system_base::scanlines_aa_type scanlines_aa_type;
  typedef font_engine_system_base::scanlines_bin_type scanlines_bin_type;

  explicit font_engine_system_int16(unsigned max_faces = 32)
      : font_engine_system_base(false, max_faces) {}
};

// Outline coordinates as 32-bit integers with 6 fraction bits: twice the
// cache size, glyphs up to millions of pixels.
class font_engine_system_int32 : public font_engine_system_base {
public:
  typedef serialized_integer_path_adaptor<int32, 6> path_adaptor_type;
  typedef font_engine_system_base::gray8_adaptor_type gray8_adaptor_type;
  typedef font_engine_system_base::mono_adaptor_type mono_adaptor_type;
  typedef font_engine_system_base::scanlines_aa_type scanlines_aa_type;
  typedef font_engine_system_base::scanlines_bin_type scanlines_bin_type;

  explicit font_engine_system_int32(unsigned max_faces = 32)
      : font_engine_system_base(true, max_faces) {}
};

} // namespace agg
