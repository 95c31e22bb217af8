// Unpacking a zip package into a destination directory, on zlib, the same on every build:
// stored and deflated entries only, every entry's CRC-32 and size checked before it takes its
// name, and limits that a hostile archive cannot get past.
#pragma once

#include <cstdint>
#include <string>

#include "entry_writer.h"
#include "extract.h"

namespace unpack {

// Unpacks every entry of the zip archive at archivePath below destination (ending with a
// separator; created when missing), overwriting files of the same name. Returns
// kExtractUnreadable when the archive cannot be opened, is no zip archive, its directory is
// damaged, or it passes a limit (then nothing is written); kExtractEntriesFailed when some
// entries were refused (a name the rules of entry_rules.h refuse, a name that differs from
// an earlier one only in case, encryption, a method other than stored or deflate) or failed
// (damaged data, a size or CRC-32 other than the directory says): each is named on standard
// error and leaves no file under its name; the others are unpacked. kExtractDone otherwise.
ExtractStatus UnpackZip(const std::wstring& archivePath, const std::wstring& destination,
                        const UnpackLimits& limits = {});

}  // namespace unpack
