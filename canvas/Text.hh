// A font selection and a selected glyph for scripts, on the process's
// glyph engine and cache. The selected glyph is a copy of the cache entry:
// the cache drops its oldest font when a 33rd is used, and a Text keeps
// drawing what it selected.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bind/Class.hh"
#include "fonts/process_fonts.hh"

class XPath;

class Text {
public:
  double ascender = 0;  // both 0 until a font is set
  double descender = 0;
  std::shared_ptr<const agg::owned_glyph> glyph; // null: none selected
  bool hinting = true;
  std::string fontData;

  // The engine's installed fonts, filtered by a substring when given.
  static std::vector<std::string> getFonts(const char* filter);

  void setHinting(bool on) { hinting = on; }
  // Makes name/style at size the shared engine's current face; false
  // (with a diagnostic) when it cannot be loaded, metrics unchanged.
  bool setFont(const std::string& name, const std::string& style, double size,
               const std::string& data = std::string());
  // Selects the glyph of a character code of the current face; false and
  // no glyph when the face has none.
  bool selectGlyph(unsigned code);
  void getAdvancements(double& x, double& y) const;
  void getKerning(double& x, double& y) const;
  // x1, y1, width, height of the glyph's integer bounds; zeros without one.
  void getBounds(int& x, int& y, int& w, int& h) const;
  // Appends the glyph's outline placed at (x, y) to path.
  bool addToPath(double x, double y, XPath& path) const;

  // The selected glyph's data when it is an outline, else null after the
  // diagnostic the drawing functions print.
  const agg::glyph_cache* outlineGlyph() const;
};

TOLM_SCRIPT_CLASS(Text, "Text")

// Registers the script entries of "Text"; the class must be declared.
void exportTextClass(lua_State* L);
