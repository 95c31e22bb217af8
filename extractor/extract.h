// What unpacking an archive ends with: the extractor's exit code.
#pragma once

enum ExtractStatus {
  kExtractDone = 0,
  kExtractUnreadable = 2,     // the archive could not be opened or read, or was refused whole
  kExtractEntriesFailed = 3,  // some entries were refused or could not be written
};
