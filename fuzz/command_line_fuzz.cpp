// Command lines: any text splits, and joined arguments split back into the same ones.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"
#include "platform/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring line = fuzz::WideText(data, size);
  std::vector<std::wstring> arguments = platform::SplitCommandLine(line);
  fuzz::Require(!line.empty() || arguments.empty() || arguments.size() == 1,
                "an empty line holds no arguments");
  if (!arguments.empty()) arguments.erase(arguments.begin());  // program names quote apart
  fuzz::Require(platform::SplitParameters(platform::JoinArguments(arguments)) == arguments,
                "joined arguments split back unchanged");
  const std::vector<std::wstring> parameters = platform::SplitParameters(line);
  fuzz::Require(platform::SplitParameters(platform::JoinArguments(parameters)) == parameters,
                "joined parameters split back unchanged");
  return 0;
}
