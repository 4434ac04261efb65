// The codec prototypes. Each registers itself at the front of the registry
// when constructed, so the probing order is the reverse of the order here.
#include "codecs/Loaders.hh"

#include "codecs/pdf_probe.hh"

PDFProbe pdf_loader;

void linkCodecLoaders() {}
