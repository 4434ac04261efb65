// The process's one glyph engine and glyph cache, shared by every script
// Text and by the canvas. The host makes them at start-up and deletes them
// when the interpreter has closed.
#pragma once

#include "fonts/font_engine.hh"
#include "fonts/glyph_cache_manager.hh"

// 32-bit outline coordinates: glyphs of a few hundred pixels (a stamp at
// 600 dpi) would wrap 16-bit ones.
typedef agg::font_engine_system_int32 font_engine_type;
typedef agg::glyph_cache_manager<font_engine_type> font_manager_type;

extern font_engine_type* m_feng;
extern font_manager_type* m_fman;

// Creates the engine (32 faces) and the cache over it (32 fonts) unless
// they exist.
void createFontEngine();
// Deletes both and sets them null; glyphs taken from the cache are invalid
// afterwards.
void deleteFontEngine();
