// File-system services on POSIX, reproducing what the Windows calls do that we rely on.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "new_file_place.h"
#include "platform/files.h"
#include "platform/text.h"
#include "unique_fd.h"

namespace platform {
namespace {

std::string Narrow(const std::wstring& path) { return ToUtf8(path); }

bool CopyByReading(int from, int to) {
  std::vector<char> buffer(1 << 17);
  for (;;) {
    const ssize_t n = read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAllBytes(to, {buffer.data(), static_cast<std::size_t>(n)})) return false;
  }
}

// The kernel copies without passing the data through us where it can; otherwise we read.
bool CopyContents(int from, int to, off_t size) {
  off_t done = 0;
  while (done < size) {
    const ssize_t n = copy_file_range(from, nullptr, to, nullptr, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && done == 0 &&
        (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
      return CopyByReading(from, to);
    }
    if (n < 0) return false;
    if (n == 0) break;  // the source shrank while we copied
    done += n;
  }
  return CopyByReading(from, to);  // whatever grew after fstat, usually nothing
}

// Only regular files are copied: a fifo or device would block or never end.
bool OpenCopySource(const std::wstring& path, int& fd, struct stat& info) {
  fd = open(Narrow(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  if (fstat(fd, &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  return fcntl(fd, F_SETFL, 0) == 0;
}

// Copies from into to; overwrite as CopyFileOverwrite does, otherwise as CopyFileFlushed does.
bool CopyInto(const std::wstring& from, const std::wstring& to, bool overwrite) {
  int sourceFd = -1;
  struct stat info;
  const bool opened = OpenCopySource(from, sourceFd, info);
  UniqueFd source(sourceFd);
  if (!opened) return false;
  // Overwriting: truncated in place, as CopyFileW does (a target that is running or locked
  // refuses). Otherwise made new, so that a link standing there is replaced, never followed.
  const std::string targetName = Narrow(to);
  if (!overwrite && !ClearForNewFile(targetName.c_str())) return false;
  UniqueFd target(open(targetName.c_str(),
                       O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL | O_NOFOLLOW),
                       0600));
  if (target.get() < 0) return false;
  if (!CopyContents(source.get(), target.get(), info.st_size)) return false;
  // CopyFileW keeps the attributes and the last write time; here that means mode and mtime.
  const struct timespec times[2] = {info.st_atim, info.st_mtim};
  if (fchmod(target.get(), info.st_mode & 07777) != 0) return false;
  if (futimens(target.get(), times) != 0) return false;
  if (!overwrite && fsync(target.get()) != 0) return false;
  return target.Close();
}

}  // namespace

FileResult FileResult::FromSystemError(std::uint32_t code, const std::wstring& path) {
  const bool missing = code == ENOENT || code == ENOTDIR;
  return FileResult(missing ? FileOutcome::Missing : FileOutcome::Failed, code, path);
}

bool PathQuery(const std::wstring& path) {
  if (path.empty() || path.find_first_of(L"*?") != std::wstring::npos) {
    errno = ENOENT;
    return false;
  }
  struct stat info;
  return lstat(Narrow(path).c_str(), &info) == 0;
}

FileResult CopyFileOverwrite(const std::wstring& from, const std::wstring& to) {
  return FileResult::Of(CopyInto(from, to, true), from);
}

FileResult CopyFileFlushed(const std::wstring& from, const std::wstring& to) {
  return FileResult::Of(CopyInto(from, to, false), from);
}

FileResult RemoveFile(const std::wstring& path) {
  return FileResult::Of(unlink(Narrow(path).c_str()) == 0, path);
}

FileResult MakeDirectory(const std::wstring& path) {
  return FileResult::Of(mkdir(Narrow(path).c_str(), 0777) == 0, path);
}

FileResult RemoveEmptyDirectory(const std::wstring& path) {
  std::string narrow = Narrow(path);
  while (narrow.size() > 1 && narrow.back() == '/') narrow.pop_back();
  struct stat info;
  const bool isLink = lstat(narrow.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
  return FileResult::Of((isLink ? unlink(narrow.c_str()) : rmdir(narrow.c_str())) == 0, path);
}

FileResult RemoveLink(const std::wstring& path) {
  const std::string narrow = Narrow(path);
  struct stat info;
  if (lstat(narrow.c_str(), &info) != 0) return FileResult::Of(false, path);
  if (!S_ISLNK(info.st_mode)) return FileResult::Failure(EINVAL, path);
  return FileResult::Of(unlink(narrow.c_str()) == 0, path);
}

// What chdir would answer, without changing the current directory: a directory, and one the
// process may search.
FileResult QueryDirectory(const std::wstring& path) {
  const std::string narrow = Narrow(path);
  struct stat info;
  if (narrow.empty() || stat(narrow.c_str(), &info) != 0) {
    return narrow.empty() ? FileResult::FromSystemError(ENOENT, path) : FileResult::Of(false, path);
  }
  if (!S_ISDIR(info.st_mode)) return FileResult::Failure(ENOTDIR, path);
  return FileResult::Of(access(narrow.c_str(), X_OK) == 0, path);
}

std::wstring CurrentDirectory() {
  std::vector<char> buffer(256);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return L"";
    buffer.resize(buffer.size() * 2);
  }
  return FromUtf8(buffer.data());
}

FileResult ChangeDirectory(const std::wstring& path) {
  return FileResult::Of(chdir(Narrow(path).c_str()) == 0, path);
}

struct DirectorySearch::State {
  std::string dir;
  DIR* handle = nullptr;
  FileResult status;
};

DirectorySearch::DirectorySearch(const std::wstring& dir) : state_(new State) {
  state_->dir = Narrow(dir);
  state_->handle = opendir(state_->dir.c_str());
  state_->status = FileResult::Of(state_->handle != nullptr, dir);
}

DirectorySearch::~DirectorySearch() {
  if (state_->handle != nullptr) closedir(state_->handle);
  delete state_;
}

bool DirectorySearch::IsOpen() const { return state_->handle != nullptr; }

const FileResult& DirectorySearch::Status() const { return state_->status; }

bool DirectorySearch::Next(DirectoryEntry& entry) {
  if (state_->handle == nullptr) return false;
  const int savedErrno = errno;
  const dirent* found = readdir(state_->handle);
  if (found == nullptr) return false;
  errno = savedErrno;
  unsigned char type = found->d_type;
  if (type == DT_UNKNOWN) {
    struct stat info;
    if (lstat((state_->dir + found->d_name).c_str(), &info) == 0) {
      type = S_ISLNK(info.st_mode) ? DT_LNK : S_ISDIR(info.st_mode) ? DT_DIR : DT_REG;
    }
  }
  entry.name = FromUtf8(found->d_name);
  entry.isLink = type == DT_LNK;
  entry.isDirectory = type == DT_DIR;
  return true;
}

std::wstring TempDirectory() {
  const char* fromEnvironment = std::getenv("TMPDIR");
  std::wstring dir =
      FromUtf8(fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : "/tmp/");
  if (dir.back() != L'/') dir += L'/';
  return dir;
}

std::wstring CreateTempFileName(const std::wstring& dir, const std::wstring& prefix) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  // Like GetTempFileNameW: a 16-bit number that starts from the clock and counts up past
  // names that are taken.
  unsigned start = static_cast<unsigned>(std::time(nullptr)) ^ static_cast<unsigned>(getpid());
  const std::wstring base = dir + prefix.substr(0, 3);
  for (unsigned step = 0; step < 0x10000; ++step) {
    unsigned unique = (start + step) & 0xFFFF;
    if (unique == 0) continue;
    std::wstring hex;
    for (; unique != 0; unique >>= 4) hex.insert(hex.begin(), kHex[unique & 0xF]);
    const std::wstring path = base + hex + L".tmp";
    const int fd = open(Narrow(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      return path;
    }
    if (errno != EEXIST) return L"";
  }
  errno = EEXIST;
  return L"";
}

std::wstring MakePrivateDirectory(const std::wstring& dir, const std::wstring& prefix) {
  std::string pattern = Narrow(dir + prefix) + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return L"";
  return FromUtf8(pattern) + L"/";
}

}  // namespace platform
