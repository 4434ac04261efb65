// The script class "Image" belongs to the host, above the canvas; the
// canvas draws with the images scripts hand it (fillPathImage,
// fillTextImage) through this interface, which the host implements.
#pragma once

#include "lua/lua.h"

class Image;

class ScriptImages {
public:
  virtual ~ScriptImages() = default;
  // The Image of the script value at index; raises the binding library's
  // conversion error when the value is not an "Image".
  virtual Image& argument(lua_State* L, int index) const = 0;
};
