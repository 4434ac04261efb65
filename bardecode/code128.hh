// Code 128 with its code sets, SHIFT, FNC1 and check symbol, read forward
// or mirrored from one scan line.
#pragma once

#include <list>

#include "bardecode/bardecode.hh"
#include "bardecode/scanner_utils.hh"

namespace BarDecode {

class code128_t {
public:
  enum code_set_t { code_set_a = 0, code_set_b = 1, code_set_c = 2 };
  enum control_t {
    fnc1, fnc2, fnc3, fnc4, shift, code_a, code_b, code_c, start_a, start_b, start_c, stop,
  };
  enum { no_entry = 255, stop_value = 106 };

  // One symbol's meaning in a code set: text, or a control code.
  struct symbol_t {
    bool control;
    int code;         // control_t when control
    std::string text; // one character, two digits in set C
  };

  code128_t();

  scanner_result_t scan(token_iterator& start, token_iterator end, int x, int y,
                        unsigned quiet_width) const;
  scanner_result_t reverse_scan(token_iterator& start, token_iterator end, int x, int y,
                                unsigned quiet_width) const;

  symbol_t decode128(code_set_t set, unsigned short word) const;
  // Symbol inner words, start symbol first and check symbol last.
  scanner_result_t decode_key_list(const std::list<unsigned short>& list, int x, int y) const;

  // Symbol value by inner word (modules 2 to 10 of a symbol's first eleven),
  // then the control maps of sets A, B and C for values 96 to 105.
  unsigned char table[512 + 3 * 10];
};

extern const code128_t code128_impl;

} // namespace BarDecode
