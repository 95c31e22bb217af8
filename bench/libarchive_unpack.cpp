// The extractor as it unpacked every format before zip had a reader of its own: libarchive
// for all, in one pass, written by libarchive's own disk writer. Takes ARCHIVE DESTINATION;
// the anchor of bench/unpack_bench.py.
#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s ARCHIVE DESTINATION\n", argc > 0 ? argv[0] : "");
    return 1;
  }
  archive* reader = archive_read_new();
  archive_read_support_filter_all(reader);
  archive_read_support_format_all(reader);
  archive* writer = archive_write_disk_new();
  archive_write_disk_set_options(writer, ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                             ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                             ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS);
  std::error_code ignored;
  std::filesystem::create_directories(argv[2], ignored);
  int code =
      archive_read_open_filename(reader, argv[1], 64 * 1024) == ARCHIVE_OK && chdir(argv[2]) == 0
          ? 0
          : 2;
  archive_entry* entry = nullptr;
  while (code == 0 && archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
    if (archive_write_header(writer, entry) < ARCHIVE_WARN) code = 3;
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    while (code == 0 && archive_read_data_block(reader, &block, &size, &offset) == ARCHIVE_OK) {
      if (archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN) code = 3;
    }
    archive_write_finish_entry(writer);
  }
  archive_write_free(writer);
  archive_read_free(reader);
  return code;
}
