// PDF page drawing through poppler's C++ interface.
#include "pdfreader/poppler_page.hh"

#include "codecs/Resolution.hh"

#include "fonts/system_fonts.hh"

#include "image/Image.hh"
#include "utility/Saturate.hh"

#include "host/Interrupt.hh"
#include "platform/Resources.hh"

#include <Error.h>
#include <GfxState.h>
#include <GlobalParams.h>
#include <PDFDoc.h>
#include <Page.h>
#include <SplashOutputDev.h>
#include <Stream.h>
#include <splash/Splash.h>
#include <splash/SplashBitmap.h>
#include <splash/SplashClip.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace pdfreader {
namespace {

// A page larger than this many pixels is refused rather than allocated: a
// hostile media box can ask for terabytes.
constexpr int64_t kMaxPixels = int64_t(1) << 28;
constexpr std::streamsize kReadChunk = 1 << 20;
// Pages of one document at most, as the reading script bounds them.
constexpr int kMaxPages = 100000;

// poppler's lines said for one document at most; the rest are counted and
// said as one line when the document goes. A damaged content stream can
// make poppler complain millions of times.
constexpr int kMessagesShown = 5;

// The document poppler is working on while it may speak.
const PopplerDocument* speakingFor = nullptr;

struct Speaking {
  explicit Speaking(const PopplerDocument* doc) : saved(speakingFor) { speakingFor = doc; }
  ~Speaking() { speakingFor = saved; }
  const PopplerDocument* saved;
};

void popplerMessage(ErrorCategory, Goffset pos, const char* text)
{
  const std::string msg = text ? text : "";
  // A document that needs a password is refused in our own words.
  if (msg.find("Incorrect password") != std::string::npos)
    return;
  const std::string line =
      pos >= 0 ? "poppler: error (" + std::to_string(pos) + "): " + msg : "poppler: error: " + msg;
  if (speakingFor)
    speakingFor->popplerSays(line);
  else
    sayOnce(std::string(), line);
}

void startPoppler()
{
  static bool started = false;
  if (!started) {
    if (!globalParams)
      globalParams = std::make_unique<GlobalParams>();
    setErrorCallback(popplerMessage);
    // poppler finds fonts through fontconfig: started (and, under the leak
    // checker, handed back at exit) in one place for the process.
    fonts::startFontconfig();
    started = true;
  }
}

// The page's crop box in points as a viewer shows it: poppler turns the
// page by its own /Rotate, so a quarter turn swaps the sides.
bool boxOf(Page& p, double& bw, double& bh)
{
  const PDFRectangle* box = p.getCropBox();
  if (!box)
    return false;
  bw = box->x2 - box->x1;
  bh = box->y2 - box->y1;
  const int r = ((p.getRotate() % 360) + 360) % 360;
  if (r == 90 || r == 270)
    std::swap(bw, bh);
  return std::isfinite(bw) && std::isfinite(bh) && bw > 0 && bh > 0;
}

// Drawing stops at poppler's next look once a stop was asked for (SIGINT,
// SIGTERM, SIGHUP caught by the job): a page that never ends does not keep
// the job from ending.
bool stopAsked(void*)
{
  return host::signalPending() != 0;
}

// Splash's first clip is the bitmap less a thousandth of a pixel: a clip
// edge this close to a whole pixel is on it, its antialiasing unseen.
constexpr double kClipSlack = 0.002;

// The whole number v is within slack of, or false.
bool wholePixel(double v, int64_t& whole, double slack = kPixelSlack)
{
  if (!std::isfinite(v) || std::fabs(v) > double(int64_t(1) << 40))
    return false;
  const double r = std::round(v);
  if (std::fabs(v - r) > slack)
    return false;
  whole = saturate_cast<int64_t>(r);
  return true;
}

// Splash draws images through a resampler even when an image falls
// exactly on the device's pixels at its own size, and its bilinear filter
// moves edges by a fraction of a pixel: a page scanned, written and read
// back would not come back as written. Such an image, opaque and plainly
// painted, is copied instead, each pixel coloured as Splash colours it;
// everything else is Splash's.
class PageOutputDev : public SplashOutputDev {
public:
  using SplashOutputDev::SplashOutputDev;

