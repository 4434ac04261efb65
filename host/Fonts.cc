// The process-wide glyph engine and cache are made by init and deleted after
// the script state has closed (script objects may hold glyphs until then).
#include "fonts/process_fonts.hh"
#include "host/Host.hh"

namespace host {

void createFonts() { createFontEngine(); }

// The cache goes before the engine it refers to.
void deleteFonts() { deleteFontEngine(); }

}  // namespace host
