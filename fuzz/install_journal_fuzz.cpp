// The launcher's install journal as a crash or a disk may leave it: whatever it holds, a
// journal that is read names only places inside the data directory, outside the user's
// folder, and reads the same once written again.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"
#include "launcher/install_journal.h"
#include "tree/install_names.h"
#include "update_paths.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(fuzz::Bytes(data, size));
  const auto parsed = launcher::ParseJournal(text);
  if (!parsed) {
    fuzz::Require(!parsed.why().empty(), "a refused journal says why");
    return 0;
  }
  const launcher::InstallJournal& journal = *parsed;
  for (const auto& dir : journal.createdDirectories) {
    fuzz::Require(fuzz::StaysBelowRoot(dir) && tree::IsUpdatablePath(dir),
                  "a directory stays inside the data directory");
  }
  for (const auto& file : journal.files) {
    fuzz::Require(fuzz::StaysBelowRoot(file.path) && tree::IsUpdatablePath(file.path),
                  "a file stays inside the data directory");
  }
  const std::string written =
      launcher::FormatJournal(journal) + (journal.committed ? launcher::CommitLine() : "");
  const auto reread = launcher::ParseJournal(written);
  fuzz::Require(reread.ok(), "a written journal reads back");
  const launcher::InstallJournal& again = *reread;
  fuzz::Require(again.createdDirectories == journal.createdDirectories &&
                    again.files.size() == journal.files.size() &&
                    again.committed == journal.committed,
                "a written journal reads as the same");
  return 0;
}