  void startPage(int pageNum, GfxState* state, XRef* xref) override
  {
    SplashOutputDev::startPage(pageNum, state, xref);
    page = getBitmap();
  }

  void drawImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                 GfxImageColorMap* colorMap, bool interpolate, const int* maskColors,
                 bool inlineImg) override
  {
    if (!copied(state, str, width, height, colorMap, maskColors))
      SplashOutputDev::drawImage(state, ref, str, width, height, colorMap, interpolate,
                                 maskColors, inlineImg);
  }

private:
  // The image's pixels written straight into the page, or false (nothing
  // read, nothing written) when Splash is to draw it.
  bool copied(GfxState* state, Stream* str, int width, int height,
              GfxImageColorMap* colorMap, const int* maskColors)
  {
    SplashBitmap* bitmap = getBitmap();
    Splash* splash = getSplash();
    // on the page itself: not in a group, a pattern or a glyph
    if (!state || !str || !colorMap || !colorMap->isOk() || maskColors || !bitmap ||
        bitmap != page || !splash || bitmap->getMode() != splashModeXBGR8 ||
        !bitmap->getDataPtr() || width <= 0 || height <= 0)
      return false;
    const int comps = colorMap->getNumPixelComps(), bits = colorMap->getBits();
    // one byte a component; no more samples read than a page holds
    if (comps < 1 || comps > gfxColorMaxComps || bits < 1 || bits > 8 ||
        int64_t(width) * height * comps > kMaxPixels)
      return false;
    // opaque and plainly painted
    if (state->getBlendMode() != gfxBlendNormal || state->getFillOpacity() != 1.0 ||
        splash->getSoftMask() || splash->getInNonIsolatedGroup() || state->getTransfer()[0])
      return false;
    // upright at its own size on whole pixels: x -> ctm[0] x + ctm[4],
    // y -> ctm[3] y + ctm[5] with the image's first row at the top
    const double* ctm = state->getCTM();
    int64_t sx, sy, x0, y0;
    if (std::fabs(ctm[1]) > kPixelSlack || std::fabs(ctm[2]) > kPixelSlack ||
        !wholePixel(ctm[0], sx) || !wholePixel(-ctm[3], sy) || sx != width || sy != height ||
        !wholePixel(ctm[4], x0) || !wholePixel(ctm[5] + ctm[3], y0))
      return false;
    // the clip a rectangle on whole pixels (a pixel it cuts through is
    // Splash's to shade): what of the image falls in it and in the page
    SplashClip* clip = splash->getClip();
    int64_t cx0, cy0, cx1, cy1;
    if (!clip || clip->getNumPaths() != 0 || !wholePixel(clip->getXMin(), cx0, kClipSlack) ||
        !wholePixel(clip->getYMin(), cy0, kClipSlack) ||
        !wholePixel(clip->getXMax(), cx1, kClipSlack) ||
        !wholePixel(clip->getYMax(), cy1, kClipSlack))
      return false;
    const int64_t left = std::max<int64_t>({x0, 0, cx0});
    const int64_t right = std::min<int64_t>({x0 + width, bitmap->getWidth(), cx1});
    const int64_t top = std::max<int64_t>({y0, 0, cy0});
    const int64_t bottom = std::min<int64_t>({y0 + height, bitmap->getHeight(), cy1});
    if (left >= right || top >= bottom)
      return true; // nothing of it shows

    // Coloured as Splash colours an image: one component up to 8 bits
    // through a table of every value, more components a line at a time
    // (the colour spaces' line conversions round otherwise than their
    // pixel ones: CMYK comes out a level apart).
    std::vector<uint8_t> lookup, rgbx;
    if (comps == 1 && bits <= 8) {
      const int n = 1 << bits;
      lookup.resize(size_t(n) * 3);
      for (int i = 0; i < n; ++i) {
        unsigned char pix = (unsigned char)i;
        GfxRGB rgb;
        colorMap->getRGB(&pix, &rgb);
        lookup[size_t(i) * 3] = colToByte(rgb.r);
        lookup[size_t(i) * 3 + 1] = colToByte(rgb.g);
        lookup[size_t(i) * 3 + 2] = colToByte(rgb.b);
      }
    }
    if (lookup.empty())
      rgbx.resize(size_t(width) * 4);
    ImageStream image(str, width, comps, bits);
    image.reset();
    uint8_t* data = bitmap->getDataPtr();
    uint8_t* alpha = bitmap->getAlphaPtr();
    const size_t stride = size_t(bitmap->getRowSize());
    const size_t alphaStride = size_t(bitmap->getWidth());
    for (int64_t y = y0; y < top; ++y)
      image.skipLine();
    for (int64_t y = top; y < bottom; ++y) {
      unsigned char* line = image.getLine();
      if (line && lookup.empty())
        colorMap->getRGBXLine(line, rgbx.data(), width);
      uint8_t* d = data + size_t(y) * stride + size_t(left) * 4;
      for (int64_t x = left; x < right; ++x, d += 4) {
        uint8_t r = 0, g = 0, b = 0; // no line to be had: black
        if (line) {
          const uint8_t* c = lookup.empty() ? &rgbx[size_t(x - x0) * 4]
                                            : &lookup[size_t(line[x - x0]) * 3];
          r = c[0], g = c[1], b = c[2];
        }
        d[0] = b;
        d[1] = g;
        d[2] = r;
        d[3] = 0xff;
      }
      if (alpha)
        std::memset(alpha + size_t(y) * alphaStride + size_t(left), 0xff, size_t(right - left));
    }
    image.close();
    return true;
  }

