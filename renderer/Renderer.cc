#include "renderer/Renderer.hh"

#include <sys/time.h>

#include <cstdio>
#include <cstdlib>

#include "platform/Timers.hh"
#include "utility/Saturate.hh"

namespace {

uint64_t microsSince1970()
{
  timeval tv;
  gettimeofday(&tv, nullptr);
  return (uint64_t)tv.tv_sec * 1000000u + (uint64_t)tv.tv_usec;
}

} // namespace

Renderer::Renderer() : startTime(microsSince1970()) {}

Renderer::~Renderer()
{
  std::free(buffer);
  buffer = nullptr;
  timers.clear();
  callbacks.clear();
  pendingDeletes.clear();
}

void Renderer::runLoop(double) {}
void Renderer::move(int, int) {}
void Renderer::resizeMinMax(unsigned, unsigned, unsigned, unsigned) {}
void Renderer::setInputPos(unsigned, unsigned, unsigned, unsigned) {}
void Renderer::setTitle(const char*) {}
bool Renderer::writeClip(const std::string&) { return false; }
std::string Renderer::readClip() { return std::string(); }
void Renderer::syncImpl() {}

void Renderer::eventCallback(bool (*)(void*))
{
  std::fputs("eventCallback unsupported on this platform!\n", stderr);
}

bool Renderer::resize(unsigned w, unsigned h)
{
  // Truncation as in single precision, saturated: a huge or non-finite
  // product must not wrap into a small buffer.
  const uint32_t nw = saturate_cast<uint32_t>((float)w * scale);
  const uint32_t nh = saturate_cast<uint32_t>((float)h * scale);
  if (nw == width && nh == height && buffer)
    return false;
  // No window system shows a side beyond 32767 pixels; the limit also keeps
  // every product of sides and offsets far inside int and size_t.
  const uint32_t limit = 32767;
  if (nw > limit || nh > limit) {
    std::fprintf(stderr, "Renderer: buffer of %ux%u refused\n", nw, nh);
    return false;
  }
  const uint64_t bytes = (uint64_t)nw * nh * 4;
  // An empty buffer still exists, so resizing to 0 x 0 twice reports no change.
  void* grown = std::realloc(buffer, bytes ? (size_t)bytes : 4);
  if (!grown) {
    std::fprintf(stderr, "Renderer: cannot allocate a buffer of %llu bytes\n",
                 (unsigned long long)bytes);
    return false;
  }
  buffer = (uint8_t*)grown;
  width = nw;
  height = nh;
  bufferSize = bytes;
  return true;
}

void Renderer::update(int x, int y, int w, int h)
{
  // 64-bit so that w + x and width - x cannot overflow.
  int64_t X = x, Y = y, W = w, H = h;
  if (X < 0) {
    W += X;
    X = 0;
  }
  if (Y < 0) {
    H += Y;
    Y = 0;
  }
  if (W > (int64_t)width - X)
    W = (int64_t)width - X;
  if (H > (int64_t)height - Y)
    H = (int64_t)height - Y;
  if (W >= 1 && H >= 1)
    updateImpl((int)X, (int)Y, (int)W, (int)H);
}

void Renderer::addTimer(bool (*callback)(void*), double seconds, void* user)
{
  const double interval = platform::clampInterval(seconds);
  const uint64_t due = microsSince1970() + saturate_cast<uint64_t>(interval * 1000000.0);
  timers.insert(timer{callback, user, interval, due, 1});
}

void Renderer::addCallback(int key, void (*fn)(int, void*), void* user)
{
  if (callbacks.count(key)) {
    std::fprintf(stderr, "callback already present for: %d\n", key);
    return;
  }
  callbacks[key] = callback{fn, user};
}

void* Renderer::removeCallback(int key)
{
  auto it = callbacks.find(key);
  if (it == callbacks.end())
    return nullptr;
  void* user = it->second.user;
  callbacks.erase(it);
  return user;
}

bool Renderer::postTask(std::function<void()>) { return false; }
void Renderer::addEventSource() {}
void Renderer::removeEventSource() {}
bool Renderer::injectEvent(const Event&) { return false; }
bool Renderer::injectClose() { return false; }
