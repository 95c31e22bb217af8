// The numbered console messages, read from the active language file at the moment they are
// printed (section "UpgradeExe", keys "1" to "8").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "agent/base/layout.h"
#include "agent/run/run_inputs.h"

// Where a message text starts a new line: a backslash and a lower-case "n", as two
// characters (an INI value cannot hold a line break).
inline constexpr std::wstring_view kLineMarker = L"\\n";

// The text of message n in the layout's language file (at most 255 characters). A missing language
// file, section or key gives the number itself ("4"), as does a language file over 1 MiB or one
// that is a link; a key with an empty value gives "". A zero character ends the text.
std::wstring LoadMessage(const AgentLayout& layout, int n);

// In console mode, prints message n of the run's language file with one line per piece
// between line markers; an empty text prints nothing. In silent mode does nothing, not even
// the lookup.
void PrintMessage(const RunInputs& run, int n);

// The pieces of text between the occurrences of separator (never empty), matched exactly.
// trim removes white space at both ends of each piece; skipEmpty leaves out empty pieces.
// A separator at the very end adds no empty piece; "" gives no piece at all.
std::vector<std::wstring> SplitString(std::wstring_view text, std::wstring_view separator,
                                      bool trim, bool skipEmpty);

// Message 1's text with version in place of its first "%s". The text comes from a file the
// agent does not control, so it is never used as a format: "%%" gives "%", and every other
// character, any further "%s" included, stands as it is.
std::wstring FormatVersionMessage(std::wstring_view text, std::wstring_view version);

// In console mode, prints message 1 with the installed version as one line, line markers
// and all. In silent mode does nothing.
void PrintVersionMessage(const RunInputs& run, const std::wstring& installedVersion);
