#include "entry_writer.h"

#include <algorithm>

#include "entry_rules.h"
#include "platform/console.h"
#include "platform/disk_space.h"
#include "platform/file_writer.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform_native.h"

namespace unpack {
namespace {

// Where each file is written until it is whole; an entry may not take this name.
constexpr wchar_t kScratchName[] = L"~unpack.partial";

bool Done(const platform::FileResult& result, std::string& why) {
  if (!result.ok()) why = result.Describe();
  return result.ok();
}

}  // namespace

std::uint64_t UnpackLimits::AllowedTotal(std::uint64_t archiveSize) const {
  if (maxExpansion == 0) return std::min(ratioAllowance, maxTotalSize);
  return archiveSize > (maxTotalSize - ratioAllowance) / maxExpansion
             ? maxTotalSize
             : ratioAllowance + archiveSize * maxExpansion;
}

std::string LimitPassed(std::uint64_t entryCount, std::uint64_t totalSize,
                        std::uint64_t archiveSize, const std::wstring& destination,
                        const UnpackLimits& limits) {
  if (entryCount > limits.maxEntries) {
    return std::to_string(entryCount) + " entries, more than " + std::to_string(limits.maxEntries);
  }
  if (totalSize > limits.maxTotalSize) {
    return "unpacks to more than " + std::to_string(limits.maxTotalSize >> 20) + " MiB";
  }
  if (totalSize > limits.AllowedTotal(archiveSize)) {
    return "unpacks to " + std::to_string(totalSize) + " bytes from " +
           std::to_string(archiveSize) + ", more than " + std::to_string(limits.maxExpansion) +
           " times its size";
  }
  const auto free = platform::FreeDiskBytes(destination);
  if (free && totalSize > *free - std::min(*free, limits.spareSpace)) {
    return "needs " + std::to_string(totalSize >> 20) +
           " MiB, more than the destination's volume has free";
  }
  return "";
}

bool OpenArchive(const std::wstring& path, platform::FileReader& archive, std::uint64_t& size) {
  if (archive.Open(path) && archive.Size(size)) return true;
  ReportArchive(path, "cannot open it");
  return false;
}

bool MakeDestination(const std::wstring& destination) {
  for (std::size_t i = 1; i < destination.size(); ++i) {
    if (destination[i] != platform::kSep) continue;
    const std::wstring dir = destination.substr(0, i);
    if (platform::QueryPath(dir).kind == platform::PathKind::Missing) platform::MakeDirectory(dir);
  }
  return platform::QueryPath(destination.substr(0, destination.size() - 1)).kind ==
         platform::PathKind::Directory;
}

void ReportEntry(const std::string& entry, const std::string& why) {
  platform::WriteErr(L"extractor: skipped \"" + platform::FromUtf8(entry) + L"\": " +
                     platform::FromUtf8(why) + L"\n");
}

void ReportArchive(const std::wstring& archive, const std::string& why) {
  platform::WriteErr(L"extractor: cannot read \"" + archive + L"\": " + platform::FromUtf8(why) +
                     L"\n");
}

std::optional<std::string> EntryWriter::NameRefusal(const std::string& name) {
  const std::string path =
      !name.empty() && name.back() == '/' ? name.substr(0, name.size() - 1) : name;
  if (auto refusal = RefusalReason(path, "", "")) return refusal;
  if (platform::FromUtf8(path.substr(0, path.find('/'))) == kScratchName) {
    return "the extractor's own working name";
  }
  return std::nullopt;
}

bool EntryWriter::TakeName(const std::string& name) {
  // Windows holds names apart without regard to case: so do we, on every build.
  return names_.insert(NameKey(name)).second;
}

bool EntryWriter::AddDirectory(const std::string& name, std::string& why) {
  return MakeParents(name.back() == '/' ? name : name + "/", why);
}

bool EntryWriter::AddFile(const std::string& name, bool executable, const DataSource& source,
                          std::string& why) {
  if (!MakeParents(name, why)) return false;
  const std::wstring scratch = platform::LongPathForm(destination_ + kScratchName);
  platform::FileWriter out;
  if (!out.Create(scratch)) {
    why = "cannot create " + platform::ToUtf8(scratch);
    return false;
  }
  why.clear();
  const bool read =
      source([&out](const char* data, std::size_t n) { return out.Write(data, n); }, why);
  if (!out.Close() && read) why = "cannot write " + platform::ToUtf8(scratch);
  const bool written = read && why.empty() &&
                       (!executable || Done(platform::MarkExecutable(scratch), why)) &&
                       Done(platform::MovePath(scratch, Place(name)), why);
  if (!written) platform::RemoveFile(scratch);
  return written;
}

std::wstring EntryWriter::Place(const std::string& name) const {
  std::wstring relative = platform::NativePath(platform::FromUtf8(name));
  if (!relative.empty() && relative.back() == platform::kSep) relative.pop_back();
  return platform::LongPathForm(destination_ + relative);
}

// Every directory before a '/' of the name below the destination: its parents, and a
// directory entry (whose name ends with '/') itself.
bool EntryWriter::MakeParents(const std::string& name, std::string& why) {
  for (std::size_t sep = name.find('/'); sep != std::string::npos; sep = name.find('/', sep + 1)) {
    if (!MakeDirectory(name.substr(0, sep), why)) return false;
  }
  return true;
}

bool EntryWriter::MakeDirectory(const std::string& relative, std::string& why) {
  if (relative.empty() || made_.count(relative) != 0) return true;
  const std::wstring path = Place(relative);
  const platform::FileResult result = platform::MakeDirectory(path);
  // One that stands already is taken only as a real directory, never a link to elsewhere.
  if (!result && platform::QueryPath(path).kind != platform::PathKind::Directory) {
    return Done(result, why);
  }
  made_.insert(relative);
  return true;
}

}  // namespace unpack
