// Buffered file input that keeps its block across seeks.
#include "codecs/FileIn.hh"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The first fetch after a jump: enough for a header or an IFD, little
// wasted when only that is wanted (counting pages).
const uint64_t kFirstFetch = 4 * 1024;

} // namespace

FileInBuf::~FileInBuf()
{
  if (fd >= 0)
    ::close(fd);
}

bool FileInBuf::open(const std::string& path)
{
  if (fd >= 0)
    return false;
  const int f = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (f < 0)
    return false;
  struct stat st;
  if (::fstat(f, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(f);
    return false;
  }
  buf.reset(new (std::nothrow) char[kBlock]);
  if (!buf) {
    ::close(f);
    return false;
  }
  fd = f;
  seekable = S_ISREG(st.st_mode);
  size = seekable && st.st_size > 0 ? (uint64_t)st.st_size : 0;
  blockStart = blockLen = 0;
  nextFetch = kFirstFetch;
  moveTo(0);
  return true;
}

int64_t FileInBuf::fetch(char* p, uint64_t n, uint64_t offset)
{
  uint64_t got = 0;
  while (got < n) {
    ssize_t k;
    if (seekable) {
      k = ::pread(fd, p + got, (size_t)(n - got), (off_t)(offset + got));
    } else {
      // A pipe or a device: only the bytes that come next can be had.
      if (offset + got != devicePos)
        break;
      k = ::read(fd, p + got, (size_t)(n - got));
      if (k > 0)
        devicePos += (uint64_t)k;
    }
    if (k < 0 && errno == EINTR)
      continue;
    if (k < 0)
      return got ? (int64_t)got : -1;
    if (k == 0)
      break;
    got += (uint64_t)k;
    fetched += (uint64_t)k;
  }
  return (int64_t)got;
}

FileInBuf::int_type FileInBuf::underflow()
{
  if (gptr() < egptr())
    return traits_type::to_int_type(*gptr());
  if (fd < 0)
    return traits_type::eof();
  const uint64_t at = position();
  if (at < blockStart || at >= blockStart + blockLen) {
    const uint64_t n = std::min(nextFetch, kBlock);
    const int64_t got = fetch(buf.get(), n, at);
    if (got <= 0) {
      moveTo(at);
      return traits_type::eof();
    }
    blockStart = at;
    blockLen = (uint64_t)got;
    nextFetch = std::min(2 * n, kBlock);
  }
  away = false;
  setg(buf.get(), buf.get() + (at - blockStart), buf.get() + blockLen);
  return traits_type::to_int_type(*gptr());
}

std::streamsize FileInBuf::xsgetn(char* s, std::streamsize n)
{
  std::streamsize done = 0;
  while (done < n) {
    const std::streamsize inBuffer = egptr() - gptr();
    if (inBuffer > 0) {
      const std::streamsize k = std::min(inBuffer, n - done);
      memcpy(s + done, gptr(), (size_t)k);
      gbump((int)k);
      done += k;
      continue;
    }
    const uint64_t want = (uint64_t)(n - done);
    const uint64_t at = position();
    const bool buffered = at >= blockStart && at < blockStart + blockLen;
    if (want >= kBlock && !buffered && fd >= 0) {
      // A large read goes straight to the caller's memory; the block
      // stays as it was.
      const int64_t got = fetch(s + done, want, at);
      moveTo(at + (got > 0 ? (uint64_t)got : 0));
      if (got <= 0)
        break;
      done += got;
      nextFetch = kBlock;
      if ((uint64_t)got < want)
        break;
      continue;
    }
    if (traits_type::eq_int_type(underflow(), traits_type::eof()))
      break;
  }
  return done;
}

std::streamsize FileInBuf::showmanyc()
{
  const uint64_t at = position();
  return size > at ? (std::streamsize)(size - at) : 0;
}

void FileInBuf::moveTo(uint64_t offset)
{
  const uint64_t end = blockStart + blockLen;
  if (blockLen && offset >= blockStart && offset <= end) {
    away = false;
    setg(buf.get(), buf.get() + (offset - blockStart), buf.get() + blockLen);
    return;
  }
  // Away from the block: the next fetch starts there, small unless reading
  // simply goes on past the end of the block.
  if (offset != end)
    nextFetch = kFirstFetch;
  away = true;
  awayAt = offset;
  setg(buf.get(), buf.get(), buf.get());
}

FileInBuf::pos_type FileInBuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                       std::ios_base::openmode)
{
  if (fd < 0)
    return pos_type(off_type(-1));
  int64_t base;
  if (dir == std::ios_base::beg)
    base = 0;
  else if (dir == std::ios_base::cur)
    base = (int64_t)position();
  else if (seekable)
    base = (int64_t)size;
  else
    return pos_type(off_type(-1));
  if ((off > 0 && base > INT64_MAX - off) || base + off < 0)
    return pos_type(off_type(-1));
  const uint64_t target = (uint64_t)(base + off);
  // A pipe or a device goes back only into what is still buffered.
  if (!seekable && target != position() &&
      (target < blockStart || target > blockStart + blockLen))
    return pos_type(off_type(-1));
  moveTo(target);
  return pos_type(off_type(target));
}

FileInBuf::pos_type FileInBuf::seekpos(pos_type pos, std::ios_base::openmode which)
{
  return seekoff(off_type(pos), std::ios_base::beg, which);
}

FileIn::FileIn(const std::string& path) : std::istream(nullptr)
{
  if (fileBuf.open(path))
    rdbuf(&fileBuf);
  else
    setstate(std::ios::failbit);
}
