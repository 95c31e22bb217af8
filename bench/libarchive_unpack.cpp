// The extractor as it unpacked every format before zip had a reader of its own: libarchive
// for all. Takes ARCHIVE DESTINATION; the anchor of bench/unpack_bench.py.
#include <cstdio>

#include "extract.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s ARCHIVE DESTINATION\n", argc > 0 ? argv[0] : "");
    return 1;
  }
  return ExtractArchive(argv[1], argv[2]);
}
