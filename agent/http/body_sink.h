// Where the body of an accepted answer goes: the download client pulls the body and hands
// it on piece by piece; the sink decides what it keeps and when enough is enough.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "agent/http/background_sha256.h"
#include "platform/crypto.h"
#include "platform/file_writer.h"

class BodySink {
 public:
  virtual ~BodySink() = default;

  // The answer was accepted and its body follows; declaredLength is its Content-Length when
  // it has one. False when the body cannot be taken: the fetch fails without a message.
  virtual bool Open(std::optional<std::uint64_t> declaredLength) = 0;
  // The next piece of the body. False refuses it: the fetch ends at once as a failure.
  virtual bool Take(const char* data, std::size_t size) = 0;
  // The body has ended. False when the sink cannot accept what it got.
  virtual bool Close() = 0;

  // Why the sink refused the body, for the caller's report; "" when it did not.
  const std::string& Refusal() const { return refusal_; }

 protected:
  bool Refuse(std::string why) {
    refusal_ = std::move(why);
    return false;
  }

 private:
  std::string refusal_;
};

// A page in memory. A page is a short text: a body longer than the limit, or one still
// arriving at the deadline, is refused, and the bytes up to that point are kept.
class TextSink : public BodySink {
 public:
  static constexpr std::size_t kPageLimitBytes = 64 * 1024;
  static constexpr std::chrono::seconds kPageDeadline{30};

  TextSink() = default;
  TextSink(std::size_t limitBytes, std::chrono::steady_clock::duration deadline)
      : limitBytes_(limitBytes), deadline_(deadline) {}

  bool Open(std::optional<std::uint64_t> declaredLength) override;
  bool Take(const char* data, std::size_t size) override;
  bool Close() override { return true; }

  // The body's bytes as they arrived.
  const std::string& Bytes() const { return bytes_; }
  // The body as text in the system code page; zero bytes carry no text.
  std::wstring Text() const;

 private:
  std::size_t limitBytes_ = kPageLimitBytes;
  std::chrono::steady_clock::duration deadline_ = kPageDeadline;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::string bytes_;
};

// Size and SHA-256 that a file must have to be accepted.
struct ExpectedFile {
  std::uint64_t size = 0;
  platform::Sha256Digest sha256{};
};

// Told how a download proceeds; total is the declared length when known.
class DownloadProgress {
 public:
  virtual ~DownloadProgress() = default;
  virtual void Update(std::uint64_t received, std::optional<std::uint64_t> total) = 0;
  // The download is over, however it ended; called once per sink that reported progress.
  virtual void Finish() = 0;
};

// How long a download may crawl: a body is refused when fewer than bytes arrive in a window
// of that length, so that a server dripping bytes cannot hold the run for good.
struct RateFloor {
  std::uint64_t bytes = 16 * 1024;
  std::chrono::steady_clock::duration window = std::chrono::seconds(30);
};

// A body written into a file (created, or truncated, when the answer is accepted). It
// refuses a body longer than limitBytes and, when an expected file is given, one that is
// longer or shorter than its size or has another hash; the hash is taken as the bytes
// stream. The file is written in blocks and, once the sink is gone, holds every byte it
// took: removing a refused file is the caller's choice.
class FileSink : public BodySink {
 public:
  explicit FileSink(std::wstring path, std::uint64_t limitBytes = UINT64_MAX,
                    std::optional<ExpectedFile> expected = std::nullopt,
                    DownloadProgress* progress = nullptr, RateFloor floor = {});
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  bool Open(std::optional<std::uint64_t> declaredLength) override;
  bool Take(const char* data, std::size_t size) override;
  bool Close() override;

 private:
  // Large enough for few writes, small enough for the hashing thread to keep pace.
  static constexpr std::size_t kBlockBytes = 256 * 1024;
  // With a hash: one block is written and another hashed while the next is filled.
  static constexpr std::size_t kHashedBlocks = 3;

  bool TooSlow();
  bool Store(const char* data, std::size_t size);
  bool WriteBlock();
  std::size_t BlockCount() const { return hash_ ? kHashedBlocks : 1; }
  char* Block(std::size_t index) { return blocks_.get() + index * kBlockBytes; }

  std::wstring path_;
  std::uint64_t limitBytes_;
  std::optional<ExpectedFile> expected_;
  DownloadProgress* progress_;
  RateFloor floor_;
  std::optional<std::uint64_t> declared_;
  platform::FileWriter file_;
  std::unique_ptr<char[]> blocks_;
  std::size_t block_ = 0;                                // the one being filled
  std::size_t filled_ = 0;                               // bytes in it
  std::array<std::uint64_t, kHashedBlocks> hashedAs_{};  // each block's last piece of hash_
  std::optional<BackgroundSha256> hash_;                 // ends before the blocks it reads go
  std::uint64_t received_ = 0;
  std::chrono::steady_clock::time_point windowStart_;
  std::uint64_t windowStartBytes_ = 0;
};
