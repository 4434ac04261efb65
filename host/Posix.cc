#include "host/Posix.hh"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bind/LuaWrapper.hh"
#include "host/Modules.hh"

using namespace LuaWrapper;

namespace {

// A zero byte would silently cut a path or name short at the system call.
bool usable(const std::string& s) { return s.find('\0') == std::string::npos; }

double gettime() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return (static_cast<double>(tv.tv_sec) * 1000000.0 + static_cast<double>(tv.tv_usec)) / 1000000.0;
}

int getenv_(lua_State* L, const std::string& name) {
  if (!usable(name)) return 0;
  const char* v = std::getenv(name.c_str());
  if (v == nullptr) return 0;
  lua_pushstring(L, v);
  return 1;
}

// Kept for scripts that call it; it checks its arguments and runs nothing.
int execute(const std::string&, const std::string&, bool) { return 1; }

bool chdir_(const std::string& path) { return usable(path) && ::chdir(path.c_str()) == 0; }

bool mkdir_(const std::string& path, int mode) {
  return usable(path) && ::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

int stat_(lua_State* L, const std::string& path) {
  struct stat st {};
  if (!usable(path) || ::stat(path.c_str(), &st) != 0) return 0;
  LuaTable t = LuaTable::create(L, 0, 8);
  if (S_ISDIR(st.st_mode)) t.set("isdir", true);
  t.set("size", static_cast<double>(st.st_size));
  t.set("mtime", static_cast<double>(st.st_mtime));
  t.set("ctime", static_cast<double>(st.st_ctime));
  t.set("uid", static_cast<double>(st.st_uid));
  t.set("gid", static_cast<double>(st.st_gid));
  // The file's identity: two names with the same device and inode are one
  // file (through links too, since stat follows them).
  t.set("dev", static_cast<double>(st.st_dev));
  t.set("ino", static_cast<double>(st.st_ino));
  t.push(L);
  t.release();
  return 1;
}

void setenv_(const std::string& name, const std::string& value) {
  if (usable(name) && usable(value)) ::setenv(name.c_str(), value.c_str(), 1);
}

// ---- directory iteration ----

const char* const kDirMeta = "directory metatable2";

struct DirState {
  int closed;
  DIR* dir;
};

int dir_close(lua_State* L) {
  auto* d = static_cast<DirState*>(lua_touserdata(L, 1));
  if (d != nullptr && !d->closed && d->dir != nullptr) {
    closedir(d->dir);
    d->closed = 1;
  }
  return 0;
}

int dir_iter(lua_State* L) {
  auto* d = static_cast<DirState*>(lua_touserdata(L, lua_upvalueindex(1)));
  if (d->closed) return luaL_argerror(L, 1, "closed directory");
  errno = 0;
  dirent* entry = d->dir != nullptr ? readdir(d->dir) : nullptr;
  if (entry == nullptr) {
    if (d->dir != nullptr) closedir(d->dir);
    d->dir = nullptr;
    d->closed = 1;
    return 0;
  }
  lua_pushstring(L, entry->d_name);
  return 1;
}

int dir(lua_State* L, const std::string& path) {
  auto* d = static_cast<DirState*>(lua_newuserdata(L, sizeof(DirState)));
  d->closed = 0;
  d->dir = nullptr;
  luaL_getmetatable(L, kDirMeta);
  lua_setmetatable(L, -2);
  d->dir = usable(path) ? opendir(path.c_str()) : nullptr;
  if (d->dir == nullptr) {
    int err = usable(path) ? errno : EINVAL;
    return luaL_error(L, "cannot open %s: %s", path.c_str(), std::strerror(err));
  }
  lua_pushcclosure(L, dir_iter, 1);
  return 1;
}

int uname_(lua_State* L) {
  utsname u{};
  if (::uname(&u) != 0) return 0;
  lua_pushstring(L, u.sysname);
  lua_pushstring(L, u.release);
  return 2;
}

// ---- extended attributes ----
// Linux keeps attributes in namespaces; a name without one is a user
// attribute, listed again without the prefix, so scripts see what they set.

const char* const kNamespaces[] = {"user.", "trusted.", "security.", "system."};
const std::string kUser = "user.";

bool hasNamespace(const std::string& name) {
  for (const char* ns : kNamespaces)
    if (name.compare(0, std::strlen(ns), ns) == 0) return true;
  return false;
}

std::string systemName(const std::string& name) { return hasNamespace(name) ? name : kUser + name; }

// Reads through `get(buffer, size)` (size 0 asks for the length). The value
// may change between asking and reading; a bounded number of retries, then
// failure. Never reads past the buffer.
template <class Get>
bool readSized(Get&& get, std::string& out) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t n = get(nullptr, 0);
    if (n < 0) return false;
    if (n == 0) {
      out.clear();
      return true;
    }
    std::vector<char> buffer(static_cast<size_t>(n));
    ssize_t got = get(buffer.data(), buffer.size());
    if (got >= 0 && static_cast<size_t>(got) <= buffer.size()) {
      out.assign(buffer.data(), static_cast<size_t>(got));
      return true;
    }
    if (got < 0 && errno != ERANGE) return false;  // ERANGE: it grew, ask again
  }
  return false;
}

