#include "bsdiff_patch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

std::string Little(std::uint64_t value) {
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

std::string Triple(std::uint64_t x, std::uint64_t y, std::int64_t z) {
  return Little(x) + Little(y) + Little(static_cast<std::uint64_t>(z));
}

// A patch makes exactly the new file from the old one, whatever pieces it arrives in, or is
// refused: never a write beyond the new file, never a read beyond the old one.
TEST(BsdiffPatch, MakesTheNewFileOrIsRefused) {
  const std::string old = "abcdefgh";
  // "abcXefgh" from 8 diff bytes (0 but one), "!!" from 2 extra bytes; then one back in the
  // old file, and 3 diff bytes of which the last 2 lie beyond the old file (read as 0).
  const std::string diff = std::string(3, '\0') + std::string(1, 'X' - 'd') + std::string(4, '\0');
  const std::string good =
      "KBSDIFF1" + Triple(8, 2, -1) + diff + "!!" + Triple(3, 0, 0) + std::string(1, '\0') + "yz";
  const std::string made = "abcXefgh!!hyz";
  const struct {
    const char* name;
    std::string patch;
    std::uint64_t size;
    const char* made;  // nullptr: refused
  } cases[] = {
      {"whole", good, made.size(), made.c_str()},
      {"wrong magic", "KBSDIFF2" + good.substr(8), made.size(), nullptr},
      {"cut short", good.substr(0, good.size() - 1), made.size(), nullptr},
      {"bytes after its end", good + "x", made.size(), nullptr},
      {"a triple beyond the new file", "KBSDIFF1" + Triple(9, 0, 0) + std::string(9, '\0'), 8,
       nullptr},
      {"extra beyond the new file", "KBSDIFF1" + Triple(0, UINT64_MAX, 0), 8, nullptr},
      {"a seek out of range", "KBSDIFF1" + Triple(1, 0, INT64_MAX) + "a" + Triple(1, 0, 1) + "a", 2,
       nullptr},
      {"an empty file", "KBSDIFF1", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, c.patch.size() + 1}) {
      unpack::BsdiffPatcher patcher(old, c.size);
      for (std::size_t at = 0; at < c.patch.size(); at += piece) {
        patcher.Take(c.patch.data() + at, std::min(piece, c.patch.size() - at));
      }
      const auto result = patcher.Finish();
      if (c.made == nullptr) {
        EXPECT_FALSE(result) << piece;
      } else {
        ASSERT_TRUE(result) << result.why();
        EXPECT_EQ(*result, c.made) << piece;
      }
    }
  }
}

}  // namespace
