// Which archive entries the extractor refuses, so that nothing lands outside the destination.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Why an entry is refused, or nullopt when it may be extracted. path is the entry's stored
// path; linkTarget the target of a symbolic link entry ("" for other entries); hardlinkPath
// the archive path a hard link entry refers to ("" for other entries). Paths use '/'.
//
// Refused: an empty or absolute path, a path with a ".." component, and the same for a hard
// link's path. A symbolic link may only point downward (no absolute target, no ".."
// component): then no chain of links, whatever order they arrive in, leads out.
std::optional<std::string> RefusalReason(std::string_view path, std::string_view linkTarget,
                                         std::string_view hardlinkPath);
