// The signed block of a version page: an HTML comment after the version markers that carries
// the release's fields and the vendor's signature over them.
//
//   Kivo9Signed:1
//   chan=testver
//   v=1204
//   seq=1765238400
//   exp=2027-01-31T00:00:00Z
//   pkg=zhcn 7340032 <64 lower-case hex digits>
//   pkg=- 7338800 <...>            ("-" is the generic package, whose name is empty)
//   solid=zhcn 5242880 <...>       (the same tree as a solid package; older agents ignore it)
//   delta=zhcn 1203 409600 <...> <...>  (the tree made from release 1203's, and the SHA-256
//                                        of the file list of the tree it makes)
//   Kivo9Sig:k1:<base64 of the 64-byte signature r||s>
//   :Kivo9SignedEnd
//
// The signed bytes run from "Kivo9Signed:1" through the line feed before "Kivo9Sig:". Reading
// is split in two so that no field is looked at before the signature has been checked.
// Plain text in, no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"
#include "platform/outcome.h"

struct SignedBlock {
  std::string signedBytes;  // exactly as they stand in the page
  int keySlot = 0;          // 1 or 2: which built-in key signed them
  platform::P256Signature signature{};
};

// The first signed block of page, or why there is none ("no signed block", or what is wrong
// with the block's frame).
OrWhy<SignedBlock> FindSignedBlock(std::string_view page);

// A package the release offers: its name ("" for the generic one), size and SHA-256.
struct SignedPackage {
  std::wstring name;
  std::uint64_t size = 0;
  platform::Sha256Digest sha256{};
};

// A delta package: the release's tree of a package name made from the tree of an earlier
// release (start, decimal digits) and the installation's files.
struct SignedDelta {
  SignedPackage package;  // its name, size and SHA-256
  std::wstring start;
  platform::Sha256Digest resultList{};  // of the Resource/files.lst of the tree it makes
};

// Basis points: 10,000 is every installation.
inline constexpr std::uint32_t kWholeFleet = 10000;

// How far the release is rolled out, when the block says so (share=, salt=, prev=, prevpkg=
// lines, which agents before them ignore).
struct SignedRollout {
  std::uint32_t share = kWholeFleet;  // basis points of installations that take the release;
                                      // 0 halts it
  std::string salt;                   // drawn per release, so each release has its own cohort
  std::string previousVersion;        // the release before, for those outside; "" for none
  std::vector<SignedPackage> previousPackages;
};

struct SignedFields {
  std::string channel;  // "ver" or "testver" (any text is read; callers compare)
  std::string version;  // as the marker carries it
  std::uint64_t sequence = 0;
  std::int64_t expires = 0;  // seconds since 1970-01-01T00:00:00Z
  std::vector<SignedPackage> packages;
  std::vector<SignedPackage> solidPackages;  // solid= lines: the trees of packages, solid
  std::vector<SignedDelta> deltas;           // delta= lines
  SignedRollout rollout;
  platform::Sha256Digest signedBytesSha256{};  // of the bytes the fields were read from

  // The package of that name, or nullptr when the release has none.
  const SignedPackage* Package(const std::wstring& name) const;
  // The solid package of that name, or nullptr when the release has none.
  const SignedPackage* SolidPackage(const std::wstring& name) const;
  // The delta package of that name from release start, or nullptr when the release has none.
  const SignedDelta* Delta(const std::wstring& name, const std::wstring& start) const;
};

// The fields of verified signed bytes: "key=value" lines, unknown keys ignored, chan, v, seq
// and exp exactly once each, pkg and solid once per name, delta once per name and start; share (0
// to 10000), salt (16 to 64 lower-case hex digits, needed by a share between), prev (a release
// number) at most once, prevpkg once per name and only with prev. Why not when they do not hold.
OrWhy<SignedFields> ParseSignedFields(std::string_view signedBytes);

// "YYYY-MM-DDTHH:MM:SSZ" as seconds since the epoch; nullopt for any other form or a
// field out of range.
std::optional<std::int64_t> ParseUtcTime(std::string_view text);
