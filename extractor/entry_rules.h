// Which archive entries the extractor refuses, so that nothing lands outside the destination.
#pragma once

#include <string>
#include <string_view>

#include "platform/outcome.h"

// Whether an entry may be extracted; why not when it is refused. path is the entry's stored
// path; linkTarget the target of a symbolic link entry ("" for other entries); hardlinkPath
// the archive path a hard link entry refers to ("" for other entries). Paths use '/'.
//
// Refused: an empty or absolute path, a path with a ".." component, and the same for a hard
// link's path. A symbolic link may only point downward (no absolute target, no ".."
// component): then no chain of links, whatever order they arrive in, leads out.
//
// On every build, so that a package unpacks alike everywhere, also refused: a path that
// Windows cannot create (WindowsNameAllowed).
Outcome EntryAllowed(std::string_view path, std::string_view linkTarget,
                     std::string_view hardlinkPath);

// Whether Windows can create a file of this '/'-separated UTF-8 path; why not: a part that
// holds one of < > : " \ | ? * or a control character (so no drive letter, stream or
// "\\?\" form), ends in a dot or a blank, is longer than 255 UTF-16 units, or is a device
// name (CON, PRN, AUX, NUL, COM0-COM9, COM¹-COM³, LPT0-LPT9, LPT¹-LPT³, with any extension,
// in any case). Empty, "." and ".." parts are EntryAllowed's. The publish tool checks its
// names by the same rules; windows_names.txt beside this file is the table both are tested
// with.
Outcome WindowsNameAllowed(std::string_view path);

// The form under which Windows finds the '/'-separated UTF-8 path (a trailing '/' aside):
// two paths with the same key are one file there ("Ärger.txt" and "ärger.txt"), so the
// second of an archive is refused on every build.
std::wstring NameKey(std::string_view path);
