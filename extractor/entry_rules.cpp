#include "entry_rules.h"

#include "platform/text.h"

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

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// CON, PRN, AUX, NUL, COM0-COM9 and LPT0-LPT9, and COM and LPT with a superscript 1, 2 or
// 3 (which Windows reads as those digits), alone or with any extension, in any case.
bool IsDeviceName(std::string_view part) {
  std::string stem(part.substr(0, part.find('.')));
  for (char& c : stem) c = AsciiLower(c);
  if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") return true;
  if (stem.rfind("com", 0) != 0 && stem.rfind("lpt", 0) != 0) return false;
  const std::string_view number = std::string_view(stem).substr(3);
  return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
         number == "\xC2\xB2" || number == "\xC2\xB3";  // UTF-8 ¹ ² ³
}

// UTF-16 code units of UTF-8 text: one per character, two beyond the basic plane.
std::size_t Utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

Outcome PartAllowed(std::string_view part) {
  for (const char c : part) {
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::string_view("<>:\"\\|?*").find(c) != std::string_view::npos) {
      return Outcome::No("a character Windows refuses in file names");
    }
  }
  if (Utf16Length(part) > 255)
    return Outcome::No("a name part longer than the 255 characters Windows allows");
  if (part.back() == '.' || part.back() == ' ') {
    return Outcome::No("a name part ending in a dot or a blank, which Windows drops");
  }
  if (IsDeviceName(part))
    return Outcome::No("a device name Windows reserves (CON, NUL, COM1, ...)");
  return {};
}

Outcome PathAllowed(std::string_view path, std::string_view what) {
  if (path.empty()) return Outcome::No(std::string(what) + " is empty");
  if (path.front() == '/') return Outcome::No(std::string(what) + " is absolute");
  if (HasParentComponent(path)) return Outcome::No(std::string(what) + " has a \"..\" component");
  return {};
}

}  // namespace

std::wstring NameKey(std::string_view path) {
  if (!path.empty() && path.back() == '/') path.remove_suffix(1);
  return platform::UpperCaseOfName(platform::FromUtf8(path));
}

Outcome WindowsNameAllowed(std::string_view path) {
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    if (!part.empty() && part != "." && part != "..") {
      if (Outcome allowed = PartAllowed(part); !allowed) return allowed;
    }
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return {};
}

Outcome EntryAllowed(std::string_view path, std::string_view linkTarget,
                     std::string_view hardlinkPath) {
  if (Outcome allowed = PathAllowed(path, "path"); !allowed) return allowed;
  if (Outcome allowed = WindowsNameAllowed(path); !allowed) return allowed;
  if (!hardlinkPath.empty()) return PathAllowed(hardlinkPath, "hard link target");
  if (linkTarget.empty()) return {};
  if (linkTarget.front() == '/') return Outcome::No("link target is absolute");
  if (HasParentComponent(linkTarget)) return Outcome::No("link target has a \"..\" component");
  return {};
}
