// A file written beside the one it replaces. The bytes go to a new file
// under a temporary name in the same folder, and commit() renames it over
// the final name once everything is written: a write that fails part-way
// (a full disk, an image the codec refuses) leaves the old file as it was
// and no temporary file behind. A name that stands for no regular file
// (a device such as /dev/null, a pipe) is written directly: there is no
// file to keep. A symbolic link is followed, so that the file it names is
// replaced and the link keeps pointing at it; a link whose file is missing
// is not written through (the file would appear wherever the link points,
// a folder not mounted, say) and the open fails.
//
// Every temporary name alive in the process stands in one registry, so
// that a process ending in a hurry (a stop request that native work does
// not notice) can remove them all: removeTemporaries().
#pragma once

#include <fstream>
#include <string>
#include <vector>

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
  // Why the file could not be opened (errno), 0 when it is open.
  int openError() const { return error; }
  // Flushes and closes the file and puts it under its final name. False,
  // with the temporary file removed, when a write, the close or the rename
  // failed; also once the file was settled already.
  bool commit();
  // Closes the file and removes the temporary one; the old file stays.
  void discard();

  // Removes every temporary file of the process and keeps any from being
  // made or renamed afterwards (the process is about to end). Returns the
  // names, as given to the constructor, of the files committed since
  // recordCommitted(true). Safe on any thread.
  static std::vector<std::string> removeTemporaries();
  // Starts (clearing the list) or stops recording the names committed.
  static void recordCommitted(bool on);

private:
  std::string path;   // the name as given
  std::string target; // the file replaced, links followed
  std::string temp;   // empty when written directly
  bool settled = false;
  int error = 0;
};
