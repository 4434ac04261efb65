// A look into the PDF writer's state for the writer tests.
#pragma once

#include <string>

#include "codecs/PDF.hh"

// The content-stream operators of the page being written.
inline std::string operatorsOf(PDFCodec& writer)
{
  return writer.context->currentPage->content.operators.str();
}
