#include "agent/http/background_hash.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Whatever the pieces and however many blocks they fill, the digest is that of the bytes.
TEST(BackgroundSha256, DigestsAsTheDirectHashWhateverThePieces) {
  constexpr std::size_t kBlock = 256 * 1024;
  for (const std::size_t total : {std::size_t{0}, std::size_t{1}, kBlock - 1, kBlock, kBlock + 1,
                                  9 * kBlock + 7}) {
    std::string bytes(total, '\0');
    for (std::size_t i = 0; i < total; ++i) bytes[i] = static_cast<char>(i * 131 + i / 977);
    platform::Sha256 direct;
    direct.Update(bytes.data(), bytes.size());
    const platform::Sha256Digest expected = direct.Finish();
    for (const std::size_t piece : {std::size_t{1000}, kBlock + 3, total + 1}) {
      BackgroundSha256 hash;
      for (std::size_t at = 0; at < total; at += piece) {
        hash.Update(bytes.data() + at, std::min(piece, total - at));
      }
      EXPECT_EQ(hash.Finish(), expected) << total << " bytes in pieces of " << piece;
    }
  }
  BackgroundSha256 abandoned;  // ends without a digest
  abandoned.Update("x", 1);
}

}  // namespace
