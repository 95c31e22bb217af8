// Runs the built extractor on packages made here and looks at what it leaves on disk.
#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zstd.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "delta_manifest.h"
#include "delta_package.h"
#include "other_formats.h"
#include "platform/crypto.h"
#include "platform/text.h"
#include "solid_package.h"
#include "zip_extract.h"
#include "zstd_frame_reader.h"

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
  bool hardlink = false;   // with linkTarget: a hard link to that entry instead
};

// An archive format as libarchive writes it, with a compression filter where it has one.
struct Format {
  const char* name;
  int format;
  int filter = ARCHIVE_FILTER_NONE;
};
const Format kZip{"zip", ARCHIVE_FORMAT_ZIP};
const Format kTar{"tar", ARCHIVE_FORMAT_TAR_PAX_RESTRICTED};
const Format kTarGz{"tar.gz", ARCHIVE_FORMAT_TAR_GNUTAR, ARCHIVE_FILTER_GZIP};
const Format k7z{"7z", ARCHIVE_FORMAT_7ZIP};
// A solid package: the extractor's own reader takes it, not libarchive.
const Format kSolid{"tar.zst", ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, ARCHIVE_FILTER_ZSTD};
const Format kEveryFormat[] = {kZip, kTar, kTarGz, k7z, kSolid};