  SplashBitmap* page = nullptr;
};

int64_t drawn = 0;

// The w x h pixels of the page's top left corner as B G R X bytes on
// white; null when poppler cannot draw it or the drawing was stopped.
std::unique_ptr<SplashBitmap> drawPage(PDFDoc& doc, int pageNum, double dpi, int w, int h)
{
  SplashColor paper;
  paper[0] = paper[1] = paper[2] = 0xff;
  paper[3] = 0xff;
  PageOutputDev out(splashModeXBGR8, 4, false, paper, true, splashThinLineDefault);
  out.setFontAntialias(true);
  out.setFreeTypeHinting(false, false);
  out.setVectorAntialias(true);
  out.startDoc(&doc);
  ++drawn;
  platform::systemLog("poppler draws PDF page %d at %g dpi", pageNum, dpi);
  doc.displayPageSlice(&out, pageNum, dpi, dpi, 0, false, true, false, 0, 0, w, h, stopAsked,
                       nullptr, nullptr, nullptr, true);
  if (stopAsked(nullptr))
    return nullptr;
  return std::unique_ptr<SplashBitmap>(out.takeBitmap());
}

// True when the first w x h pixels of the drawing have R = G = B.
bool allGray(const SplashBitmap& drawn, int w, int h)
{
  const uint8_t* src = drawn.getDataPtr();
  const size_t stride = size_t(drawn.getRowSize());
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = src + size_t(y) * stride;
    for (int x = 0; x < w; ++x, s += 4)
      if (s[0] != s[1] || s[1] != s[2])
        return false;
  }
  return true;
}

} // namespace

void sayOnce(const std::string& document, const std::string& line)
{
  static std::set<std::string> said;
  const std::string key = document + '\n' + line;
  // a bound on what is remembered; past it, lines are said again
  if (said.size() < 4096 && !said.insert(key).second)
    return;
  std::fprintf(stderr, "%s\n", line.c_str());
}

