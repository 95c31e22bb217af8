// Whether this is the installation's first version check of the day, by its own clock (the
// UTC day), so that the server can count the machines on each build per day from the page
// requests alone, without any identifier. The day of the last check is kept in the data
// directory as "check.day", a state record (platform/state_record.h):
//
//   kivo9-check-day 2
//   <days since 1970-01-01>
//   sum <...>
//
// A day kept as format 1 (the same without the sum line) is still read.
#pragma once

#include <cstdint>
#include <string>

// True when the day kept at path is not the day of now (seconds since the epoch), or none
// is kept (missing or damaged). Reads only.
bool FirstCheckToday(const std::wstring& path, std::int64_t now);

// Keeps the day of now at path, once the check it belongs to is done. A day that cannot be
// written is tried again at the next check.
void KeepCheckDay(const std::wstring& path, std::int64_t now);
