// A signed package's bytes kept across runs, so that a cut download goes on where it stopped
// instead of from zero. Two files in the agent's directory: the bytes ("package.part") and
// what they belong to ("package.part.info", a state record of platform/state_record.h),
// written before the first byte arrives:
//
//   kivo9-kept-package 2
//   <the URL of the release's own file>
//   <its signed size, decimal>
//   <its signed SHA-256, 64 lower-case hex digits>
//   <the strong ETag it was served with, quotes included>
//   sum <...>
//
// A record of format 1 (the same without the sum line) is still read.
//
// The bytes go on only for the same file, size, hash and tag; the server is asked for the
// rest only while its file still has that tag, and the whole file, kept bytes read again,
// must have the signed SHA-256 before it counts. Bytes that turn out wrong are dropped.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "agent/http/checked_body_sink.h"
#include "agent/http/http_downloader.h"

class KeptPackage {
 public:
  KeptPackage(std::wstring bytesPath, std::wstring recordPath)
      : bytesPath_(std::move(bytesPath)), recordPath_(std::move(recordPath)) {}

  const std::wstring& BytesPath() const { return bytesPath_; }

  // Where the file at url with expected goes on from: the kept bytes' count and their tag.
  // Nothing (not an error) when nothing is kept for it: no record or a damaged one, another
  // file, no bytes, or as many as the whole file or more.
  std::optional<ResumeFrom> ResumeFor(const std::wstring& url, const ExpectedFile& expected) const;
  // Records that the bytes file now begins the file at url, served with entityTag. Without a
  // tag (the server gave none, or a weak one) nothing can guard a resume: the record is
  // removed instead. False when the record could not be written.
  bool Remember(const std::wstring& url, const ExpectedFile& expected,
                const std::string& entityTag);
  // Removes the record, then the bytes (or an empty folder in their place); what is missing
  // already is no failure.
  void Forget();
  // Forgets what is kept unless its record names one of urls (the release files a run may
  // still ask for); bytes without a readable record go too. Nothing kept is no failure.
  void KeepOnlyFor(const std::vector<std::wstring>& urls);

 private:
  std::wstring bytesPath_;
  std::wstring recordPath_;
};

// How long a signed package may take in one run: a minute plus its size at 32 KiB/s, at
// most an hour. What arrived by then stays kept for the next run.
std::chrono::seconds PackageDeadline(std::uint64_t size);