bool readAll(std::istream& in, std::vector<char>& out)
{
  out.clear();
  in.clear();
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.clear();
  in.seekg(0, std::ios::beg);
  if (!in)
    return false;
  // A stream that tells its size is read in one piece into memory of that
  // size: a document is held whole, and the piecewise growth would hold up
  // to twice its size.
  if (size > 0 && size <= std::streamoff(std::numeric_limits<int>::max())) {
    out.resize(size_t(size));
    in.read(out.data(), size);
    out.resize(size_t(in.gcount()));
    if (in && in.peek() == std::char_traits<char>::eof())
      return !in.bad() && !out.empty();
  }
  while (in) {
    size_t old = out.size();
    if (old > size_t(std::numeric_limits<int>::max()) - size_t(kReadChunk))
      return false; // poppler takes the length as an int
    out.resize(old + size_t(kReadChunk));
    in.read(out.data() + old, kReadChunk);
    out.resize(old + size_t(in.gcount()));
  }
  return !in.bad() && !out.empty();
}

PopplerDocument::PopplerDocument(std::vector<char> data) : bytes(std::move(data))
{
  startPoppler();
  if (bytes.empty() || bytes.size() > size_t(std::numeric_limits<int>::max()))
    return;
  // The document's identity for lines said once: its size, head and tail.
  const size_t edge = std::min<size_t>(bytes.size(), 4096);
  key = std::to_string(bytes.size()) + ':' +
        std::to_string(std::hash<std::string>()(std::string(bytes.data(), edge))) + ':' +
        std::to_string(std::hash<std::string>()(
            std::string(bytes.data() + bytes.size() - edge, edge)));
  Speaking speaking(this);
  doc = std::make_unique<PDFDoc>(
      new MemStream(bytes.data(), 0, Goffset(bytes.size()), Object(objNull)));
  if (!doc->isOk()) {
    state = doc->getErrorCode() == errEncrypted ? NeedsPassword : Unreadable;
    return;
  }
  state = Open;
  // The pages poppler can open. A damaged page tree (a loop in it, a page
  // given in place of a reference) leaves some of the pages its /Count
  // promises without a page object, and a page whose crop box lies outside
  // its media box shows nothing; those are not the document's.
  promised = std::max(0, std::min(doc->getNumPages(), kMaxPages));
  for (int i = 0; i < promised; ++i) {
    Page* p = doc->getPage(i + 1);
    double bw, bh;
    if (p && boxOf(*p, bw, bh))
      usable.push_back(i);
  }
}

PopplerDocument::~PopplerDocument()
{
  if (unsaid > 0)
    std::fprintf(stderr, "poppler: %lld more messages about the document not shown\n",
                 (long long)unsaid);
}

void PopplerDocument::popplerSays(const std::string& line) const
{
  if (shown >= kMessagesShown) {
    ++unsaid;
    return;
  }
  if (said.count(line))
    return;
  said.insert(line);
  ++shown;
  std::fprintf(stderr, "%s\n", line.c_str());
}

int PopplerDocument::pages() const
{
  return state == Open ? int(usable.size()) : 0;
}

void PopplerDocument::say(const std::string& line) const
{
  sayOnce(key, line);
}

int PopplerDocument::pageNumber(int page) const
{
  if (state != Open || page < 1 || page > int(usable.size()))
    return 0;
  return usable[size_t(page - 1)] + 1;
}

Page* PopplerDocument::openPage(int page) const
{
  const int n = pageNumber(page);
  return n > 0 ? doc->getPage(n) : nullptr;
}

bool PopplerDocument::pageSize(int page, int dpi, int& w, int& h) const
{
  Speaking speaking(this);
  if (state != Open || dpi <= 0 || page < 1 || page > pages()) {
    std::fprintf(stderr, "PDF page %d: no such page\n", page);
    return false;
  }
  Page* p = openPage(page);
  double bw, bh;
  if (!p || !boxOf(*p, bw, bh)) {
    std::fprintf(stderr, "PDF page %d: poppler cannot open the page\n", page);
    return false;
  }
  const int64_t pw = pixelsAt(bw, dpi), ph = pixelsAt(bh, dpi);
  if (pw <= 0 || ph <= 0 || pw > std::numeric_limits<int>::max() / 3 ||
      ph > std::numeric_limits<int>::max() || pw * ph > kMaxPixels) {
    std::fprintf(stderr, "PDF page %d: page size out of range\n", page);
    return false;
  }
  w = int(pw);
  h = int(ph);
  return true;
}

