// Whole-image barcode reading with merged hits.
#include <algorithm>
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

// Where a symbol was read: the box of its reads' scan-line pieces, from the
// start of the bars to the end of what the decoder took, in the pass's
// terms (along the scan lines, and across them).
struct Hit {
  unsigned reads;
  bool vertical;
  long from, to, first, last;

  void add(long a0, long a1, long line)
  {
    from = std::min(from, a0);
    to = std::max(to, a1);
    first = std::min(first, line);
    last = std::max(last, line);
  }
};
typedef std::map<scanner_result_t, Hit, comp> hits_t;

// Runs the iterator to its own end, so the hits of the last line group
// count like any other.
template <bool vertical>
void collect(const Image& image, int threshold, unsigned types, unsigned directions,
             int concurrent_lines, int line_skip, hits_t& hits)
{
  for (BarcodeIterator<vertical> it(&image, threshold, types, (directions_t)directions,
                                    concurrent_lines, line_skip);
       !it.end(); it.next()) {
    // the iterator stands just after the read
    const scanner_result_t& r = it.current;
    const long a0 = vertical ? r.y : r.x, a1 = vertical ? it.y : it.x, line = vertical ? r.x : r.y;
    auto ins = hits.insert(hits_t::value_type(r, Hit{0, vertical, a0, a1, line, line}));
    Hit& h = ins.first->second;
    ++h.reads;
    if (h.vertical == vertical)
      h.add(a0, a1, line);
  }
}

// A scan line that crosses an edge of a tilted symbol sees part of it and
// may take the edge for a start or stop pattern: a read of the same type
// whose text begins (or ends) the longer read's, on lines among the longer
// read's bars. Among means: between their ends along the lines, give or
// take two characters' width, and across no farther from the lines that
// read the whole symbol than a quarter of its length (a tilt of 14 degrees).
bool truncatedRead(const scanner_result_t& a, const Hit& ha, const scanner_result_t& b, const Hit& hb)
{
  if (a.type != b.type || ha.vertical != hb.vertical || a.code.empty() || a.code.size() >= b.code.size())
    return false;
  const bool prefix = b.code.compare(0, a.code.size(), a.code) == 0;
  const bool suffix = b.code.compare(b.code.size() - a.code.size(), a.code.size(), a.code) == 0;
  if (!prefix && !suffix)
    return false;
  const long length = hb.to - hb.from;
  if (length <= 0)
    return false;
  const long slack = 2 * length / (long)b.code.size(), across = length / 4;
  return ha.from >= hb.from - slack && ha.to <= hb.to + slack && ha.first >= hb.first - across &&
         ha.last <= hb.last + across;
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
  for (const auto& h : hits) {
    bool truncated = false;
    for (const auto& longer : hits)
      truncated = truncated || truncatedRead(h.first, h.second, longer.first, longer.second);
    if (!truncated)
      out.push_back(h.first);
  }
  return out;
}

} // namespace BarDecode