void WritePackage(const fs::path& file, const Format& format, const std::vector<Entry>& entries) {
  SCOPED_TRACE(format.name);
  // libarchive's writers convert names through the locale: UTF-8 names need a UTF-8 one.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  archive* writer = archive_write_new();
  archive_write_set_format(writer, format.format);
  archive_write_add_filter(writer, format.filter);
  // Deflate keeps a large 7z test archive quick to make; names go as UTF-8 whatever the
  // test's locale (an option a format does not know is ignored).
  if (format.format == ARCHIVE_FORMAT_7ZIP)
    archive_write_set_options(writer, "compression=deflate");
  archive_write_set_options(writer, "hdrcharset=UTF-8");
  ASSERT_EQ(archive_write_open_filename(writer, file.c_str()), ARCHIVE_OK);
  for (const auto& e : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname_utf8(entry, e.path.c_str());
    archive_entry_set_perm(entry, 0644);
    if (e.hardlink) {
      archive_entry_set_filetype(entry, AE_IFREG);
      archive_entry_set_hardlink_utf8(entry, e.linkTarget.c_str());
    } else if (e.linkTarget.empty()) {
      archive_entry_set_filetype(entry, AE_IFREG);
      archive_entry_set_size(entry, static_cast<la_int64_t>(e.content.size()));
    } else {
      archive_entry_set_filetype(entry, AE_IFLNK);
      archive_entry_set_symlink_utf8(entry, e.linkTarget.c_str());
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

TEST(Extractor, UnpacksEveryFormatIntoDestinationWithTrailingSeparator) {
  for (const Format& format : kEveryFormat) {
    const char* name = format.name;
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
  WritePackage(temp.Path() / "p.zip", kZip, kPackage);
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
  for (const Format& format : {kTar, kZip}) {
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
  WritePackage(temp.Path() / "p.zip", kZip, kPackage);
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

// The unpacker the extractor's command line takes for a package of this format.
ExtractStatus Unpack(const Format& format, const fs::path& package, const fs::path& destination,
                     const unpack::UnpackLimits& limits) {
  const std::wstring archive = platform::FromUtf8(package.string());
  const std::wstring dest = platform::FromUtf8(destination.string() + "/");
  if (format.format == ARCHIVE_FORMAT_ZIP) return unpack::UnpackZip(archive, dest, limits);
  if (format.filter == ARCHIVE_FILTER_ZSTD) return unpack::UnpackSolid(archive, dest, limits);
  return unpack::UnpackOtherFormat(archive, dest, limits);
}

TEST(Unpack, EachLimitRefusesTheWholeArchiveOfEveryFormatBeforeAnythingIsWritten) {
  for (const Format& format : kEveryFormat) {
    SCOPED_TRACE(format.name);
    TempDir temp;
    const fs::path package = temp.Path() / "p.pkg";
    std::vector<Entry> entries;
    for (int i = 0; i < 5; ++i)
      entries.push_back({"f" + std::to_string(i), std::string(1000, 'x'), ""});
    WritePackage(package, format, entries);
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
    std::vector<unpack::UnpackLimits> passed = {fewer, smaller};
    if (denser.maxExpansion > 0) passed.push_back(denser);  // a plain tar is no denser than 1:1
    for (const auto& limits : passed) {
      EXPECT_EQ(Unpack(format, package, temp.Path() / "d", limits), kExtractUnreadable);
      EXPECT_FALSE(fs::exists(temp.Path() / "d") && !fs::is_empty(temp.Path() / "d"));
    }
    EXPECT_EQ(Unpack(format, package, temp.Path() / "d", fits), kExtractDone);
    EXPECT_EQ(ReadFile(temp.Path() / "d" / "f4"), std::string(1000, 'x'));
  }
}

// A package that unpacks to far more than 100 times its size (plus 64 MiB) is a bomb,
// whatever its format: refused before a byte is written, with the default limits.
TEST(Extractor, ABombOfEveryFormatIsRefusedWhole) {
  TempDir temp;
  std::vector<Entry> bomb = kPackage;
  bomb.push_back({"zeros.bin", std::string(std::size_t{300} << 20, '\0'), ""});
  for (const Format& format : {kZip, kTarGz, k7z, kSolid}) {
    const fs::path package = temp.Path() / (std::string("bomb.") + format.name);
    WritePackage(package, format, bomb);
    ASSERT_LT(fs::file_size(package), std::uintmax_t{2} << 20) << format.name;
    const ExtractorRun run = Extract(package, temp.Path() / "d", temp.Path() / "errors.txt");
    EXPECT_EQ(run.exitCode, 2) << format.name << ": " << run.errors;
    EXPECT_NE(run.errors.find("times its size"), std::string::npos) << run.errors;
    EXPECT_FALSE(fs::exists(temp.Path() / "d") && !fs::is_empty(temp.Path() / "d")) << format.name;
  }
}

// Every format keeps the zip reader's entry rules: names Windows cannot create or cannot hold
// apart, links of either kind, all refused one by one while the rest unpacks.
TEST(Extractor, EveryFormatRefusesTheSameEntries) {
  const std::vector<Entry> entries = {
      {"Kivo9.exe", "new browser", ""},   {"CON", "device", ""},
      {"COM\xC2\xB9.txt", "device", ""},  {"Twin.txt", "first", ""},
      {"twin.txt", "second", ""},         {"\xC3\x84rger.txt", "first", ""},
      {"\xC3\xA4rger.txt", "second", ""}, {"wild*.txt", "refused", ""},
      {"link", "", "Kivo9.exe"},          {"~unpack.partial", "the extractor's own", ""},
      {"hard", "", "Kivo9.exe", true},
  };
  const std::vector<std::string> refused = {
      "CON",  "COM\xC2\xB9.txt", "twin.txt", "\xC3\xA4rger.txt", "wild*.txt", "link",
      "hard", "~unpack.partial"};
  for (const Format& format : kEveryFormat) {
    if (format.format == ARCHIVE_FORMAT_7ZIP) continue;  // libarchive writes no 7z links
    SCOPED_TRACE(format.name);
    TempDir temp;
    std::vector<Entry> written = entries;
    if (format.format == ARCHIVE_FORMAT_ZIP) written.pop_back();  // zip has no hard links
    WritePackage(temp.Path() / "p.pkg", format, written);
    const fs::path update = temp.Path() / "update";
    const ExtractorRun run = Extract(temp.Path() / "p.pkg", update, temp.Path() / "errors.txt");
    EXPECT_EQ(run.exitCode, 3) << run.errors;
    EXPECT_EQ(ReadFile(update / "Kivo9.exe"), "new browser");
    EXPECT_EQ(ReadFile(update / "Twin.txt"), "first");
    EXPECT_EQ(ReadFile(update / "\xC3\x84rger.txt"), "first");
    std::size_t lines = 0;
    for (std::size_t at = 0;
         (at = run.errors.find("extractor: skipped \"", at)) != std::string::npos; ++at) {
      ++lines;
    }
    EXPECT_EQ(lines, refused.size() - (written.size() < entries.size() ? 1 : 0)) << run.errors;
    for (const std::string& name : refused) {
      EXPECT_FALSE(fs::exists(fs::symlink_status(update / name))) << name;
    }
  }
}

// What stands in the destination already is replaced, never written through: a link under
// the scratch name or under an entry's name, a link in place of an entry's directory.
TEST(Extractor, ALinkInTheDestinationIsNeverWrittenThrough) {
  for (const Format& format : kEveryFormat) {
    SCOPED_TRACE(format.name);
    TempDir temp;
    const fs::path outside = temp.Path() / "outside";
    fs::create_directories(outside / "Resource");
    std::ofstream(outside / "secret") << "keep me";
    std::ofstream(outside / "browser") << "keep me too";
    const fs::path update = temp.Path() / "update";
    fs::create_directories(update);
    fs::create_symlink(outside / "secret", update / "~unpack.partial");
    fs::create_symlink(outside / "browser", update / "Kivo9.exe");
    fs::create_directory_symlink(outside / "Resource", update / "Resource");
    WritePackage(temp.Path() / "p.pkg", format, kPackage);
    const ExtractorRun run = Extract(temp.Path() / "p.pkg", update, temp.Path() / "errors.txt");
    EXPECT_EQ(run.exitCode, 3) << run.errors;  // the entries below Resource/ fail
    EXPECT_EQ(ReadFile(outside / "secret"), "keep me");
    EXPECT_EQ(ReadFile(outside / "browser"), "keep me too");
    EXPECT_TRUE(fs::is_empty(outside / "Resource"));
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(update / "Kivo9.exe")));
    EXPECT_EQ(ReadFile(update / "Kivo9.exe"), "new browser");
    EXPECT_FALSE(fs::exists(fs::symlink_status(update / "~unpack.partial")));
  }
}

}  // namespace

namespace {

// tar compressed into one zstd frame whose header asks for a window of 2^windowLog bytes.
std::string Frame(const std::string& tar, int windowLog) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  // Without a content size in the header the decoder must take the window as it is asked.
  ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 0);
  std::string frame(ZSTD_compressBound(tar.size()) + 64, '\0');
  ZSTD_inBuffer in{tar.data(), tar.size(), 0};
  ZSTD_outBuffer out{frame.data(), frame.size(), 0};
  // Given in two steps, the input's size is not known when the window is chosen.
  ZSTD_compressStream2(context, &out, &in, ZSTD_e_continue);
  ZSTD_inBuffer none{nullptr, 0, 0};
  EXPECT_EQ(ZSTD_compressStream2(context, &out, &none, ZSTD_e_end), 0u);
  ZSTD_freeCCtx(context);
  frame.resize(out.pos);
  return frame;
}

// A solid package is refused whole, nothing written, unless it is exactly one whole frame
// that keeps the window cap and holds one whole, undamaged tar stream.
TEST(Extractor, ASolidPackageIsTakenOnlyWhole) {
  TempDir temp;
  std::vector<Entry> entries = kPackage;
  const std::string longName = std::string(150, 'd') + "/" + std::string(120, 'f') + "\xC3\xA9";
  entries.push_back({longName, "long", ""});
  WritePackage(temp.Path() / "p.tar", kTar, entries);
  const std::string tar = ReadFile(temp.Path() / "p.tar");
  std::string badSum = tar;
  badSum[0] ^= 1;  // the first header's name: its checksum no longer matches
  std::string notUstar = tar;
  notUstar[257] = 'x';
  unsigned sum = 0;
  for (std::size_t i = 0; i < 512; ++i) {
    sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(notUstar[i]);
  }
  std::snprintf(notUstar.data() + 148, 8, "%06o", sum);  // its checksum made to match
  const std::string good = Frame(tar, 20);
  struct Case {
    const char* name;
    std::string package;
    const char* why;  // on standard error; nullptr: unpacked
  };
  const Case cases[] = {
      {"whole", good, nullptr},
      {"widest window", Frame(tar, unpack::kSolidWindowLogMax), nullptr},
      {"window beyond the cap", Frame(tar, unpack::kSolidWindowLogMax + 1), "damaged frame"},
      {"cut short", good.substr(0, good.size() - 5), "cut short"},
      {"a second frame", good + good, "bytes follow the frame"},
      {"bytes after the frame", good + "x", "bytes follow the frame"},
      {"data after the archive's end", Frame(tar + "more", 20), "follows the archive's end"},
      {"archive cut before its end", Frame(tar.substr(0, 1024), 20), "ends inside an entry"},
      {"a damaged header", Frame(badSum, 20), "checksum does not match"},
      {"no ustar header", Frame(notUstar, 20), "no ustar header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path package = temp.Path() / "p.tzst";
    std::ofstream(package, std::ios::binary | std::ios::trunc) << c.package;
    const fs::path update = temp.Path() / c.name;
    const ExtractorRun run = Extract(package, update, temp.Path() / "errors.txt");
    if (c.why == nullptr) {
      EXPECT_EQ(run.exitCode, 0) << run.errors;
      EXPECT_EQ(ReadFile(update / longName), "long");
      EXPECT_EQ(ReadFile(update / "Resource" / "version.ini"), "[Version]\nupdate=1204\n");
      continue;
    }
    EXPECT_EQ(run.exitCode, 2) << run.errors;
    EXPECT_NE(run.errors.find(c.why), std::string::npos) << run.errors;
    EXPECT_FALSE(fs::exists(update) && !fs::is_empty(update));
  }
}

}  // namespace

namespace {

std::string Sha256Hex(const std::string& data) {
  platform::Sha256 hash;
  hash.Update(data.data(), data.size());
  return platform::HexDigest(hash.Finish());
}

// The zstd frame that makes now from the prefix before.
std::string Patch(const std::string& before, const std::string& now) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_refPrefix(context, before.data(), before.size());
  std::string frame(ZSTD_compressBound(now.size()) + 64, '\0');
  frame.resize(ZSTD_compress2(context, frame.data(), frame.size(), now.data(), now.size()));
  ZSTD_freeCCtx(context);
  return frame;
}

// The list lines are read whole or refused with the line's fault.
TEST(DeltaList, LinesAreReadWholeOrRefused) {
  const std::string h(64, 'a');
  const struct {
    std::string text;
    const char* why;  // nullptr: read
  } cases[] = {
      {"kivo-delta 1\nsame x 5 " + h + " a b\npatch - 9 " + h + " 7 " + h + " c\n", nullptr},
      {"kivo-delta 2\n", "no delta list"},
      {"kivo-delta 1\nsame x 5 " + h + " a", "cut short"},
      {"kivo-delta 1\nmove x 5 " + h + " a\n", "unknown kind"},
      {"kivo-delta 1\nsame y 5 " + h + " a\n", "another shape"},
      {"kivo-delta 1\nsame x 5 " + h + " \n", "without a path"},
      {"kivo-delta 1\nsame x 5 " + std::string(64, 'A') + " a\n", "malformed"},
      {"kivo-delta 1\npatch x 134217729 " + h + " 1 " + h + " a\n", "too large"},
      {"kivo-delta 1\nsame x 5 " + h + " a\nwhole - 1 " + h + " a\n", "names a twice"},
  };
  for (const auto& c : cases) {
    const auto lines = unpack::ParseDeltaList(c.text);
    if (c.why == nullptr) {
      ASSERT_TRUE(lines) << lines.why();
      ASSERT_EQ(lines->size(), 2u);
      EXPECT_EQ((*lines)[0].path, "a b");
      EXPECT_TRUE((*lines)[0].executable);
      EXPECT_EQ((*lines)[1].oldSize, 7u);
      continue;
    }
    ASSERT_FALSE(lines) << c.text;
    EXPECT_NE(lines.why().find(c.why), std::string::npos) << lines.why();
  }
}

// A delta makes the new tree from the installed one, or fails where an old file, a patch or a
// new file is not what its list says; it never takes an installed file it has not checked.
TEST(DeltaPackage, MakesTheTreeOnlyFromCheckedFiles) {
  TempDir temp;
  const fs::path base = temp.Path() / "installed";
  std::string oldLarge(200000, 'o');
  for (std::size_t i = 0; i < oldLarge.size(); i += 7) oldLarge[i] = static_cast<char>(i);
  std::string newLarge = oldLarge;
  newLarge.replace(5000, 4, "1204");
  const std::string patch = Patch(oldLarge, newLarge);
  struct Case {
    const char* name;
    std::string installedLarge;
    std::string patchLine;  // the list's line for the large file
    std::string patchData;
    std::string wholeData;  // the entry of the added file
    int status;
    const char* why;  // on standard error; nullptr: made
  };
  const std::string patchLine = "patch - " + std::to_string(newLarge.size()) + " " +
                                Sha256Hex(newLarge) + " " + std::to_string(oldLarge.size()) + " " +
                                Sha256Hex(oldLarge) + " large.bin\n";
  // The same change as a bsdiff patch: one triple whose diff bytes turn the old into the new.
  std::string bsdiff = std::string("KBSDIFF1") + std::string(24, '\0');
  for (int i = 0; i < 8; ++i)
    bsdiff[8 + i] = static_cast<char>((newLarge.size() >> (8 * i)) & 0xFF);
  for (std::size_t i = 0; i < newLarge.size(); ++i) {
    bsdiff += static_cast<char>(newLarge[i] - oldLarge[i]);
  }
  const std::string bsdiffLine = "bsdiff" + patchLine.substr(5);
  const Case cases[] = {
      {"made", oldLarge, patchLine, patch, "added", 0, nullptr},
      {"made by bsdiff", oldLarge, bsdiffLine, bsdiff, "added", 0, nullptr},
      {"bsdiff of a changed file", newLarge, bsdiffLine, bsdiff, "added", 3,
       "installed file changed"},
      {"bsdiff cut short", oldLarge, bsdiffLine, bsdiff.substr(0, 100), "added", 3, "ends before"},
      {"installed file changed", newLarge, patchLine, patch, "added", 3, "installed file changed"},
      {"patch flipped", oldLarge, patchLine, patch.substr(0, 20) + "\x01" + patch.substr(21),
       "added", 3, "large.bin"},
      {"patch cut short", oldLarge, patchLine, patch.substr(0, patch.size() - 3), "added", 3,
       "not one whole zstd frame"},
      {"new file of another hash", oldLarge, patchLine, patch, "addex", 3, "another SHA-256"},
      {"entry the list lacks", oldLarge, "", patch, "added", 2, "not the list's next"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(base);
    fs::create_directories(base / "Resource");
    std::ofstream(base / "large.bin", std::ios::binary) << c.installedLarge;
    std::ofstream(base / "same.txt", std::ios::binary) << "same";
    const std::string list = "kivo-delta 1\nsame - 4 " + Sha256Hex("same") + " same.txt\n" +
                             c.patchLine + "whole - 5 " + Sha256Hex("added") + " new/added.txt\n";
    WritePackage(temp.Path() / "d.tar", kTar,
                 {{".kivo-delta", list, ""},
                  {"large.bin", c.patchData, ""},
                  {"new/added.txt", c.wholeData, ""}});
    const fs::path package = temp.Path() / "d.delta";
    std::ofstream(package, std::ios::binary | std::ios::trunc)
        << Frame(ReadFile(temp.Path() / "d.tar"), 20);
    ASSERT_TRUE(unpack::IsDeltaPackage(package.wstring()));
    const fs::path made = temp.Path() / c.name;
    testing::internal::CaptureStderr();
    const int status =
        unpack::UnpackDelta(package.wstring(), made.wstring() + L"/", base.wstring() + L"/");
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, c.status) << errors;
    if (c.why == nullptr) {
      EXPECT_EQ(ReadFile(made / "large.bin"), newLarge);
      EXPECT_EQ(ReadFile(made / "same.txt"), "same");
      EXPECT_EQ(ReadFile(made / "new" / "added.txt"), "added");
      continue;
    }
    EXPECT_NE(errors.find(c.why), std::string::npos) << errors;
    EXPECT_FALSE(fs::exists(made / "new" / "added.txt")) << "nothing after the failure";
  }
}

}  // namespace
