#include "platform/crypto.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

template <std::size_t N>
std::array<std::uint8_t, N> FromHex(const std::string& hex) {
  std::array<std::uint8_t, N> bytes{};
  for (std::size_t i = 0; i < N; ++i) {
    bytes[i] = static_cast<std::uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  }
  return bytes;
}

std::string HashOf(const std::string& text, std::size_t pieceSize) {
  Sha256 hash;
  for (std::size_t i = 0; i < text.size(); i += pieceSize) {
    hash.Update(text.data() + i, std::min(pieceSize, text.size() - i));
  }
  return HexDigest(hash.Finish());
}

TEST(Sha256Test, KnownDigestsWhateverThePieces) {
  EXPECT_EQ(HashOf("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(HashOf("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string million(1000000, 'a');
  for (const std::size_t piece : {std::size_t{1000000}, std::size_t{1024}, std::size_t{7}}) {
    EXPECT_EQ(HashOf(million, piece),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  }
}

// A throw-away key's public point and its signature of kMessage; the private key was not kept.
const std::string kMessage = "Kivo9Signed:1\nv=1204\n";
const P256PublicPoint kKey = FromHex<65>(
    "048b77a9d08fa006854017d3a8757d4173317c26cfb5507503b822b586fbb6b644"
    "21962a84d53346acd257e59928de41291c4a4c6d7d7e40b14a1d2eb3210b4303");
const P256Signature kSignature = FromHex<64>(
    "ab59982308d8c315545bf872fb82eec62595f5b031936d4ff4c71bd30d405507"
    "43f809ef9e94fdb1358340512fc259f6bcb4f0109e30c6ba6469e5eee402bbbf");

TEST(P256SignatureTest, AcceptsOnlyTheSignedBytesUnderTheirKey) {
  EXPECT_TRUE(VerifyP256Signature(kKey, kMessage, kSignature));

  std::string message = kMessage;
  message[5] ^= 0x01;
  EXPECT_FALSE(VerifyP256Signature(kKey, message, kSignature));
  EXPECT_FALSE(VerifyP256Signature(kKey, kMessage + "\n", kSignature));

  for (const std::size_t byte : {std::size_t{0}, std::size_t{40}, std::size_t{63}}) {
    P256Signature signature = kSignature;
    signature[byte] ^= 0x80;
    EXPECT_FALSE(VerifyP256Signature(kKey, kMessage, signature)) << byte;
  }
  EXPECT_FALSE(VerifyP256Signature(kKey, kMessage, P256Signature{}));

  P256PublicPoint offCurve = kKey;
  offCurve[64] ^= 0x01;
  EXPECT_FALSE(VerifyP256Signature(offCurve, kMessage, kSignature));
  P256PublicPoint compressedTag = kKey;
  compressedTag[0] = 0x02;
  EXPECT_FALSE(VerifyP256Signature(compressedTag, kMessage, kSignature));
}

}  // namespace
}  // namespace platform
