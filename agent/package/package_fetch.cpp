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
    std::optional<ResumeFrom> resume;
    std::unique_ptr<BodySink> file;
    KeptBytesSink* keeping = nullptr;
    if (kept != nullptr) {
      resume = kept->ResumeFor(package.FileUrl(), *package.expected);
      file = std::make_unique<KeptBytesSink>(*kept, package.FileUrl(), *package.expected);
      keeping = static_cast<KeptBytesSink*>(file.get());
    } else {
      file = std::make_unique<BlockFileSink>(place.target);
    }
    const std::wstring folder = platform::ParentOf(kept ? kept->BytesPath() : place.target);
    // A sink closes its file however the fetch ends: an open file cannot be removed everywhere.
    CheckedBodySink checked(*file, PackageSizeLimit(folder), package.expected,
                            kept ? kept->BytesPath() : L"");
    const FetchOutcome fetched = CHttpDownloader().Fetch(
        url, checked, LimitsLeft(place.progress, endsBy), resume ? &*resume : nullptr);
    if (fetched.stored) return kept ? MoveKeptFile(*kept, place.target) : Outcome();
    if (keeping != nullptr && keeping->Unwritable()) {
      kept = nullptr;  // nothing can be kept here: the same URL, straight into the target
      continue;
    }
    // Bytes that cannot go on (the whole size refused, or no record to vouch for them) are of
    // no use; kept bytes the answer did not continue, or that did not make the signed file,
    // are asked for once more from zero.
    const bool resumable =
        keeping != nullptr && kept->ResumeFor(package.FileUrl(), *package.expected);
    const bool keptWrong =
        keeping != nullptr && (fetched.otherRange || (keeping->Continued() && !resumable));
    const bool again = keptWrong && !askedAgain;
    last = fetched.refusal ? Outcome::No("the download failed") : fetched.refusal;
    if (!fetched.refusal) {
      Report(place.refused, url,
             fetched.refusal.why() + (again ? "; asked again from the start" : ""));
    }
    if (keeping == nullptr) {
      platform::RemoveFile(place.target);
    } else if (keptWrong || !resumable) {
      kept->Forget();
    }
    askedAgain = again;
    if (!again) ++i;
  }
  return last;
}
