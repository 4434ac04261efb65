// Names of the barcode type bits.
#include "bardecode/bardecode.hh"

namespace BarDecode {

const char* bartype2string(int type)
{
  switch (type) {
  case ean8: return "ean8";
  case ean13: return "ean13";
  case upca: return "upca";
  case upce: return "upce";
  case code128: case gs1_128: return "code128";
  case code39: case code39_mod43: case code39_ext: return "code39";
  case code25i: return "code25";
  default: return "?";
  }
}

} // namespace BarDecode
