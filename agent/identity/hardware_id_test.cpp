#include "agent/identity/hardware_id.h"

#include <gtest/gtest.h>

namespace {

using platform::NetworkAdapter;

NetworkAdapter Adapter(std::uint8_t last, std::uint32_t type,
                       std::optional<std::wstring> pnp = std::nullopt) {
  return NetworkAdapter{L"{adapter-" + std::to_wstring(last) + L"}",
                        {0x00, 0x1A, 0x2B, 0x3C, 0x4D, last},
                        type,
                        std::move(pnp)};
}

const std::wstring kPci = L"PCI\\VEN_8086&DEV_100E\\3&1";

TEST(HardwareId, FormatsSixBytesAsUpperCaseHex) {
  EXPECT_EQ(FormatAdapterId({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}), L"001A2B3C4D5E");
  EXPECT_EQ(FormatAdapterId({0xFF, 0x00, 0x0F, 0xF0, 0xA0, 0x09}), L"FF000FF0A009");
}

TEST(HardwareId, PciPrefixInAnyCase) {
  EXPECT_TRUE(IsPciInstanceId(L"PCI\\VEN_10EC"));
  EXPECT_TRUE(IsPciInstanceId(L"pci\\ven_10ec"));
  EXPECT_TRUE(IsPciInstanceId(L"PcI"));
  EXPECT_FALSE(IsPciInstanceId(L"USB\\VID_0B95"));
  EXPECT_FALSE(IsPciInstanceId(L"ROOT\\NET\\0000"));
  EXPECT_FALSE(IsPciInstanceId(L"PC"));
  EXPECT_FALSE(IsPciInstanceId(L""));
  EXPECT_FALSE(IsPciInstanceId(std::nullopt));
}

TEST(HardwareId, WirelessOnlyIsTakenAsAnyAdapter) {
  const std::vector adapters = {Adapter(0x5E, platform::kAdapterTypeWireless, kPci)};
  EXPECT_TRUE(SelectAdapterIds(adapters, true).empty());
  EXPECT_EQ(ChooseHardwareId(adapters), L"001A2B3C4D5E");
}

TEST(HardwareId, LowerCasePciCountsAsPhysical) {
  const std::vector adapters = {Adapter(0x01, platform::kAdapterTypeWireless, kPci),
                                Adapter(0x02, platform::kAdapterTypeEthernet, L"pci\\ven_1af4")};
  EXPECT_EQ(ChooseHardwareId(adapters), L"001A2B3C4D02");
}

TEST(HardwareId, UsbOrVirtualAdaptersAreNotPhysicalButStillServe) {
  const std::vector adapters = {Adapter(0x07, platform::kAdapterTypeEthernet, L"USB\\VID_0B95"),
                                Adapter(0x08, platform::kAdapterTypeEthernet, std::nullopt)};
  EXPECT_TRUE(SelectAdapterIds(adapters, true).empty());
  EXPECT_EQ(SelectAdapterIds(adapters, false),
            (std::vector<std::wstring>{L"001A2B3C4D07", L"001A2B3C4D08"}));
  EXPECT_EQ(ChooseHardwareId(adapters), L"001A2B3C4D07");
}

TEST(HardwareId, FirstReportedPhysicalAdapterWins) {
  const std::vector adapters = {Adapter(0x10, platform::kAdapterTypeEthernet, L"ROOT\\VMS"),
                                Adapter(0x11, platform::kAdapterTypeEthernet, kPci),
                                Adapter(0x12, platform::kAdapterTypeEthernet, kPci)};
  EXPECT_EQ(ChooseHardwareId(adapters), L"001A2B3C4D11");
}

TEST(HardwareId, PciAdapterOfAnotherTypeIsNotPhysical) {
  const std::vector adapters = {Adapter(0x20, platform::kAdapterTypePpp, kPci),
                                Adapter(0x21, platform::kAdapterTypeEthernet, L"USB\\X")};
  EXPECT_TRUE(SelectAdapterIds(adapters, true).empty());
  EXPECT_EQ(ChooseHardwareId(adapters), L"001A2B3C4D20");
}

TEST(HardwareId, NoAdapterGivesEmptyIdentifier) { EXPECT_EQ(ChooseHardwareId({}), L""); }

// The machine's own adapters: whatever they are, the three views agree with each other.
TEST(HardwareId, MachineViewsAgree) {
  std::vector<std::wstring> all;
  std::vector<std::wstring> physical;
  const int count = EnumAdapterMacs(all, false);
  EXPECT_EQ(count, static_cast<int>(all.size()));
  EnumAdapterMacs(physical, true);
  EXPECT_LE(physical.size(), all.size());
  const std::wstring id = GetHardwareId();
  if (all.empty()) {
    EXPECT_EQ(id, L"");
  } else {
    EXPECT_EQ(id, physical.empty() ? all.front() : physical.front());
    EXPECT_EQ(id.size(), 12u);
  }
  EXPECT_EQ(GetPhysicalAdapterId(), physical.empty() ? L"" : physical.front());
  EXPECT_FALSE(IsPhysicalAdapter(L"no adapter of this name"));
}

}  // namespace
