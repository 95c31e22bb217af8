// The extractor's command line, x -o+ -y "ARCHIVE" "DEST", as the agent forms it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace unpack {

// The parameters after the program name, split the way the RAR tools split them: blanks
// separate, double quotes group, and a backslash is an ordinary character, so that a quoted
// destination ending in a backslash ("C:\dir\") stays one parameter.
std::vector<std::wstring> ExtractorParameters(std::wstring_view commandLine);

// Whether parameters are exactly x, -o+, -y, a non-empty archive and a non-empty destination.
bool IsExtractCommand(const std::vector<std::wstring>& parameters);

}  // namespace unpack
