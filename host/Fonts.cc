// The process-wide glyph engine and cache are made once the renderer is up
// and deleted after the script state has closed.
#include "host/Host.hh"

#include "fonts/process_fonts.hh"

namespace host {

void createFonts() { createFontEngine(); }

void deleteFonts() { deleteFontEngine(); } // the cache goes before the engine

}  // namespace host
