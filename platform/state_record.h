// The installation's small state files (the day of the last check, the install id, the
// pages believed, the kept package's record, the install journal) share one form, UTF-8:
//
//   <kind> <format>
//   <a line of fields>            any number of lines, each ending with "\n"
//   sum <SHA-256 of every byte before this line, 64 lower-case hex digits>
//
// A record is read whole or not at all: cut short, altered, of another kind or format, it
// reads as missing, which is what damage means for each of these files. Each file's fields
// are documented at its reader.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The lines of text, each without its "\n"; nullopt when text does not end with "\n" (a
// last line cut short) or is empty. The one line splitter of the state files.
std::optional<std::vector<std::string_view>> SplitLines(std::string_view text);

// The record's text: the head line, lines (none may hold "\n"), the sum line.
std::string FormatStateRecord(std::string_view kind, int format,
                              const std::vector<std::string>& lines);

// The lines of the record of kind in text, in one of formats; nullopt when text is not one
// whole record of that kind and a format given. A format in legacyFormats is read without a
// sum line: the form the file had before its records carried one.
std::optional<std::vector<std::string_view>> ParseStateRecord(
    std::string_view text, std::string_view kind, const std::vector<int>& formats,
    const std::vector<int>& legacyFormats = {});

// The state file at path, read when it is at most limitBytes long; nullopt when it is
// missing, longer, or cannot be read (not an error: the reader decides what none means).
std::optional<std::string> ReadStateFile(const std::wstring& path, std::size_t limitBytes);

// Writes the record through the durable replace: at every moment the file is the old record
// or the new one. False when it could not be written; the old one then stays.
bool WriteStateRecord(const std::wstring& path, std::string_view kind, int format,
                      const std::vector<std::string>& lines);

}  // namespace platform
