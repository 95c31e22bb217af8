#include "other_formats.h"

namespace unpack {

ExtractStatus UnpackOtherFormat(const std::wstring& archivePath, const std::wstring&,
                                const UnpackLimits&) {
  ReportArchive(archivePath, "not a zip archive");
  return kExtractUnreadable;
}

}  // namespace unpack
