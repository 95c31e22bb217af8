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

Outcome Done(const platform::FileResult& result) {
  return result ? Outcome() : Outcome::No(result.Describe());
}

}  // namespace

std::uint64_t UnpackLimits::AllowedTotal(std::uint64_t archiveSize) const {
  if (maxExpansion == 0) return std::min(ratioAllowance, maxTotalSize);
  return archiveSize > (maxTotalSize - ratioAllowance) / maxExpansion
             ? maxTotalSize
             : ratioAllowance + archiveSize * maxExpansion;
}

Outcome LimitPassed(std::uint64_t entryCount, std::uint64_t totalSize, std::uint64_t archiveSize,
                    const std::wstring& destination, const UnpackLimits& limits) {
  if (entryCount > limits.maxEntries) {
    return Outcome::No(std::to_string(entryCount) + " entries, more than " +
                       std::to_string(limits.maxEntries));
  }
  if (totalSize > limits.maxTotalSize) {
    return Outcome::No("unpacks to more than " + std::to_string(limits.maxTotalSize >> 20) +
                       " MiB");
  }
  if (totalSize > limits.AllowedTotal(archiveSize)) {
    return Outcome::No("unpacks to " + std::to_string(totalSize) + " bytes from " +
                       std::to_string(archiveSize) + ", more than " +
                       std::to_string(limits.maxExpansion) + " times its size");
  }
  const auto free = platform::FreeDiskBytes(destination);
  if (free && totalSize > *free - std::min(*free, limits.spareSpace)) {
    return Outcome::No("needs " + std::to_string(totalSize >> 20) +
                       " MiB, more than the destination's volume has free");
  }
  return {};
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

Outcome EntryWriter::NameAllowed(const std::string& name) {
  const std::string path =
      !name.empty() && name.back() == '/' ? name.substr(0, name.size() - 1) : name;
  if (Outcome allowed = EntryAllowed(path, "", ""); !allowed) return allowed;
  if (platform::FromUtf8(path.substr(0, path.find('/'))) == kScratchName) {
    return Outcome::No("the extractor's own working name");
  }
  return {};
}

bool EntryWriter::TakeName(const std::string& name) {
  // Windows holds names apart without regard to case: so do we, on every build.
  return names_.insert(NameKey(name)).second;
}

Outcome EntryWriter::AddDirectory(const std::string& name) {
  return MakeParents(name.back() == '/' ? name : name + "/");
}

Outcome EntryWriter::AddFile(const std::string& name, bool executable, const DataSource& source) {
  if (Outcome made = MakeParents(name); !made) return made;
  const std::wstring scratch = platform::LongPathForm(destination_ + kScratchName);
  platform::FileWriter out;
  if (!out.Create(scratch)) return Outcome::No("cannot create " + platform::ToUtf8(scratch));
  Outcome written = source([&out](const char* data, std::size_t n) { return out.Write(data, n); });
  if (!out.Close() && written) written = Outcome::No("cannot write " + platform::ToUtf8(scratch));
  if (written && executable) written = Done(platform::MarkExecutable(scratch));
  if (written) written = Done(platform::MovePath(scratch, Place(name)));
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
Outcome EntryWriter::MakeParents(const std::string& name) {
  for (std::size_t sep = name.find('/'); sep != std::string::npos; sep = name.find('/', sep + 1)) {
    if (Outcome made = MakeDirectory(name.substr(0, sep)); !made) return made;
  }
  return {};
}

Outcome EntryWriter::MakeDirectory(const std::string& relative) {
  if (relative.empty() || made_.count(relative) != 0) return {};
  const std::wstring path = Place(relative);
  const platform::FileResult result = platform::MakeDirectory(path);
  // One that stands already is taken only as a real directory, never a link to elsewhere.
  if (!result && platform::QueryPath(path).kind != platform::PathKind::Directory) {
    return Done(result);
  }
  made_.insert(relative);
  return {};
}

}  // namespace unpack
