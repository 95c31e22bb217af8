// Unpacking of one archive into a destination directory, refusing entries that would leave it.
#pragma once

#include <string>

enum ExtractStatus {
  kExtractDone = 0,
  kExtractUnreadable = 2,     // the archive could not be opened or read to its end
  kExtractEntriesFailed = 3,  // some entries were refused or could not be written
};

// Extracts every entry of archivePath with its relative path below destination (created when
// missing, once the archive has opened), overwriting existing files. Refused and failed entries are
// named on standard error and skipped; the others are still extracted. Makes destination the
// current directory of the process.
ExtractStatus ExtractArchive(const std::string& archivePath, const std::string& destination);
