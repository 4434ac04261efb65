// Image XObjects with their filters and colour spaces, and the embedded
// sRGB profile stream.
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>

#include <zlib.h>

#include "codecs/Args.hh"
#include "codecs/CCITT.hh"
#include "codecs/PNGPredict.hh"
#include "codecs/parallel_deflate.hh"
#include "codecs/PDF.hh"
#include "color/sRGBProfile.hh"
#include "image/Colorspace.hh"

namespace {

// The profile is kept once, uncompressed, by colour management; the PDF
// stream wants it deflated, so that is done once on first use.
const std::string& deflatedProfile()
{
  static std::string deflated;
  static std::once_flag once;
  std::call_once(once, [] {
    uLongf size = compressBound((uLong)srgbProfileSize);
    std::string out(size, '\0');
    if (compress2((Bytef*)&out[0], &size, srgbProfile, (uLong)srgbProfileSize, 9) == Z_OK) {
      out.resize(size);
      deflated = out;
    }
  });
  return deflated;
}

bool haveCodec(const char* name)
{
  for (const ImageCodec::loader_ref* e = ImageCodec::firstLoader(); e; e = e->next)
    if (std::string(e->extension) == name)
      return true;
  return false;
}

std::string joined(const Args& words)
{
  std::string out;
  for (const std::string& word : words)
    out += (out.empty() ? "" : ",") + word;
  return out;
}

} // namespace

void PDFColorspace::writeStreamTagsImpl(std::ostream& s)
{
  s << "/N 3/Alternate/DeviceRGB/Filter/FlateDecode\n";
}

void PDFColorspace::writeStreamImpl(std::ostream& s)
{
  const std::string& data = deflatedProfile();
  s.write(data.data(), (std::streamsize)data.size());
}

PDFXObject::PDFXObject(PDFXref& xref, Image& image, const std::string& options, int quality)
  : PDFStream(xref), index(++xref.imageCount), source(&image), options(options),
    quality(quality)
{
  if (image.spp > 3) {
    converted = image;
    colorspace_by_name(converted, "rgb", 127);
    source = &converted;
  }
}

PDFXObject::~PDFXObject()
{
  delete colorSpace;
}

