// One zlib stream from a buffer, deflated on every core: the input is cut
// into blocks that are compressed independently, each ending on a full
// flush (so it starts byte-aligned and needs no earlier window), the last
// finishing the stream; the Adler-32 of the whole is combined from the
// blocks'. Any inflater reads the result; it differs from a one-thread
// stream only in that matches never reach across a block boundary.
#pragma once

#include <cstdint>
#include <ostream>

namespace paralleldeflate {

// Large enough that the lost cross-block matches cost well under 1 %, small
// enough that an A4 gray page gives every core several blocks.
const uint64_t kBlockSize = 256 * 1024;

// Threads to use: the machine's cores, capped, or the limit set below; at
// least 1.
unsigned defaultThreads();
// Caps defaultThreads() for the whole process (0: the machine decides), so
// that a run can be compared with the one-thread path.
void setThreadLimit(unsigned limit);

// Deflates n bytes at level (0..9, or -1 for zlib's default) into out as
// one zlib stream. Inputs below two blocks, or threads == 1, take the plain
// one-thread path. threads == 0 means defaultThreads(). Returns false when
// deflate or the output stream failed; an exception in a worker (e.g.
// allocation) reaches the caller after every worker has been joined.
bool deflate(std::ostream& out, const unsigned char* data, uint64_t n, int level,
             unsigned threads = 0, uint64_t blockSize = kBlockSize);

} // namespace paralleldeflate
