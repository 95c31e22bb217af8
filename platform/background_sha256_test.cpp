#include "platform/background_sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Bytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 + seed + i / 977);
  return bytes;
}

// One buffer is reused for every piece as soon as WaitFor allows it: a hasher that read a
// piece late, or out of order, would give another digest.
TEST(BackgroundSha256, HashesEachPieceInOrderBeforeItsBufferIsReused) {
  const std::vector<std::vector<std::size_t>> streams = {
      {}, {0}, {1}, {64, 0, 63, 65}, {256 * 1024, 1, 256 * 1024 - 1, 3000}};
  for (const std::vector<std::size_t>& pieces : streams) {
    platform::Sha256 direct;
    platform::BackgroundSha256 background;
    std::string buffer;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      const std::string piece = Bytes(pieces[i], static_cast<unsigned>(i));
      direct.Update(piece.data(), piece.size());
      buffer.assign(piece);
      background.WaitFor(background.Hash(buffer.data(), buffer.size()));
      buffer.assign(buffer.size(), '\xff');
    }
    EXPECT_EQ(background.Finish(), direct.Finish()) << pieces.size() << " pieces";
  }
  const std::string left = Bytes(1 << 20, 7);
  platform::BackgroundSha256 abandoned;  // ends without a digest, once the piece it holds is hashed
  abandoned.Hash(left.data(), left.size());
  EXPECT_EQ(abandoned.Hash(left.data(), 0), 2u);
}

}  // namespace
