// The pattern alpha as a byte.
#include "canvas/ImagePattern.hh"

unsigned patternAlphaByte(double alpha)
{
  // Out-of-range alphas clamp (NaN paints nothing) rather than wrapping
  // through the byte.
  if (!(alpha > 0))
    return 0;
  if (alpha > 1)
    alpha = 1;
  return (unsigned)(int)(alpha * 255);
}
