// Whole-image barcode reading as the script layer offers it: a row pass and
// a column pass, with the reads of each distinct symbol merged into one.
#pragma once

#include <string>
#include <vector>

#include "bardecode/bardecode.hh"

class Image;

namespace BarDecode {

// Type mask for a word: "ean", "code128", "code39", "code25" or "any";
// another word prints "Unmatched bardecode types: " and gives 0.
unsigned bardecode_types(const std::string& word);

// Each distinct (type, text) once, ordered by `comp`, with the position of
// its first read (row pass before column pass). `directions`: 1 and 4 read
// rows forward and mirrored, 2 and 8 columns.
std::vector<scanner_result_t> read_barcodes(const Image& image, unsigned types,
                                            int threshold = 150, int concurrent_lines = 3,
                                            int line_skip = 8, unsigned directions = 15);

} // namespace BarDecode
