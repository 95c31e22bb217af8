// The signed block of a version page, read as the agent reads it before and after the
// signature check: its frame, its fields, base64, and the whole trust decision.
#include <cstddef>
#include <cstdint>

#include "agent/trust/base64.h"
#include "agent/trust/page_trust.h"
#include "fuzz_input.h"

namespace {

std::string EncodeBase64(const std::string& bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      bits = bits << 8 | (k < n ? static_cast<std::uint8_t>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      text += k <= n ? kAlphabet[(bits >> (18 - 6 * k)) & 0x3F] : '=';
    }
  }
  return text;
}

// A key whose private half is gone: nothing the fuzzer makes can carry its signature.
const ReleaseKeys kKeys = ReleaseKeysFrom(
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEi3ep0I+gBoVAF9OodX1BczF8Js+1"
    "UHUDuCK1hvu2tkQhliqE1TNGrNJX5Zko3kEpHEpMbX1+QLFKHS6zIQtDAw==",
    "");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view page = fuzz::Bytes(data, size);
  if (const auto block = FindSignedBlock(page)) {
    fuzz::Require(page.find(block->signedBytes) != std::string_view::npos,
                  "the signed bytes stand in the page");
    fuzz::Require(block->signedBytes.rfind("Kivo9Signed:1\n", 0) == 0, "they start the block");
    fuzz::Require(block->keySlot == 1 || block->keySlot == 2, "the slot is 1 or 2");
  } else {
    fuzz::Require(!block.why().empty(), "a refusal says why");
  }
  // The fields as if the signature held.
  if (const auto fields = ParseSignedFields(page)) {
    for (const SignedPackage& package : fields->packages) {
      fuzz::Require(fields->Package(package.name) == &package, "one line per package name");
    }
    fuzz::Require(fields->expires >= 0, "no expiry before 1970");
  }
  // Base64 is read one way only: what decodes encodes back to the same text.
  if (const auto decoded = DecodeBase64(page)) {
    fuzz::Require(EncodeBase64(*decoded) == page, "base64 decodes canonically");
  }
  const PageExpectation expected{"testver", L"1204", 0};
  fuzz::Require(!TrustedPageFields(page, expected, kKeys), "nothing unsigned is trusted");
  return 0;
}
