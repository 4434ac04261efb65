// What the barcode reader's parts share: the type bits, the reading
// directions, the result record and the order under which repeated reads of
// one symbol are merged.
#pragma once

#include <string>

namespace BarDecode {

// Type bits; a mask selects symbologies, a result carries exactly one bit.
enum codes_t : unsigned {
  ean8 = 1,
  ean13 = 2,
  upca = 4,
  ean = ean8 | ean13 | upca,
  upce = 8,
  code128 = 16,
  gs1_128 = 32,
  code39 = 64,
  code39_mod43 = 128,
  code39_ext = 256,
  code25i = 512,
  any_code = 4095,
};

// Reading directions. Along a scan line only 1 (start pattern first) and 4
// (stop pattern first) matter; 2 and 8 are the column-wise pair the caller
// folds onto them.
enum directions_t : unsigned {
  left_right = 1,
  top_down = 2,
  right_left = 4,
  down_top = 8,
  any_direction = 15,
};

struct scanner_result_t {
  bool valid;
  int type;
  std::string code;
  int x, y;

  scanner_result_t() : valid(false), type(0), code(), x(0), y(0) {}
  scanner_result_t(int _type, const std::string& _code, int _x, int _y)
    : valid(true), type(_type), code(_code), x(_x), y(_y)
  {
  }
};

// Orders by type, then text; position and validity play no part, so reads
// of one symbol on several scan lines are one key.
struct comp {
  bool operator()(const scanner_result_t& a, const scanner_result_t& b) const
  {
    if (a.type != b.type)
      return a.type < b.type;
    return a.code.compare(b.code) < 0;
  }
};

// Name of one type bit; "?" for 0, unknown bits and combinations.
const char* bartype2string(int type);

} // namespace BarDecode