void PDFXObject::writeStreamTagsImpl(std::ostream& s)
{
  const Image& image = *source;
  filterName = image.bps == 1 ? "/CCITTFaxDecode" : "/FlateDecode";
  Args words(options);
  static const struct {
    const char* word;
    const char* filter;
  } filters[] = {{"none", ""},           {"ascii85", "/ASCII85Decode"},
                 {"hex", "/ASCIIHexDecode"}, {"jpeg2000", "/JPXDecode"},
                 {"flate", "/FlateDecode"}, {"ccitt", "/CCITTFaxDecode"},
                 {"fax", "/CCITTFaxDecode"}};
  for (const auto& f : filters)
    if (words.containsAndRemove(f.word)) {
      filterName = f.filter;
      break;
    }
  // Without a JPEG 2000 codec the stream would be empty, and fax coding of
  // deeper samples would misstate the data: keep the default instead.
  if (filterName == "/JPXDecode" && !haveCodec("jp2")) {
    std::cerr << "PDFCodec: no jp2 codec for jpeg2000, using the default filter" << std::endl;
    filterName = image.bps == 1 ? "/CCITTFaxDecode" : "/FlateDecode";
  }
  if (filterName == "/CCITTFaxDecode" && image.bps != 1) {
    std::cerr << "PDFCodec: ccitt needs 1 bit per sample, using the default filter" << std::endl;
    filterName = "/FlateDecode";
  }
  if (filterName == "/FlateDecode" && image.bps == 8)
    predictor = 12;

  enum { device, icc, calibrated } space = image.bps == 1 ? device : calibrated;
  if (words.containsAndRemove("icc"))
    space = icc;
  else if (words.containsAndRemove("device"))
    space = device;
  else if (words.containsAndRemove("calibrated"))
    space = calibrated;
  // The embedded profile is RGB; a gray image gets the calibrated gray.
  if (space == icc && image.spp == 1)
    space = calibrated;
  if (space == icc && !colorSpace) {
    colorSpace = new PDFColorspace(xref);
    followers.push_back(colorSpace);
  }
  options = joined(words);

  s << "/Type/XObject/Subtype/Image/Width " << image.w << "/Height " << image.h << "/ColorSpace";
  if (space == device)
    s << (image.spp == 1 ? "/DeviceGray" : "/DeviceRGB");
  else if (space == icc)
    s << "[/ICCBased " << colorSpace->indirectRef() << "]";
  else if (image.spp == 1)
    s << "[/CalGray<</WhitePoint[0.950455 1 1.08905]" << (image.bps > 1 ? "/Gamma 2.2" : "")
      << ">>]";
  else
    s << "[/CalRGB<</WhitePoint[0.950455 1 1.08905]/Gamma[2.2 2.2 2.2]"
         "/Matrix[0.412384 0.212646 0.0193176 0.35759 0.715164 0.119171 0.180496 0.0721893 "
         "0.950546]>>]";
  s << "/BitsPerComponent " << (int)image.bps;
  if (!filterName.empty())
    s << "/Filter" << filterName;
  if (predictor > 1) {
    s << "/DecodeParms<</Predictor " << predictor << "/Columns " << image.w;
    if (image.spp > 1)
      s << "/Colors " << (int)image.spp;
    s << ">>";
  }
  if (filterName == "/CCITTFaxDecode")
    s << "/DecodeParms<</K -1/Columns " << image.w << "/Rows " << image.h << ">>";
}

void PDFXObject::writeStreamImpl(std::ostream& s)
{
  Image& image = *source;
  if (filterName == "/JPXDecode") {
    ImageCodec::Write(&s, image, "jp2", "jp2", quality, options);
  } else if (filterName == "/CCITTFaxDecode") {
    EncodeCCITT(s, image.getRawData(), image.w, image.h, (int)image.stride(), false);
  } else {
    // Tight rows in a buffer of our own (the caller's image stays as it
    // is), every byte of it written: not cleared first.
    const uint64_t fill = image.stridefill(), stride = image.stride();
    const uint8_t* data = image.getRawData();
    const uint64_t size = data && image.w > 0 && image.h > 0
                              ? (fill + (predictor == 12 ? 1 : 0)) * (uint64_t)image.h
                              : 0;
    std::unique_ptr<unsigned char[]> rows(new unsigned char[size ? size : 1]);
    if (size && predictor == 12) {
      predictPNG(image, rows.get(), 2);
    } else if (size) {
      for (int y = 0; y < image.h; ++y)
        memcpy(rows.get() + fill * y, data + stride * y, fill);
      if (image.bps > 8)
        for (uint64_t i = 0; i + 1 < size; i += 2)
          std::swap(rows[i], rows[i + 1]);
    }
    const unsigned char* bytes = rows.get();
    if (filterName.empty()) {
      s.write((const char*)bytes, (std::streamsize)size);
    } else if (filterName == "/FlateDecode") {
      if (!paralleldeflate::deflate(s, bytes, size, 9))
        s.setstate(std::ios::badbit);
    } else if (filterName == "/ASCII85Decode") {
      EncodeASCII85(s, bytes, size);
    } else if (filterName == "/ASCIIHexDecode") {
      EncodeHex(s, bytes, size);
    }
  }

  Args words(options);
  words.containsAndRemove("recompress");
  if (!words.empty())
    std::cerr << "PDFCodec: Unrecognized encoding option '" << joined(words) << "'" << std::endl;
  if (!s.good()) {
    std::cerr << "PDFCodec: invalid stream!" << std::endl;
    s.clear();
  }
}
