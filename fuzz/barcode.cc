// Fuzz target: barcode reading on a small image made of the input, with
// the pixel type, directions, symbologies and scan-line grouping it chooses
// (fuzz/barcode_input.hh).
#include "bardecode/read_barcodes.hh"
#include "fuzz/barcode_input.hh"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzz::BarcodeInput in;
  if (fuzz::barcodeInput(data, size, in))
    BarDecode::read_barcodes(in.image, in.types, in.threshold, in.concurrentLines, in.lineSkip,
                             in.directions);
  return 0;
}
