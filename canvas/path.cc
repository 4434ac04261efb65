// Path commands, rounded rectangles, bounds and style words of XPath.
#include "canvas/XPath.hh"

#include <cstdio>

#include <agg_conv_curve.h>
#include <agg_rounded_rect.h>

#include "canvas/Stroke.hh"

void XPath::rect(double x1, double y1, double x2, double y2)
{
  path.move_to(x1, y1);
  path.line_to(x2, y1);
  path.line_to(x2, y2);
  path.line_to(x1, y2);
  path.close_polygon();
}

void XPath::roundedRect(double x1, double y1, double x2, double y2, double r,
                        const double* a, const double* b, const double* c)
{
  agg::rounded_rect rr(x1, y1, x2, y2, r);
  rr.approximation_scale(1.0);
  if (a && b && c)
    rr.radius(*b, *b, *c, *c, *a, *a, r, r);
  else
    rr.radius(r);
  path.concat_path(rr);
}

void XPath::getLast(double& x, double& y) const
{
  x = y = 0;
  if (path.total_vertices())
    path.last_vertex(&x, &y);
}

void XPath::getBounds(double& x1, double& y1, double& x2, double& y2)
{
  x1 = y1 = x2 = y2 = 0;
  agg::conv_curve<agg::path_storage> curve(path);
  curve.rewind(0);
  bool first = true;
  double x, y;
  unsigned cmd;
  while (!agg::is_stop(cmd = curve.vertex(&x, &y))) {
    if (!agg::is_vertex(cmd))
      continue;
    if (first) {
      x1 = x2 = x;
      y1 = y2 = y;
      first = false;
    } else {
      if (x < x1) x1 = x;
      if (y < y1) y1 = y;
      if (x > x2) x2 = x;
      if (y > y2) y2 = y;
    }
  }
}

void XPath::addToPath(XPath& target) const
{
  // Copy by index: target may be this very path.
  const unsigned n = path.total_vertices();
  for (unsigned i = 0; i < n; ++i) {
    double x, y;
    const unsigned cmd = path.vertex(i, &x, &y);
    target.path.vertices().add_vertex(x, y, cmd);
  }
}

void XPath::strokePath(double width)
{
  agg::path_storage outline;
  agg::conv_curve<agg::path_storage> curve(path);
  strokeInto(curve, width, lineCap, lineJoin, miterLimit, &dashes, dashStart,
             [&](auto& stroke) { outline.concat_path(stroke); });
  path = outline;
}

bool lineCapByName(const std::string& word, int& cap)
{
  if (word == "butt") cap = 0;
  else if (word == "square") cap = 1;
  else if (word == "round") cap = 2;
  else {
    fprintf(stderr, "unmatched cap: %s\n", word.c_str());
    return false;
  }
  return true;
}

bool lineJoinByName(const std::string& word, int& join)
{
  if (word == "miter") join = 0;
  else if (word == "round") join = 2;
  else if (word == "bevel") join = 3;
  else {
    fprintf(stderr, "unmatched join: %s\n", word.c_str());
    return false;
  }
  return true;
}

void lineDashFromValues(const std::vector<double>& d, std::vector<float>& dashes, float& start)
{
  dashes.assign(d.begin(), d.end());
  start = 0;
  if (dashes.size() % 2) {
    start = dashes.back();
    dashes.pop_back();
  }
}

bool XPath::setLineCap(const std::string& word) { return lineCapByName(word, lineCap); }
bool XPath::setLineJoin(const std::string& word) { return lineJoinByName(word, lineJoin); }
void XPath::setLineDash(const std::vector<double>& d) { lineDashFromValues(d, dashes, dashStart); }
