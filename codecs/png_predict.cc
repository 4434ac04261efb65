// PNG row filters (None, Sub, Up, Average, Paeth) and the TIFF horizontal
// predictor.
#include "codecs/PNGPredict.hh"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "image/Image.hh"

static inline uint8_t paeth(int a, int b, int c)
{
  const int p = a + b - c;
  const int pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
  if (pa <= pb && pa <= pc)
    return (uint8_t)a;
  return (uint8_t)(pb <= pc ? b : c);
}

void filterPNGRow(int type, const uint8_t* row, const uint8_t* prev, uint64_t n, int bpp,
                  uint8_t* out)
{
  const uint64_t d = bpp < 1 ? 1 : (uint64_t)bpp;
  // The filters the writers use most, in loops the compiler can widen.
  if (type == 0 || (type == 2 && !prev)) {
    memcpy(out, row, n);
    return;
  }
  if (type == 2) {
    for (uint64_t i = 0; i < n; ++i)
      out[i] = (uint8_t)(row[i] - prev[i]);
    return;
  }
  for (uint64_t i = 0; i < n; ++i) {
    const int a = i >= d ? row[i - d] : 0;
    const int b = prev ? prev[i] : 0;
    const int c = (prev && i >= d) ? prev[i - d] : 0;
    int pred;
    switch (type) {
    case 1: pred = a; break;
    case 3: pred = (a + b) / 2; break;
    case 4: pred = paeth(a, b, c); break;
    default: pred = 0; break;
    }
    out[i] = (uint8_t)(row[i] - pred);
  }
}

void predictPNG(const Image& image, uint8_t* out, int type)
{
  const uint8_t* data = image.getRawData();
  if (!data || image.w <= 0 || image.h <= 0)
    return;
  if (type >= 5 || type < 0)
    type = 2;
  const uint64_t fill = image.stridefill();
  const uint64_t stride = image.stride();
  const int bpp = (image.bps * image.spp + 7) / 8;
  for (int y = 0; y < image.h; ++y) {
    const uint8_t* row = data + (uint64_t)y * stride;
    *out++ = (uint8_t)type;
    filterPNGRow(type, row, y ? row - stride : nullptr, fill, bpp, out);
    out += fill;
  }
}

void predictPNG(const Image& image, std::string& out, int type)
{
  if (!image.getRawData() || image.w <= 0 || image.h <= 0)
    return;
  const size_t start = out.size();
  out.resize(start + (size_t)((image.stridefill() + 1) * (uint64_t)image.h));
  predictPNG(image, (uint8_t*)&out[start], type);
}

static void unpredictTIFF(unsigned char* in, int size, int rowBytes, int samples, int bits)
{
  if (bits != 8 && bits != 16) {
    std::cerr << "TIFF unpredict unsupported bits: " << bits << std::endl;
    return;
  }
  if (rowBytes <= 0 || size <= 0 || samples <= 0)
    return;
  const int rows = size / rowBytes;
  for (int y = 0; y < rows; ++y) {
    unsigned char* row = in + (int64_t)y * rowBytes;
    if (bits == 8) {
      // The running sums stay in registers for the common sample counts.
      if (samples == 1) {
        unsigned char a = row[0];
        for (int i = 1; i < rowBytes; ++i)
          row[i] = a = (unsigned char)(row[i] + a);
      } else if (samples == 3 && rowBytes >= 3) {
        unsigned char r = row[0], g = row[1], b = row[2];
        int i = 3;
        for (; i + 2 < rowBytes; i += 3) {
          row[i] = r = (unsigned char)(row[i] + r);
          row[i + 1] = g = (unsigned char)(row[i + 1] + g);
          row[i + 2] = b = (unsigned char)(row[i + 2] + b);
        }
        for (; i < rowBytes; ++i)
          row[i] = (unsigned char)(row[i] + row[i - 3]);
      } else {
        for (int i = samples; i < rowBytes; ++i)
          row[i] = (unsigned char)(row[i] + row[i - samples]);
      }
    } else {
      const int n = rowBytes / 2;
      for (int i = 0; i < n; ++i) {
        unsigned char* p = row + 2 * i;
        const unsigned char t = p[0];
        p[0] = p[1];
        p[1] = t;
        if (i >= samples) {
          uint16_t v, l;
          memcpy(&v, p, 2);
          memcpy(&l, p - 2 * samples, 2);
          v = (uint16_t)(v + l);
          memcpy(p, &v, 2);
        }
      }
    }
  }
}

