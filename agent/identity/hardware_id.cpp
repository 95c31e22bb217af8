#include "agent/identity/hardware_id.h"

#include <cwctype>

namespace {

bool IsPhysicalRecord(const platform::NetworkAdapter& adapter) {
  return adapter.type == platform::kAdapterTypeEthernet && IsPciInstanceId(adapter.pnpInstanceId);
}

std::wstring FirstOrEmpty(const std::vector<std::wstring>& ids) {
  return ids.empty() ? std::wstring() : ids.front();
}

}  // namespace

std::wstring FormatAdapterId(const std::array<std::uint8_t, 6>& address) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring id;
  for (const std::uint8_t byte : address) {
    id += kDigits[byte >> 4];
    id += kDigits[byte & 0x0F];
  }
  return id;
}

bool IsPciInstanceId(const std::optional<std::wstring>& pnpInstanceId) {
  if (!pnpInstanceId || pnpInstanceId->size() < 3) return false;
  std::wstring prefix = pnpInstanceId->substr(0, 3);
  for (wchar_t& c : prefix) c = static_cast<wchar_t>(std::towupper(c));
  return prefix == L"PCI";
}

std::vector<std::wstring> SelectAdapterIds(const std::vector<platform::NetworkAdapter>& adapters,
                                           bool physicalOnly) {
  std::vector<std::wstring> ids;
  for (const auto& adapter : adapters) {
    if (physicalOnly && !IsPhysicalRecord(adapter)) continue;
    ids.push_back(FormatAdapterId(adapter.address));
  }
  return ids;
}

std::wstring ChooseHardwareId(const std::vector<platform::NetworkAdapter>& adapters) {
  const std::wstring physical = FirstOrEmpty(SelectAdapterIds(adapters, true));
  return physical.empty() ? FirstOrEmpty(SelectAdapterIds(adapters, false)) : physical;
}

std::wstring GetHardwareId() { return ChooseHardwareId(platform::ListAdapters()); }

std::wstring GetPhysicalAdapterId() {
  std::vector<std::wstring> ids;
  return EnumAdapterMacs(ids, true) > 0 ? ids.front() : std::wstring();
}

int EnumAdapterMacs(std::vector<std::wstring>& list, bool physicalOnly) {
  list = SelectAdapterIds(platform::ListAdapters(), physicalOnly);
  return static_cast<int>(list.size());
}

bool IsPhysicalAdapter(const std::wstring& adapterName) {
  return IsPciInstanceId(platform::ReadAdapterPnpInstanceId(adapterName));
}
