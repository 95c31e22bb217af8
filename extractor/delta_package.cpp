#include "delta_package.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "bsdiff_patch.h"
#include "delta_manifest.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/text.h"
#include "solid_package.h"
#include "zstd_patch.h"

namespace unpack {
namespace {

// The whole data of the current entry, which the caller has bounded.
OrWhy<std::string> EntryData(TarReader& reader, std::uint64_t size) {
  std::string data;
  data.reserve(static_cast<std::size_t>(size));
  Outcome read = reader.Data([&data](const char* piece, std::size_t n) {
    data.append(piece, n);
    return true;
  });
  if (!read) return read;
  return data;
}

// The delta list, when the entry is one; why not otherwise.
OrWhy<std::vector<DeltaLine>> ReadList(const TarEntry& entry, TarReader& reader) {
  if (entry.name != kDeltaListName || entry.kind != TarKind::kFile) {
    return Outcome::No("no delta list at its head");
  }
  if (entry.size > kMaxDeltaList) return Outcome::No("a delta list over its limit");
  auto text = EntryData(reader, entry.size);
  if (!text) return text.outcome();
  return ParseDeltaList(*text);
}

// Where the installed file of a list path lies below base.
std::wstring InstalledPlace(const std::wstring& base, const std::string& path) {
  return platform::LongPathForm(base + platform::NativePath(platform::FromUtf8(path)));
}

Outcome HashIs(const char* data, std::size_t size, const platform::Sha256Digest& expected) {
  platform::Sha256 hash;
  hash.Update(data, size);
  return hash.Finish() == expected ? Outcome() : Outcome::No("another SHA-256 than the list's");
}

// The installed file path names: a regular file of the size given, read whole into memory
// (size is bounded by the caller), with the SHA-256 given.
OrWhy<std::string> OldFile(const std::wstring& base, const std::string& path, std::uint64_t size,
                           const platform::Sha256Digest& sha256) {
  const std::wstring place = InstalledPlace(base, path);
  const platform::PathInfo info = platform::QueryPath(place);
  if (info.kind != platform::PathKind::File || info.size != size) {
    return Outcome::No("the installed file is missing or of another size");
  }
  platform::FileReader file;
  std::string data(static_cast<std::size_t>(size), '\0');
  std::size_t got = 0;
  if (!file.Open(place) || !file.ReadAt(0, data.data(), data.size(), got) || got != size) {
    return Outcome::No("the installed file cannot be read");
  }
  if (!HashIs(data.data(), data.size(), sha256)) return Outcome::No("the installed file changed");
  return data;
}

// Copies the installed file of a "same" line through the sink, checking it on the way.
Outcome CopySame(const std::wstring& base, const DeltaLine& line, const DataSink& sink) {
  const std::wstring place = InstalledPlace(base, line.path);
  const platform::PathInfo info = platform::QueryPath(place);
  platform::FileReader file;
  if (info.kind != platform::PathKind::File || info.size != line.size || !file.Open(place)) {
    return Outcome::No("the installed file is missing or of another size");
  }
  platform::Sha256 hash;
  std::vector<char> piece(1 << 16);
  std::uint64_t offset = 0;
  while (offset < line.size) {
    std::size_t got = 0;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), line.size - offset));
    if (!file.ReadAt(offset, piece.data(), want, got) || got != want) {
      return Outcome::No("the installed file cannot be read");
    }
    hash.Update(piece.data(), got);
    if (!sink(piece.data(), got)) return Outcome::No("cannot write it");
    offset += got;
  }
  return hash.Finish() == line.sha256 ? Outcome() : Outcome::No("the installed file changed");
}

// What the list and the entries after it make, checked before anything is written.
struct DeltaSurvey {
  std::vector<DeltaLine> lines;
  std::uint64_t fromPackage = 0;  // bytes of the patched and whole files
  std::uint64_t total = 0;        // bytes of every file
};

// Holds each entry after the list to the next line that needs one.
class EntryMatcher {
 public:
  explicit EntryMatcher(const std::vector<DeltaLine>& lines) : lines_(lines) {}

