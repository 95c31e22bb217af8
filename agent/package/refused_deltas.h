// The delta packages that made no tree of their release in this installation (an installed
// file changed, a damaged patch, a list that lies), so that no later run fetches them again:
// their release's full package is what this installation takes. One state record
// (platform/state_record.h) in the agent's directory, "delta.refused":
//
//   kivo9-refused-deltas 1
//   <the SHA-256 of a refused delta package, 64 lower-case hex digits>   (any number of lines)
//   sum <...>
//
// A missing or damaged record refuses nothing: the delta is then tried once more and, failing,
// recorded again.
#pragma once

#include <string>

#include "agent/trust/signed_block.h"

// Leaves out of release the deltas the record at recordPath names.
void LeaveOutRefusedDeltas(const std::wstring& recordPath, SignedFields& release);

// Adds every delta of release to the record at recordPath (the record keeps the newest
// kMaxRefusedDeltas). False when it could not be written.
bool RecordRefusedDeltas(const std::wstring& recordPath, const SignedFields& release);

inline constexpr std::size_t kMaxRefusedDeltas = 32;
