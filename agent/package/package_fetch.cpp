#include "agent/package/package_fetch.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "agent/http/block_file_sink.h"
#include "agent/http/checked_body_sink.h"
#include "agent/http/http_downloader.h"
#include "build_config.h"
#include "platform/dir_path.h"
#include "platform/disk_space.h"
#include "platform/files.h"

std::uint64_t PackageSizeLimit(const std::wstring& directory) {
  const auto free = platform::FreeDiskBytes(directory);
  const std::uint64_t room = !free                              ? UINT64_MAX
                             : *free > kPackageFreeSpaceReserve ? *free - kPackageFreeSpaceReserve
                                                                : 0;
  return std::min<std::uint64_t>(buildconfig::kPackageLimitBytes, room);
}

namespace {

using Clock = TransferWatch::Clock;

// The kept bytes as a body's file: a body from the start replaces them and is recorded as
// theirs before its first byte is written, so that a kill leaves bytes and record in step.
class KeptBytesSink : public BodySink {
 public:
  KeptBytesSink(KeptPackage& kept, const std::wstring& identity, const ExpectedFile& expected)
      : kept_(kept), identity_(identity), expected_(expected), file_(kept.BytesPath()) {}

  // Whether the last body went on from kept bytes.
  bool Continued() const { return continued_; }
  // Whether the bytes file could not be opened.
  bool Unwritable() const { return unwritable_; }

  Outcome Open(const BodyStart& start) override {
    continued_ = start.offset > 0;
    if (start.offset == 0) kept_.Forget();  // the old record must not vouch for new bytes
    Outcome opened = file_.Open(start);
    unwritable_ = !opened;
    if (opened && start.offset == 0) kept_.Remember(identity_, expected_, start.entityTag);
    return opened;
  }
  Outcome Take(const char* data, std::size_t size) override { return file_.Take(data, size); }
  Outcome Close() override { return file_.Close(); }
  void Abandon() override { file_.Abandon(); }

 private:
  KeptPackage& kept_;
  const std::wstring& identity_;
  const ExpectedFile& expected_;
  BlockFileSink file_;
  bool continued_ = false;
  bool unwritable_ = false;
};

// The limits of one more fetch of a package that must be whole by endsBy, if by any time.
TransferLimits LimitsLeft(DownloadProgress* progress, std::optional<Clock::time_point> endsBy) {
  TransferLimits limits = TransferLimits::File(progress);
  if (endsBy) {
    limits.deadline = std::max(Clock::duration::zero(), *endsBy - Clock::now());
    limits.what = "the package";
  }
  return limits;
}

// The whole kept file becomes the package. Across volumes it is copied: the file the
// extractor reads must lie in the package's own folder.
Outcome MoveKeptFile(KeptPackage& kept, const std::wstring& targetPath) {
  platform::FileResult moved = platform::MovePath(kept.BytesPath(), targetPath);
  if (!moved) moved = platform::CopyFileFlushed(kept.BytesPath(), targetPath);
  kept.Forget();
  return moved ? Outcome() : Outcome::No(moved.Describe());
}

// How one attempt at a URL ended, and what its bytes mean for the next one.
struct Attempt {
  FetchOutcome fetched;
  bool unwritable = false;  // the kept bytes' file could not be opened
  bool keptWrong = false;   // kept bytes the answer did not continue, or that proved wrong
};

// One attempt at url. Where the bytes go is its one choice: into the kept bytes (going on
// from what they hold, when it can be proved) with kept, else straight into the target.
// Kept bytes that cannot go on (the whole size refused, or no record to vouch for them) are
// dropped; so is a target that did not become the package.
Attempt FetchOnce(const PlannedPackage& package, const std::wstring& url, const FetchPlace& place,
                  KeptPackage* kept, std::optional<Clock::time_point> endsBy) {
  std::optional<ResumeFrom> resume;
  std::optional<KeptBytesSink> keeping;
  std::optional<BlockFileSink> target;
  if (kept != nullptr) {
    resume = kept->ResumeFor(package.FileUrl(), *package.expected);
    keeping.emplace(*kept, package.FileUrl(), *package.expected);
  } else {
    target.emplace(place.target);
  }
  BodySink& file = keeping ? static_cast<BodySink&>(*keeping) : *target;
  const std::wstring bytesPath = kept ? kept->BytesPath() : place.target;
  // A sink closes its file however the fetch ends: an open file cannot be removed everywhere.
  CheckedBodySink checked(file, PackageSizeLimit(platform::ParentOf(bytesPath)), package.expected,
                          kept ? bytesPath : L"");
  Attempt attempt{CHttpDownloader().Fetch(url, checked, LimitsLeft(place.progress, endsBy),
                                          resume ? &*resume : nullptr)};
  if (attempt.fetched.stored) return attempt;
  if (!keeping) {
    platform::RemoveFile(place.target);
    return attempt;
  }
  attempt.unwritable = keeping->Unwritable();
  const bool resumable = kept->ResumeFor(package.FileUrl(), *package.expected).has_value();
  attempt.keptWrong = attempt.fetched.otherRange || (keeping->Continued() && !resumable);
  // Refused at the start, before the kept bytes' own file was opened: they could not be read
  // again to be hashed, and are worth nothing.
  const bool unreadable = attempt.fetched.startRefused && !attempt.unwritable;
  if (!attempt.unwritable && (attempt.keptWrong || !resumable || unreadable)) kept->Forget();
  return attempt;
}

}  // namespace

Outcome FetchPackage(const PlannedPackage& package, const FetchPlace& place) {
  // Only a package of a known size has a deadline of its own.
  std::optional<Clock::time_point> endsBy;
  if (package.expected) endsBy = Clock::now() + PackageDeadline(package.expected->size);
  KeptPackage* kept = package.expected ? place.kept : nullptr;
  Outcome last = Outcome::No("no answer");
  bool askedAgain = false;  // this URL, once more from zero
  for (std::size_t i = 0; i < package.urls.size();) {
    const std::wstring& url = package.urls[i];
    const Attempt attempt = FetchOnce(package, url, place, kept, endsBy);
    if (attempt.fetched.stored) return kept ? MoveKeptFile(*kept, place.target) : Outcome();
    if (attempt.unwritable) {
      kept = nullptr;  // nothing can be kept here: the same URL, straight into the target
      continue;
    }
    const Outcome& refusal = attempt.fetched.refusal;
    const bool again = attempt.keptWrong && !askedAgain;
    last = refusal ? Outcome::No("the download failed") : refusal;
    if (!refusal) {
      Report(place.refused, url, refusal.why() + (again ? "; asked again from the start" : ""));
    }
    askedAgain = again;
    if (!again) ++i;
  }
  return last;
}
