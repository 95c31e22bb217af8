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

// What a state file's reader and writer agree on.
struct StateFormat {
  const char* kind;
  int format;                     // written, and read with its sum line
  int unsummedFormat = 0;         // the form the file had before its records carried a sum; 0: none
  std::size_t limitBytes = 4096;  // a longer file is not read
};

// The record's text: the head line, lines (none may hold "\n"), the sum line.
std::string FormatStateRecord(const StateFormat& form, const std::vector<std::string>& lines);

// The lines of the record in text; nullopt when text is not one whole record of form's kind
// and format (or of its unsummed format, read without a sum line).
std::optional<std::vector<std::string_view>> ParseStateRecord(std::string_view text,
                                                              const StateFormat& form);

// The lines of the record in the file at path; nullopt when the file is missing, longer than
// form's limit, unreadable or no whole record (not an error: the reader decides what none
// means).
std::optional<std::vector<std::string>> ReadStateRecord(const std::wstring& path,
                                                        const StateFormat& form);

// Writes the record through the durable replace: at every moment the file is the old record
// or the new one. False when it could not be written; the old one then stays.
bool WriteStateRecord(const std::wstring& path, const StateFormat& form,
                      const std::vector<std::string>& lines);

}  // namespace platform