  // The line entry makes, after the same lines before it; why not when the entry is not the
  // one the list expects next.
  OrWhy<const DeltaLine*> Next(const TarEntry& entry) {
    while (next_ < lines_.size() && lines_[next_].kind == DeltaKind::kSame) ++next_;
    if (next_ == lines_.size()) return Outcome::No("entry " + entry.name + " is not in the list");
    const DeltaLine& line = lines_[next_++];
    if (entry.name != line.path || entry.kind != TarKind::kFile) {
      return Outcome::No("entry " + entry.name + " is not the list's next");
    }
    // A zstd patch is held in memory; a bsdiff patch streams, its triples bounded by the
    // new file's size.
    const bool fits = line.kind == DeltaKind::kWhole   ? entry.size == line.size
                      : line.kind == DeltaKind::kPatch ? entry.size <= kMaxPatchedFile
                                                       : true;
    if (!fits) return Outcome::No("entry " + entry.name + " is of another size than its line");
    return &line;
  }
  // Whether every line that needs an entry had one.
  bool AllTaken() {
    while (next_ < lines_.size() && lines_[next_].kind == DeltaKind::kSame) ++next_;
    return next_ == lines_.size();
  }
  // The lines before the one Next last returned, from the last call on.
  std::size_t Position() const { return next_; }

 private:
  const std::vector<DeltaLine>& lines_;
  std::size_t next_ = 0;
};

OrWhy<DeltaSurvey> Survey(platform::FileReader& file, const std::wstring& destination) {
  DeltaSurvey survey;
  std::optional<EntryMatcher> matcher;
  EntryWriter names(destination);
  std::uint64_t offset = 0;
  Outcome read =
      ReadSolidPackage(FileInput(file, offset), [&](const TarEntry& entry, TarReader& reader) {
        if (!matcher) {
          auto lines = ReadList(entry, reader);
          if (!lines) return lines.outcome();
          survey.lines = std::move(*lines);
          for (const DeltaLine& line : survey.lines) {
            if (Outcome named = EntryWriter::NameAllowed(line.path); !named) {
              return Outcome::No(line.path + ": " + named.why());
            }
            if (!names.TakeName(line.path))
              return Outcome::No(line.path + " differs from another only in case");
            survey.total += std::min(line.size, UINT64_MAX - survey.total);
          }
          matcher.emplace(survey.lines);
          return Outcome();
        }
        auto line = matcher->Next(entry);
        if (!line) return line.outcome();
        survey.fromPackage += std::min((*line)->size, UINT64_MAX - survey.fromPackage);
        return Outcome();
      });
  if (!read) return read;
  if (!matcher) return Outcome::No("no delta list at its head");
  if (!matcher->AllTaken()) return Outcome::No("the list names entries the package lacks");
  return survey;
}

OrWhy<std::string> ApplyZstd(TarReader& reader, const std::string& old, std::uint64_t newSize) {
  auto patch = EntryData(reader, kMaxPatchedFile);
  if (!patch) return patch.outcome();
  return ApplyZstdPatch(old, *patch, newSize);
}

OrWhy<std::string> ApplyBsdiff(TarReader& reader, const std::string& old, std::uint64_t newSize) {
  BsdiffPatcher patcher(old, newSize);
  Outcome read =
      reader.Data([&patcher](const char* data, std::size_t n) { return patcher.Take(data, n); });
  if (!read) return Outcome::No("the bsdiff patch is malformed");
  return patcher.Finish();
}

