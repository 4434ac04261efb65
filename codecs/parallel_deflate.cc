#include "codecs/parallel_deflate.hh"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

#include "codecs/ZlibEncoder.hh"

namespace paralleldeflate {

namespace {

const unsigned kMaxThreads = 32;
std::atomic<unsigned> threadLimit{0};

struct Block {
  // Room for the bound, of which size bytes hold the output (not cleared
  // first: deflate writes what is kept).
  std::unique_ptr<unsigned char[]> bytes;
  uint64_t size = 0;
  uLong adler = 1;
  bool ok = false;
};

// Raw deflate of one block; ends on a full flush, or finishes the stream
// when it is the last.
void compressBlock(const unsigned char* data, uint64_t n, int level, bool last, Block& block)
{
  z_stream strm;
  memset(&strm, 0, sizeof strm);
  if (deflateInit2(&strm, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return;
  // Bound plus room for the flush marker and the final empty block.
  const uint64_t room = deflateBound(&strm, (uLong)n) + 16;
  try {
    block.bytes.reset(new unsigned char[room]);
  } catch (...) {
    deflateEnd(&strm);
    throw;
  }
  strm.next_in = (Bytef*)data;
  strm.avail_in = (uInt)n;
  strm.next_out = block.bytes.get();
  strm.avail_out = (uInt)room;
  const int ret = deflate(&strm, last ? Z_FINISH : Z_FULL_FLUSH);
  block.ok = (last ? ret == Z_STREAM_END : ret == Z_OK) && strm.avail_in == 0;
  block.size = room - strm.avail_out;
  deflateEnd(&strm);
  block.adler = adler32(1, data, (uInt)n);
}

// The two-byte zlib header zlib itself writes for this level.
void writeHeader(std::ostream& out, int level)
{
  if (level < 0)
    level = 6;
  const unsigned flevel = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  unsigned header = (0x78u << 8) | (flevel << 6);
  header += 31 - header % 31;
  out.put((char)(header >> 8));
  out.put((char)(header & 0xff));
}

bool deflateSerial(std::ostream& out, const unsigned char* data, uint64_t n, int level)
{
  ZlibEncoder encoder(&out, level);
  if (!encoder.good())
    return false;
  const bool ok = encoder.write((const char*)data, n);
  return encoder.finish() && ok;
}

} // namespace

unsigned defaultThreads()
{
  unsigned cores = std::min(std::thread::hardware_concurrency(), kMaxThreads);
  if (const unsigned limit = threadLimit.load())
    cores = std::min(cores ? cores : limit, limit);
  return std::max(1u, cores);
}

void setThreadLimit(unsigned limit)
{
  threadLimit = limit;
}

bool deflate(std::ostream& out, const unsigned char* data, uint64_t n, int level,
             unsigned threads, uint64_t blockSize)
{
  if (level < -1 || level > 9)
    return false;
  if (threads == 0)
    threads = defaultThreads();
  // Blocks stay below 2^30 so that one deflate call takes each whole.
  blockSize = std::max<uint64_t>(1, std::min<uint64_t>(blockSize, (uint64_t)1 << 30));
  if (threads <= 1 || n < 2 * blockSize)
    return deflateSerial(out, data, n, level);

  const uint64_t count = (n + blockSize - 1) / blockSize;
  std::vector<Block> blocks(count);
  threads = (unsigned)std::min<uint64_t>(threads, count);
  std::atomic<uint64_t> next{0};
  std::vector<std::exception_ptr> errors(threads);
  auto work = [&](unsigned t) {
    try {
      for (uint64_t i; (i = next.fetch_add(1)) < count;) {
        const uint64_t start = i * blockSize;
        compressBlock(data + start, std::min(blockSize, n - start), level, i + 1 == count,
                      blocks[i]);
      }
    } catch (...) {
      errors[t] = std::current_exception();
      next = count; // the others stop at their next block
    }
  };
  std::vector<std::thread> pool;
  try {
    for (unsigned t = 1; t < threads; ++t)
      pool.emplace_back(work, t);
  } catch (...) {
    // Fewer threads than asked: the ones started and this one do the work.
  }
  work(0);
  for (std::thread& thread : pool)
    thread.join();
  for (const std::exception_ptr& e : errors)
    if (e)
      std::rethrow_exception(e);

  writeHeader(out, level);
  uLong adler = 1;
  for (uint64_t i = 0; i < count; ++i) {
    if (!blocks[i].ok)
      return false;
    out.write((const char*)blocks[i].bytes.get(), (std::streamsize)blocks[i].size);
    const uint64_t len = std::min(blockSize, n - i * blockSize);
    adler = adler32_combine(adler, blocks[i].adler, (z_off_t)len);
    blocks[i].bytes.reset();
  }
  const unsigned char trailer[4] = {(unsigned char)(adler >> 24), (unsigned char)(adler >> 16),
                                    (unsigned char)(adler >> 8), (unsigned char)adler};
  out.write((const char*)trailer, 4);
  return out.good();
}

} // namespace paralleldeflate
