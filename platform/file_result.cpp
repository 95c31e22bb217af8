#include "platform/file_result.h"

#include "platform/process.h"
#include "platform/text.h"

namespace platform {

FileResult FileResult::Of(bool done, const std::wstring& path) {
  return done ? FileResult() : FromSystemError(LastErrorCode(), path);
}

std::wstring FileResult::SystemText() const {
  if (ok()) return L"";
  const std::wstring text = SystemErrorMessage(code_);
  const wchar_t* const kWhite = L" \t\r\n";
  const std::size_t first = text.find_first_not_of(kWhite);
  if (first == std::wstring::npos) return L"";
  return text.substr(first, text.find_last_not_of(kWhite) - first + 1);
}

std::string FileResult::Describe(const std::wstring& detail) const {
  if (ok()) return "";
  return ToUtf8(detail.empty() ? SystemText() : SystemText() + L" " + detail);
}

}  // namespace platform
