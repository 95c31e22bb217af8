// Runs the built extractor on packages made here and looks at what it leaves on disk.
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "extract.h"
#include "platform/text.h"
#include "zip_extract.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kivo-extractor-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

struct Entry {
  std::string path;
  std::string content;     // file content
  std::string linkTarget;  // non-empty: a symbolic link
};

void WritePackage(const fs::path& file, int format, const std::vector<Entry>& entries) {
  archive* writer = archive_write_new();
  archive_write_set_format(writer, format);
  ASSERT_EQ(archive_write_open_filename(writer, file.c_str()), ARCHIVE_OK);
  for (const auto& e : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, e.path.c_str());
    archive_entry_set_perm(entry, 0644);
    if (e.linkTarget.empty()) {
      archive_entry_set_filetype(entry, AE_IFREG);
      archive_entry_set_size(entry, static_cast<la_int64_t>(e.content.size()));
    } else {
      archive_entry_set_filetype(entry, AE_IFLNK);
      archive_entry_set_symlink(entry, e.linkTarget.c_str());
    }
    ASSERT_EQ(archive_write_header(writer, entry), ARCHIVE_OK) << e.path;
    archive_write_data(writer, e.content.data(), e.content.size());
    archive_entry_free(entry);
  }
  archive_write_close(writer);
  archive_write_free(writer);
}

struct ExtractorRun {
  int exitCode = -1;
  std::string errors;
};

ExtractorRun Extract(const std::vector<std::string>& arguments, const fs::path& errorFile) {
  std::vector<std::string> argv = {KIVO_EXTRACTOR};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (auto& a : argv) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = 0;
  ExtractorRun run;
  if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  std::ifstream in(errorFile);
  std::stringstream text;
  text << in.rdbuf();
  run.errors = text.str();
  return run;
}

ExtractorRun Extract(const fs::path& package, const fs::path& destination,
                     const fs::path& errorFile) {
  return Extract({"x", "-o+", "-y", package.string(), destination.string() + "/"}, errorFile);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

const std::vector<Entry> kPackage = {{"Resource/version.ini", "[Version]\nupdate=1204\n", ""},
                                     {"Kivo9.exe", "new browser", ""},
                                     {"Resource/deep/er/list.txt", "x", ""}};

TEST(Extractor, UnpacksZipTarAnd7zIntoDestinationWithTrailingSeparator) {
  const std::pair<int, const char*> formats[] = {{ARCHIVE_FORMAT_ZIP, "zip"},
                                                 {ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, "tar"},
                                                 {ARCHIVE_FORMAT_7ZIP, "7z"}};
  for (const auto& [format, name] : formats) {
    TempDir temp;
    const fs::path package = temp.Path() / (std::string("package.") + name);
    WritePackage(package, format, kPackage);
    const fs::path update = temp.Path() / "Kivo9Data" / "update";
    const ExtractorRun run = Extract(package, update, temp.Path() / "errors.txt");
    EXPECT_EQ(run.exitCode, 0) << name << ": " << run.errors;
    EXPECT_EQ(ReadFile(update / "Resource" / "version.ini"), "[Version]\nupdate=1204\n") << name;
    EXPECT_EQ(ReadFile(update / "Kivo9.exe"), "new browser") << name;
    EXPECT_EQ(ReadFile(update / "Resource" / "deep" / "er" / "list.txt"), "x") << name;
  }
}

TEST(Extractor, OverwritesExistingFilesAndKeepsOthers) {
  TempDir temp;
  const fs::path update = temp.Path() / "update";
  fs::create_directories(update / "Resource");
  std::ofstream(update / "Resource" / "version.ini") << "[Version]\nupdate=1100\nold tail\n";
  std::ofstream(update / "old.txt") << "from an earlier package";
  std::ofstream(update / "Kivo9.exe") << "old browser, a longer text than the new one";
  fs::permissions(update / "Kivo9.exe", fs::perms::owner_read);
  WritePackage(temp.Path() / "p.zip", ARCHIVE_FORMAT_ZIP, kPackage);
  const ExtractorRun run = Extract(temp.Path() / "p.zip", update, temp.Path() / "errors.txt");
  EXPECT_EQ(run.exitCode, 0) << run.errors;
  EXPECT_EQ(ReadFile(update / "Resource" / "version.ini"), "[Version]\nupdate=1204\n");
  EXPECT_EQ(ReadFile(update / "Kivo9.exe"), "new browser");
  EXPECT_EQ(ReadFile(update / "old.txt"), "from an earlier package");
}

TEST(Extractor, LeavesNothingOutsideTheDestination) {
  TempDir temp;
  const fs::path outside = temp.Path() / "outside";
  fs::create_directories(outside);
  const fs::path update = temp.Path() / "inst" / "update";
  const std::vector<Entry> evil = {
      {"../evil", "up", ""},   {(outside / "evil").string(), "absolute", ""},
      {"root", "", "/"},       {"root/evil", "through the link", ""},
      {"s", "", "."},          {"t", "", "s/s/.."},
      {"fine.txt", "kept", ""}};
  for (const int format : {ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, ARCHIVE_FORMAT_ZIP}) {
    WritePackage(temp.Path() / "evil.pkg", format, evil);
    const ExtractorRun run = Extract(temp.Path() / "evil.pkg", update, temp.Path() / "errors.txt");
    EXPECT_EQ(run.exitCode, 3) << run.errors;
    EXPECT_FALSE(fs::exists(temp.Path() / "inst" / "evil"));
    EXPECT_FALSE(fs::exists(outside / "evil"));
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(update / "root")));
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(update / "t")));
    EXPECT_EQ(ReadFile(update / "fine.txt"), "kept");
    for (const char* name : {"\"../evil\"", "\"root\"", "\"t\"", "outside/evil\""}) {
      EXPECT_NE(run.errors.find(name), std::string::npos) << name << " in " << run.errors;
    }
  }
}

