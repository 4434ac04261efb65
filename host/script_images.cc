// The canvas draws with script images through ScriptImages; the class
// "Image" is the host's XImage.
#include "host/ScriptImages.hh"

#include "bind/LuaWrapper.hh"
#include "canvas/ScriptImages.hh"
#include "host/XImage.hh"

namespace {

class XImageArguments : public ScriptImages {
public:
  Image& argument(lua_State* L, int index) const override
  {
    return LuaWrapper::Unpack<XImage&, LuaWrapper::TypeError<XImage&>>::convert(L, index);
  }
};

} // namespace

namespace host {

const ScriptImages* scriptImages()
{
  static const XImageArguments images;
  return &images;
}

} // namespace host
