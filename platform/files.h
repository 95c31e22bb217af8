// File-system services. Paths are native (see platform_native.h); directory strings that are
// passed in may end with a separator unless a function says otherwise. The services that
// change or examine the file system return a FileResult (file_result.h): done, missing, or
// failed with the system's error and the path; the path of a two-path service's result is
// its source. The queries that answer with a value leave the reason in LastErrorCode().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_result.h"

namespace platform {

// True when path names an existing file or directory. Paths holding '*' or '?' never exist.
bool PathQuery(const std::wstring& path);

// Copies a file, overwriting an existing target (CopyFileW with bFailIfExists FALSE).
FileResult CopyFileOverwrite(const std::wstring& from, const std::wstring& to);
FileResult RemoveFile(const std::wstring& path);
// Creates one directory with default security; fails when it exists.
FileResult MakeDirectory(const std::wstring& path);
// Removes one empty directory (a link to a directory is removed as the link itself).
FileResult RemoveEmptyDirectory(const std::wstring& path);
// Removes a symbolic link, junction or other reparse point itself, whether it points at a
// file or a directory; what it points at stays untouched. path has no trailing separator.
FileResult RemoveLink(const std::wstring& path);

// Done when path names a directory that can be entered (links followed), as the system
// decides it; missing when it does not exist; failed for a file or a directory the process
// may not enter, with the error entering it would give. Changes nothing.
FileResult QueryDirectory(const std::wstring& path);

// What a path names, the path itself (a link is not followed).
enum class PathKind { Missing, File, Directory, Link, Other };
struct PathInfo {
  PathKind kind = PathKind::Missing;
  std::uint64_t size = 0;   // of a regular file; 0 otherwise
  std::uint32_t links = 1;  // hard links of a regular file (1 where the system cannot tell)
};
// Missing when the path does not exist or cannot be examined (LastErrorCode() tells which).
// Other: a pipe, socket, device or anything else that is not a regular file or directory.
PathInfo QueryPath(const std::wstring& path);

// True when path is a regular file (not a link) that the system would start as a program
// for this process: on POSIX one it may execute; on Windows any regular file, since there
// the file's content decides. False otherwise, missing included.
bool IsStartableProgram(const std::wstring& path);

// Renames from to to in one step, replacing an existing file to (never a directory). The
// rename reaches the disk before it returns where the system offers that per call
// (Windows); elsewhere FlushDirectory does it. False on failure; a rename across volumes
// fails with an error for which IsCrossVolumeError is true.
FileResult MovePath(const std::wstring& from, const std::wstring& to);
bool IsCrossVolumeError(std::uint32_t code);

// Copies the regular file from into to, contents, mode and write time, and flushes the data
// to disk before it returns. to is made new: a file or link standing there is removed first,
// never written through. False on failure; to may then be partly written.
FileResult CopyFileFlushed(const std::wstring& from, const std::wstring& to);

// Flushes the data of an existing regular file written by whoever to disk. False on failure.
FileResult FlushFile(const std::wstring& path);

// Makes the entries of directory (created, renamed, removed) durable. True where the system
// has nothing to do for it (Windows).
FileResult FlushDirectory(const std::wstring& directory);

// Writes bytes as the whole content of a file made new at path (a file or link standing there
// is removed first, never written through), flushed to disk; with append, adds them at the
// end of the existing file instead (on POSIX a link there is refused). False on failure.
FileResult WriteFileFlushed(const std::wstring& path, const std::string& bytes, bool append);

// The scratch name a file of path is written under before it is renamed over path: path +
// ".new". Every writer that replaces a file so uses it, and the installation's rule of reserved
// names reserves these names with it.
std::wstring ScratchPathOf(std::wstring_view path);

// Replaces path with bytes so that a kill leaves the old file or the new one: written beside
// it as ScratchPathOf(path) (a link left there is removed, never written through), flushed, renamed
// over it and the rename made durable. An empty directory in path's place is removed first,
// as a file of its name would be replaced. False on failure (a directory with something in
// it, say); path is then as it was.
bool ReplaceFileDurably(const std::wstring& path, const std::string& bytes);

// A regular file read from start to end in pieces. Closes itself.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // False when path is missing, not a regular file or cannot be opened.
  bool Open(const std::wstring& path);
  // Reads up to size bytes; got is 0 at the end. False on a read error.
  bool Read(char* data, std::size_t size, std::size_t& got);
  // Reads up to size bytes from offset on (the position Read continues from may move); got
  // is less than size only at the end. False on a read error.
  bool ReadAt(std::uint64_t offset, char* data, std::size_t size, std::size_t& got);
  // The file's size in bytes; false when it cannot be told.
  bool Size(std::uint64_t& size);

 private:
  std::intptr_t handle_ = -1;
};

// Lets the file at path be started as a program by whoever may read it (mode 0755 on POSIX);
// nothing to do on Windows, where the content decides.
FileResult MarkExecutable(const std::wstring& path);

// The form of an absolute path that the system takes beyond its classic length limit of 260
// characters ("\\?\" before a drive path, "\\?\UNC\" for a network path, on Windows);
// the path itself elsewhere and for paths short enough.
std::wstring LongPathForm(const std::wstring& absolutePath);

// Reads the whole regular file at path into bytes when it holds at most limitBytes, and never
// reads more than that, so a huge file in a small file's place costs no memory. False when
// it is missing, is not a regular file, cannot be read or is larger than limitBytes
// (LastErrorCode() tells which); bytes is then not to be used.
bool ReadWholeFile(const std::wstring& path, std::size_t limitBytes, std::string& bytes);

// True when the existing file path can be opened for writing with no sharing, which a
// running program's file or a file another process holds without sharing refuses. Nothing
// is written. False when it is missing too.
bool CanOpenForWriting(const std::wstring& path);

// The process's current directory without a trailing separator (except at the root); ""
// on failure.
std::wstring CurrentDirectory();
FileResult ChangeDirectory(const std::wstring& path);

struct DirectoryEntry {
  std::wstring name;
  bool isDirectory = false;  // a real directory, never a link or reparse point
  bool isLink = false;       // symbolic link, junction or other reparse point
};

// A search of one directory's entries ("." and ".." included where the system reports
// them), in the order the system returns them. Closes itself.
class DirectorySearch {
 public:
  // dir ends with a separator.
  explicit DirectorySearch(const std::wstring& dir);
  ~DirectorySearch();
  DirectorySearch(const DirectorySearch&) = delete;
  DirectorySearch& operator=(const DirectorySearch&) = delete;

  // False when the search could not start; Status() then tells why.
  bool IsOpen() const;
  // How the start of the search ended; its path is the directory.
  const FileResult& Status() const;
  // Fills entry with the next entry; false at the end.
  bool Next(DirectoryEntry& entry);

 private:
  struct State;
  State* state_;
};

// The system temporary directory, ending with a separator; "" on failure.
std::wstring TempDirectory();

// Creates a new empty file named prefix + unique hex + ".tmp" in dir (which ends with a
// separator) and returns its path; "" on failure. As with GetTempFileNameW, only the first
// three characters of prefix are used, and a name already taken is never reused.
std::wstring CreateTempFileName(const std::wstring& dir, const std::wstring& prefix);

// Creates a new directory below dir (which ends with a separator) that only the calling user
// may write, named prefix followed by characters chosen so that the name cannot be guessed
// or is skipped when taken; returns its path ending with a separator, "" on failure. On
// POSIX its mode is 0700; on Windows it takes the folder's own protection (the user's
// temporary folder is the user's alone).
std::wstring MakePrivateDirectory(const std::wstring& dir, const std::wstring& prefix);

}  // namespace platform