// Makes the file of one line: a same line from the installed file, the others from the
// current entry of reader.
Outcome MakeFile(const DeltaLine& line, const std::wstring& base, TarReader* reader,
                 EntryWriter& writer) {
  if (line.kind == DeltaKind::kSame) {
    return writer.AddFile(line.path, line.executable,
                          [&](const DataSink& sink) { return CopySame(base, line, sink); });
  }
  if (line.kind == DeltaKind::kWhole) {
    platform::Sha256 hash;
    Outcome made = writer.AddFile(line.path, line.executable, [&](const DataSink& sink) {
      Outcome copied = reader->Data([&](const char* data, std::size_t n) {
        hash.Update(data, n);
        return sink(data, n);
      });
      if (!copied) return copied;
      return hash.Finish() == line.sha256 ? Outcome()
                                          : Outcome::No("another SHA-256 than the list's");
    });
    return made;
  }
  auto old = OldFile(base, line.path, line.oldSize, line.oldSha256);
  if (!old) return old.outcome();
  auto made = line.kind == DeltaKind::kPatch ? ApplyZstd(*reader, *old, line.size)
                                             : ApplyBsdiff(*reader, *old, line.size);
  if (!made) return made.outcome();
  if (Outcome hashed = HashIs(made->data(), made->size(), line.sha256); !hashed) return hashed;
  return writer.AddFile(line.path, line.executable, [&made](const DataSink& sink) {
    return sink(made->data(), made->size()) ? Outcome() : Outcome::No("cannot write it");
  });
}

}  // namespace

bool IsDeltaPackage(const std::wstring& path) {
  if (!LooksLikeSolidPackage(path)) return false;
  platform::FileReader file;
  if (!file.Open(path)) return false;
  std::uint64_t offset = 0;
  bool delta = false;
  // Only the first entry's header is read: the step stops the reading there.
  (void)ReadSolidPackage(FileInput(file, offset), [&delta](const TarEntry& entry, TarReader&) {
    delta = entry.name == kDeltaListName;
    return Outcome::No("read no further");
  });
  return delta;
}

ExtractStatus UnpackDelta(const std::wstring& archivePath, const std::wstring& destination,
                          const std::wstring& base, const UnpackLimits& limits) {
  platform::FileReader file;
  std::uint64_t archiveSize = 0;
  if (!OpenArchive(archivePath, file, archiveSize)) return kExtractUnreadable;
  auto survey = Survey(file, destination);
  if (!survey) {
    ReportArchive(archivePath, survey.why());
    return kExtractUnreadable;
  }
  if (!MakeDestination(destination)) {
    ReportArchive(archivePath, "cannot make the destination " + platform::ToUtf8(destination));
    return kExtractUnreadable;
  }
  // The package bounds only what it holds; the installed files copied are bounded by the
  // total and the free space.
  const std::uint64_t count = survey->lines.size();
  Outcome kept = LimitPassed(count, survey->fromPackage, archiveSize, destination, limits);
  if (kept) kept = LimitPassed(count, survey->total, UINT64_MAX, destination, limits);
  if (!kept) {
    ReportArchive(archivePath, kept.why());
    return kExtractUnreadable;
  }
  EntryWriter writer(destination);
  const std::vector<DeltaLine>& lines = survey->lines;
  std::size_t done = 0;
  bool fileFailed = false;  // and named on standard error
  // The same lines up to end, then (with a reader) the line of the current entry.
  auto makeUpTo = [&](std::size_t end, TarReader* reader) {
    for (; done < end; ++done) {
      const bool fromEntry = lines[done].kind != DeltaKind::kSame;
      if (fromEntry && reader == nullptr) continue;
      if (Outcome made = MakeFile(lines[done], base, reader, writer); !made) {
        ReportEntry(lines[done].path, made.why());
        fileFailed = true;
        return made;
      }
    }
    return Outcome();
  };
  EntryMatcher matcher(lines);
  bool first = true;
  std::uint64_t offset = 0;
  Outcome written =
      ReadSolidPackage(FileInput(file, offset), [&](const TarEntry& entry, TarReader& reader) {
        if (std::exchange(first, false)) return Outcome();  // the list, read by the survey
        auto line = matcher.Next(entry);
        if (!line) return line.outcome();
        return makeUpTo(matcher.Position(), &reader);
      });
  if (written) written = makeUpTo(lines.size(), nullptr);
  if (!written) {
    // A package that reads otherwise than in the survey changed under the extractor.
    if (!fileFailed) ReportArchive(archivePath, written.why());
    return kExtractEntriesFailed;
  }
  return kExtractDone;
}

}  // namespace unpack
