// Archives that are not zip (7z, tar, RAR), where the build has a library for them.
#pragma once

#include <string>

#include "entry_writer.h"
#include "extract.h"

namespace unpack {

// Unpacks the archive at archivePath below destination (ending with a separator) by the
// rules and limits of the zip reader (zip_extract.h), where libarchive is built in: the
// archive is read once to learn every entry and is refused whole (kExtractUnreadable, nothing
// written) when it cannot be read or passes a limit; then its entries are written, links,
// devices and encrypted entries refused like the zip reader's. Elsewhere reports that only
// zip archives are read and returns kExtractUnreadable.
ExtractStatus UnpackOtherFormat(const std::wstring& archivePath, const std::wstring& destination,
                                const UnpackLimits& limits = {});

}  // namespace unpack
