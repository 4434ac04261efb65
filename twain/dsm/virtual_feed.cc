// The virtual scanner's pages: image files from a list, or generated
// document-like pages (lines of word blocks, an optional skew, a dark
// scanner border, barcode separator sheets, blank sheets), with a fixed
// seed so every run gives the same pixels.
#include "twain/dsm/VirtualFeed.hh"

#include "codecs/Codecs.hh"
#include "image/Colorspace.hh"
#include "image/Crop.hh"
#include "image/Rotate.hh"
#include "image/Scale.hh"
#include "utility/Saturate.hh"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace twaindsm {

namespace {

// Code 39: nine elements per character (bar, space, ... bar), 1 = wide.
const char* const kCode39Chars = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%*";
const char* const kCode39Patterns[] = {
    "000110100", "100100001", "001100001", "101100000", "000110001", "100110000", "001110000",
    "000100101", "100100100", "001100100", "100001001", "001001001", "101001000", "000011001",
    "100011000", "001011000", "000001101", "100001100", "001001100", "000011100", "100000011",
    "001000011", "101000010", "000010011", "100010010", "001010010", "000000111", "100000110",
    "001000110", "000010110", "110000001", "011000001", "111000000", "010010001", "110010000",
    "011010000", "010000101", "110000100", "011000100", "010101000", "010100010", "010001010",
    "000101010", "010010100"};

uint32_t lcg(uint32_t& state)
{
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

void fillRect(Image& g, int x0, int y0, int x1, int y1, uint8_t v)
{
  x0 = std::max(0, x0);
  y0 = std::max(0, y0);
  x1 = std::min(g.w, x1);
  y1 = std::min(g.h, y1);
  uint8_t* d = g.getRawData();
  for (int y = y0; y < y1; ++y)
    if (x1 > x0)
      std::memset(d + size_t(y) * g.stride() + x0, v, size_t(x1 - x0));
}

// Draws "*text*" in Code 39 with its top-left at (x, y).
void drawCode39(Image& g, int x, int y, int module, int height, const std::string& text)
{
  std::string full = "*" + text + "*";
  for (char ch : full) {
    const char* pos = std::strchr(kCode39Chars, ch);
    if (!pos || !*pos)
      continue;
    const char* pat = kCode39Patterns[pos - kCode39Chars];
    for (int e = 0; e < 9; ++e) {
      int width = (pat[e] == '1' ? 3 : 1) * module;
      if (e % 2 == 0)
        fillRect(g, x, y, x + width, y + height, 0);
      x += width;
    }
    x += module; // gap between characters
  }
}

} // namespace

VirtualFeed::Config VirtualFeed::Config::parse(const std::string& words)
{
  Config c;
  forEachWord(words, [&c](const std::string& key, const std::string& value) {
    if (key == "count")
      c.sheets = std::max(0, std::min(10000, std::atoi(value.c_str())));
    else if (key == "skew")
      c.skew = std::atof(value.c_str());
    else if (key == "border")
      c.border = true;
    else if (key == "tight")
      c.border = c.tight = true;
    else if (key == "endless")
      c.endless = true;
    else if (key == "seed")
      c.seed = uint32_t(std::strtoul(value.c_str(), nullptr, 10));
    else if (key == "separator" || key == "blank") {
      std::stringstream list(value);
      std::string n;
      while (std::getline(list, n, ':'))
        (key == "separator" ? c.separators : c.blanks).push_back(std::atoi(n.c_str()));
    }
  });
  return c;
}

VirtualFeed::VirtualFeed(const Config& c, std::vector<std::string> f)
    : config(c), files(std::move(f))
{
}

// The quarter inch of background on every side belongs to the scan, unless
// the window is tight.
const double kBorderInches = 0.25;

double VirtualFeed::sheetWidth() const
{
  return PageFeed::sheetWidth() + (config.border && !config.tight ? 2 * kBorderInches : 0);
}

double VirtualFeed::sheetHeight() const
{
  return PageFeed::sheetHeight() + (config.border && !config.tight ? 2 * kBorderInches : 0);
}

void VirtualFeed::start(const ScanSettings& s)
{
  settings = s;
  sheet = 0;
  side = 0;
  stopped = false;
}

int VirtualFeed::totalPages() const
{
  int sheets = files.empty() ? config.sheets : int(files.size());
  return settings.duplex && files.empty() ? sheets * 2 : sheets;
}

bool VirtualFeed::more()
{
  if (stopped)
    return false;
  if (config.endless)
    return true;
  return pageIndex() < totalPages();
}

int VirtualFeed::remaining() const
{
  if (stopped)
    return 0;
  if (config.endless)
    return -1;
  return std::max(0, totalPages() - pageIndex());
}

int VirtualFeed::pageIndex() const
{
  return settings.duplex && files.empty() ? sheet * 2 + side : sheet;
}

void VirtualFeed::advance()
{
  if (settings.duplex && files.empty()) {
    if (++side == 2) {
      side = 0;
      ++sheet;
    }
  } else {
    ++sheet;
  }
}

// A generated page in 8-bit gray at the requested resolution.
void VirtualFeed::generate(Image& g, int pageNumber)
{
  const double xres = settings.xres, yres = settings.yres;
  const int w = std::max(1, saturate_cast<int>(PageFeed::sheetWidth() * xres));
  const int h = std::max(1, saturate_cast<int>(PageFeed::sheetHeight() * yres));
  g.spp = 1;
  g.bps = 8;
  g.resize(w, h);
  std::memset(g.getRawData(), 250, size_t(g.stride()) * size_t(h));
  uint32_t rnd = config.seed * 7919u + uint32_t(pageNumber) * 104729u + 1;

  const int sheetNumber = pageNumber + 1;
  const bool isSeparator =
      std::find(config.separators.begin(), config.separators.end(), sheetNumber) !=
      config.separators.end();
  const bool isBlank = std::find(config.blanks.begin(), config.blanks.end(), sheetNumber) !=
                       config.blanks.end();
  if (isSeparator) {
    int number = int(std::find(config.separators.begin(), config.separators.end(), sheetNumber) -
                     config.separators.begin()) + 1;
    char text[16];
    std::snprintf(text, sizeof text, "DOC%04d", number);
    int module = std::max(2, int(xres / 100));
    drawCode39(g, int(1.2 * xres), int(4 * yres), module, int(1.2 * yres), text);
  } else if (!isBlank && !(settings.duplex && side == 1 && sheetNumber % 2 == 0)) {
    // Lines of word blocks inside one-inch margins, paragraphs every few
    // lines; even sheets have an empty back.
    const int left = int(xres), right = w - int(xres);
    const int lineHeight = std::max(2, int(yres * 0.11));
    const int lineStep = std::max(lineHeight + 1, int(yres * 0.22));
    int y = int(yres * 1.2);
    // a title block
    fillRect(g, left, y, left + (right - left) / 2, y + lineHeight * 2, 20);
    y += lineStep * 2;
    int line = 0;
    while (y + lineHeight < h - int(yres)) {
      int x = left;
      int end = (line % 7 == 6) ? left + (right - left) * 2 / 5 : right;
      while (x < end) {
        int word = int(xres * (0.15 + (lcg(rnd) % 100) / 200.0));
        if (x + word > end)
          break;
        fillRect(g, x, y, x + word, y + lineHeight, uint8_t(10 + lcg(rnd) % 30));
        x += word + int(xres * 0.08);
      }
      y += (line % 7 == 6) ? lineStep * 2 : lineStep;
      ++line;
    }
  }
  // a little paper noise
  uint8_t* d = g.getRawData();
  for (int i = 0; i < w * h / 50; ++i) {
    size_t x = lcg(rnd) % unsigned(w), yy = lcg(rnd) % unsigned(h);
    uint8_t& p = d[yy * g.stride() + x];
    p = uint8_t(std::max(0, int(p) - 12));
  }
  if (config.border) {
    // The sheet on the scanner's dark background, a quarter inch around.
    const int bx = int(kBorderInches * xres), by = int(kBorderInches * yres);
    Image framed;
    framed.spp = 1;
    framed.bps = 8;
    framed.resize(w + 2 * bx, h + 2 * by);
    std::memset(framed.getRawData(), 40, size_t(framed.stride()) * size_t(framed.h));
    for (int yy = 0; yy < h; ++yy)
      std::memcpy(framed.getRawData() + size_t(yy + by) * framed.stride() + bx,
                  g.getRawData() + size_t(yy) * g.stride(), size_t(w));
    framed.setResolution(int(xres), int(yres));
    g = framed;
  }
  // A skewed sheet is turned as a whole, on the scanner's background when
  // there is one, as a sheet fed at an angle comes out.
  if (config.skew != 0) {
    Image::iterator bg(&g, false);
    for (int i = 0; i < 4; ++i)
      bg.value[i] = config.border ? 40 : 250;
    rotate(g, config.skew, bg);
  }
  g.setResolution(saturate_cast<int>(xres), saturate_cast<int>(yres));
}

bool VirtualFeed::readFile(Image& page, const std::string& path, TW_UINT16& cc)
{
  if (ImageCodec::Read(path, page) <= 0 || page.empty()) {
    std::fprintf(stderr, "virtual scanner: cannot read %s\n", path.c_str());
    cc = twain::TWCC_OPERATIONERROR;
    return false;
  }
  // to the requested resolution (a file without one is taken as it stands)
  if (page.resX > 0 && page.resY > 0 &&
      (page.resX != int(settings.xres) || page.resY != int(settings.yres))) {
    if (page.bps < 8)
      colorspace_by_name(page, "gray");
    scale(page, settings.xres / page.resX, settings.yres / page.resY);
  }
  page.setResolution(saturate_cast<int>(settings.xres), saturate_cast<int>(settings.yres));
  return true;
}

bool VirtualFeed::next(Image& page, TW_UINT16& cc, bool& cancelled)
{
  cancelled = false;
  cc = twain::TWCC_SUCCESS;
  if (!more()) {
    cc = twain::TWCC_NOMEDIA;
    return false;
  }
  bool ok;
  if (!files.empty()) {
    ok = readFile(page, files[size_t(sheet) % files.size()], cc);
  } else {
    generate(page, pageIndex());
    ok = true;
  }
  advance();
  if (!ok)
    return false;

  // brightness moves every level by brightness / 1000 of the range
  if (settings.brightness != 0 && page.bps == 8) {
    colorspace_by_name(page, page.spp >= 3 ? "rgb" : "gray");
    int shift = saturate_cast<int>(settings.brightness * 255 / 1000);
    uint8_t* d = page.getRawData();
    for (int y = 0; y < page.h; ++y)
      for (unsigned x = 0; x < page.stridefill(); ++x) {
        uint8_t& p = d[size_t(y) * page.stride() + x];
        p = uint8_t(std::max(0, std::min(255, int(p) + shift)));
      }
    page.setRawData();
  }
  // the requested area
  if (settings.right > settings.left && settings.bottom > settings.top) {
    int x = saturate_cast<int>(settings.left * settings.xres);
    int y = saturate_cast<int>(settings.top * settings.yres);
    int w = saturate_cast<int>((settings.right - settings.left) * settings.xres);
    int h = saturate_cast<int>((settings.bottom - settings.top) * settings.yres);
    if (x < page.w && y < page.h && (x > 0 || y > 0 || w < page.w || h < page.h))
      crop(page, x, y, unsigned(std::min(w, page.w - x)), unsigned(std::min(h, page.h - y)));
  }
  const char* type = settings.pixelType == twain::TWPT_BW     ? "bw"
                     : settings.pixelType == twain::TWPT_GRAY ? "gray"
                                                              : "rgb";
  if (!colorspace_by_name(page, type)) {
    cc = twain::TWCC_OPERATIONERROR;
    return false;
  }
  // tight rows for the transfers
  if (page.rowStride)
    page.restride(page.stridefill());
  return true;
}

} // namespace twaindsm
