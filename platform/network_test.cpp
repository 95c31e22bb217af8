#include "platform/network.h"

#include <gtest/gtest.h>

namespace {

// Loopback type of the IP Helper; such adapters are never reported.
constexpr std::uint32_t kLoopbackType = 24;

TEST(Network, AdaptersHaveNamesAndNoLoopback) {
  for (const auto& adapter : platform::ListAdapters()) {
    EXPECT_FALSE(adapter.name.empty());
    EXPECT_NE(adapter.type, kLoopbackType) << adapter.name;
    EXPECT_NE(adapter.name, L"lo");
    EXPECT_EQ(adapter.pnpInstanceId, platform::ReadAdapterPnpInstanceId(adapter.name));
  }
}

TEST(Network, UnknownAdapterHasNoDeviceInstance) {
  EXPECT_EQ(platform::ReadAdapterPnpInstanceId(L"no adapter of this name"), std::nullopt);
  EXPECT_EQ(platform::ReadAdapterPnpInstanceId(L""), std::nullopt);
  EXPECT_EQ(platform::ReadAdapterPnpInstanceId(L".."), std::nullopt);
}

}  // namespace
