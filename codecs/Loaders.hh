// The registered codec prototypes live in loaders.cc, constructed there in a
// fixed order so the probing order does not depend on link order. The
// registry calls linkCodecLoaders() so that any program using the entry
// points also links the prototypes, even from a static library.
#pragma once

void linkCodecLoaders();
