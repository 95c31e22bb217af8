// tree_extractor: stands in for the extractor (Resource/UnPack.exe) where no real one runs,
// such as the Windows programs under an emulator. It takes the extractor's command line
// x -o+ -y "ARCHIVE" "DEST" but does not read the archive: it copies a prepared tree into
// DEST and records how it was started.
//
// Its settings lie beside it in "<own executable path>.tree", one "key=value" per line (UTF-8):
//
//   source=DIR            the tree to lay out in DEST (required)
//   marker_after_ms=N     write the marker Resource/version.ini N ms after the archive was
//                         last written (the moment the agent finished its download, to
//                         within half a second where file times count whole seconds);
//                         default 0
//   no_marker=1           never write the marker
//
// Every file except the marker is copied at once; the marker comes last and appears in one
// step (written beside, then renamed), so whoever sees it finds the rest of the tree complete.
//
// At the end it appends one record to "<own executable path>.record", in the recorder's
// format, with the parameters as it understood them, the archive's size and the outcome:
//
//   record
//   cmdline "<the process command line>"
//   arg "<parameter>"             (one line for each)
//   archive_size <bytes, -1 when the archive could not be read>
//   archive_sha256 "<64 hex digits, - when the archive could not be read>"
//   result "<ok, or what failed>"
//   end
//
// Exit code 0 when the tree was laid out, 1 otherwise.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "extract_command.h"
#include "platform/crypto.h"
#include "platform/entry.h"
#include "platform/process.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

struct Settings {
  fs::path source;
  long markerAfterMs = 0;
  bool noMarker = false;
};

// Paths go through UTF-8, which the library reads as UTF-8 on every platform.
fs::path PathOf(const std::wstring& text) {
  const std::string utf8 = platform::ToUtf8(text);
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

const fs::path& MarkerName() {
  static const fs::path marker = fs::path(L"Resource") / L"version.ini";
  return marker;
}

bool ReadSettings(const fs::path& file, Settings& settings) {
  std::ifstream in(file, std::ios::binary);
  std::map<std::string, std::string> values;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  if (values["source"].empty()) return false;
  settings.source = PathOf(platform::FromUtf8(values["source"]));
  settings.markerAfterMs = std::atol(values["marker_after_ms"].c_str());
  settings.noMarker = values["no_marker"] == "1";
  return true;
}

// Copies every file and directory of source into dest, the marker excepted.
bool CopyTreeWithoutMarker(const fs::path& source, const fs::path& dest, std::error_code& ec) {
  fs::create_directories(dest, ec);
  for (fs::recursive_directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path relative = it->path().lexically_relative(source);
    if (relative == MarkerName()) continue;
    if (it->is_directory()) {
      fs::create_directories(dest / relative, ec);
    } else {
      fs::copy_file(it->path(), dest / relative, fs::copy_options::overwrite_existing, ec);
    }
  }
  return !ec;
}

// Waits until markerAfterMs have passed since the archive was last written. A file time on
// a whole second most likely had its fraction cut off (the Windows runtime's file status
// counts whole seconds), so it is taken to lie half a second later: the middle of the
// second it stands for.
void WaitForMarkerTime(const fs::path& archive, long markerAfterMs) {
  using std::chrono::milliseconds;
  std::error_code ec;
  auto written = fs::last_write_time(archive, ec);
  if (ec) written = fs::file_time_type::clock::now();
  if (written.time_since_epoch() % std::chrono::seconds(1) == decltype(written)::duration::zero()) {
    written += milliseconds(500);
  }
  const auto age = fs::file_time_type::clock::now() - written;
  const auto remaining =
      milliseconds(markerAfterMs) - std::chrono::duration_cast<milliseconds>(age);
  if (remaining.count() > 0) std::this_thread::sleep_for(remaining);
}

bool WriteMarker(const fs::path& source, const fs::path& dest, std::error_code& ec) {
  const fs::path target = dest / MarkerName();
  fs::path partial = target;
  partial += L".part";
  fs::create_directories(target.parent_path(), ec);
  if (!ec) fs::copy_file(source / MarkerName(), partial, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(partial, target, ec);
  return !ec;
}

std::string Quoted(const std::wstring& text) {
  std::string out = "\"";
  for (const char c : platform::ToUtf8(text)) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void AppendRecord(const std::vector<std::wstring>& parameters, long long archiveSize,
                  const std::wstring& result) {
  std::string record = "record\ncmdline " + Quoted(platform::ProcessCommandLine()) + "\n";
  for (const auto& parameter : parameters) record += "arg " + Quoted(parameter) + "\n";
  record += "archive_size " + std::to_string(archiveSize) + "\n";
  // The archive as it lies when the extractor reads it.
  const auto digest = parameters.size() == 5 ? platform::Sha256OfFile(parameters[3]) : std::nullopt;
  record += "archive_sha256 \"" + (digest ? platform::HexDigest(*digest) : "-") + "\"\n";
  record += "result " + Quoted(result) + "\nend\n";
  std::ofstream out(PathOf(platform::OwnExecutablePath() + L".record"),
                    std::ios::binary | std::ios::app);
  out.write(record.data(), static_cast<std::streamsize>(record.size()));
}

std::wstring LayOutTree(const std::vector<std::wstring>& parameters) {
  if (!unpack::IsExtractCommand(parameters)) return L"usage: x -o+ -y ARCHIVE DEST";
  Settings settings;
  if (!ReadSettings(PathOf(platform::OwnExecutablePath() + L".tree"), settings)) {
    return L"no source in the .tree settings";
  }
  const fs::path archive = PathOf(parameters[3]);
  const fs::path dest = PathOf(parameters[4]);
  std::error_code ec;
  if (!CopyTreeWithoutMarker(settings.source, dest, ec)) {
    return L"copy failed: " + platform::FromUtf8(ec.message());
  }
  if (settings.noMarker) return L"ok";
  WaitForMarkerTime(archive, settings.markerAfterMs);
  if (!WriteMarker(settings.source, dest, ec)) {
    return L"marker failed: " + platform::FromUtf8(ec.message());
  }
  return L"ok";
}

}  // namespace

int ProgramMain(int, wchar_t**) {
  const std::vector<std::wstring> parameters =
      unpack::ExtractorParameters(platform::ProcessCommandLine());
  const std::wstring result = LayOutTree(parameters);
  std::error_code ec;
  const auto size = parameters.size() == 5 ? fs::file_size(PathOf(parameters[3]), ec) : 0;
  AppendRecord(parameters, parameters.size() == 5 && !ec ? static_cast<long long>(size) : -1,
               result);
  return result == L"ok" ? 0 : 1;
}
