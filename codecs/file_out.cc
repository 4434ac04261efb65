// Files written under a temporary name beside the final one and renamed
// over it once complete.
#include "codecs/FileOut.hh"

#include <cerrno>
#include <chrono>
#include <memory>
#include <new>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The folder part of a path with its separator ("" for a bare name).
std::string folderOf(const std::string& path)
{
  const std::string::size_type i = path.rfind('/');
  return i == std::string::npos ? std::string() : path.substr(0, i + 1);
}

// Makes a new file beside `target` and gives its name in `temp`; -1 when
// none could be made. A name too long for the folder with the suffix gets
// a short one there.
int createBeside(const std::string& target, mode_t mode, std::string& temp)
{
  static unsigned long counter = 0;
  const unsigned long seed =
    (unsigned long)std::chrono::steady_clock::now().time_since_epoch().count() +
    (unsigned long)getpid() * 104729ul;
  bool shortName = false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const unsigned long n = (seed + ++counter * 7919ul) % 100000000ul;
    temp = (shortName ? folderOf(target) + ".tolm" : target) + ".part-" + std::to_string(n);
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0)
      return fd;
    if (errno == ENAMETOOLONG && !shortName)
      shortName = true;
    else if (errno != EEXIST)
      break;
  }
  temp.clear();
  return -1;
}

bool copyInto(int to, const std::string& from)
{
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0)
    return false;
  static const size_t kChunk = 64 * 1024;
  std::unique_ptr<char[]> buf(new (std::nothrow) char[kChunk]);
  bool ok = buf != nullptr;
  while (ok) {
    const ssize_t n = ::read(in, buf.get(), kChunk);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < n;) {
      const ssize_t w = ::write(to, buf.get() + done, (size_t)(n - done));
      if (w < 0 && errno == EINTR)
        continue;
      ok = w > 0;
      done += w;
    }
  }
  ::close(in);
  return ok;
}

} // namespace

FileOut::FileOut(const std::string& path, std::ios::openmode mode, bool keepBytes) : target(path)
{
  struct stat st;
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    if (!S_ISDIR(st.st_mode))
      open(path, mode);
    return;
  }
  if (exists) {
    struct stat link;
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      char* real = ::realpath(path.c_str(), nullptr);
      if (!real)
        return;
      target = real;
      std::free(real);
    }
  }
  const int fd = createBeside(target, exists ? (st.st_mode & 07777) : 0666, temp);
  if (fd < 0)
    return;
  bool ok = true;
  if (exists) {
    // The replacement keeps the old file's owner and permissions, as far
    // as we may give them (the umask narrowed what open made).
    (void)!::fchown(fd, st.st_uid, st.st_gid);
    (void)!::fchmod(fd, st.st_mode & 07777);
    if (keepBytes)
      ok = copyInto(fd, target);
  }
  if (::close(fd) != 0)
    ok = false;
  if (ok)
    open(temp, keepBytes ? (mode & ~std::ios::trunc) : mode);
  if (!is_open()) {
    std::remove(temp.c_str());
    temp.clear();
    settled = true;
  }
}

FileOut::~FileOut() { discard(); }

bool FileOut::commit()
{
  if (settled)
    return false;
  settled = true;
  bool ok = is_open();
  if (ok) {
    flush();
    ok = !fail();
    close();
    ok = ok && !fail();
  }
  if (temp.empty())
    return ok;
  if (ok && std::rename(temp.c_str(), target.c_str()) == 0)
    return true;
  std::remove(temp.c_str());
  return false;
}

void FileOut::discard()
{
  if (settled)
    return;
  settled = true;
  if (is_open())
    close();
  if (!temp.empty())
    std::remove(temp.c_str());
}
