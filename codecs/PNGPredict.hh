// PNG row filters in both directions; the TIFF reader also uses the
// unfilter for its horizontal predictor (predictor -8).
#pragma once

#include <cstdint>
#include <string>

class Image;

// Filters one row of n bytes with PNG filter type 0..4 into out (n bytes);
// prev is the raw row above or null for the first row. bpp is the byte
// distance to the left neighbour (at least 1).
void filterPNGRow(int type, const uint8_t* row, const uint8_t* prev, uint64_t n, int bpp,
                  uint8_t* out);

// Appends, for every row, the filter-type byte and the filtered row.
// Types 0 None, 1 Sub, 2 Up, 3 Average, 4 Paeth; 5 and above: Up.
void predictPNG(const Image& image, std::string& out, int type);
// The same into out, which holds (stridefill + 1) x h bytes; every one of
// them is written.
void predictPNG(const Image& image, uint8_t* out, int type);

// predictor -8: undoes TIFF horizontal differencing in place in `in`
// (bytesPerPixel = samples per pixel, bits 8 or 16; 16-bit samples are
// also swapped from the other byte order). Any other predictor: undoes PNG
// filters from rows of one type byte + rowBytes into out (or in itself when
// out is null), rows rowBytes apart.
void unpredictPNG(unsigned char* in, unsigned char* out, int size, int rowBytes, int predictor,
                  int bytesPerPixel, int swapRedBlue, int bits);

// The PNG half of unpredictPNG with 64-bit sizes: rows of one type byte +
// rowBytes at in, unfiltered to out (or in place when out is null).
void unfilterPNG(unsigned char* in, unsigned char* out, uint64_t rows, uint64_t rowBytes,
                 int bytesPerPixel, bool swapRedBlue);
