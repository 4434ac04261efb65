// Whole-image barcode reading with merged hits.
#include <cstdio>
#include <map>

#include "bardecode/scanner.hh"
#include "bardecode/read_barcodes.hh"

namespace BarDecode {

unsigned bardecode_types(const std::string& word)
{
  if (word == "ean")
    return ean8 | ean13 | upca | upce;
  if (word == "code128")
    return code128 | gs1_128;
  if (word == "code39")
    return code39 | code39_mod43 | code39_ext;
  if (word == "code25")
    return code25i;
  if (word == "any")
    return any_code;
  fprintf(stderr, "Unmatched bardecode types: %s\n", word.c_str());
  return 0;
}

namespace {

typedef std::map<scanner_result_t, unsigned, comp> hits_t;

// Runs the iterator to its own end, so the hits of the last line group
// count like any other.
template <bool vertical>
void collect(const Image& image, int threshold, unsigned types, unsigned directions,
             int concurrent_lines, int line_skip, hits_t& hits)
{
  for (BarcodeIterator<vertical> it(&image, threshold, types, (directions_t)directions,
                                    concurrent_lines, line_skip);
       !it.end(); it.next()) {
    auto ins = hits.insert(hits_t::value_type(it.current, 1));
    if (!ins.second)
      ++ins.first->second;
  }
}

} // namespace

std::vector<scanner_result_t> read_barcodes(const Image& image, unsigned types, int threshold,
                                            int concurrent_lines, int line_skip,
                                            unsigned directions)
{
  hits_t hits;
  // An unknown pixel type is reported once for the whole call, not once
  // per pass.
  if (image.w > 0 && image.h > 0 && image.Type() == 0)
    return {};
  if (directions & (left_right | right_left))
    collect<false>(image, threshold, types, directions, concurrent_lines, line_skip, hits);
  if (directions & (top_down | down_top))
    collect<true>(image, threshold, types, (directions >> 1) & 5, concurrent_lines, line_skip,
                  hits);
  std::vector<scanner_result_t> out;
  out.reserve(hits.size());
  for (const auto& h : hits)
    out.push_back(h.first);
  return out;
}

} // namespace BarDecode
