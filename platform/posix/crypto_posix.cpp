// SHA-256 and ECDSA P-256 on OpenSSL 3's libcrypto.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <stdexcept>

#include "platform/crypto.h"

namespace platform {
namespace {

template <auto Free>
struct Deleter {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using Pkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG_free>>;

constexpr std::size_t kScalarBytes = 32;

Pkey ImportPublicKey(const P256PublicPoint& point) {
  PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!context || EVP_PKEY_fromdata_init(context.get()) != 1) return nullptr;
  char group[] = "prime256v1";
  P256PublicPoint octets = point;  // OSSL_PARAM takes a non-const pointer
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, octets.data(), octets.size()),
      OSSL_PARAM_construct_end()};
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1) return nullptr;
  return Pkey(key);
}

// libcrypto verifies DER-encoded signatures; the raw r||s form is re-encoded first.
std::basic_string<unsigned char> DerSignature(const P256Signature& raw) {
  EcdsaSig sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(raw.data(), kScalarBytes, nullptr);
  BIGNUM* s = BN_bin2bn(raw.data() + kScalarBytes, kScalarBytes, nullptr);
  if (!sig || r == nullptr || s == nullptr || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return {};
  }
  unsigned char* der = nullptr;
  const int length = i2d_ECDSA_SIG(sig.get(), &der);
  if (length <= 0) return {};
  std::basic_string<unsigned char> result(der, static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return result;
}

}  // namespace

struct Sha256::Impl {
  MdContext context{EVP_MD_CTX_new()};
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
  if (!impl_->context || EVP_DigestInit_ex(impl_->context.get(), EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 is not available");
  }
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  if (EVP_DigestUpdate(impl_->context.get(), data, size) != 1) {
    throw std::runtime_error("SHA-256 update failed");
  }
}

Sha256Digest Sha256::Finish() {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(impl_->context.get(), digest.data(), &length) != 1 ||
      length != digest.size()) {
    throw std::runtime_error("SHA-256 finish failed");
  }
  return digest;
}

bool VerifyP256Signature(const P256PublicPoint& publicKey, std::string_view message,
                         const P256Signature& signature) {
  const Pkey key = ImportPublicKey(publicKey);
  const auto der = DerSignature(signature);
  MdContext context(EVP_MD_CTX_new());
  if (!key || der.empty() || !context) return false;
  if (EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
    return false;
  }
  return EVP_DigestVerify(context.get(), der.data(), der.size(),
                          reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1;
}

}  // namespace platform
