#include "agent/trust/signed_block.h"

#include <algorithm>
#include <cstring>

#include "agent/trust/base64.h"
#include "platform/numbers.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kBlockStart = "Kivo9Signed:1\n";
constexpr std::string_view kSignatureStart = "\nKivo9Sig:k";
constexpr std::string_view kBlockEnd = "\n:Kivo9SignedEnd";

using platform::ParseDecimal;

bool IsPackageNameChar(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// "name size sha256", name "-" for the generic package.
std::optional<SignedPackage> ParsePackageLine(std::string_view value) {
  const std::size_t first = value.find(' ');
  const std::size_t second = first == std::string_view::npos ? first : value.find(' ', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const std::string_view name = value.substr(0, first);
  const auto size = ParseDecimal(value.substr(first + 1, second - first - 1));
  const auto digest = platform::ParseHexDigest(value.substr(second + 1));
  if (name.empty() || !size || !digest) return std::nullopt;
  if (name != "-" && !std::all_of(name.begin(), name.end(), IsPackageNameChar)) {
    return std::nullopt;
  }
  return SignedPackage{name == "-" ? L"" : platform::FromUtf8(name), *size, *digest};
}

// "<name> <start> <size> <sha256> <file list sha256>"
std::optional<SignedDelta> ParseDeltaLine(std::string_view value) {
  const std::size_t first = value.find(' ');
  const std::size_t second = first == std::string_view::npos ? first : value.find(' ', first + 1);
  const std::size_t last = value.rfind(' ');
  if (second == std::string_view::npos || last <= second) return std::nullopt;
  const std::string_view start = value.substr(first + 1, second - first - 1);
  const auto package = ParsePackageLine(std::string(value.substr(0, first)) +
                                        std::string(value.substr(second, last - second)));
  const auto resultList = platform::ParseHexDigest(value.substr(last + 1));
  if (!package || !resultList || start.size() > 10 || !ParseDecimal(start)) return std::nullopt;
  return SignedDelta{*package, platform::FromUtf8(start), *resultList};
}

int DaysFromCivil(int year, int month, int day) {
  // Howard Hinnant's days_from_civil, for the proleptic Gregorian calendar.
  year -= month <= 2 ? 1 : 0;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const int yearOfEra = year - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Stores a once-only field; false when it was set before.
bool SetOnce(std::optional<std::string>& field, std::string_view value) {
  if (field) return false;
  field.emplace(value);
  return true;
}

bool IsSalt(std::string_view text) {
  return text.size() >= 16 && text.size() <= 64 &&
         std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The rollout lines once the block's lines are read; why not when they do not hold.
Outcome ReadRollout(const std::optional<std::string>& share, const std::optional<std::string>& salt,
                    const std::optional<std::string>& previous, SignedRollout& rollout) {
  if (share) {
    const auto basisPoints = ParseDecimal(*share, kWholeFleet);
    if (!basisPoints) return Outcome::No("malformed share");
    rollout.share = static_cast<std::uint32_t>(*basisPoints);
  }
  if (salt && !IsSalt(*salt)) return Outcome::No("malformed salt");
  if (!salt && rollout.share > 0 && rollout.share < kWholeFleet) {
    return Outcome::No("a share without a salt");
  }
  rollout.salt = salt.value_or("");
  // The release before is asked for by its number, as every release is.
  if (previous && (previous->size() > 10 || !ParseDecimal(*previous, INT32_MAX))) {
    return Outcome::No("malformed prev");
  }
  if (!previous && !rollout.previousPackages.empty()) return Outcome::No("prevpkg without prev");
  rollout.previousVersion = previous.value_or("");
  return {};
}

}  // namespace

OrWhy<SignedBlock> FindSignedBlock(std::string_view page) {
  const std::size_t start = page.find(kBlockStart);
  if (start == std::string_view::npos) {
    return Outcome::No("no signed block");
  }
  const std::size_t signature = page.find(kSignatureStart, start + kBlockStart.size() - 1);
  const std::size_t end = signature == std::string_view::npos
                              ? signature
                              : page.find(kBlockEnd, signature + kSignatureStart.size());
  if (end == std::string_view::npos) {
    return Outcome::No("signed block without signature or end");
  }
  // "k1:<base64>" between the signature's start and the block's end, on one line.
  const std::string_view line =
      page.substr(signature + kSignatureStart.size(), end - signature - kSignatureStart.size());
  SignedBlock block;
  block.signedBytes = std::string(page.substr(start, signature + 1 - start));
  block.keySlot =
      line.size() >= 2 && line[1] == ':' && (line[0] == '1' || line[0] == '2') ? line[0] - '0' : 0;
  const auto raw = block.keySlot != 0 ? DecodeBase64(line.substr(2)) : std::nullopt;
  if (!raw || raw->size() != block.signature.size()) {
    return Outcome::No("malformed signature line");
  }
  std::memcpy(block.signature.data(), raw->data(), block.signature.size());
  return block;
}

OrWhy<SignedFields> ParseSignedFields(std::string_view signedBytes) {
  if (signedBytes.substr(0, kBlockStart.size()) != kBlockStart || signedBytes.back() != '\n') {
    return Outcome::No("malformed signed bytes");
  }
  std::optional<std::string> channel, version, sequence, expires, share, salt, previous;
  SignedFields fields;
  const auto fail = [](std::string why) { return Outcome::No(std::move(why)); };
  for (std::size_t at = kBlockStart.size(); at < signedBytes.size();) {
    const std::size_t lineEnd = signedBytes.find('\n', at);
    const std::string_view line = signedBytes.substr(at, lineEnd - at);
    at = lineEnd + 1;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return fail("signed line without '='");
    const std::string_view key = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    bool fresh = true;
    if (key == "chan") fresh = SetOnce(channel, value);
    if (key == "v") fresh = SetOnce(version, value);
    if (key == "seq") fresh = SetOnce(sequence, value);
    if (key == "exp") fresh = SetOnce(expires, value);
    if (key == "share") fresh = SetOnce(share, value);
    if (key == "salt") fresh = SetOnce(salt, value);
    if (key == "prev") fresh = SetOnce(previous, value);
    if (!fresh) return fail("signed field given twice: " + std::string(key));
    if (key == "delta") {
      auto delta = ParseDeltaLine(value);
      if (!delta) return fail("malformed delta line");
      if (fields.Delta(delta->package.name, delta->start)) return fail("delta line given twice");
      fields.deltas.push_back(std::move(*delta));
      continue;
    }
    if (key != "pkg" && key != "prevpkg" && key != "solid") continue;
    auto package = ParsePackageLine(value);
    if (!package) return fail("malformed " + std::string(key) + " line");
    auto& list = key == "pkg"     ? fields.packages
                 : key == "solid" ? fields.solidPackages
                                  : fields.rollout.previousPackages;
    for (const SignedPackage& listed : list) {
      if (listed.name == package->name) return fail(std::string(key) + " line given twice");
    }
    list.push_back(std::move(*package));
  }
  if (!channel || !version || !sequence || !expires) return fail("signed field missing");
  if (Outcome rollout = ReadRollout(share, salt, previous, fields.rollout); !rollout)
    return rollout;
  // The release before is what the others keep or go back to: a newer one would spread a
  // build ahead of the release, and under a halt the very build being halted or a later one.
  if (previous) {
    const auto release = ParseDecimal(*version, INT32_MAX);
    if (!release || *ParseDecimal(*previous) >= *release) {
      return fail("prev " + *previous + " is not older than the release " + *version);
    }
  }
  const auto sequenceNumber = ParseDecimal(*sequence);
  const auto expiry = ParseUtcTime(*expires);
  if (!sequenceNumber) return fail("malformed seq");
  if (!expiry) return fail("malformed exp");
  fields.channel = std::move(*channel);
  fields.version = std::move(*version);
  fields.sequence = *sequenceNumber;
  fields.expires = *expiry;
  return fields;
}

namespace {

const SignedPackage* Named(const std::vector<SignedPackage>& list, const std::wstring& name) {
  for (const SignedPackage& package : list) {
    if (package.name == name) return &package;
  }
  return nullptr;
}

}  // namespace

const SignedPackage* SignedFields::Package(const std::wstring& name) const {
  return Named(packages, name);
}

const SignedPackage* SignedFields::SolidPackage(const std::wstring& name) const {
  return Named(solidPackages, name);
}

const SignedDelta* SignedFields::Delta(const std::wstring& name, const std::wstring& start) const {
  for (const SignedDelta& delta : deltas) {
    if (delta.package.name == name && delta.start == start) return &delta;
  }
  return nullptr;
}

std::optional<std::int64_t> ParseUtcTime(std::string_view text) {
  // Positions: YYYY-MM-DDTHH:MM:SSZ
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  auto number = [&text](std::size_t at, std::size_t length) {
    const std::string_view digits = text.substr(at, length);
    const auto value = ParseDecimal(digits);
    return value ? static_cast<int>(*value) : -1;
  };
  const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  return std::int64_t{DaysFromCivil(year, month, day)} * 86400 + hour * 3600 + minute * 60 + second;
}
