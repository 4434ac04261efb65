// Vectorial canvases: kinds, geometry, window operations and state.
#include "canvas/Vectorial.hh"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

#include "canvas/LuaHandler.hh"
#include "renderer/Renderer.hh"
#include "renderer/RendererAppKit.hh"
#include "utility/Saturate.hh"

// ---------------------------------------------------------------------------
// Surface.

CanvasSurface::~CanvasSurface() { closeWindow(); }

bool CanvasSurface::allocate(uint32_t w, uint32_t h)
{
  const size_t bytes = (size_t)w * h * 4;
  std::unique_ptr<uint8_t[]> p(new (std::nothrow) uint8_t[bytes ? bytes : 1]());
  if (!p)
    return false;
  own = std::move(p);
  ownW = w;
  ownH = h;
  return true;
}

void CanvasSurface::closeWindow()
{
  Renderer* r = window;
  if (!r)
    return;
  window = nullptr;
  r->handler = nullptr;
  r->scheduleDelete();
  // An event function that closes its own window keeps its handler alive
  // until it returns.
  handler.reset();
}

uint8_t* CanvasSurface::pixels() const
{
  if (window)
    return window->buffer;
  return own.get();
}

uint32_t CanvasSurface::width() const
{
  if (window)
    return window->buffer ? window->width : 0;
  return own ? ownW : 0;
}

uint32_t CanvasSurface::height() const
{
  if (window)
    return window->buffer ? window->height : 0;
  return own ? ownH : 0;
}

// ---------------------------------------------------------------------------
// Kinds.

Renderer* const* Vectorial::rootRenderer = nullptr;

namespace {

double yScaling(const agg::trans_affine& t)
{
  double x, y;
  t.scaling(&x, &y);
  return y;
}

int toInt(double v) { return saturate_cast<int>(v); }

// Largest side of an off-screen canvas, in device pixels; the window
// system's limit as well.
constexpr double kMaxSide = 32767;

} // namespace

void Vectorial::initDefaults()
{
  compOp = 3;
  rgba[0] = rgba[1] = rgba[2] = 0;
  rgba[3] = 0.6;
  lineCap = 0;
  lineJoin = 0;
  miterLimit = 1.0f;
  dashStart = 0;
  dashes.clear();
  gradientType = "x";
  gradientMode.clear();
}

Vectorial::Vectorial(lua_State* L_, LuaWrapper::LuaFunction f, int x, int y, int w, int h,
                     bool translucent)
  : L(LuaWrapper::mainThread(L_)), ownsWindow(true), surface(std::make_shared<CanvasSurface>())
{
  Renderer* root = rootRenderer ? *rootRenderer : nullptr;
  if (!root)
    throw std::runtime_error("Vectorial.new: no renderer");
  Renderer* r = root->newWindow(x, y, w, h, translucent);
  auto* appkit = dynamic_cast<RendererAppKit*>(r);
  if (!r || (appkit && !appkit->platformWindow())) {
    delete r;
    throw std::runtime_error("Vectorial.new: cannot open a window");
  }
  surface->window = r;
  surface->handler = std::make_shared<LuaHandler>(r, f.keep(), L);
  r->handler = surface->handler.get();
  initDefaults();
  whole = true;
  bounds = clip = agg::rect_i(0, 0, (int)r->width - 1, (int)r->height - 1);
  baseTransform = agg::trans_affine_scaling(r->scale);
  transform = baseTransform;
}

Vectorial::Vectorial(Vectorial& p, int x, int y, int w, int h)
  : L(p.L), ownsWindow(false), compOp(p.compOp), surface(p.surface)
{
  const double s = surface->window ? (double)surface->window->scale : yScaling(p.transform);
  std::copy(p.rgba, p.rgba + 4, rgba);
  lineCap = p.lineCap;
  lineJoin = p.lineJoin;
  miterLimit = p.miterLimit;
  gradientType = p.gradientType;
  gradientMode = p.gradientMode;
  baseTransform = transform = p.transform;

  const double xs = x * s, ys = y * s;
  originX = (p.whole ? 0 : p.originX) + (int64_t)toInt(xs);
  originY = (p.whole ? 0 : p.originY) + (int64_t)toInt(ys);
  frameW = std::max(0, toInt(w * s));
  frameH = std::max(0, toInt(h * s));
  whole = false;

  const double x1 = std::max(std::floor(xs), (double)p.bounds.x1);
  const double y1 = std::max(std::floor(ys), (double)p.bounds.y1);
  const double x2 = std::min((double)p.bounds.x2, std::ceil(((double)x + w) * s - 1));
  const double y2 = std::min((double)p.bounds.y2, std::ceil(((double)y + h) * s - 1));
  bounds = agg::rect_i(toInt(x1 - xs), toInt(y1 - ys), toInt(x2 - xs), toInt(y2 - ys));

  const double cs = s > 0 ? s : 1;
  setClip(toInt(p.clip.x1 / cs - x), toInt(p.clip.y1 / cs - y),
          toInt((p.clip.x2 - p.clip.x1 + 1) / cs), toInt((p.clip.y2 - p.clip.y1 + 1) / cs));
}

