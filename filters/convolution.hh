// Convolution: the separable symmetric filter behind the unsharp mask of the
// binariser, a general integer kernel with mirrored borders, and a separable
// filter of two full kernels for 8-bit gray pages.
#pragma once

#include "image/Image.hh"

// h: xw + 1 weights (centre, then distance 1..xw), v: yw + 1 likewise for
// rows; the result is src_add x source + the separable sum, samples outside
// the image counting as zero.
void decomposable_sym_convolution_matrix(Image& image, const double* h, const double* v,
                                         int xw, int yw, double src_add);

// matrix: yw rows of xw weights, truncated to integers, as is the divisor.
void convolution_matrix(Image& image, const double* matrix, int xw, int yw, double divisor);

// h: xw taps, v: yw taps; interior pixels of an 8-bit gray image only.
void decomposable_convolution_matrix(Image& image, const double* h, const double* v,
                                     int xw, int yw, double src_add);
