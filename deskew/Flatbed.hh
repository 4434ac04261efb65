// Finding a sheet laid on a flatbed scanner, against a lid that is a little
// darker than the paper.
#pragma once

#include "deskew/Deskew.hh"
#include "image/Image.hh"

// The sheet's rectangle and skew, in the form deskewApply takes. Does not
// change the image. A side that cannot be found is taken to be the scan's
// border; when fewer than two sides are found the whole image with angle 0
// comes back, with a line on stderr.
deskew_rect deskewFlatbed(Image& image);
