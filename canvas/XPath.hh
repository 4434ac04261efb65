// A vector path for scripts: AGG path storage plus its own stroke style.
// Clipping and stroking replace the vertices in place; the style stays.
#pragma once

#include <string>
#include <vector>

#include <agg_path_storage.h>

#include "bind/Class.hh"
#include "canvas/Transform.hh"

class XPath {
public:
  agg::path_storage path;
  int lineCap = 0;       // 0 butt, 1 square, 2 round
  int lineJoin = 0;      // 0 miter, 2 round, 3 bevel
  float miterLimit = 1.0f;
  float dashStart = 0.0f;
  std::vector<float> dashes;

  void moveTo(double x, double y) { path.move_to(x, y); }
  void lineTo(double x, double y) { path.line_to(x, y); }
  void lineRel(double dx, double dy) { path.line_rel(dx, dy); }
  void arcTo(double rx, double ry, double angle, bool largeArc, bool sweep, double x, double y)
  {
    path.arc_to(rx, ry, angle, largeArc, sweep, x, y);
  }
  void arcRel(double rx, double ry, double angle, bool largeArc, bool sweep, double dx, double dy)
  {
    path.arc_rel(rx, ry, angle, largeArc, sweep, dx, dy);
  }
  void curve3(double cx, double cy, double x, double y) { path.curve3(cx, cy, x, y); }
  void curve3Rel(double cx, double cy, double x, double y) { path.curve3_rel(cx, cy, x, y); }
  void curve4(double c1x, double c1y, double c2x, double c2y, double x, double y)
  {
    path.curve4(c1x, c1y, c2x, c2y, x, y);
  }
  void curve4Rel(double c1x, double c1y, double c2x, double c2y, double x, double y)
  {
    path.curve4_rel(c1x, c1y, c2x, c2y, x, y);
  }
  void rect(double x1, double y1, double x2, double y2);
  // Radii per corner: with all of a, b, c given, (x1,y1) b, (x2,y1) c,
  // (x2,y2) a, (x1,y2) r; otherwise r everywhere.
  void roundedRect(double x1, double y1, double x2, double y2, double r,
                   const double* a = nullptr, const double* b = nullptr,
                   const double* c = nullptr);
  // Ends the current polygon with the close flag, once.
  void close() { path.close_polygon(); }
  void reset() { path.remove_all(); }
  void transform(const Transform& t) { path.transform_all_paths(t); }
  void getLast(double& x, double& y) const;
  bool isEmpty() const { return path.total_vertices() == 0; }
  // Replaces the path by its intersection with other (even-odd or
  // non-zero on both). Throws std::range_error for coordinates the
  // clipper cannot hold.
  void clip(XPath& other, bool evenOdd);
  // Replaces the path by the outline of its stroke with this path's style.
  void strokePath(double width);
  // Min x, min y, max x, max y of the flattened vertices; zeros when empty.
  void getBounds(double& x1, double& y1, double& x2, double& y2);
  void addToPath(XPath& target) const;

  // Style words as scripts give them; false (after a diagnostic on
  // standard error) for an unknown word, leaving the field.
  bool setLineCap(const std::string& word);
  bool setLineJoin(const std::string& word);
  // d[0..n-1]: an odd count moves the last value into the dash start.
  void setLineDash(const std::vector<double>& d);
};

// Shared with the other drawing surfaces: cap and join words to values.
bool lineCapByName(const std::string& word, int& cap);
bool lineJoinByName(const std::string& word, int& join);
void lineDashFromValues(const std::vector<double>& d, std::vector<float>& dashes, float& start);
// The script forms: setLineStyle([cap], [join], [miterLimit]) and
// setLineDash(d1, d2, ...) read from argument 2 on.
int readLineStyle(lua_State* L, int& cap, int& join, float& miterLimit);
int readLineDash(lua_State* L, std::vector<float>& dashes, float& start);

TOLM_SCRIPT_CLASS(XPath, "Path")

// Registers the script entries of "Path"; the class must be declared.
void exportPathClass(lua_State* L);
