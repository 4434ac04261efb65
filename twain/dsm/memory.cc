// The manager's memory functions. Blocks have the common form (a header
// with the data pointer and size, then the bytes) and are remembered while
// they live, so that a handle the manager did not give out is refused
// before its header is read: an application's own allocation may be
// shorter than the header.
#include "twain/dsm/Source.hh"

#include <mutex>
#include <unordered_set>

using namespace twain;

namespace twaindsm {

namespace {

struct Blocks {
  std::mutex mutex;
  std::unordered_set<TW_HANDLE> live;
};

Blocks& blocks()
{
  static Blocks b;
  return b;
}

} // namespace

TW_HANDLE dsmAllocate(TW_UINT32 size)
{
  TW_HANDLE h = blockAllocate(size);
  if (!h)
    return nullptr;
  Blocks& b = blocks();
  std::lock_guard<std::mutex> lock(b.mutex);
  try {
    b.live.insert(h);
  } catch (const std::bad_alloc&) {
    blockFree(h);
    return nullptr;
  }
  return h;
}

void dsmFree(TW_HANDLE h)
{
  if (!h)
    return;
  Blocks& b = blocks();
  std::lock_guard<std::mutex> lock(b.mutex);
  if (b.live.erase(h))
    blockFree(h);
}

bool dsmOwns(TW_HANDLE h)
{
  if (!h)
    return false;
  Blocks& b = blocks();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.live.count(h) != 0;
}

TW_MEMREF dsmLock(TW_HANDLE h) { return dsmOwns(h) ? blockLock(h) : nullptr; }

void dsmUnlock(TW_HANDLE) {}

uint64_t dsmSize(TW_HANDLE h) { return dsmOwns(h) ? blockSize(h) : 0; }

} // namespace twaindsm
