#include "other_formats.h"
#include "platform/text.h"

namespace unpack {

ExtractStatus UnpackOtherFormat(const std::wstring& archivePath, const std::wstring& destination) {
  return ExtractArchive(platform::ToUtf8(archivePath), platform::ToUtf8(destination));
}

}  // namespace unpack
