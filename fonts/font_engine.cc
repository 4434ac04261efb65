// The glyph engine over the FreeType/fontconfig font layer.
#include "fonts/font_engine.hh"

#include <syslog.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>


#include "fonts/system_fonts.hh"
#include FT_OUTLINE_H

#include "math/CRC32.hh"
#include "utility/Saturate.hh"

namespace agg {

std::string sysfont;

struct font_engine_system_base::face_entry {
  std::shared_ptr<fonts::FontFace> face;
  float height; // the size the face was loaded at
  std::string signature;

  double scale() const { return double(height) / face->unitsPerEm(); }
};

font_engine_system_base::font_engine_system_base(bool flag32, unsigned max_faces)
    : m_flag32(flag32), m_max_faces(max_faces ? max_faces : 1), m_curves16(m_path16),
      m_curves32(m_path32)
{
  m_curves16.approximation_scale(4.0);
  m_curves32.approximation_scale(4.0);
}

font_engine_system_base::~font_engine_system_base() = default;

std::string font_engine_system_base::make_signature() const
{
  unsigned gamma_hash = 0;
  if (m_glyph_rendering == glyph_ren_native_gray8 || m_glyph_rendering == glyph_ren_agg_mono ||
      m_glyph_rendering == glyph_ren_agg_gray8) {
    int8u gamma_table[256];
    for (unsigned i = 0; i < 256; ++i)
      gamma_table[i] = (int8u)m_rasterizer.apply_gamma(i);
    gamma_hash = crc32Of(gamma_table, sizeof gamma_table);
  }
  // A float prints in at most a few dozen characters: the tail is bounded.
  char tail[512];
  std::snprintf(tail, sizeof tail, ",%d,%d:%fx%f,%d,%d,%08X", int(m_glyph_rendering),
                int(m_resolution), m_height, m_width, int(m_hinting), int(m_flip_y), gamma_hash);
  std::string signature = m_name + tail;
  if (m_glyph_rendering == glyph_ren_outline || m_glyph_rendering == glyph_ren_agg_mono ||
      m_glyph_rendering == glyph_ren_agg_gray8) {
    double m[6];
    m_affine.store_to(m);
    std::snprintf(tail, sizeof tail, ",%08X%08X%08X%08X%08X%08X",
                  unsigned(saturate_cast<int>(m[0] * 65536.0)),
                  unsigned(saturate_cast<int>(m[1] * 65536.0)),
                  unsigned(saturate_cast<int>(m[2] * 65536.0)),
                  unsigned(saturate_cast<int>(m[3] * 65536.0)),
                  unsigned(saturate_cast<int>(m[4] * 65536.0)),
                  unsigned(saturate_cast<int>(m[5] * 65536.0)));
    signature += tail;
  }
  if (m_from_memory) {
    std::snprintf(tail, sizeof tail, ",mem:%lu:%08X", m_mem_size, m_mem_crc);
    signature += tail;
  }
  return signature;
}

void font_engine_system_base::set_signature(const std::string& signature)
{
  m_signature = signature;
  m_cache_signature = m_signature;
  if (!m_signature.empty() && m_plane) {
    char plane[32];
    std::snprintf(plane, sizeof plane, ",plane:%X", m_plane);
    m_cache_signature += plane;
  }
  ++m_change_stamp;
}

void font_engine_system_base::update_signature()
{
  set_signature(m_cur_face ? make_signature() : std::string());
}

void font_engine_system_base::glyph_plane(unsigned plane)
{
  if (plane == m_plane)
    return;
  m_plane = plane;
  set_signature(m_signature);
}

void font_engine_system_base::resolution(unsigned dpi)
{
  m_resolution = dpi;
  update_signature();
}

int font_engine_system_base::find_font(const char* signature) const
{
  if (!signature)
    return -1;
  for (size_t i = 0; i < m_faces.size(); ++i)
    if (m_faces[i]->signature == signature)
      return int(i);
  return -1;
}

bool font_engine_system_base::load_font(const char* font_name, const char* style,
                                        glyph_rendering ren_type, const char* font_mem,
                                        long font_mem_size)
{
  if (ren_type == glyph_ren_native_mono)
    ren_type = glyph_ren_agg_mono;
  else if (ren_type == glyph_ren_native_gray8)
    ren_type = glyph_ren_agg_gray8;
  m_glyph_rendering = ren_type;

  // Generic names first, as scripts written for the desktop this engine
  // first ran on expect; the font layer maps the rest.
  std::string base = font_name ? font_name : "";
  if (strcasecmp(base.c_str(), "serif") == 0) {
    base = "Times New Roman";
  } else if (strcasecmp(base.c_str(), "sans-serif") == 0 ||
             strcasecmp(base.c_str(), "sans") == 0 || strcasecmp(base.c_str(), "system") == 0) {
    if (sysfont.empty())
      sysfont = fonts::systemFontName();
    base = sysfont;
  } else if (strcasecmp(base.c_str(), "monospace") == 0) {
    base = "Monaco";
  }
  std::string style_word;
  if (style && std::strlen(style) >= 2 && strcasecmp(style, "Regular") != 0)
    style_word = style;
  m_name = style_word.empty() ? base : base + "-" + style_word;

  bool from_memory = font_mem && font_mem_size != 0;
  if (from_memory && font_mem_size < 0)
    return false;
  m_from_memory = from_memory;
  m_mem_size = from_memory ? (unsigned long)font_mem_size : 0;
  m_mem_crc = from_memory ? crc32Of(font_mem, (size_t)font_mem_size) : 0;

  // The lookup key does not depend on whether a face is current, so that a
  // load after a failed one still finds its face.
  std::string signature = make_signature();
  int idx = find_font(signature.c_str());
  if (idx >= 0) {
    m_cur_face = m_faces[idx];
    set_signature(signature);
    return true;
  }

  std::shared_ptr<fonts::FontFace> face;
  if (from_memory) {
    face = fonts::FontFace::openMemory(font_mem, (size_t)font_mem_size);
  } else {
    fonts::FontLocation location;
    if (fonts::resolveFont(base, style_word, location))
      face = fonts::FontFace::openFile(location.file, location.index);
  }
  if (!face) {
    m_cur_face.reset();
    set_signature(std::string());
    return false;
  }

  if (m_faces.size() >= m_max_faces)
    m_faces.erase(m_faces.begin());
  auto entry = std::make_shared<face_entry>();
  entry->face = face;
  entry->height = m_height;
  entry->signature = signature;
  m_faces.push_back(entry);
  m_cur_face = entry;
  set_signature(signature);
  return true;
}

double font_engine_system_base::ascender() const
{
  return m_cur_face ? m_cur_face->face->ascender() * m_cur_face->scale() : 0.0;
}

double font_engine_system_base::descender() const
{
  return m_cur_face ? m_cur_face->face->descender() * m_cur_face->scale() : 0.0;
}

void font_engine_system_base::get_font_list(std::vector<std::string>&, const char*)
{
  syslog(LOG_NOTICE, "NYI: get_font_list!");
}

namespace {

// Font units to the storage's integer, 6 fraction bits, clamped to what the
// storage keeps rather than wrapped.
template <class Storage>
struct outline_sink {
  typedef typename Storage::value_type value_type;
  Storage* storage;
  double scale;
  bool flip_y;
  const trans_affine* affine;

