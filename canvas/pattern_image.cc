// Image-pattern rendering instantiated for one target renderer.
#include "canvas/ImagePatternImpl.hh"

template void render_solid_image_template<renderer_norvel_image>(Rasterizer&, renderer_norvel_image&, Image&, double, const Transform&, bool);
