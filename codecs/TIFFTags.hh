// TIFF tag numbers and field types by name.
#pragma once

#include <cstdint>

namespace tifftag {
enum : uint16_t {
  NewSubfileType = 254,
  SubfileType = 255,
  ImageWidth = 256,
  ImageLength = 257,
  BitsPerSample = 258,
  Compression = 259,
  Photometric = 262,
  Threshholding = 263,
  FillOrder = 266,
  DocumentName = 269,
  ImageDescription = 270,
  Make = 271,
  Model = 272,
  StripOffsets = 273,
  Orientation = 274,
  SamplesPerPixel = 277,
  RowsPerStrip = 278,
  StripByteCounts = 279,
  MinSampleValue = 280,
  MaxSampleValue = 281,
  XResolution = 282,
  YResolution = 283,
  PlanarConfiguration = 284,
  XPosition = 286,
  YPosition = 287,
  T4Options = 292,
  T6Options = 293,
  ResolutionUnit = 296,
  PageNumber = 297,
  Software = 305,
  DateTime = 306,
  Artist = 315,
  HostComputer = 316,
  Predictor = 317,
  WhitePoint = 318,
  PrimaryChromaticities = 319,
  ColorMap = 320,
  HalftoneHints = 321,
  TileWidth = 322,
  TileLength = 323,
  TileOffsets = 324,
  TileByteCounts = 325,
  BadFaxLines = 326,
  CleanFaxData = 327,
  ConsecutiveBadFaxLines = 328,
  InkSet = 332,
  ExtraSamples = 338,
  SampleFormat = 339,
  JPEGTables = 347,
  JPEGProc = 512,
  JPEGInterchangeFormat = 513,
  JPEGInterchangeFormatLength = 514,
  JPEGRestartInterval = 515,
  JPEGQTables = 519,
  JPEGDCTables = 520,
  JPEGACTables = 521,
  YCbCrCoefficients = 529,
  YCbCrSubSampling = 530,
  YCbCrPositioning = 531,
  ReferenceBlackWhite = 532,
  Matteing = 32995,
  DataType = 32996,
  ImageDepth = 32997,
  TileDepth = 32998,
  Copyright = 33432,
  ExifIFD = 34665,
  ICCProfile = 34675,
};
} // namespace tifftag

namespace tifftype {
enum : uint16_t {
  BYTE = 1,
  ASCII = 2,
  SHORT = 3,
  LONG = 4,
  RATIONAL = 5,
  SBYTE = 6,
  UNDEFINED = 7,
  SSHORT = 8,
  SLONG = 9,
  SRATIONAL = 10,
  FLOAT = 11,
  DOUBLE = 12,
};
} // namespace tifftype

// Values of the Compression, Photometric, PlanarConfiguration, Predictor,
// SampleFormat and ResolutionUnit fields.
namespace tiffvalue {
enum : uint16_t {
  CompressionNone = 1,
  CompressionCCITTRLE = 2,
  CompressionCCITTFax3 = 3,
  CompressionCCITTFax4 = 4,
  CompressionLZW = 5,
  CompressionOJPEG = 6,
  CompressionJPEG = 7,
  CompressionDeflate = 8,
  CompressionPackBits = 32773,
  CompressionDeflateOld = 32946,
};
enum : uint16_t {
  PhotometricWhiteIsZero = 0,
  PhotometricBlackIsZero = 1,
  PhotometricRGB = 2,
  PhotometricPalette = 3,
  PhotometricSeparated = 5,
};
enum : uint16_t { PlanarContig = 1, PlanarSeparate = 2 };
enum : uint16_t { PredictorNone = 1, PredictorHorizontal = 2 };
enum : uint16_t { SampleFormatUInt = 1, SampleFormatIEEEFloat = 3 };
enum : uint16_t { ResolutionUnitNone = 1, ResolutionUnitInch = 2, ResolutionUnitCentimetre = 3 };
} // namespace tiffvalue