Vectorial::Vectorial(const Vectorial& p, uint32_t w, uint32_t h, float s)
  : L(p.L), ownsWindow(false), surface(std::make_shared<CanvasSurface>())
{
  if (!surface->allocate(w, h))
    throw std::runtime_error("Vectorial.newTemporary: out of memory");
  initDefaults();
  whole = true;
  bounds = clip = agg::rect_i(0, 0, (int)w - 1, (int)h - 1);
  baseTransform = agg::trans_affine_scaling(s);
  transform = baseTransform;
}

Vectorial::~Vectorial()
{
  if (ownsWindow && surface)
    surface->closeWindow();
}

Vectorial* Vectorial::newTemporary(int w, int h)
{
  const float s = (float)scale();
  const float fw = std::floor((float)w * s), fh = std::floor((float)h * s);
  if (w < 0 || h < 0 || !(fw >= 0 && fw <= kMaxSide) || !(fh >= 0 && fh <= kMaxSide))
    throw std::range_error("Vectorial.newTemporary: size out of range");
  return new Vectorial(*this, (uint32_t)fw, (uint32_t)fh, s);
}

double Vectorial::scale() const
{
  if (surface && surface->window)
    return surface->window->scale;
  return yScaling(baseTransform);
}

int64_t Vectorial::frameWidth() const { return whole ? (int64_t)surface->width() : frameW; }
int64_t Vectorial::frameHeight() const { return whole ? (int64_t)surface->height() : frameH; }

double Vectorial::width() { return (double)frameWidth() / scale(); }
double Vectorial::height() { return (double)frameHeight() / scale(); }

Vectorial::View Vectorial::view() const
{
  View v;
  uint8_t* px = surface->pixels();
  if (!px)
    return v;
  const int64_t sw = surface->width(), sh = surface->height();
  const int64_t ox = whole ? 0 : originX, oy = whole ? 0 : originY;
  const int64_t vx1 = std::max<int64_t>(ox, 0), vy1 = std::max<int64_t>(oy, 0);
  const int64_t vx2 = std::min<int64_t>(ox + frameWidth(), sw);
  const int64_t vy2 = std::min<int64_t>(oy + frameHeight(), sh);
  if (vx2 <= vx1 || vy2 <= vy1)
    return v;
  const int stride = surface->stride();
  v.rbuf.attach(px + vy1 * stride + vx1 * 4, (unsigned)(vx2 - vx1), (unsigned)(vy2 - vy1), stride);
  v.shiftX = (int)(ox - vx1);
  v.shiftY = (int)(oy - vy1);
  // The clip stays inside the bounds and the pixels that exist.
  const int64_t cx1 = std::max<int64_t>({(int64_t)clip.x1, (int64_t)bounds.x1, -ox}) + v.shiftX;
  const int64_t cy1 = std::max<int64_t>({(int64_t)clip.y1, (int64_t)bounds.y1, -oy}) + v.shiftY;
  const int64_t cx2 = std::min<int64_t>({(int64_t)clip.x2, (int64_t)bounds.x2, sw - 1 - ox}) + v.shiftX;
  const int64_t cy2 = std::min<int64_t>({(int64_t)clip.y2, (int64_t)bounds.y2, sh - 1 - oy}) + v.shiftY;
  v.clip = agg::rect_i((int)std::max<int64_t>(cx1, 0), (int)std::max<int64_t>(cy1, 0),
                       (int)std::min<int64_t>(cx2, vx2 - vx1 - 1),
                       (int)std::min<int64_t>(cy2, vy2 - vy1 - 1));
  return v;
}

// ---------------------------------------------------------------------------
// Window operations.

namespace {
unsigned side(int v) { return v > 0 ? (unsigned)v : 0; }
} // namespace

void Vectorial::move(int x, int y)
{
  if (Renderer* r = surface->window)
    r->move(x, y);
}

