// The terms a body must meet before it counts: at most so many bytes and, for a signed
// file, exactly its size and SHA-256.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "agent/http/body_sink.h"
#include "platform/background_sha256.h"
#include "platform/crypto.h"

// Size and SHA-256 that a file must have to be accepted.
struct ExpectedFile {
  std::uint64_t size = 0;
  platform::Sha256Digest sha256{};
};

// Counts what passes through to next, cuts the body at limitBytes (or at the expected size,
// when smaller) and, with an expected file, hashes what passes and refuses a body of another
// size or hash at Close. A refused or abandoned body leaves next holding every byte that
// passed, up to the cut. next must outlive the sink.
//
// A body that goes on from an offset counts the bytes before it as passed; with an expected
// file they are read again from keptPath (the file next keeps them in) and hashed before any
// new byte, so that what is accepted is the whole file as stored, not what was remembered of
// it. Such a body is refused without a keptPath, or when that file holds fewer bytes.
class CheckedBodySink : public BodySink {
 public:
  CheckedBodySink(BodySink& next, std::uint64_t limitBytes,
                  std::optional<ExpectedFile> expected = std::nullopt, std::wstring keptPath = L"");

  Outcome Open(const BodyStart& start) override;
  Outcome Take(const char* data, std::size_t size) override;
  Outcome Close() override;
  void Abandon() override;

 private:
  // Small enough for the hashing thread to keep pace, and a whole block for the file.
  static constexpr std::size_t kBlockBytes = 256 * 1024;
  // One block is passed on and another hashed while the next is filled.
  static constexpr std::size_t kBlocks = 3;

  bool HashKeptBytes(std::uint64_t count);
  Outcome PassOn(const char* data, std::size_t size);
  Outcome PassFilledBlock();
  char* Block(std::size_t index) { return blocks_.get() + index * kBlockBytes; }

  BodySink& next_;
  std::uint64_t limitBytes_;
  std::optional<ExpectedFile> expected_;
  std::wstring keptPath_;
  std::uint64_t passed_ = 0;                       // within the cut, whether next has it yet or not
  std::unique_ptr<char[]> blocks_;                 // only with a hash
  std::size_t block_ = 0;                          // the one being filled
  std::size_t filled_ = 0;                         // bytes in it
  std::array<std::uint64_t, kBlocks> hashedAs_{};  // each block's last piece of hash_
  std::optional<platform::BackgroundSha256> hash_;  // ends before the blocks it reads go
};
