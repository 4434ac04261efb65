// Driver for the fuzz targets in builds without libFuzzer: runs every file
// named on the command line (folders: every file in them, in name order).
// The ordinary test run replays the seed corpus and the regression inputs
// this way in every tree.
#include "fuzz/FuzzTarget.hh"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

static void collect(const std::string& path, std::vector<std::string>& out)
{
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return;
  if (!S_ISDIR(st.st_mode)) {
    out.push_back(path);
    return;
  }
  DIR* d = opendir(path.c_str());
  if (!d)
    return;
  std::vector<std::string> names;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.')
      names.push_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names)
    collect(path + "/" + n, out);
}

extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv)
{
  if (LLVMFuzzerInitialize)
    LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i)
    collect(argv[i], files);
  for (const std::string& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  }
  std::printf("%zu inputs replayed\n", files.size());
  return 0;
}