TEST(Extractor, RefusesOtherCommandLinesAndBrokenArchives) {
  TempDir temp;
  const fs::path errors = temp.Path() / "errors.txt";
  WritePackage(temp.Path() / "p.zip", ARCHIVE_FORMAT_ZIP, kPackage);
  const std::string package = (temp.Path() / "p.zip").string();
  const std::string dest = (temp.Path() / "d").string() + "/";
  EXPECT_EQ(Extract({"x", "-o+", package, dest}, errors).exitCode, 1);
  EXPECT_EQ(Extract({"e", "-o+", "-y", package, dest}, errors).exitCode, 1);
  EXPECT_EQ(Extract({"x", "-o+", "-y", package, dest, "more"}, errors).exitCode, 1);
  EXPECT_FALSE(fs::exists(temp.Path() / "d"));

  std::ofstream(temp.Path() / "not-an-archive.rar") << "<html>404</html>";
  const ExtractorRun run = Extract(temp.Path() / "not-an-archive.rar", temp.Path() / "d", errors);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.errors.find("not-an-archive.rar"), std::string::npos) << run.errors;
  EXPECT_FALSE(fs::exists(temp.Path() / "d"));
  EXPECT_EQ(Extract(temp.Path() / "missing.rar", temp.Path() / "d", errors).exitCode, 2);
}

TEST(UnpackZip, EachLimitRefusesTheWholeArchiveBeforeAnythingIsWritten) {
  TempDir temp;
  const fs::path package = temp.Path() / "p.zip";
  std::vector<Entry> entries;
  for (int i = 0; i < 5; ++i)
    entries.push_back({"f" + std::to_string(i), std::string(1000, 'x'), ""});
  WritePackage(package, ARCHIVE_FORMAT_ZIP, entries);
  const std::wstring dest = platform::FromUtf8((temp.Path() / "d").string() + "/");
  unpack::UnpackLimits fits;
  fits.maxEntries = 5;
  fits.maxTotalSize = 5000;
  fits.ratioAllowance = 0;
  fits.spareSpace = 0;
  const std::uint64_t packed = fs::file_size(package);
  fits.maxExpansion = 5000 / packed + 1;
  unpack::UnpackLimits fewer = fits, smaller = fits, denser = fits;
  fewer.maxEntries = 4;
  smaller.maxTotalSize = 4999;
  denser.maxExpansion = 4999 / packed;
  for (const auto& limits : {fewer, smaller, denser}) {
    EXPECT_EQ(unpack::UnpackZip(platform::FromUtf8(package.string()), dest, limits),
              kExtractUnreadable);
    EXPECT_TRUE(fs::is_empty(temp.Path() / "d"));
  }
  EXPECT_EQ(unpack::UnpackZip(platform::FromUtf8(package.string()), dest, fits), kExtractDone);
  EXPECT_EQ(ReadFile(temp.Path() / "d" / "f4"), std::string(1000, 'x'));
}

}  // namespace
