// The hardware identifier: the address of a network adapter, a physical wired one preferred.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/network.h"

// "001A2B3C4D5E": the six bytes as upper-case hexadecimal digits, no separators.
std::wstring FormatAdapterId(const std::array<std::uint8_t, 6>& address);

// True when a device instance text names a PCI device: its first three characters are
// "PCI" in any case. False for a missing or shorter text.
bool IsPciInstanceId(const std::optional<std::wstring>& pnpInstanceId);

// The identifiers of the adapters, in the order given. With physicalOnly, only wired
// Ethernet adapters (type 6) on the PCI bus are taken.
std::vector<std::wstring> SelectAdapterIds(const std::vector<platform::NetworkAdapter>& adapters,
                                           bool physicalOnly);

// The identifier chosen from these adapters: the first physical one, else the first of any
// kind, else "".
std::wstring ChooseHardwareId(const std::vector<platform::NetworkAdapter>& adapters);

// The machine's identifier by ChooseHardwareId; "" without any adapter.
std::wstring GetHardwareId();

// The identifier of the machine's first physical adapter; "" when there is none.
std::wstring GetPhysicalAdapterId();

// Replaces the contents of list with the identifiers of the machine's adapters (physical
// ones only with physicalOnly) and returns their number; 0 when enumeration fails.
int EnumAdapterMacs(std::vector<std::wstring>& list, bool physicalOnly);

// True when the system marks the named adapter as a PCI device; false when it cannot tell.
bool IsPhysicalAdapter(const std::wstring& adapterName);
