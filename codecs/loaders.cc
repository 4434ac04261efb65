// The codec prototypes. Each registers itself at the front of the registry
// when constructed, so the probing order is the reverse of the order here.
#include "codecs/Loaders.hh"

#include "codecs/PDF.hh"
#include "codecs/PNG.hh"
#include "codecs/TIFF.hh"

TIFF2Codec tiff2_loader; // probed last
PNG2Codec png2_loader;
PDFCodec pdf_loader;

void linkCodecLoaders() {}
