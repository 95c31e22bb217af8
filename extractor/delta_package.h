// Unpacking a delta package: a solid package (solid_package.h) whose first entry is the
// delta list (delta_manifest.h), followed by the patches and whole files the list names, in
// its order. The new tree is made from the installed tree and those entries; every old file
// is checked against its SHA-256 before use and every new file after it is made, so the
// tree is the release's or the unpacking fails.
#pragma once

#include <string>

#include "entry_writer.h"
#include "extract.h"

namespace unpack {

// Whether the file at path is a solid package that starts with a delta list; false when it
// is not, or cannot be read.
bool IsDeltaPackage(const std::wstring& path);

// Makes the tree of the delta package at archivePath below destination (ending with a
// separator; created when missing) from the installed tree in base (ending with a
// separator), which is only read. Returns kExtractUnreadable when the package cannot be read,
// is damaged, its list is malformed or does not match its entries, or a limit is passed
// (nothing is then written); kExtractEntriesFailed at the first file that cannot be made (an
// old file missing or changed, a patch that does not apply, a new file of another size or
// hash, a write that fails), named on standard error, with the files before it left written;
// kExtractDone when every file of the list was made.
ExtractStatus UnpackDelta(const std::wstring& archivePath, const std::wstring& destination,
                          const std::wstring& base, const UnpackLimits& limits = {});

}  // namespace unpack
