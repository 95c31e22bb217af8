#include "entry_rules.h"

namespace {

bool HasParentComponent(std::string_view path) {
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    if (path.substr(0, slash) == "..") return true;
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return false;
}

std::optional<std::string> PathRefusal(std::string_view path, std::string_view what) {
  if (path.empty()) return std::string(what) + " is empty";
  if (path.front() == '/') return std::string(what) + " is absolute";
  if (HasParentComponent(path)) return std::string(what) + " has a \"..\" component";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> RefusalReason(std::string_view path, std::string_view linkTarget,
                                         std::string_view hardlinkPath) {
  if (auto reason = PathRefusal(path, "path")) return reason;
  if (!hardlinkPath.empty()) return PathRefusal(hardlinkPath, "hard link target");
  if (linkTarget.empty()) return std::nullopt;
  if (linkTarget.front() == '/') return "link target is absolute";
  if (HasParentComponent(linkTarget)) return "link target has a \"..\" component";
  return std::nullopt;
}
