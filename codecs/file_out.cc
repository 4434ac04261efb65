// Files written under a temporary name beside the final one and renamed
// over it once complete.
#include "codecs/FileOut.hh"

#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <cstdio>
#include <cstdlib>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The temporary files alive in the process. Making, renaming and removing
// one happen under the lock, so that removeTemporaries() sees each file
// either under its temporary name or already in place.
struct Registry {
  std::mutex lock;
  std::set<std::string> temps;
  std::vector<std::string> committed;
  bool recording = false;
  bool closed = false; // the process is ending: no new file, no rename
};

Registry& registry()
{
  static Registry* r = new Registry; // never destroyed: a thread may still use it at exit
  return *r;
}

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
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (r.closed) {
      errno = EINTR;
      break;
    }
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) {
      r.temps.insert(temp);
      return fd;
    }
    if (errno == ENAMETOOLONG && !shortName)
      shortName = true;
    else if (errno != EEXIST)
      break;
  }
  temp.clear();
  return -1;
}

// Removes a temporary file and forgets it.
void removeTemp(const std::string& temp)
{
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  if (r.temps.erase(temp) != 0)
    std::remove(temp.c_str());
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

FileOut::FileOut(const std::string& path, std::ios::openmode mode, bool keepBytes)
  : path(path), target(path)
{
  struct stat st;
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (!exists) {
    // A link to nothing (or a loop of links) is not written through, nor
    // replaced by a file of ours: the user made it point somewhere.
    const int why = errno;
    struct stat link;
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      error = why;
      return;
    }
  }
  if (exists && !S_ISREG(st.st_mode)) {
    if (S_ISDIR(st.st_mode)) {
      error = EISDIR;
      return;
    }
    // Written only: a pipe opened for reading too would never block a
    // writer whose reader is gone, nor wait for one to come.
    errno = 0;
    open(path, (mode & ~std::ios::in) | std::ios::out);
    if (!is_open())
      error = errno != 0 ? errno : EIO;
    return;
  }
  if (exists) {
    struct stat link;
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      char* real = ::realpath(path.c_str(), nullptr);
      if (!real) {
        error = errno;
        return;
      }
      target = real;
      std::free(real);
    }
  }
  const int fd = createBeside(target, exists ? (st.st_mode & 07777) : 0666, temp);
  if (fd < 0) {
    error = errno != 0 ? errno : EIO;
    return;
  }
  bool ok = true;
  if (exists) {
    // The replacement keeps the old file's owner, group and permissions,
    // as far as we may give them (the umask narrowed what open made).
    (void)!::fchown(fd, st.st_uid, st.st_gid);
    (void)!::fchmod(fd, st.st_mode & 07777);
    if (keepBytes)
      ok = copyInto(fd, target);
  }
  if (!ok)
    error = errno != 0 ? errno : EIO;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok) {
    errno = 0;
    open(temp, keepBytes ? (mode & ~std::ios::trunc) : mode);
    if (!is_open())
      error = errno != 0 ? errno : EIO;
  }
  if (!is_open()) {
    removeTemp(temp);
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
  if (ok) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (!r.closed && std::rename(temp.c_str(), target.c_str()) == 0) {
      r.temps.erase(temp);
      if (r.recording)
        r.committed.push_back(path);
      return true;
    }
  }
  removeTemp(temp);
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
    removeTemp(temp);
}

std::vector<std::string> FileOut::removeTemporaries()
{
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.closed = true;
  for (const std::string& t : r.temps)
    std::remove(t.c_str());
  r.temps.clear();
  return r.committed;
}

void FileOut::recordCommitted(bool on)
{
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.recording = on;
  r.committed.clear();
}
