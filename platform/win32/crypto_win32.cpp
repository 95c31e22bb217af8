// SHA-256 and ECDSA P-256 on CNG, with the calls Windows 7 already has: hashes through
// BCryptCreateHash with memory CNG manages, every handle from an opened provider.
#include <windows.h>
// bcrypt.h needs the types of windows.h.
#include <bcrypt.h>

#include <climits>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/crypto.h"
#include "platform/unique_handle.h"

namespace platform {
namespace {

constexpr std::size_t kCoordinateBytes = 32;

bool CloseProvider(BCRYPT_ALG_HANDLE provider) {
  return BCRYPT_SUCCESS(BCryptCloseAlgorithmProvider(provider, 0));
}
bool DestroyHash(BCRYPT_HASH_HANDLE hash) { return BCRYPT_SUCCESS(BCryptDestroyHash(hash)); }
bool DestroyKey(BCRYPT_KEY_HANDLE key) { return BCRYPT_SUCCESS(BCryptDestroyKey(key)); }
using ProviderHandle = UniqueHandle<BCRYPT_ALG_HANDLE, CloseProvider>;
using HashHandle = UniqueHandle<BCRYPT_HASH_HANDLE, DestroyHash>;
using KeyHandle = UniqueHandle<BCRYPT_KEY_HANDLE, DestroyKey>;

// The provider of algorithm; one that holds nothing when it cannot be opened.
ProviderHandle OpenProvider(const wchar_t* algorithm) {
  ProviderHandle provider;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(provider.out(), algorithm, nullptr, 0))) {
    provider.Detach();  // what a failed opening left there is no handle
  }
  return provider;
}

// BCRYPT_ECCKEY_BLOB followed by X and Y.
std::vector<UCHAR> PublicKeyBlob(const P256PublicPoint& point) {
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinateBytes};
  std::vector<UCHAR> blob(sizeof(header) + 2 * kCoordinateBytes);
  std::memcpy(blob.data(), &header, sizeof(header));
  std::memcpy(blob.data() + sizeof(header), point.data() + 1, 2 * kCoordinateBytes);
  return blob;
}

Sha256Digest DigestOf(std::string_view message) {
  Sha256 hash;
  hash.Update(message.data(), message.size());
  return hash.Finish();
}

}  // namespace

struct Sha256::Impl {
  ProviderHandle provider = OpenProvider(BCRYPT_SHA256_ALGORITHM);
  HashHandle hash;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
  if (impl_->provider.get() == nullptr ||
      !BCRYPT_SUCCESS(
          BCryptCreateHash(impl_->provider.get(), impl_->hash.out(), nullptr, 0, nullptr, 0, 0))) {
    throw std::runtime_error("SHA-256 is not available");
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  // BCryptHashData takes 32-bit lengths.
  auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
  while (size > 0) {
    const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
    if (!BCRYPT_SUCCESS(BCryptHashData(impl_->hash.get(), bytes, piece, 0))) {
      throw std::runtime_error("SHA-256 update failed");
    }
    bytes += piece;
    size -= piece;
  }
}

Sha256Digest Sha256::Finish() {
  Sha256Digest digest{};
  if (!BCRYPT_SUCCESS(BCryptFinishHash(impl_->hash.get(), digest.data(), digest.size(), 0))) {
    throw std::runtime_error("SHA-256 finish failed");
  }
  return digest;
}

void PrepareCrypto() {
  // Opening the providers loads the primitives library; later openings find it loaded.
  const ProviderHandle hash = OpenProvider(BCRYPT_SHA256_ALGORITHM);
  const ProviderHandle signature = OpenProvider(BCRYPT_ECDSA_P256_ALGORITHM);
}

bool VerifyP256Signature(const P256PublicPoint& publicKey, std::string_view message,
                         const P256Signature& signature) {
  if (publicKey[0] != 0x04) return false;
  const ProviderHandle provider = OpenProvider(BCRYPT_ECDSA_P256_ALGORITHM);
  if (provider.get() == nullptr) return false;
  std::vector<UCHAR> blob = PublicKeyBlob(publicKey);
  KeyHandle key;
  if (!BCRYPT_SUCCESS(BCryptImportKeyPair(provider.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.out(),
                                          blob.data(), static_cast<ULONG>(blob.size()), 0))) {
    return false;
  }
  Sha256Digest digest;
  try {
    digest = DigestOf(message);
  } catch (const std::runtime_error&) {
    return false;
  }
  P256Signature raw = signature;
  return BCRYPT_SUCCESS(BCryptVerifySignature(key.get(), nullptr, digest.data(), digest.size(),
                                              raw.data(), raw.size(), 0));
}

bool RandomBytes(void* out, std::size_t size) {
  const ProviderHandle provider = OpenProvider(BCRYPT_RNG_ALGORITHM);
  return provider.get() != nullptr && size <= ULONG_MAX &&
         BCRYPT_SUCCESS(BCryptGenRandom(provider.get(), static_cast<PUCHAR>(out),
                                        static_cast<ULONG>(size), 0));
}

}  // namespace platform