  void point(const FT_Vector* v, value_type* x, value_type* y) const
  {
    double px = double(v->x) * scale * 64.0;
    double py = double(v->y) * scale * 64.0;
    if (flip_y)
      py = -py;
    affine->transform(&px, &py);
    *x = value_type(clamp_int<int>(saturate_cast<int>(px), Storage::min_coord, Storage::max_coord));
    *y = value_type(clamp_int<int>(saturate_cast<int>(py), Storage::min_coord, Storage::max_coord));
  }

  static int move_to(const FT_Vector* to, void* user)
  {
    auto* s = static_cast<outline_sink*>(user);
    value_type x, y;
    s->point(to, &x, &y);
    s->storage->move_to(x, y);
    return 0;
  }
  static int line_to(const FT_Vector* to, void* user)
  {
    auto* s = static_cast<outline_sink*>(user);
    value_type x, y;
    s->point(to, &x, &y);
    s->storage->line_to(x, y);
    return 0;
  }
  static int conic_to(const FT_Vector* control, const FT_Vector* to, void* user)
  {
    auto* s = static_cast<outline_sink*>(user);
    value_type cx, cy, x, y;
    s->point(control, &cx, &cy);
    s->point(to, &x, &y);
    s->storage->curve3(cx, cy, x, y);
    return 0;
  }
  static int cubic_to(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user)
  {
    auto* s = static_cast<outline_sink*>(user);
    value_type c1x, c1y, c2x, c2y, x, y;
    s->point(c1, &c1x, &c1y);
    s->point(c2, &c2x, &c2y);
    s->point(to, &x, &y);
    s->storage->curve4(c1x, c1y, c2x, c2y, x, y);
    return 0;
  }
};

} // namespace

template <class Storage>
bool font_engine_system_base::decompose(Storage& storage, double scale)
{
  storage.remove_all();
  FT_Outline* outline = &m_cur_face->face->face()->glyph->outline;
  outline_sink<Storage> sink{&storage, scale, m_flip_y, &m_affine};
  FT_Outline_Funcs funcs;
  funcs.move_to = &outline_sink<Storage>::move_to;
  funcs.line_to = &outline_sink<Storage>::line_to;
  funcs.conic_to = &outline_sink<Storage>::conic_to;
  funcs.cubic_to = &outline_sink<Storage>::cubic_to;
  funcs.shift = 0;
  funcs.delta = 0;
  return FT_Outline_Decompose(outline, &funcs, &sink) == 0;
}

template <class Storage>
bool font_engine_system_base::finish_glyph(Storage& storage)
{
  rect_d box;
  bool inked = storage.bounding_rect(box);
  switch (m_glyph_rendering) {
  case glyph_ren_outline:
    m_bounds = inked ? rect_i(int(std::floor(box.x1)), int(std::floor(box.y1)),
                              int(std::ceil(box.x2)), int(std::ceil(box.y2)))
                     : rect_i(0, 0, 0, 0);
    m_data_size = storage.byte_size();
    m_data_type = glyph_data_outline;
    return true;
  case glyph_ren_agg_gray8:
  case glyph_ren_agg_mono: {
    // Coverage memory grows with the glyph's area: very large glyphs are
    // drawn from outlines, not cached as scanlines.
    if (inked && (box.x2 - box.x1 > max_raster_extent || box.y2 - box.y1 > max_raster_extent ||
                  std::fabs(box.x1) > 1e6 || std::fabs(box.y1) > 1e6 ||
                  std::fabs(box.x2) > 1e6 || std::fabs(box.y2) > 1e6))
      return false;
    bool gray = m_glyph_rendering == glyph_ren_agg_gray8;
    rasterize_outline(inked, gray);
    m_data_size = gray ? m_scanlines_aa.byte_size() : m_scanlines_bin.byte_size();
    m_data_type = gray ? glyph_data_gray8 : glyph_data_mono;
    return true;
  }
  default:
    return false;
  }
}

bool font_engine_system_base::prepare_glyph(unsigned glyph_code)
{
  m_data_size = 0;
  m_data_type = glyph_data_invalid;
  if (!m_cur_face)
    return false;
  FT_Face face = m_cur_face->face->face();
  FT_UInt index = FT_Get_Char_Index(face, glyph_code);
  if (index == 0)
    return false;
  // Unscaled and unhinted: the engine scales by size / units per em itself.
  if (FT_Load_Glyph(face, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0 ||
      face->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
    return false;

  double scale = m_cur_face->scale();
  bool ok = m_flag32 ? decompose(m_path32, scale) && finish_glyph(m_path32)
                     : decompose(m_path16, scale) && finish_glyph(m_path16);
  if (!ok) {
    m_data_size = 0;
    m_data_type = glyph_data_invalid;
    return false;
  }
  // Every glyph carries its own index and advance, a zero advance included.
  m_glyph_index = index;
  m_advance_x = double(face->glyph->metrics.horiAdvance) * scale;
  m_advance_y = 0.0;
  m_affine.transform(&m_advance_x, &m_advance_y);
  return true;
}

void font_engine_system_base::write_glyph_to(int8u* data) const
{
  if (!data || m_data_size == 0)
    return;
  switch (m_data_type) {
  case glyph_data_outline:
    if (m_flag32)
      m_path32.serialize(data);
    else
      m_path16.serialize(data);
    break;
  case glyph_data_gray8:
    m_scanlines_aa.serialize(data);
    break;
  case glyph_data_mono:
    m_scanlines_bin.serialize(data);
    break;
  default:
    break;
  }
}

} // namespace agg
