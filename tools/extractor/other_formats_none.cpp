#include "other_formats.h"
#include "platform/console.h"

namespace unpack {

ExtractStatus UnpackOtherFormat(const std::wstring& archivePath, const std::wstring&) {
  platform::WriteErr(L"extractor: cannot read \"" + archivePath + L"\": not a zip archive\n");
  return kExtractUnreadable;
}

}  // namespace unpack
