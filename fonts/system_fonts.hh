// The font layer under the glyph engine: names resolved to installed font
// files through fontconfig, faces opened through FreeType, from a file or
// from bytes the face keeps alive itself.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <ft2build.h>
#include FT_FREETYPE_H

namespace fonts {

// Where a resolved font lives and what it calls itself.
struct FontLocation {
  std::string file;
  int index = 0;              // face index within the file (collections, instances)
  std::string postscriptName;
  std::string family;
  std::string style;
};

// How a name was resolved, in the order the steps are tried.
enum class Resolution { None, PostScriptName, FullName, FamilyStyle, Alias, BestMatch };

// Resolves a font name as scripts write it: the exact PostScript name, then
// the full name, then "Family-Style" split at the last '-', then the alias
// table for names common on other desktops, then fontconfig's best match.
// `style` (may be empty) is the style word given separately; it is tried as
// name + "-" + style. Results are cached by (name, style). False only when
// no scalable font is installed at all.
bool resolveFont(const std::string& name, const std::string& style, FontLocation& out,
                 Resolution* how = nullptr);

// PostScript name of the desktop's interface font: fontconfig's "system-ui",
// else "sans-serif". Empty when no font is installed.
std::string systemFontName();

// Starts fontconfig once for the process (false when it cannot start).
// Under the leak checker its configuration is handed back once at exit;
// other users of fontconfig (poppler) go through here too.
bool startFontconfig();

// One FreeType face, unscaled; shared by every engine face made from it.
// Faces from bytes own a copy of the bytes for as long as they live.
class FontFace {
public:
  ~FontFace();
  FontFace(const FontFace&) = delete;
  FontFace& operator=(const FontFace&) = delete;

  FT_Face face() const { return ftFace; }
  unsigned unitsPerEm() const { return ftFace->units_per_EM; }
  // hhea ascent and descent in font units (descent negative).
  int ascender() const { return ftFace->ascender; }
  int descender() const { return ftFace->descender; }

  // Opens face `index` of a file; null when FreeType cannot or the face has
  // no scalable outlines. Open faces are shared by (file, index).
  static std::shared_ptr<FontFace> openFile(const std::string& file, int index);
  // Copies `size` bytes and opens face 0 of them; null on invalid data.
  static std::shared_ptr<FontFace> openMemory(const char* data, size_t size);

private:
  struct Library;
  FontFace() = default;
  std::shared_ptr<Library> library; // outlives every face made with it
  std::shared_ptr<const std::string> bytes;
  FT_Face ftFace = nullptr;
};

} // namespace fonts
