// Archives that are not zip: unpacked where the build has a library for them.
#pragma once

#include <string>

#include "extract.h"

namespace unpack {

// Unpacks archivePath below destination (ending with a separator) as ExtractArchive does
// where libarchive is built in; elsewhere reports that only zip archives are read and
// returns kExtractUnreadable.
ExtractStatus UnpackOtherFormat(const std::wstring& archivePath, const std::wstring& destination);

}  // namespace unpack
