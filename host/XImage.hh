// The script class "Image": an Image that also carries the drawing state
// its fill and stroke operations use, and the native bodies of every script
// entry. Each entry converts its arguments, applies the defaults, calls one
// image, filter, geometry, barcode, colour or codec operation and turns the
// result into script values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <agg_trans_affine.h>

#include "bind/Class.hh"
#include "bind/Handles.hh"
#include "image/Image.hh"

class Transform;
class XPath;

class XImage : public Image {
public:
  // Drawing state, in this order. Scripts set it; it is never saved with
  // the image.
  double fillColor[4];  // red, green, blue, alpha, 0..1
  int lineCap;          // 0 butt, 1 square, 2 round
  int lineJoin;         // 0 miter, 2 round, 3 bevel
  float miterLimit;
  float dashStart;
  agg::trans_affine transform; // path coordinates to pixels
  std::vector<float> dashes;   // alternating dash and gap lengths

  XImage();
  // A deep copy of other's raster; the drawing state starts fresh.
  XImage(XImage& other);
  ~XImage();

  // Native-only members.
  // A new image of this one's metadata, w x h with tight rows (caller owns).
  XImage* newTemporary(int w, int h);
  using Image::getRawData;
  using Image::resize;
  using Image::setResolution;
  void scale(double sx, double sy);

  // Script entries. Those taking lua_State* push their own results and read
  // their optional trailing arguments from the stack.

  // Loading, saving and raw data.
  int setImage(lua_State* L, const std::string& file);
  int setImageMem(lua_State* L, const std::string& data);
  int writeImageMem(lua_State* L, const std::string& codec, int quality,
                    const std::string& compression);
  int setImageData(lua_State* L, int w, int h, int spp, int bps, const std::string& data);
  int setImageDataSpec(lua_State* L, int w, int h, int depth, bool littleEndian,
                       const std::string& data);
  int codecID(lua_State* L);

  // Geometry and metadata.
  int getSPP() const { return spp; }
  int getBPS() const { return bps; }
  int width() const { return w; }
  int height() const { return h; }
  int size(lua_State* L);
  int resolution(lua_State* L);
  int setResolution(lua_State* L, int x);
  int resize(lua_State* L, int w, int h);
  int scale(lua_State* L, double sx);
  void rotate(double angle);
  void crop(int x, int y, int w, int h);
  void copy(int x, int y, int w, int h, XImage& dst, int dx, int dy);
  void append(XImage& other);
  void borderFill(int bx, int by);

  // Pixels and drawing state.
  int pixel(lua_State* L, int x, int y);
  int setPixel(lua_State* L, int x, int y);
  void color(double r, double g, double b, double a);
  int setLineStyle(lua_State* L);
  int setLineDash(lua_State* L);
  int setTransform(lua_State* L);
  int setCompOp(lua_State* L);
  int fillPath(lua_State* L, XPath& path);
  void strokePath(XPath& path, double width);
  int fillPathImage(lua_State* L, XPath& path, XImage& pattern);

  // Colour spaces and compositing.
  void colorspace(const std::string& name);
  int colorspaceRGB8ToGray8(lua_State* L);
  void colorspaceGray8ToGray1();
  void colorspaceGray8DenoiseNeighbours();
  void cmyk2rgb();
  int dePalette(lua_State* L, int n, const std::string& palette);
  void invert();
  XImage* color2mask(int rMin, int rMax, int gMin, int gMax, int bMin, int bMax);
  void mask2rgba();
  void rgbaFromImage(XImage& other, bool invert);
  bool applyICC(const std::string& profile);

  // Tone, filters and binarisation.
  void brightnessContrastGamma(double brightness, double contrast, double gamma);
  void normalize();
  int histogram(lua_State* L, int bins);
  int lut(lua_State* L);
  int dropout(lua_State* L, double r, double g, double b);
  void median();
  void smooth();
  int floyedSteinberg(lua_State* L);
  void optimize2bw();
  void optimize2bw2();
  void autoInvert();
  void autoWhite();
  int autoColor(lua_State* L);
  int detectEmptyPage(lua_State* L, double percent, int marginX);

  // Document geometry and barcodes.
  int autoRotate(lua_State* L);
  void deskew(int topLines, int bottomLines);
  int deskewParameters(lua_State* L, int topLines, int bottomLines);
  int deskewFlatbed(lua_State* L);
  XImage* deskewApply(LuaWrapper::LuaTable sheet, bool back);
  int bardecode(lua_State* L, const std::string& types);
};

// Registers the constructors, the destructor and every method of "Image"
// in the class declared under that name.
void exportImageClass(lua_State* L);

TOLM_SCRIPT_CLASS(XImage, "Image")
