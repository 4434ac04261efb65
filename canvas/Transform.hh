// A 2-D affine matrix for scripts: the six coefficients sx, shy, shx, sy,
// tx, ty; operations append, so a transform made by rotate then scale
// rotates first.
#pragma once

#include <agg_trans_affine.h>

#include "bind/Class.hh"

class Transform : public agg::trans_affine {
public:
  Transform() {}
  Transform(const agg::trans_affine& m) : agg::trans_affine(m) {}

  void reset() { agg::trans_affine::reset(); }
  void set(double sx_, double shy_, double shx_, double sy_, double tx_, double ty_)
  {
    sx = sx_; shy = shy_; shx = shx_; sy = sy_; tx = tx_; ty = ty_;
  }
  void rotate(double a) { agg::trans_affine::rotate(a); }
  void scale(double x, double y) { agg::trans_affine::scale(x, y); }
  void translate(double dx, double dy) { agg::trans_affine::translate(dx, dy); }
  // This becomes this followed by m.
  void multiply(const Transform& m) { agg::trans_affine::multiply(m); }
  void invert() { agg::trans_affine::invert(); }
  void map(double& x, double& y) const { agg::trans_affine::transform(&x, &y); }
  void scaling(double& x, double& y) const { agg::trans_affine::scaling(&x, &y); }
  double rotation() const { return agg::trans_affine::rotation(); }
  void translation(double& x, double& y) const { x = tx; y = ty; }
};

TOLM_SCRIPT_CLASS(Transform, "Transform")

// Registers the script entries of "Transform"; the class must be declared.
void exportTransformClass(lua_State* L);
