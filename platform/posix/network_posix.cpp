// Network adapters from getifaddrs, with sysfs standing in for the Windows registry.
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/network.h"
#include "platform/text.h"
#include "platform/unique_handle.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

const fs::path kNetClass = "/sys/class/net";

bool FreeAddresses(ifaddrs* list) {
  freeifaddrs(list);
  return true;
}
using InterfaceAddresses = UniqueHandle<ifaddrs*, FreeAddresses>;

// The system's list of interface addresses; one that holds nothing when it has none.
InterfaceAddresses ReadInterfaceAddresses() {
  InterfaceAddresses addresses;
  if (getifaddrs(addresses.out()) != 0) addresses.Detach();
  return addresses;
}

// An interface name from outside must not lead out of the sysfs class directory.
bool IsPlainInterfaceName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool IsWireless(const std::string& name) {
  std::error_code ec;
  return fs::exists(kNetClass / name / "wireless", ec) ||
         fs::exists(kNetClass / name / "phy80211", ec);
}

std::uint32_t AdapterType(const sockaddr_ll& link, const std::string& name) {
  switch (link.sll_hatype) {
    case ARPHRD_ETHER:
      return IsWireless(name) ? kAdapterTypeWireless : kAdapterTypeEthernet;
    case ARPHRD_PPP:
      return kAdapterTypePpp;
    default:
      return kAdapterTypeOther;
  }
}

// The bus a device sits on, e.g. "pci" or "usb"; "" when the device has none.
std::string BusOf(const fs::path& device) {
  std::error_code ec;
  const fs::path bus = fs::read_symlink(device / "subsystem", ec);
  return ec ? std::string() : bus.filename().string();
}

NetworkAdapter MakeAdapter(const ifaddrs& entry) {
  const auto& link = *reinterpret_cast<const sockaddr_ll*>(entry.ifa_addr);
  NetworkAdapter adapter;
  adapter.name = FromUtf8(entry.ifa_name);
  std::copy_n(link.sll_addr, std::min<std::size_t>(link.sll_halen, adapter.address.size()),
              adapter.address.begin());
  adapter.type = AdapterType(link, entry.ifa_name);
  adapter.pnpInstanceId = ReadAdapterPnpInstanceId(adapter.name);
  return adapter;
}

}  // namespace

std::vector<NetworkAdapter> ListAdapters() {
  std::vector<NetworkAdapter> adapters;
  const InterfaceAddresses interfaces = ReadInterfaceAddresses();
  // Each interface has exactly one AF_PACKET entry, in the kernel's interface order.
  for (const ifaddrs* entry = interfaces.get(); entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
    if ((entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
    adapters.push_back(MakeAdapter(*entry));
  }
  return adapters;
}

std::optional<std::wstring> ReadAdapterPnpInstanceId(const std::wstring& adapterName) {
  const std::string name = ToUtf8(adapterName);
  if (!IsPlainInterfaceName(name)) return std::nullopt;
  std::error_code ec;
  fs::path device = fs::canonical(kNetClass / name / "device", ec);
  if (ec) return std::nullopt;  // virtual adapters have no device
  std::string bus = BusOf(device);
  // A virtio network device is a function of its transport (a PCI device in a virtual
  // machine), which is what Windows reports as the adapter's device instance.
  while (bus == "virtio" && device.has_parent_path() && device != device.root_path()) {
    device = device.parent_path();
    bus = BusOf(device);
  }
  if (bus.empty()) return std::nullopt;
  std::transform(bus.begin(), bus.end(), bus.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  const std::wstring id = FromUtf8(bus + "\\" + device.filename().string());
  if (id.size() > 127) return std::nullopt;
  return id;
}

}  // namespace platform