void Vectorial::resize(int w, int h)
{
  Renderer* r = surface->window;
  if (!r)
    return;
  // A clip that was the whole old window stays the whole window.
  const int64_t ox = whole ? 0 : originX, oy = whole ? 0 : originY;
  const bool clipWasWindow = clip.x1 <= -ox && clip.y1 <= -oy &&
                             clip.x2 >= (int64_t)r->width - 1 - ox &&
                             clip.y2 >= (int64_t)r->height - 1 - oy;
  r->resize(side(w), side(h));
  // A sub-clip of the window becomes the whole window.
  whole = true;
  originX = originY = 0;
  const float s = r->scale;
  bounds.x2 = toInt((float)w * s - 1);
  bounds.y2 = toInt((float)h * s - 1);
  if (clipWasWindow)
    clip = agg::rect_i(bounds.x1, bounds.y1, bounds.x2, bounds.y2);
  clip.x1 = std::max(clip.x1, bounds.x1);
  clip.y1 = std::max(clip.y1, bounds.y1);
  clip.x2 = std::min(clip.x2, bounds.x2);
  clip.y2 = std::min(clip.y2, bounds.y2);
}

void Vectorial::resizeWindow(int w, int h)
{
  if (Renderer* r = surface->window)
    r->resizeWindow(side(w), side(h));
}

void Vectorial::resizeMinMax(int minW, int minH, int maxW, int maxH)
{
  if (Renderer* r = surface->window)
    r->resizeMinMax(side(minW), side(minH), side(maxW), side(maxH));
}

void Vectorial::setInputPos(int a, int b, int c, int d)
{
  if (Renderer* r = surface->window)
    r->setInputPos((unsigned)a, (unsigned)b, (unsigned)c, (unsigned)d);
}

void Vectorial::setDecoration(bool on)
{
  if (Renderer* r = surface->window)
    r->setDecoration(on);
}

void Vectorial::setFloating(bool on)
{
  if (Renderer* r = surface->window)
    r->setFloating(on);
}

void Vectorial::setTitle(const std::string& title)
{
  if (Renderer* r = surface->window)
    r->setTitle(title.c_str());
}

void Vectorial::setHidden(bool hidden)
{
  if (Renderer* r = surface->window)
    r->setHidden(hidden);
}

void Vectorial::grabPointer(bool grab)
{
  if (Renderer* r = surface->window)
    r->grabPointer(grab);
}

bool Vectorial::writeClip(const std::string& text)
{
  Renderer* r = surface->window;
  return r ? r->writeClip(text) : false;
}

std::string Vectorial::readClip()
{
  Renderer* r = surface->window;
  return r ? r->readClip() : std::string();
}

void Vectorial::update(int x, int y, int w, int h)
{
  if (Renderer* r = surface->window)
    r->update(x, y, w, h);
}

void Vectorial::sync()
{
  if (Renderer* r = surface->window)
    r->syncImpl();
}

// ---------------------------------------------------------------------------
// State.

void Vectorial::setClip(int x, int y, int w, int h)
{
  const double s = scale();
  const double x1 = std::floor(x * s), y1 = std::floor(y * s);
  const double x2 = std::ceil((double)((int64_t)x + w) * s - 1);
  const double y2 = std::ceil((double)((int64_t)y + h) * s - 1);
  clip = agg::rect_i(std::max(toInt(x1), bounds.x1), std::max(toInt(y1), bounds.y1),
                     std::min(toInt(x2), bounds.x2), std::min(toInt(y2), bounds.y2));
}

void Vectorial::getClip(double& x, double& y, double& w, double& h) const
{
  const double s = scale();
  x = clip.x1 / s;
  y = clip.y1 / s;
  w = ((double)clip.x2 - clip.x1 + 1) / s;
  h = ((double)clip.y2 - clip.y1 + 1) / s;
}

void Vectorial::setTransform(const Transform* t)
{
  transform = baseTransform;
  if (t) {
    transform = *t;
    transform.multiply(baseTransform);
  }
}

void Vectorial::color(double r, double g, double b, double a)
{
  rgba[0] = r;
  rgba[1] = g;
  rgba[2] = b;
  rgba[3] = a;
}

void Vectorial::applyLut(const uint8_t* red, const uint8_t* green, const uint8_t* blue)
{
  View v = view();
  if (v.empty())
    return;
  for (int y = v.clip.y1; y <= v.clip.y2; ++y) {
    uint8_t* p = v.rbuf.row_ptr(y) + v.clip.x1 * 4;
    for (int x = v.clip.x1; x <= v.clip.x2; ++x, p += 4) {
      p[0] = red[p[0]];
      p[1] = green[p[1]];
      p[2] = blue[p[2]];
    }
  }
}
