// recorder: stands in for the browser and the post-upgrade program. Each start appends one
// record to "<own executable path>.record" (for example "Kivo9.exe.record" beside the
// browser) and ends with exit code 0 (1 when the record could not be written). A record is
// a group of lines:
//
//   record
//   cmdline "<the process command line as the program received it>"
//   cwd "<the working directory it was started in>"
//   arg "<first argument after the program name>"
//   arg "<next argument>"        (one line for each argument, none without arguments)
//   end
//
// Every value is a JSON string literal of the UTF-8 text: '"' and '\' are escaped with a
// backslash and control characters as \n, \r, \t or \u00XX, so each argument stays on one
// line whatever it holds and a reader decodes it exactly.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/entry.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

std::string Quoted(const std::wstring& text) {
  std::string out = "\"";
  for (const char c : platform::ToUtf8(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Record(int argc, wchar_t** argv) {
  std::string record = "record\n";
  record += "cmdline " + Quoted(platform::ProcessCommandLine()) + "\n";
  record += "cwd " + Quoted(platform::CurrentDirectory()) + "\n";
  for (int i = 1; i < argc; ++i) record += "arg " + Quoted(argv[i]) + "\n";
  return record + "end\n";
}

}  // namespace

int ProgramMain(int argc, wchar_t** argv) {
  const std::string path = platform::ToUtf8(platform::OwnExecutablePath() + L".record");
  std::ofstream out(std::filesystem::path(std::u8string(path.begin(), path.end())),
                    std::ios::binary | std::ios::app);
  // One write for the whole record, so that records of starts close together do not mix.
  const std::string record = Record(argc, argv);
  out.write(record.data(), static_cast<std::streamsize>(record.size()));
  out.flush();
  return out ? 0 : 1;
}
