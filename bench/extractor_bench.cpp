// Times the Linux extractor on packages made here: many small files and one large file, as
// zip (deflated) and tar. Prints figures; asserts nothing.
#include <archive.h>
#include <archive_entry.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Shape {
  const char* name;
  int files;
  std::size_t fileBytes;
};

void WritePackage(const fs::path& file, int format, const Shape& shape) {
  archive* writer = archive_write_new();
  archive_write_set_format(writer, format);
  if (format == ARCHIVE_FORMAT_ZIP) archive_write_set_options(writer, "zip:compression=deflate");
  archive_write_open_filename(writer, file.c_str());
  std::string content(shape.fileBytes, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 7) % 251);
  for (int i = 0; i < shape.files; ++i) {
    archive_entry* entry = archive_entry_new();
    const std::string path = "Resource/dir" + std::to_string(i % 50) + "/file" + std::to_string(i);
    archive_entry_set_pathname(entry, path.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(content.size()));
    archive_write_header(writer, entry);
    archive_write_data(writer, content.data(), content.size());
    archive_entry_free(entry);
  }
  archive_write_close(writer);
  archive_write_free(writer);
}

double ExtractSeconds(const fs::path& package, const fs::path& destination) {
  std::vector<std::string> args = {
      KIVO_EXTRACTOR, "x", "-o+", "-y", package.string(), destination.string() + "/"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed.count() : -1;
}

}  // namespace

int main() {
  std::string pattern = (fs::temp_directory_path() / "kivo-extractor-bench-XXXXXX").string();
  const fs::path dir = mkdtemp(pattern.data());
  const Shape shapes[] = {{"4000 files of 16 KiB", 4000, 16 * 1024},
                          {"1 file of 128 MiB", 1, 128u * 1024 * 1024}};
  const std::pair<int, const char*> formats[] = {{ARCHIVE_FORMAT_ZIP, "zip"},
                                                 {ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, "tar"}};
  for (const Shape& shape : shapes) {
    for (const auto& [format, formatName] : formats) {
      const fs::path package = dir / (std::string("package.") + formatName);
      WritePackage(package, format, shape);
      const double bytes = static_cast<double>(shape.files) * static_cast<double>(shape.fileBytes);
      // Twice into the same destination: the second run overwrites every file.
      for (const char* pass : {"fresh", "overwrite"}) {
        const double seconds = ExtractSeconds(package, dir / "update");
        std::printf("%-22s %-4s %-9s %7.3f s  %7.1f MiB/s  %8.0f files/s\n", shape.name, formatName,
                    pass, seconds, bytes / (1024 * 1024) / seconds, shape.files / seconds);
      }
      fs::remove_all(dir / "update");
      fs::remove(package);
    }
  }
  fs::remove_all(dir);
  return 0;
}
