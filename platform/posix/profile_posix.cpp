#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/ini_file.h"
#include "platform/ini_section_stream.h"
#include "platform/profile.h"
#include "platform/profile_cache.h"
#include "platform/text.h"
#include "unique_fd.h"

namespace platform {
namespace {

FileStamp StampOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::uint64_t>(st.st_size),
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// Reads to the end; sizeHint (the size fstat gave) saves growing the buffer step by step.
bool ReadAll(int fd, std::size_t sizeHint, std::string& out) {
  out.resize(sizeHint + 1);
  std::size_t used = 0;
  for (;;) {
    if (used == out.size()) out.resize(out.size() * 2);
    const ssize_t n = read(fd, out.data() + used, out.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  out.resize(used);
  return true;
}

enum class LoadState { kMissing, kLoaded, kUnreadable };

struct Loaded {
  LoadState state = LoadState::kMissing;
  std::shared_ptr<const IniFile> file;  // set when kLoaded
  mode_t mode = 0;
  uid_t owner = 0;
  gid_t group = 0;
};

Loaded Without(LoadState state) {
  Loaded result;
  result.state = state;
  return result;
}

// The file at path, from the cache while it has not changed.
Loaded Load(const std::wstring& path) {
  const std::string native = ToUtf8(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) {
    return Without(errno == ENOENT || errno == ENOTDIR ? LoadState::kMissing
                                                       : LoadState::kUnreadable);
  }
  Loaded result{LoadState::kLoaded, SharedProfileCache().Find(path, StampOf(st)), st.st_mode,
                st.st_uid, st.st_gid};
  if (result.file) return result;
  // Only a regular file is read. Without O_NONBLOCK the open of a named pipe would wait for a
  // writer for good, and the type is taken from the opened descriptor, which cannot change.
  if (!S_ISREG(st.st_mode)) return Without(LoadState::kUnreadable);
  UniqueFd fd(open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  std::string bytes;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      !ReadAll(fd.get(), static_cast<std::size_t>(st.st_size), bytes)) {
    return Without(LoadState::kUnreadable);
  }
  result.file = std::make_shared<const IniFile>(std::move(bytes));
  SharedProfileCache().Store(path, StampOf(st), result.file);
  return result;
}

// The file a write must replace: the target of a symbolic link rather than the link.
std::string WriteTarget(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

// Writes bytes to a new file beside target and renames it over target, so that readers see
// the old file or the new one and never a part. On success written is the new file's stamp.
bool ReplaceFile(const std::string& target, const std::string& bytes, const Loaded& old,
                 FileStamp& written) {
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = target.substr(dir.size());
  static unsigned counter = 0;
  std::string temp;
  int raw = -1;
  for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
    temp = dir + "." + base + "." + std::to_string(getpid()) + "." + std::to_string(++counter);
    raw = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw < 0 && errno != EEXIST) return false;
  }
  UniqueFd fd(raw);
  if (fd.get() < 0) return false;
  if (old.state == LoadState::kLoaded) {
    if (fchown(fd.get(), old.owner, old.group) != 0) {
      // Only the owner's own files can be given away; the file stays the writer's.
    }
    fchmod(fd.get(), old.mode & 07777);
  }
  // The stamp is taken from the descriptor: the rename changes none of its fields.
  struct stat st;
  const bool done =
      WriteAllBytes(fd.get(), bytes) && fsync(fd.get()) == 0 && fstat(fd.get(), &st) == 0;
  if (!fd.Close() || !done || rename(temp.c_str(), target.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  written = StampOf(st);
  return true;
}

// Applies edit to the file (an empty one when it does not exist) and writes the result
// when it differs. An unreadable file is never replaced.
template <typename Edit>
bool EditProfile(const std::wstring& path, Edit edit) {
  const std::string native = ToUtf8(path);
  const std::lock_guard<std::mutex> hold(SharedProfileLock());
  const Loaded old = Load(path);
  if (old.state == LoadState::kUnreadable) return false;
  // A read-only file stays as it is, as the Windows profile functions leave it, even for a
  // user whom the rename over it would let replace it (root, or the folder's owner).
  if (old.state == LoadState::kLoaded &&
      ((old.mode & 0222) == 0 || access(native.c_str(), W_OK) != 0)) {
    return false;
  }
  const IniFile empty;
  const IniFile& file = old.file ? *old.file : empty;
  std::shared_ptr<const IniFile> edited = edit(file);
  const std::string& bytes = edited->Bytes();
  if (bytes == file.Bytes() && (old.state == LoadState::kLoaded || bytes.empty())) return true;
  const std::string target = WriteTarget(native);
  SharedProfileCache().Forget(path);
  FileStamp written;
  if (target.empty() || !ReplaceFile(target, bytes, old, written)) return false;
  // The edited file is what a read would find, unless someone changes the file before then:
  // the stamp tells, as for any other cached file.
  SharedProfileCache().Store(path, written, std::move(edited));
  return true;
}

std::shared_ptr<const IniFile> LoadForReading(const std::wstring& path) { return Load(path).file; }

std::wstring_view WithoutTrailingSpaces(std::wstring_view text) {
  while (text.size() > 1 && text.back() == L' ') text.remove_suffix(1);
  return text;
}

int DigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'A' && c <= L'Z') return c - L'A' + 10;
  if (c >= L'a' && c <= L'z') return c - L'a' + 10;
  return 99;
}

// The integer reading of the profile functions: white space, a sign, a base prefix ("0x"
// hexadecimal, "0o" octal, "0b" binary, lower case only), then digits up to the first
// character that is not one; wraps around like the 32-bit arithmetic it imitates.
int ParseProfileInt(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] <= L' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  std::uint32_t base = 10;
  if (i + 1 < text.size() && text[i] == L'0') {
    const wchar_t mark = text[i + 1];
    base = mark == L'x' ? 16 : mark == L'o' ? 8 : mark == L'b' ? 2 : 10;
    if (base != 10) i += 2;
  }
  std::uint32_t total = 0;
  for (; i < text.size() && static_cast<std::uint32_t>(DigitValue(text[i])) < base; ++i) {
    total = total * base + static_cast<std::uint32_t>(DigitValue(text[i]));
  }
  return static_cast<int>(negative ? 0u - total : total);
}

}  // namespace

std::wstring ReadProfileString(const std::wstring& section, const std::wstring& key,
                               const std::wstring& defaultValue, std::size_t bufferChars,
                               const std::wstring& path) {
  if (bufferChars == 0) return {};
  const std::wstring_view fallback = WithoutTrailingSpaces(defaultValue);
  const std::lock_guard<std::mutex> hold(SharedProfileLock());
  const auto file = LoadForReading(path);
  if (!file) return std::wstring(fallback.substr(0, bufferChars - 1));
  const std::optional<std::wstring> value = file->FindValue(section, key);
  return std::wstring(
      ProfileBufferValue(value ? std::wstring_view(*value) : fallback, bufferChars));
}

int ReadProfileInt(const std::wstring& section, const std::wstring& key, int defaultValue,
                   const std::wstring& path) {
  const std::wstring text = ReadProfileString(section, key, L"", 30, path);
  return text.empty() ? defaultValue : ParseProfileInt(text);
}

bool WriteProfileValue(const std::wstring& section, const std::wstring& key,
                       const std::wstring& value, const std::wstring& path) {
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  return EditProfile(path, [&](const IniFile& file) {
    return std::make_shared<const IniFile>(file.WithValue(section, key, value));
  });
}

ProfileEntries ReadProfileSection(const std::wstring& section, const std::wstring& path) {
  const std::lock_guard<std::mutex> hold(SharedProfileLock());
  const auto file = LoadForReading(path);
  return file ? file->SectionEntries(section) : ProfileEntries();
}

bool WriteProfileEntries(const std::wstring& section, const ProfileEntries& entries,
                         const std::wstring& path) {
  if (HasLineBreak(section, entries)) return false;
  return EditProfile(path, [&](const IniFile& file) {
    return entries.empty() ? std::make_shared<const IniFile>(file.WithoutSection(section))
                           : std::make_shared<const IniFile>(file, section, entries);
  });
}

bool StreamProfileSection(const std::wstring& section, const std::wstring& path,
                          const ProfileLineSink& onLine) {
  // As in Load: a named pipe must not hold the open, and only a regular file is read.
  UniqueFd fd(open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  IniSectionStream stream(section, onLine);
  std::string piece(std::size_t{1} << 20, '\0');
  for (;;) {
    const ssize_t n = read(fd.get(), piece.data(), piece.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    if (!stream.Feed(std::string_view(piece.data(), static_cast<std::size_t>(n)))) return true;
  }
  stream.Finish();
  return true;
}

}  // namespace platform
