// The machine's network adapters, as plain records for the core to choose from.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Adapter types as the IP Helper reports them (MIB_IF_TYPE_*, IF_TYPE_*).
inline constexpr std::uint32_t kAdapterTypeOther = 1;
inline constexpr std::uint32_t kAdapterTypeEthernet = 6;
inline constexpr std::uint32_t kAdapterTypePpp = 23;
inline constexpr std::uint32_t kAdapterTypeWireless = 71;

struct NetworkAdapter {
  std::wstring name;                      // the adapter's system name (registry or interface)
  std::array<std::uint8_t, 6> address{};  // first six bytes of the hardware address
  std::uint32_t type = kAdapterTypeOther;
  // The device instance the adapter belongs to ("PCI\...", "USB\..."); nullopt when the
  // system has none to tell (virtual adapters) or it cannot be read.
  std::optional<std::wstring> pnpInstanceId;
};

// Every adapter in the order the system reports it, loopback left out. Empty when there is
// none or the enumeration fails (both are silent).
std::vector<NetworkAdapter> ListAdapters();

// The "PnpInstanceID" of the adapter with this system name; nullopt when it cannot be read
// or is too long (127 characters at most).
std::optional<std::wstring> ReadAdapterPnpInstanceId(const std::wstring& adapterName);

}  // namespace platform