int getXattr(lua_State* L, const std::string& path, const std::string& name) {
  if (!usable(path) || !usable(name)) return 0;
  std::string full = systemName(name);
  std::string value;
  bool ok = readSized([&](char* b, size_t n) { return getxattr(path.c_str(), full.c_str(), b, n); }, value);
  if (!ok) return 0;
  lua_pushlstring(L, value.data(), value.size());
  return 1;
}

bool setXattr(const std::string& path, const std::string& name, const std::string& value) {
  if (!usable(path) || !usable(name)) return false;
  return setxattr(path.c_str(), systemName(name).c_str(), value.data(), value.size(), 0) == 0;
}

bool removeXattr(const std::string& path, const std::string& name) {
  if (!usable(path) || !usable(name)) return false;
  return removexattr(path.c_str(), systemName(name).c_str()) == 0;
}

int listXattr(lua_State* L, const std::string& path) {
  if (!usable(path)) return 0;
  std::string names;
  if (!readSized([&](char* b, size_t n) { return listxattr(path.c_str(), b, n); }, names)) return 0;
  LuaTable t = LuaTable::create(L);
  int index = 0;
  for (size_t start = 0; start < names.size();) {
    size_t end = names.find('\0', start);
    if (end == std::string::npos) end = names.size();
    std::string name = names.substr(start, end - start);
    if (name.compare(0, kUser.size(), kUser) == 0) name.erase(0, kUser.size());
    t.set(++index, name);
    start = end + 1;
  }
  t.push(L);
  t.release();
  return 1;
}

const luaL_Reg kFirst[] = {
    {"gettime", FunctionWrapper<&gettime>::Wrapper},
    {"getenv", FunctionWrapper<&getenv_>::Wrapper},
    {"execute", FunctionWrapper<&execute, Required, Required, Optional>::Wrapper},
    {"chdir", FunctionWrapper<&chdir_>::Wrapper},
    {"mkdir", FunctionWrapper<&mkdir_, Required, OptionalOr<0755>>::Wrapper},
    {"stat", FunctionWrapper<&stat_>::Wrapper},
    {"setenv", FunctionWrapper<&setenv_>::Wrapper},
    {nullptr, nullptr},
};

const luaL_Reg kSecond[] = {
    {"dir", FunctionWrapper<&dir>::Wrapper},
    {"uname", FunctionWrapper<&uname_>::Wrapper},
    {"getXattr", FunctionWrapper<&getXattr>::Wrapper},
    {"setXattr", FunctionWrapper<&setXattr>::Wrapper},
    {"removeXattr", FunctionWrapper<&removeXattr>::Wrapper},
    {"listXattr", FunctionWrapper<&listXattr>::Wrapper},
    {nullptr, nullptr},
};

}  // namespace

int luaopen_posix(lua_State* L) {
  luaL_register(L, "Posix", kFirst);
  luaL_newmetatable(L, kDirMeta);
  lua_pushcfunction(L, dir_close);
  lua_setfield(L, -2, "__gc");
  lua_pop(L, 1);
  luaL_register(L, "Posix", kSecond);
  lua_pop(L, 2);
  return 0;
}

static RegisterModule registerPosix("Posix", luaopen_posix);
