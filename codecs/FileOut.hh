// A file written beside the one it replaces. The bytes go to a new file
// under a temporary name in the same folder, and commit() renames it over
// the final name once everything is written: a write that fails part-way
// (a full disk, an image the codec refuses) leaves the old file as it was
// and no temporary file behind. A name that stands for no regular file
// (a device such as /dev/null, a pipe) is written directly: there is no
// file to keep. A symbolic link is followed, so that the file it names is
// replaced and the link keeps pointing at it.
#pragma once

#include <fstream>
#include <string>

class FileOut : public std::fstream {
public:
  // mode as for std::fstream (trunc or app); keepBytes: the temporary file
  // starts as a copy of the existing one (an update appended to it).
  FileOut(const std::string& path, std::ios::openmode mode, bool keepBytes = false);
  // Gives the file up unless it was committed.
  ~FileOut() override;
  FileOut(const FileOut&) = delete;
  FileOut& operator=(const FileOut&) = delete;

  bool isOpen() const { return is_open(); }
  // Flushes and closes the file and puts it under its final name. False,
  // with the temporary file removed, when a write, the close or the rename
  // failed; also once the file was settled already.
  bool commit();
  // Closes the file and removes the temporary one; the old file stays.
  void discard();

private:
  std::string target; // the file replaced, links followed
  std::string temp;   // empty when written directly
  bool settled = false;
};
