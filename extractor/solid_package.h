// Unpacking a solid package: a tar stream (tar_reader.h) in one zstd frame whose window is
// capped (zstd_frame_reader.h). The frame is read twice: once to learn every entry and keep
// the limits before anything is written, then to write the entries.
#pragma once

#include <functional>
#include <string>

#include "entry_writer.h"
#include "extract.h"
#include "platform/outcome.h"
#include "tar_reader.h"
#include "zstd_frame_reader.h"

namespace unpack {

// The compressed input of file read from offset on, which it moves along; false on a read
// error.
CompressedInput FileInput(platform::FileReader& file, std::uint64_t& offset);

// Whether the file at path starts with a zstd frame's magic number; false when it cannot be
// read.
bool LooksLikeSolidPackage(const std::wstring& path);

// Reads the solid package that input yields from its start to its end, handing each entry to
// each, which may read the entry's data from the reader (what it leaves is skipped) and stops
// the reading by saying no. Why not when each says no, or the frame or the tar stream is
// damaged, cut short, needs a window wider than kSolidWindowLogMax, or anything but zeros
// follows the archive's end in the frame. A narrower windowLogMax holds the frame to less.
using SolidEntryStep = std::function<Outcome(const TarEntry& entry, TarReader& reader)>;
Outcome ReadSolidPackage(CompressedInput input, const SolidEntryStep& each,
                         int windowLogMax = kSolidWindowLogMax);

// Unpacks the solid package at archivePath below destination (ending with a separator;
// created when missing), overwriting files of the same name. Returns kExtractUnreadable
// when the package cannot be read, its frame or tar stream is damaged, cut short, followed
// by other bytes or needs a window wider than kSolidWindowLogMax, or it passes a limit
// (nothing is then written); kExtractEntriesFailed when some entries were refused (a name
// the rules refuse, a case-only duplicate, a link or device) or could not be written, each
// named on standard error; kExtractDone otherwise.
ExtractStatus UnpackSolid(const std::wstring& archivePath, const std::wstring& destination,
                          const UnpackLimits& limits = {});

}  // namespace unpack
