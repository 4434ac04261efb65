// Registration of the Image script class: every entry in its fixed order.
#include "bind/LuaWrapper.hh"
#include "canvas/XPath.hh"
#include "host/XImage.hh"

using namespace LuaWrapper;

namespace {

// Script names that are also native-only members need their overload named.
typedef int (XImage::*ResizeEntry)(lua_State*, int, int);
typedef int (XImage::*ScaleEntry)(lua_State*, double);
typedef int (XImage::*ResolutionEntry)(lua_State*, int);

} // namespace

void exportImageClass(lua_State* L)
{
  ExportToLua<CtorWrapper<XImage()>>(L, "new");
  ExportToLua<CtorWrapper<XImage(XImage&)>>(L, "newFromImage");
  ExportToLua<DtorWrapper<XImage>>(L, "delete");
  ExportToLua<DtorWrapper<XImage>>(L, "__gc");
  ExportToLua<MethodWrapper<&XImage::setImage>>(L, "setImage");
  ExportToLua<MethodWrapper<&XImage::setImageMem>>(L, "setImageMem");
  ExportToLua<MethodWrapper<&XImage::setImageData>>(L, "setImageData");
  ExportToLua<MethodWrapper<&XImage::setImageDataSpec>>(L, "setImageDataSpec");
  ExportToLua<MethodWrapper<&XImage::writeImageMem>>(L, "writeImageMem");
  ExportToLua<MethodWrapper<static_cast<ResizeEntry>(&XImage::resize)>>(L, "resize");
  ExportToLua<MethodWrapper<&XImage::codecID>>(L, "codecID");
  ExportToLua<MethodWrapper<&XImage::width>>(L, "width");
  ExportToLua<MethodWrapper<&XImage::height>>(L, "height");
  ExportToLua<MethodWrapper<&XImage::getSPP>>(L, "getSPP");
  ExportToLua<MethodWrapper<&XImage::getBPS>>(L, "getBPS");
  ExportToLua<MethodWrapper<&XImage::size>>(L, "size");
  ExportToLua<MethodWrapper<&XImage::resolution>>(L, "resolution");
  ExportToLua<MethodWrapper<static_cast<ResolutionEntry>(&XImage::setResolution)>>(L,
                                                                                  "setResolution");
  ExportToLua<MethodWrapper<&XImage::fillPath>>(L, "fillPath");
  ExportToLua<MethodWrapper<&XImage::strokePath>>(L, "strokePath");
  ExportToLua<MethodWrapper<static_cast<ScaleEntry>(&XImage::scale)>>(L, "scale");
  ExportToLua<MethodWrapper<&XImage::colorspace>>(L, "colorspace");
  ExportToLua<MethodWrapper<&XImage::colorspaceRGB8ToGray8>>(L, "colorspaceRGB8ToGray8");
  ExportToLua<MethodWrapper<&XImage::colorspaceGray8ToGray1>>(L, "colorspaceGray8ToGray1");
  ExportToLua<MethodWrapper<&XImage::color2mask>>(L, "color2mask");
  ExportToLua<MethodWrapper<&XImage::mask2rgba>>(L, "mask2rgba");
  ExportToLua<MethodWrapper<&XImage::rgbaFromImage>>(L, "rgbaFromImage");
  ExportToLua<MethodWrapper<&XImage::colorspaceGray8DenoiseNeighbours>>(
    L, "colorspaceGray8DenoiseNeighbours");
  ExportToLua<MethodWrapper<&XImage::floyedSteinberg>>(L, "floyedSteinberg");
  ExportToLua<MethodWrapper<&XImage::autoInvert>>(L, "autoInvert");
  ExportToLua<MethodWrapper<&XImage::autoRotate>>(L, "autoRotate");
  ExportToLua<MethodWrapper<&XImage::normalize>>(L, "normalize");
  ExportToLua<MethodWrapper<&XImage::autoColor>>(L, "autoColor");
  ExportToLua<MethodWrapper<&XImage::autoWhite>>(L, "autoWhite");
  ExportToLua<MethodWrapper<&XImage::brightnessContrastGamma>>(L, "brightnessContrastGamma");
  ExportToLua<MethodWrapper<&XImage::lut>>(L, "lut");
  ExportToLua<MethodWrapper<&XImage::histogram>>(L, "histogram");
  ExportToLua<MethodWrapper<&XImage::dropout>>(L, "dropout");
  ExportToLua<MethodWrapper<&XImage::median>>(L, "median");
  ExportToLua<MethodWrapper<&XImage::smooth>>(L, "smooth");
  ExportToLua<MethodWrapper<&XImage::borderFill>>(L, "borderFill");
  ExportToLua<MethodWrapper<&XImage::bardecode>>(L, "bardecode");
  ExportToLua<MethodWrapper<&XImage::applyICC>>(L, "applyICC");
  ExportToLua<MethodWrapper<&XImage::optimize2bw>>(L, "optimize2bw");
  ExportToLua<MethodWrapper<&XImage::optimize2bw2>>(L, "optimize2bw2");
  ExportToLua<MethodWrapper<&XImage::rotate>>(L, "rotate");
  ExportToLua<MethodWrapper<&XImage::crop>>(L, "crop");
  ExportToLua<MethodWrapper<&XImage::append>>(L, "append");
  ExportToLua<MethodWrapper<&XImage::invert>>(L, "invert");
  ExportToLua<MethodWrapper<&XImage::cmyk2rgb>>(L, "cmyk2rgb");
  ExportToLua<MethodWrapper<&XImage::dePalette>>(L, "dePalette");
  ExportToLua<MethodWrapper<&XImage::deskew>>(L, "deskew");
  ExportToLua<MethodWrapper<&XImage::deskewParameters>>(L, "deskewParameters");
  ExportToLua<MethodWrapper<&XImage::deskewApply>>(L, "deskewApply");
  ExportToLua<MethodWrapper<&XImage::deskewFlatbed>>(L, "deskewFlatbed");
  ExportToLua<MethodWrapper<&XImage::detectEmptyPage>>(L, "detectEmptyPage");
  ExportToLua<MethodWrapper<&XImage::copy>>(L, "copy");
  ExportToLua<MethodWrapper<&XImage::pixel>>(L, "pixel");
  ExportToLua<MethodWrapper<&XImage::setPixel>>(L, "setPixel");
  ExportToLua<MethodWrapper<&XImage::color>>(L, "color");
  ExportToLua<MethodWrapper<&XImage::fillPathImage>>(L, "fillPathImage");
  ExportToLua<MethodWrapper<&XImage::setLineStyle>>(L, "setLineStyle");
  ExportToLua<MethodWrapper<&XImage::setLineDash>>(L, "setLineDash");
  ExportToLua<MethodWrapper<&XImage::setTransform>>(L, "setTransform");
  ExportToLua<MethodWrapper<&XImage::setCompOp>>(L, "setCompOp");
}
