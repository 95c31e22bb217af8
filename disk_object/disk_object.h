// Not part of the product: no program links this library (disk_object/CMakeLists.txt).
// CDiskObject: copies and deletes directory trees, deletes files and creates directory paths.
//
// Every operation returns nonzero on success and 0 on failure, and leaves the text of the
// failure that stopped it in GetErrorText() (empty after a success). Paths are taken by value;
// directory arguments may end with a separator or not, and the other platform's separator is
// taken as the native one. An empty directory argument stands for the current directory
// where an operation accepts it, and is a parameter error where it does not.
//
// Symbolic links, junctions and other reparse points inside a tree are never followed: the
// copies skip them, and the deletions remove the link itself and leave what it points at.
//
// Each operation normalizes its paths once and works on them; none changes the process's
// current directory. Not thread-safe: the error text is the object's one state, and relative
// paths depend on the process's current directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

class CDiskObject {
 public:
  using StringList = std::vector<std::wstring>;

  // Copies the files of source and of every directory below it to the same places under
  // target, creating directories (empty ones too). With stopOnError the copy stops at the
  // first file that cannot be copied; without it such files are passed over. The result is
  // that of the last directory copied. Nothing is rolled back.
  int CopyFolderTree(std::wstring source, std::wstring target, bool stopOnError);
  // Deletes every file and directory below directory, deepest first, then directory itself;
  // stops at the first failure.
  int DeleteFolderTree(std::wstring directory);
  int DeleteSingleFile(std::wstring path);

  // Creates target's directory path, then copies the files (not the subdirectories) of
  // source into it, overwriting. A missing source counts as an empty one.
  int CopyFolderFiles(std::wstring source, std::wstring target, bool stopOnError);
  // Deletes the files of directory, then directory itself (fails while it holds a directory).
  int DeleteFolder(std::wstring directory);
  // Deletes the files (and links) of directory, not its subdirectories.
  int DeleteFolderFiles(std::wstring directory);
  // Creates directory and every missing directory above it; fails when it cannot be entered.
  int MakeFolderPath(std::wstring directory);
  // Whether directory can be entered; a missing one sets no error text.
  int FolderExists(std::wstring directory);
  // Inserts the names of directory's files (links left out) into list, keeping it in
  // ascending order of UTF-16 code units (upper case before lower case); list is expected
  // to be sorted already, as an empty one is. A missing directory leaves list unchanged and
  // succeeds.
  int ListFolderFiles(std::wstring directory, StringList& list);
  // Appends the full path of every directory below directory (links not entered), each
  // ending with a separator, each before the directories inside it; not sorted.
  int ListSubfolderTree(std::wstring directory, StringList& list);

  const std::wstring& GetErrorText() const { return errorText_; }

  // The path steps, public so that their rules can be tested directly. Both change path in
  // place; a path part holding a reserved character is a parameter error.
  // Appends a separator and makes the path absolute; a network path (Windows) stays as it is.
  int NormalizeFolderPath(std::wstring& path);
  int NormalizeFilePath(std::wstring& path);

 private:
  struct Entry {
    std::wstring name;
    bool isLink = false;
  };

  void ResetErrorText();
  // The system's text for failure, then a blank and detail unless detail is empty.
  void SetSystemErrorText(const platform::FileResult& failure, const std::wstring& detail);
  void SetParameterErrorText();
  // Begins an operation that needs a path: resets the error text; an empty path sets the
  // parameter error text and gives false.
  bool StartWithPath(const std::wstring& path);
  // Whether a search of directory started; if not, the error text tells why.
  bool SearchStarted(const platform::DirectorySearch& search, const std::wstring& directory);
  static bool HasNoReservedChars(const std::wstring& part);
  std::wstring AbsoluteFromCurrent(std::wstring path);
  std::wstring ClimbParentGroups(std::wstring path);

  // The steps of the operations, on directories normalized already; false on failure.
  bool IsEnterable(const std::wstring& directory);
  bool ListEntries(const std::wstring& directory, bool withLinks, std::vector<Entry>& entries);
  bool ListFiles(const std::wstring& directory, StringList& list);
  int CollectSubfolders(const std::wstring& directory, StringList& list);
  bool CreatePath(const std::wstring& directory);
  bool CopyFiles(const std::wstring& source, const std::wstring& target, bool stopOnError);
  bool RemoveFolder(const std::wstring& directory);
  bool RemoveFiles(const std::wstring& directory);

  std::wstring errorText_;
};
