// The sinks and the transfer limits, fed bytes and times directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agent/http/block_file_sink.h"
#include "agent/http/checked_body_sink.h"
#include "agent/http/transfer_limits.h"
#include "platform/files.h"
#include "platform/test_support.h"

namespace {

constexpr std::size_t kBlock = BlockFileSink::kBlockBytes;

std::string Body(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = "0123456789abcdefg"[i % 17];
  return body;
}

platform::Sha256Digest DigestOf(const std::string& bytes) {
  platform::Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.Finish();
}

// Feeds body in pieces of the given size; ok when every piece and the end were accepted,
// else the sink's refusal. A refused body is abandoned, as the download client does.
Outcome Feed(BodySink& sink, const std::string& body, std::size_t piece) {
  if (Outcome opened = sink.Open({0, body.size(), ""}); !opened) return opened;
  for (std::size_t at = 0; at < body.size(); at += piece) {
    if (Outcome taken = sink.Take(body.data() + at, std::min(piece, body.size() - at)); !taken) {
      sink.Abandon();
      return taken;
    }
  }
  return sink.Close();
}

TEST(BlockFileSink, StoresEveryByteWhateverThePiecesAndKeepsAnAbandonedBody) {
  platform::ScopedTempDir dir;
  const std::wstring path = dir.path() + L"package";
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{1}, kBlock - 1, kBlock, kBlock + 1, 3 * kBlock + 5}) {
    for (const std::size_t piece : {std::size_t{1000}, kBlock, kBlock + 3}) {
      if (piece == 1000 && size > 2 * kBlock) continue;  // enough small pieces below
      BlockFileSink sink(path);
      const std::string body = Body(size);
      EXPECT_TRUE(Feed(sink, body, piece)) << size << " in " << piece;
      EXPECT_EQ(platform::ReadWholeFile(path), body) << size << " in " << piece;
    }
  }
  BlockFileSink sink(path);
  ASSERT_TRUE(sink.Open({}));
  ASSERT_TRUE(sink.Take("abc", 3));
  sink.Abandon();
  EXPECT_EQ(platform::ReadWholeFile(path), "abc") << "what it took, though never closed";
  EXPECT_FALSE(BlockFileSink(dir.path() + L"missing/package").Open({}));
}

TEST(CheckedBodySink, CutsAtItsBoundAndAcceptsOnlyTheSignedFile) {
  const std::string small = Body(3000);
  const std::string big = Body(kBlock * 3 + 7);  // every block of the ring, the last one partly
  platform::Sha256Digest wrong = DigestOf(small);
  wrong[31] ^= 1;
  const struct {
    const std::string& body;
    std::uint64_t limit;
    std::optional<ExpectedFile> expected;
    const char* refusal;
    std::size_t kept;
  } cases[] = {
      {small, UINT64_MAX, std::nullopt, "", 3000},
      {small, 3000, std::nullopt, "", 3000},
      {small, 2999, std::nullopt, "longer than the limit of 2999 bytes", 2999},
      {small, UINT64_MAX, ExpectedFile{3000, DigestOf(small)}, "", 3000},
      {small, 1000, ExpectedFile{3000, DigestOf(small)}, "longer than the limit of 1000 bytes",
       1000},
      {small, UINT64_MAX, ExpectedFile{2999, DigestOf(small)}, "longer than the signed 2999 bytes",
       2999},
      {small, UINT64_MAX, ExpectedFile{3001, DigestOf(small)},
       "3000 bytes, not the signed 3001 bytes", 3000},
      {small, UINT64_MAX, ExpectedFile{3000, wrong}, "SHA-256 differs from the signed one", 3000},
      {Body(0), UINT64_MAX, ExpectedFile{0, DigestOf("")}, "", 0},
      {Body(1), UINT64_MAX, ExpectedFile{0, DigestOf("")}, "longer than the signed 0 bytes", 0},
      {big, UINT64_MAX, ExpectedFile{big.size(), DigestOf(big)}, "", big.size()},
      {big, UINT64_MAX, ExpectedFile{big.size() - 1, DigestOf(big.substr(0, big.size() - 1))},
       "longer than the signed 786438 bytes", big.size() - 1},
      {big, UINT64_MAX, ExpectedFile{big.size(), wrong}, "SHA-256 differs from the signed one",
       big.size()},
  };
  for (const auto& c : cases) {
    for (const std::size_t piece : {std::size_t{1}, std::size_t{1024}, kBlock + 1}) {
      if (piece == 1 && c.body.size() > 5000) continue;
      TextSink stored(SIZE_MAX);
      CheckedBodySink checked(stored, c.limit, c.expected);
      const Outcome fed = Feed(checked, c.body, piece);
      EXPECT_EQ(fed.ok(), *c.refusal == '\0') << c.refusal;
      EXPECT_EQ(fed.why(), c.refusal);
      EXPECT_EQ(stored.Bytes(), c.body.substr(0, c.kept)) << c.refusal << ", in " << piece;
    }
  }
}

TEST(TransferWatch, EndsAPageAtItsDeadlineAndAFileBelowItsFloor) {
  using std::chrono::milliseconds;
  using std::chrono::seconds;
  const TransferWatch::Clock::time_point t0{};
  TransferWatch page(TransferLimits::Page(), t0);
  EXPECT_EQ(page.Check(100, t0 + seconds(30)).why(), "");
  EXPECT_EQ(page.Check(200, t0 + seconds(31)).why(), "the page did not end within 30 s");

  TransferLimits limits = TransferLimits::File();
  limits.floor = RateFloor{4096, milliseconds(500)};
  TransferWatch file(limits, t0);
  file.BodyStarts(t0 + seconds(100));  // the connection's time does not count
  EXPECT_EQ(file.Check(10, t0 + seconds(100) + milliseconds(499)).why(), "");
  EXPECT_EQ(file.Check(4096, t0 + seconds(100) + milliseconds(500)).why(), "")
      << "exactly the floor";
  EXPECT_EQ(file.Check(8191, t0 + seconds(101)).why(), "slower than 4096 bytes in 500 ms");
  EXPECT_EQ(TransferWatch(TransferLimits::File(), t0).Check(0, t0 + seconds(29)).why(), "");
  EXPECT_EQ(TransferWatch(TransferLimits::File(), t0).Check(0, t0 + seconds(30)).why(),
            "slower than 16384 bytes in 30 s");
}

}  // namespace
