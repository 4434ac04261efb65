// Everything a user of the codecs needs: the interface with its registry
// entry points, and the option sets.
#pragma once

#include "codecs/Args.hh"
#include "image/ImageCodec.hh"
