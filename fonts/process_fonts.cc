// The process-wide glyph engine and cache.
#include "fonts/process_fonts.hh"

font_engine_type* m_feng = nullptr;
font_manager_type* m_fman = nullptr;

void createFontEngine()
{
  if (!m_feng)
    m_feng = new font_engine_type(32);
  if (!m_fman)
    m_fman = new font_manager_type(*m_feng, 32);
}

void deleteFontEngine()
{
  // The cache refers to the engine: it goes first.
  delete m_fman;
  m_fman = nullptr;
  delete m_feng;
  m_feng = nullptr;
}
