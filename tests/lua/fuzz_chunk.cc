// Fuzz target: precompiled chunks. Inputs that do not start with the chunk
// signature get it prepended, so the fuzzer spends its time in the reader.
#include <cstring>
#include <string>

#include "fuzz_target.hh"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char kHeader[] = "\xB7QZR\x51\x00\x08\x00";
  std::string chunk;
  if (size < 1 || data[0] != 0xB7) chunk.assign(kHeader, 8);
  chunk.append(reinterpret_cast<const char*>(data), size);
  fuzztarget::loadAndRun(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size());
  return 0;
}
