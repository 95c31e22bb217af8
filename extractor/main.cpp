// The extractor of an installation (Resource/UnPack.exe): takes the command line of the RAR
// tools that the agent builds, x -o+ -y "ARCHIVE" "DEST", and nothing else; asks nothing.
// Zip packages, solid packages (a tar stream in one zstd frame) and delta packages (a solid
// package that makes the new tree from the installation's own), as the publish tool writes
// them, unpack on every build through our readers over zlib and zstd; other formats (7z,
// tar, RAR) through libarchive where the build has it (Linux).
//
// Exit codes: 0 every entry unpacked; 1 another command line; 2 the archive cannot be
// opened or read, is refused whole (a damaged directory, a limit), or is of no known format;
// 3 some entries were refused or failed (each named on standard error), the others unpacked.
#include <string>
#include <string_view>
#include <vector>

#include "delta_package.h"
#include "extract_command.h"
#include "other_formats.h"
#include "platform/console.h"
#include "platform/dir_path.h"
#include "platform/entry.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform_native.h"
#include "solid_package.h"
#include "zip_directory.h"
#include "zip_extract.h"

namespace {

constexpr int kUsageError = 1;

// A zip archive by its end record, or by its first record when it is cut short: such an
// archive is the zip reader's to refuse, never another reader's to take in part.
bool IsZip(const std::wstring& archivePath) {
  platform::FileReader archive;
  std::uint64_t size = 0;
  if (!archive.Open(archivePath) || !archive.Size(size)) return false;
  const unpack::ReadAt read = unpack::ReaderOf(archive);
  char start[4] = {};
  return (read(0, start, sizeof start) && std::string_view(start, 2) == "PK" &&
          (start[2] == 3 || start[2] == 5)) ||
         unpack::LooksLikeZip(read, size);
}

}  // namespace

int ProgramMain(int, wchar_t**) {
  const std::vector<std::wstring> parameters =
      unpack::ExtractorParameters(platform::ProcessCommandLine());
  if (!unpack::IsExtractCommand(parameters)) {
    platform::WriteErr(L"usage: UnPack x -o+ -y ARCHIVE DESTINATION\n");
    return kUsageError;
  }
  const std::wstring& archive = parameters[3];
  std::wstring destination = parameters[4];
  if (destination.back() != platform::kSep && destination.back() != platform::kOtherSep) {
    destination += platform::kSep;
  }
  destination = platform::NativePath(destination);
  if (IsZip(archive)) return unpack::UnpackZip(archive, destination);
  if (unpack::IsDeltaPackage(archive)) {
    // A delta is made from the installed tree: the one whose Resource/ holds this extractor.
    const std::wstring resourceDir = platform::ParentOf(platform::OwnExecutablePath());
    if (resourceDir.empty()) return kExtractUnreadable;
    return unpack::UnpackDelta(archive, destination,
                               platform::ParentOf(platform::WithoutSeparator(resourceDir)));
  }
  if (unpack::LooksLikeSolidPackage(archive)) return unpack::UnpackSolid(archive, destination);
  return unpack::UnpackOtherFormat(archive, destination);
}