void unpredictPNG(unsigned char* in, unsigned char* out, int size, int rowBytes, int predictor,
                  int bytesPerPixel, int swapRedBlue, int bits)
{
  if (!in)
    return;
  if (predictor == -8) {
    unpredictTIFF(in, size, rowBytes, bytesPerPixel, bits);
    return;
  }
  if (rowBytes <= 0 || size <= 0)
    return;
  unfilterPNG(in, out, (uint64_t)size / ((uint64_t)rowBytes + 1), (uint64_t)rowBytes,
              bytesPerPixel, swapRedBlue != 0);
}

void unfilterPNG(unsigned char* in, unsigned char* out, uint64_t rows, uint64_t rowBytes,
                 int bytesPerPixel, bool swapRedBlue)
{
  const uint64_t d = bytesPerPixel < 1 ? 1 : (uint64_t)bytesPerPixel;
  unsigned char* dst = out ? out : in;
  for (uint64_t y = 0; y < rows; ++y) {
    const unsigned char* src = in + y * (rowBytes + 1);
    const int type = src[0];
    ++src;
    unsigned char* row = dst + y * rowBytes;
    const unsigned char* prev = y ? row - rowBytes : nullptr;
    // In place, row overlaps src one byte per row further on: every byte is
    // read before it is overwritten, so the forward loops stay safe.
    switch (type) {
    case 0:
      memmove(row, src, (size_t)rowBytes);
      break;
    case 1: {
      const uint64_t head = d < rowBytes ? d : rowBytes;
      for (uint64_t i = 0; i < head; ++i)
        row[i] = src[i];
      for (uint64_t i = head; i < rowBytes; ++i)
        row[i] = (unsigned char)(src[i] + row[i - d]);
      break;
    }
    case 2:
      if (prev)
        for (uint64_t i = 0; i < rowBytes; ++i)
          row[i] = (unsigned char)(src[i] + prev[i]);
      else
        memmove(row, src, (size_t)rowBytes);
      break;
    case 3: {
      // The first pixel has no left neighbour; the loops below carry no
      // per-byte branches.
      const uint64_t head = d < rowBytes ? d : rowBytes;
      if (prev) {
        for (uint64_t i = 0; i < head; ++i)
          row[i] = (unsigned char)(src[i] + prev[i] / 2);
        for (uint64_t i = head; i < rowBytes; ++i)
          row[i] = (unsigned char)(src[i] + ((int)row[i - d] + (int)prev[i]) / 2);
      } else {
        for (uint64_t i = 0; i < head; ++i)
          row[i] = src[i];
        for (uint64_t i = head; i < rowBytes; ++i)
          row[i] = (unsigned char)(src[i] + row[i - d] / 2);
      }
      break;
    }
    case 4: {
      const uint64_t head = d < rowBytes ? d : rowBytes;
      if (prev) {
        // Paeth of (0, b, 0) is b.
        for (uint64_t i = 0; i < head; ++i)
          row[i] = (unsigned char)(src[i] + prev[i]);
        for (uint64_t i = head; i < rowBytes; ++i)
          row[i] = (unsigned char)(src[i] + paeth(row[i - d], prev[i], prev[i - d]));
      } else {
        // Paeth of (a, 0, 0) is a.
        for (uint64_t i = 0; i < head; ++i)
          row[i] = src[i];
        for (uint64_t i = head; i < rowBytes; ++i)
          row[i] = (unsigned char)(src[i] + row[i - d]);
      }
      break;
    }
    default:
      std::cerr << "unimplemented PNG filter: " << type << ", row: " << y << std::endl;
      memmove(row, src, (size_t)rowBytes);
      break;
    }
  }
  // Swapped only once every row is unfiltered: the rows above must still
  // be in file order while they serve as predictions.
  if (swapRedBlue) {
    for (uint64_t y = 0; y < rows; ++y) {
      unsigned char* row = dst + y * rowBytes;
      for (uint64_t i = 0; i + 3 < rowBytes; i += 4) {
        const unsigned char t = row[i];
        row[i] = row[i + 2];
        row[i + 2] = t;
      }
    }
  }
}
