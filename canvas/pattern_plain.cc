// Image-pattern rendering instantiated for one target renderer.
#include "canvas/ImagePatternImpl.hh"

template void render_solid_image_template<RendererPlain>(Rasterizer&, RendererPlain&, Image&, double, const Transform&, bool);
