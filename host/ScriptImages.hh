// The host's side of the canvas's ScriptImages: the Image of a script
// value of the class "Image" (XImage).
#pragma once

class ScriptImages;

namespace host {
const ScriptImages* scriptImages();
}
