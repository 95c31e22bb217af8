// The extractor of a Linux installation (Resource/UnPack.exe): takes the command line of the
// RAR tools that the agent builds, x -o+ -y "ARCHIVE" "DEST", and nothing else.
#include <clocale>
#include <cstdio>
#include <cstring>

#include "extract.h"

namespace {

constexpr int kUsageError = 1;

bool IsExtractCommand(int argc, char** argv) {
  return argc == 6 && std::strcmp(argv[1], "x") == 0 && std::strcmp(argv[2], "-o+") == 0 &&
         std::strcmp(argv[3], "-y") == 0 && argv[4][0] != '\0' && argv[5][0] != '\0';
}

}  // namespace

int main(int argc, char** argv) {
  if (!IsExtractCommand(argc, argv)) {
    std::fprintf(stderr, "usage: %s x -o+ -y ARCHIVE DESTINATION\n", argc > 0 ? argv[0] : "");
    return kUsageError;
  }
  // Entry names go to disk as UTF-8 whatever the caller's locale.
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "");
  return ExtractArchive(argv[4], argv[5]);
}
