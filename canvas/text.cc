// Font selection, glyph selection and glyph outlines of Text.
#include "canvas/Text.hh"

#include <cmath>
#include <cstdio>

#include "canvas/XPath.hh"

std::vector<std::string> Text::getFonts(const char* filter)
{
  std::vector<std::string> list;
  if (m_feng)
    m_feng->get_font_list(list, filter);
  return list;
}

bool Text::setFont(const std::string& name, const std::string& style, double size,
                   const std::string& data)
{
  fontData = data;
  if (!m_feng || !m_fman) {
    fprintf(stderr, "failed to load font: %s-%s\n", name.c_str(), style.c_str());
    return false;
  }
  m_feng->hinting(hinting);
  m_feng->flip_y(true);
  m_feng->height(size);
  if (!m_feng->load_font(name.c_str(), style.c_str(), agg::glyph_ren_outline,
                         fontData.empty() ? nullptr : fontData.data(), (long)fontData.size())) {
    fprintf(stderr, "failed to load font: %s-%s\n", name.c_str(), style.c_str());
    return false;
  }
  m_feng->height(size);
  const double a = m_feng->ascender(), d = m_feng->descender();
  // A face without vertical extent would divide by zero.
  ascender = a - d > 0 ? std::floor(a / (a - d) * size) : 0;
  descender = ascender - (a - d);
  return true;
}

bool Text::selectGlyph(unsigned code)
{
  glyph.reset();
  if (!m_fman)
    return false;
  const agg::glyph_cache* g = m_fman->glyph(code);
  if (!g)
    return false;
  glyph = std::make_shared<const agg::owned_glyph>(*g);
  return true;
}

void Text::getAdvancements(double& x, double& y) const
{
  x = y = 0;
  if (glyph) {
    x = glyph->get()->advance_x;
    y = glyph->get()->advance_y;
  }
}

void Text::getKerning(double& x, double& y) const
{
  x = y = 0;
  if (glyph && m_fman)
    m_fman->add_kerning(&x, &y);
}

void Text::getBounds(int& x, int& y, int& w, int& h) const
{
  x = y = w = h = 0;
  if (!glyph)
    return;
  const agg::rect_i& b = glyph->get()->bounds;
  x = b.x1;
  y = b.y1;
  w = b.x2 - b.x1 + 1;
  h = b.y2 - b.y1 + 1;
}

const agg::glyph_cache* Text::outlineGlyph() const
{
  if (!glyph) {
    fprintf(stderr, "Warning: no glyph\n");
    return nullptr;
  }
  if (glyph->get()->data_type != agg::glyph_data_outline) {
    fprintf(stderr, "Warning: unexpected glyph type\n");
    return nullptr;
  }
  return glyph->get();
}

bool Text::addToPath(double x, double y, XPath& path) const
{
  const agg::glyph_cache* g = outlineGlyph();
  if (!g || !m_fman)
    return false;
  m_fman->init_embedded_adaptors(g, x, y, 1.0);
  path.path.concat_path(m_fman->path_adaptor());
  return true;
}
