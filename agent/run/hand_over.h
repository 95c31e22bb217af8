// The hand-over of an unpacked package to the launcher. The extractor unpacks into a
// staging directory beside the update directory (same volume); only once it has ended, and
// the tree matches its Resource/files.lst when it has one, is the staging directory renamed
// to the update directory. The launcher, the filter merge and the post-upgrade program so
// never see half a tree.
#pragma once

#include <cstdint>
#include <string>

// The staging directory for updateDir (which ends with a separator): "update.partial" beside
// it, ending with a separator.
std::wstring StagingDirFor(const std::wstring& updateDir);

// Removes what an earlier run left in stagingDir and creates it empty. False when that
// fails (the extractor is then not started).
bool PrepareStaging(const std::wstring& stagingDir);

// Starts the extractor hidden, for the hand-over to wait for. False when it could not start.
bool StartExtractor(const std::wstring& extractor, const std::wstring& parameters,
                    const std::wstring& stagingDir, const std::wstring& updateDir);

// Waits at most timeoutMs for the extractor started last, then hands its tree over. Returns
// true when the update directory now holds the complete tree. False, with no update
// directory made from this run and the staging directory removed, when nothing was started,
// the extractor did not end in time (it is stopped) or failed, or the tree does not match
// its list. An update directory an earlier run left is replaced only by a complete tree.
bool CompleteHandOver(std::uint32_t timeoutMs);