int64_t PopplerDocument::drawings()
{
  return drawn;
}

bool PopplerDocument::draw(int page, int dpi, Format format, Image& image) const
{
  int w, h;
  if (!pageSize(page, dpi, w, h))
    return false;
  Speaking speaking(this);
  if (!openPage(page)) {
    std::fprintf(stderr, "PDF page %d: poppler cannot open the page\n", page);
    return false;
  }
  std::unique_ptr<SplashBitmap> drawn = drawPage(*doc, pageNumber(page), dpi, w, h);
  if (!drawn && host::signalPending() != 0)
    return false; // stopped: the job ends, nothing to say
  if (!drawn || drawn->getMode() != splashModeXBGR8 || !drawn->getDataPtr()) {
    std::fprintf(stderr, "PDF page %d: poppler cannot draw the page\n", page);
    return false;
  }
  // poppler was asked for w x h; should it give another size, what
  // overlaps is copied and the rest is white.
  const int cw = std::max(0, std::min(w, drawn->getWidth()));
  const int ch = std::max(0, std::min(h, drawn->getHeight()));
  const bool gray = format == Gray || (format == Decide && allGray(*drawn, cw, ch));

  Image out;
  out.bps = 8;
  out.spp = gray ? 1 : 3;
  try {
    out.resize(w, h);
  } catch (const std::exception&) {
    std::fprintf(stderr, "PDF page %d: out of memory\n", page);
    return false;
  }
  uint8_t* dst = out.getRawData();
  if (!dst) {
    std::fprintf(stderr, "PDF page %d: out of memory\n", page);
    return false;
  }
  const size_t rowBytes = size_t(w) * out.spp;
  // Only the rest is filled white: the copy writes every other byte.
  const size_t copied = size_t(cw) * out.spp;
  if (copied < rowBytes)
    for (int y = 0; y < ch; ++y)
      std::memset(dst + size_t(y) * rowBytes + copied, 0xff, rowBytes - copied);
  std::memset(dst + size_t(ch) * rowBytes, 0xff, rowBytes * size_t(h - ch));
  const uint8_t* src = drawn->getDataPtr();
  const size_t srcStride = size_t(drawn->getRowSize());
  for (int y = 0; y < ch; ++y) {
    // B G R X in memory
    const uint8_t* s = src + size_t(y) * srcStride;
    uint8_t* d = dst + size_t(y) * rowBytes;
    if (gray) {
      // a gray page has R = G = B; drawn again as gray after it was found
      // so, should a pixel differ, its luma
      for (int x = 0; x < cw; ++x, s += 4)
        d[x] = uint8_t((s[2] * 77u + s[1] * 150u + s[0] * 29u + 128u) >> 8);
    } else {
      for (int x = 0; x < cw; ++x, s += 4, d += 3) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
      }
    }
  }
  out.setResolution(dpi, dpi);
  const bool metaChanged = image.resX != dpi || image.resY != dpi;
  image.copyTransferOwnership(out);
  image.setResolution(dpi, dpi);
  if (metaChanged)
    image.metaDirty = true;
  image.setRawData();
  return true;
}

bool renderPage(std::istream& in, Image& image, int page, int dpi)
{
  auto fail = [&](const char* why) {
    std::fprintf(stderr, "PDF page %d: %s\n", page, why);
    image.setRawData(nullptr);
    image.resize(0, 0);
    return false;
  };
  if (dpi <= 0)
    return fail("bad resolution");
  std::vector<char> bytes;
  if (!readAll(in, bytes))
    return fail("cannot read the document");
  PopplerDocument doc(std::move(bytes));
  if (doc.status() != PopplerDocument::Open)
    return fail("poppler cannot open the document");
  if (!doc.draw(page, dpi, PopplerDocument::RGB, image)) {
    image.setRawData(nullptr);
    image.resize(0, 0);
    return false;
  }
  return true;
}

} // namespace pdfreader
