// SHA-256 and ECDSA P-256 on OpenSSL 3's libcrypto, loaded at its first use. Only a pending
// update needs the launcher to hash, and binding libcrypto (tens of thousands of relocations)
// at every start of the browser took a third of the launcher's time. Without the library
// every hash fails and no signature verifies: the callers then refuse what they check.
#include <dlfcn.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <sys/random.h>

#include <cerrno>
#include <stdexcept>

#include "platform/crypto.h"

namespace platform {
namespace {

// Every function used, declared with the library's own prototypes.
// One function a line: the formatter would refill the list differently at every run.
// clang-format off
#define KIVO_LIBCRYPTO_FUNCTIONS(F) \
  F(BN_bin2bn) \
  F(BN_free) \
  F(CRYPTO_free) \
  F(ECDSA_SIG_free) \
  F(ECDSA_SIG_new) \
  F(ECDSA_SIG_set0) \
  F(EVP_DigestFinal_ex) \
  F(EVP_DigestInit_ex) \
  F(EVP_DigestUpdate) \
  F(EVP_DigestVerify) \
  F(EVP_DigestVerifyInit) \
  F(EVP_MD_CTX_free) \
  F(EVP_MD_CTX_new) \
  F(EVP_PKEY_CTX_free) \
  F(EVP_PKEY_CTX_new_from_name) \
  F(EVP_PKEY_free) \
  F(EVP_PKEY_fromdata) \
  F(EVP_PKEY_fromdata_init) \
  F(EVP_sha256) \
  F(OSSL_PARAM_construct_end) \
  F(OSSL_PARAM_construct_octet_string) \
  F(OSSL_PARAM_construct_utf8_string) \
  F(i2d_ECDSA_SIG)
// clang-format on

struct Libcrypto {
#define KIVO_DECLARE(name) decltype(&::name) name = nullptr;
  KIVO_LIBCRYPTO_FUNCTIONS(KIVO_DECLARE)
#undef KIVO_DECLARE
  bool loaded = false;
};

// The library, loaded once and kept for the life of the process; loaded is false when it or
// one of its functions is missing.
const Libcrypto& Crypto() {
  static const Libcrypto library = [] {
    Libcrypto lib;
    void* handle = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return lib;
    bool all = true;
#define KIVO_RESOLVE(name)                                               \
  lib.name = reinterpret_cast<decltype(lib.name)>(dlsym(handle, #name)); \
  all = all && lib.name != nullptr;
    KIVO_LIBCRYPTO_FUNCTIONS(KIVO_RESOLVE)
#undef KIVO_RESOLVE
    lib.loaded = all;
    return lib;
  }();
  return library;
}

template <typename T, void (*Libcrypto::*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { (Crypto().*Free)(p); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, &Libcrypto::EVP_MD_CTX_free>>;
using PkeyContext =
    std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, &Libcrypto::EVP_PKEY_CTX_free>>;
using Pkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, &Libcrypto::EVP_PKEY_free>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, &Libcrypto::ECDSA_SIG_free>>;

constexpr std::size_t kScalarBytes = 32;

Pkey ImportPublicKey(const Libcrypto& c, const P256PublicPoint& point) {
  PkeyContext context(c.EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!context || c.EVP_PKEY_fromdata_init(context.get()) != 1) return nullptr;
  char group[] = "prime256v1";
  P256PublicPoint octets = point;  // OSSL_PARAM takes a non-const pointer
  OSSL_PARAM params[] = {
      c.OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
      c.OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, octets.data(), octets.size()),
      c.OSSL_PARAM_construct_end()};
  EVP_PKEY* key = nullptr;
  if (c.EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1) return nullptr;
  return Pkey(key);
}

// libcrypto verifies DER-encoded signatures; the raw r||s form is re-encoded first.
std::basic_string<unsigned char> DerSignature(const Libcrypto& c, const P256Signature& raw) {
  EcdsaSig sig(c.ECDSA_SIG_new());
  BIGNUM* r = c.BN_bin2bn(raw.data(), kScalarBytes, nullptr);
  BIGNUM* s = c.BN_bin2bn(raw.data() + kScalarBytes, kScalarBytes, nullptr);
  if (!sig || r == nullptr || s == nullptr || c.ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    c.BN_free(r);
    c.BN_free(s);
    return {};
  }
  unsigned char* der = nullptr;
  const int length = c.i2d_ECDSA_SIG(sig.get(), &der);
  if (length <= 0) return {};
  std::basic_string<unsigned char> result(der, static_cast<std::size_t>(length));
  c.CRYPTO_free(der, OPENSSL_FILE, OPENSSL_LINE);
  return result;
}

}  // namespace

struct Sha256::Impl {
  MdContext context;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
  const Libcrypto& c = Crypto();
  if (c.loaded) impl_->context.reset(c.EVP_MD_CTX_new());
  if (!impl_->context || c.EVP_DigestInit_ex(impl_->context.get(), c.EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 is not available");
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  if (Crypto().EVP_DigestUpdate(impl_->context.get(), data, size) != 1) {
    throw std::runtime_error("SHA-256 update failed");
  }
}

Sha256Digest Sha256::Finish() {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (Crypto().EVP_DigestFinal_ex(impl_->context.get(), digest.data(), &length) != 1 ||
      length != digest.size()) {
    throw std::runtime_error("SHA-256 finish failed");
  }
  return digest;
}

void PrepareCrypto() {
  const Libcrypto& c = Crypto();
  if (!c.loaded) return;
  MdContext digest(c.EVP_MD_CTX_new());
  if (digest) c.EVP_DigestInit_ex(digest.get(), c.EVP_sha256(), nullptr);
  PkeyContext key(c.EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
}

bool VerifyP256Signature(const P256PublicPoint& publicKey, std::string_view message,
                         const P256Signature& signature) {
  const Libcrypto& c = Crypto();
  if (!c.loaded) return false;
  const Pkey key = ImportPublicKey(c, publicKey);
  const auto der = DerSignature(c, signature);
  MdContext context(c.EVP_MD_CTX_new());
  if (!key || der.empty() || !context) return false;
  if (c.EVP_DigestVerifyInit(context.get(), nullptr, c.EVP_sha256(), nullptr, key.get()) != 1) {
    return false;
  }
  return c.EVP_DigestVerify(context.get(), der.data(), der.size(),
                            reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

// The kernel's source: no library needed, and it blocks only until the pool is first seeded.
bool RandomBytes(void* out, std::size_t size) {
  auto* at = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t got = getrandom(at, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    at += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace platform
