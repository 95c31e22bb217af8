// The one fetch loop of a package: each of its URLs in turn, until one gives the package.
#pragma once

#include <cstdint>
#include <string>

#include "agent/base/refusal_report.h"
#include "agent/http/transfer_limits.h"
#include "agent/package/kept_package.h"
#include "agent/package/package_plan.h"
#include "platform/outcome.h"

// Where a fetched package goes, and who is told of it.
struct FetchPlace {
  std::wstring target;  // the package file
  // Where a signed package's bytes are kept from run to run; nullptr: nowhere. Unused for a
  // package without a signed file.
  KeptPackage* kept = nullptr;
  DownloadProgress* progress = nullptr;  // told as the package arrives; may be nullptr
  RefusalReport refused;                 // told why a download was refused, by its URL
};

// The most bytes a package of unknown size may take in directory: the build's limit, and
// no more than leaves kPackageFreeSpaceReserve free on its volume.
std::uint64_t PackageSizeLimit(const std::wstring& directory);
inline constexpr std::uint64_t kPackageFreeSpaceReserve = 64ull << 20;

// Fetches package into place.target from each of its URLs in turn. Done when one stored a
// whole body that met the package's terms; else why the last URL did not. A failed or
// refused download removes what it wrote to the target, so no partial package stays behind.
//
// Where the bytes go is the one choice a URL's attempt makes: a signed package with a place
// to keep it goes into the kept bytes, on from what an earlier run left when they can be
// proved, and is moved to the target once whole; a cut leaves its bytes kept for the next
// run, and kept bytes proved wrong are dropped and the same URL asked once more from zero.
// Where nothing can be kept (no place, or its file cannot be written), the body goes straight
// into the target. A signed package must be whole within PackageDeadline of its size, for
// all its URLs together.
Outcome FetchPackage(const PlannedPackage& package, const FetchPlace& place);
