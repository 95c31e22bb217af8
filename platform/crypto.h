// Cryptography from the platform: SHA-256 and ECDSA P-256 signature checks. Windows uses CNG
// (bcrypt.dll, as available from Windows 7 on); elsewhere OpenSSL's libcrypto. Nothing here
// implements a primitive itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

using Sha256Digest = std::array<std::uint8_t, 32>;

// An uncompressed P-256 public point: 0x04, then X and Y, 32 bytes each, big-endian.
using P256PublicPoint = std::array<std::uint8_t, 65>;

// A raw ECDSA P-256 signature: r then s, 32 bytes each, big-endian.
using P256Signature = std::array<std::uint8_t, 64>;

// A SHA-256 computation fed in pieces. Throws std::runtime_error when the platform cannot
// provide the algorithm (construction) or fails during it (Update, Finish).
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, std::size_t size);
  // The digest of everything fed so far. Call once; the object is spent afterwards.
  Sha256Digest Finish();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The digest as 64 lower-case hexadecimal digits.
std::string HexDigest(const Sha256Digest& digest);

// The SHA-256 of the file at path, read in blocks; nullopt when it cannot be read whole
// (missing included) or the platform cannot hash (its crypto library is missing, say).
std::optional<Sha256Digest> Sha256OfFile(const std::wstring& path);

// Fills out with size bytes from the system's cryptographic random source. False when the
// source fails; out is then not to be used.
bool RandomBytes(void* out, std::size_t size);

// Does the crypto library's one-time set-up now (loading its algorithms costs about a
// millisecond at their first use), so that it can overlap other work. Safe on any thread,
// any number of times; failures are left for the real calls to meet.
void PrepareCrypto();

// True when signature is a valid ECDSA signature with SHA-256 of message under the public
// key. False for a wrong signature, a point that is not on the curve, and any platform
// failure: the caller cannot tell these apart and must not need to.
bool VerifyP256Signature(const P256PublicPoint& publicKey, std::string_view message,
                         const P256Signature& signature);

}  // namespace platform
