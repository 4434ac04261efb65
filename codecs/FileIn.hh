// A file opened for reading through a buffer that survives seeks. A codec
// seeks to a strip, a tag's values or the start again after probing; a seek
// that lands inside what is buffered costs nothing, and reads go on from
// the buffer instead of fetching the same block again. Blocks are read at
// their offset (pread), so nothing depends on the descriptor's position.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>

class FileInBuf : public std::streambuf {
public:
  FileInBuf() = default;
  ~FileInBuf() override;
  FileInBuf(const FileInBuf&) = delete;
  FileInBuf& operator=(const FileInBuf&) = delete;

  bool open(const std::string& path);
  bool isOpen() const { return fd >= 0; }
  // Bytes fetched from the file so far.
  uint64_t bytesRead() const { return fetched; }

  // The largest block fetched at once; reads larger than it go straight to
  // the caller's memory.
  static constexpr uint64_t kBlock = 64 * 1024;

protected:
  int_type underflow() override;
  std::streamsize xsgetn(char* s, std::streamsize n) override;
  std::streamsize showmanyc() override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode) override;

private:
  // Up to n bytes at offset into p; -1 on a read error.
  int64_t fetch(char* p, uint64_t n, uint64_t offset);
  uint64_t position() const
  {
    return away ? awayAt : blockStart + (uint64_t)(gptr() - eback());
  }
  void moveTo(uint64_t offset);

  int fd = -1;
  // A regular file; pipes and devices only read on from devicePos.
  bool seekable = false;
  uint64_t devicePos = 0;
  uint64_t size = 0; // file size at open; 0 for files that do not tell it
  // The block last fetched: blockLen bytes of the file from blockStart. The
  // get area is the block from the current position on, or empty while the
  // position is away from the block (at awayAt); the block stays for a
  // return into it (after a look at the file's end, say).
  std::unique_ptr<char[]> buf;
  uint64_t blockStart = 0, blockLen = 0;
  bool away = false;
  uint64_t awayAt = 0;
  // The next fetch starts small after a jump (a header, one IFD) and
  // doubles while reading goes on sequentially.
  uint64_t nextFetch = 0;
  uint64_t fetched = 0;
};

// An input stream owning its FileInBuf.
class FileIn : public std::istream {
public:
  explicit FileIn(const std::string& path);
  uint64_t bytesRead() const { return fileBuf.bytesRead(); }

private:
  FileInBuf fileBuf;
};
