// The process-wide glyph engine and cache are made once the renderer is up
// and deleted after the script state has closed.
#include "host/Host.hh"

namespace host {

void createFonts() {
  // The font engine joins here: createFontEngine().
}

void deleteFonts() {
  // The font engine joins here: deleteFontEngine() (the cache before the engine).
}

}  // namespace host
