// The script class "Vectorial": a 32-bit RGBA drawing surface with its own
// graphics state. A canvas is a window (its pixels are the window's buffer
// and its input reaches a script function), an off-screen temporary, or a
// sub-clip: a rectangle of another canvas's surface.
//
// Parents and sub-clips share one CanvasSurface, which owns the off-screen
// pixels or holds the window. Nothing keeps row pointers between calls:
// each drawing call takes them from the surface as it is then, clamped to
// the pixels that exist, so a sub-clip outliving its parent, a window
// resized under its sub-clips or closed before them stays safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <agg_basics.h>
#include <agg_rendering_buffer.h>

#include "bind/Class.hh"
#include "bind/Handles.hh"
#include "canvas/Rasterizer.hh"
#include "canvas/Transform.hh"
#include "canvas/VectorFill.hh"

class Image;
class LuaHandler;
class Renderer;
class ScriptImages;
class Text;
class XPath;

// The pixels one or more canvases draw into.
class CanvasSurface {
public:
  CanvasSurface() = default;
  ~CanvasSurface();
  CanvasSurface(const CanvasSurface&) = delete;
  CanvasSurface& operator=(const CanvasSurface&) = delete;

  // Off-screen pixels, transparent black; false when they cannot be had.
  bool allocate(uint32_t w, uint32_t h);
  // Hides the window and hands it back to its root for deletion; the
  // surface then has no pixels and its window operations do nothing.
  void closeWindow();

  uint8_t* pixels() const;
  uint32_t width() const;
  uint32_t height() const;
  int stride() const { return (int)width() * 4; }

  Renderer* window = nullptr;          // null off-screen and once closed
  std::shared_ptr<LuaHandler> handler; // the window's event sink

private:
  std::unique_ptr<uint8_t[]> own;
  uint32_t ownW = 0, ownH = 0;
};

class Vectorial {
public:
  // A window canvas opened by the root renderer; throws std::runtime_error
  // when no window can be made.
  Vectorial(lua_State* L, LuaWrapper::LuaFunction f, int x, int y, int w, int h, bool translucent);
  // A sub-clip of parent at x, y, w, h in the parent's canvas units.
  Vectorial(Vectorial& parent, int x, int y, int w, int h);
  ~Vectorial();
  Vectorial(const Vectorial&) = delete;
  Vectorial& operator=(const Vectorial&) = delete;

  // The root renderer's slot, read whenever a window canvas is made.
  static Renderer* const* rootRenderer;

  // An off-screen canvas of w x h canvas units at this canvas's scale;
  // throws std::range_error for sizes that are negative or too large.
  Vectorial* newTemporary(int w, int h);

  double width();
  double height();
  // Device pixels per canvas unit.
  double scale() const;

  // Window operations; nothing without a window.
  void move(int x, int y);
  void resize(int w, int h);
  void resizeWindow(int w, int h);
  void resizeMinMax(int minW, int minH, int maxW, int maxH);
  void setInputPos(int a, int b, int c, int d);
  void setDecoration(bool on);
  void setFloating(bool on);
  void setTitle(const std::string& title);
  void setHidden(bool hidden);
  void grabPointer(bool grab);
  bool writeClip(const std::string& text);
  std::string readClip();
  void update(int x, int y, int w, int h);
  void sync();

  // State.
  void setClip(int x, int y, int w, int h);
  void getClip(double& x, double& y, double& w, double& h) const;
  void setTransform(const Transform* t);
  void color(double r, double g, double b, double a);
  // One 256-entry table per channel; entries a table lacks stay identity.
  void applyLut(const uint8_t* red, const uint8_t* green, const uint8_t* blue);

  // Drawing.
  void fillPath(XPath& path, int rule, bool lcd);
  void strokePath(XPath& path, double width);
  void fillText(double x, double y, const Text& text, bool lcd);
  void strokeText(double x, double y, const Text& text, double width);
  void fillPathGradient(XPath& path, const Transform* t);
  void strokePathGradient(XPath& path, double width, const Transform* t);
  void fillTextGradient(double x, double y, const Text& text, const Transform* t);
  void fillPathImage(XPath& path, Image& image, double alpha, const Transform* t, bool smooth);
  void fillTextImage(double x, double y, const Text& text, Image& image);
  void blend(Vectorial& source, int dx, int dy, double alpha);
  void blur(double radius);

  lua_State* L;
  bool ownsWindow = false;
  int compOp = 3;
  std::shared_ptr<CanvasSurface> surface;
  double rgba[4] = {0, 0, 0, 0.6};
  agg::rect_i bounds{0, 0, -1, -1}; // inclusive, canvas device pixels
  agg::rect_i clip{0, 0, -1, -1};
  Transform baseTransform;
  Transform transform;
  int lineCap = 0;
  int lineJoin = 0;
  float miterLimit = 1.0f;
  float dashStart = 0;
  std::vector<float> dashes;
  std::string gradientType = "x";
  std::string gradientMode;

  // Where this canvas's pixel (0, 0) lies on the surface, and its size in
  // device pixels; a whole-surface canvas follows the surface's size.
  int64_t originX = 0, originY = 0;
  int64_t frameW = 0, frameH = 0;
  bool whole = false;

  // The part of the canvas that has pixels now: a buffer over exactly
  // those pixels, the shift from canvas to buffer coordinates (non-zero
  // only for a canvas reaching left of or above its surface) and the clip
  // in buffer coordinates. Empty when nothing can be drawn.
  struct View {
    agg::rendering_buffer rbuf;
    int shiftX = 0, shiftY = 0;
    agg::rect_i clip{0, 0, -1, -1};
    bool empty() const { return clip.x1 > clip.x2 || clip.y1 > clip.y2; }
  };
  View view() const;
  int64_t frameWidth() const;
  int64_t frameHeight() const;

private:
  Vectorial(const Vectorial& parent, uint32_t w, uint32_t h, float s);
  void initDefaults();
  Transform drawTransform(const View& v) const;
  template <class Fill>
  void draw(unsigned factor, Fill fill);
};

TOLM_SCRIPT_CLASS(Vectorial, "Vectorial")

// Registers the script entries of "Vectorial"; the class must be declared.
// root is the host's slot of the root renderer that opens windows; images
// finds the Image of a script argument (without it, none converts).
void exportVectorialClass(lua_State* L, Renderer* const* root,
                          const ScriptImages* images = nullptr);
