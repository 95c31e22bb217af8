// Network adapters from the IP Helper, loaded at run time, and their registry entries.
#include <windows.h>
// windows.h first: the IP Helper header builds on its types.
#include <iphlpapi.h>

#include <algorithm>
#include <memory>

#include "platform/network.h"
#include "platform/text.h"
#include "platform/unique_handle.h"

namespace platform {
namespace {

using GetAdaptersInfoFunction = DWORD(WINAPI*)(PIP_ADAPTER_INFO, PULONG);

constexpr wchar_t kNetworkClassKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\";
constexpr DWORD kPnpValueBytes = 256;

bool ReleaseModule(HMODULE module) { return FreeLibrary(module) != 0; }
bool CloseKey(HKEY key) { return RegCloseKey(key) == ERROR_SUCCESS; }
using LoadedLibrary = UniqueHandle<HMODULE, ReleaseModule>;
using RegistryKey = UniqueHandle<HKEY, CloseKey>;

// The key at path below root opened for reading; one that holds nothing when it cannot be.
RegistryKey OpenKeyForReading(HKEY root, const std::wstring& path) {
  RegistryKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) key.Detach();
  return key;
}

GetAdaptersInfoFunction FindGetAdaptersInfo(HMODULE library) {
  const FARPROC found = GetProcAddress(library, "GetAdaptersInfo");
  // Through the generic function type, which any function pointer may be cast to and from.
  return reinterpret_cast<GetAdaptersInfoFunction>(reinterpret_cast<void (*)()>(found));
}

// The chain of adapter records, or nullptr when the two-call sizing does not succeed.
std::unique_ptr<unsigned char[]> ReadAdapterChain(GetAdaptersInfoFunction getAdaptersInfo) {
  ULONG size = 0;
  if (getAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW) return nullptr;
  auto buffer = std::make_unique<unsigned char[]>(size);
  if (getAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.get()), &size) != NO_ERROR) {
    return nullptr;
  }
  return buffer;
}

NetworkAdapter MakeAdapter(const IP_ADAPTER_INFO& info) {
  NetworkAdapter adapter;
  adapter.name = FromSystemCodePage(info.AdapterName);
  std::copy_n(info.Address, adapter.address.size(), adapter.address.begin());
  adapter.type = info.Type;
  adapter.pnpInstanceId = ReadAdapterPnpInstanceId(adapter.name);
  return adapter;
}

}  // namespace

std::vector<NetworkAdapter> ListAdapters() {
  std::vector<NetworkAdapter> adapters;
  const LoadedLibrary library(LoadLibraryW(L"iphlpapi.dll"));
  if (!library.IsOpen()) return adapters;
  const GetAdaptersInfoFunction getAdaptersInfo = FindGetAdaptersInfo(library.get());
  if (getAdaptersInfo == nullptr) return adapters;
  const auto chain = ReadAdapterChain(getAdaptersInfo);
  if (chain == nullptr) return adapters;
  for (auto* info = reinterpret_cast<const IP_ADAPTER_INFO*>(chain.get()); info != nullptr;
       info = info->Next) {
    adapters.push_back(MakeAdapter(*info));
  }
  return adapters;
}

std::optional<std::wstring> ReadAdapterPnpInstanceId(const std::wstring& adapterName) {
  const RegistryKey key =
      OpenKeyForReading(HKEY_LOCAL_MACHINE, kNetworkClassKey + adapterName + L"\\Connection");
  if (!key.IsOpen()) return std::nullopt;
  wchar_t value[kPnpValueBytes / sizeof(wchar_t)] = {};
  DWORD bytes = kPnpValueBytes;
  if (RegQueryValueExW(key.get(), L"PnpInstanceID", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(value), &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // A value stored without its terminator may fill the whole buffer.
  return std::wstring(value, wcsnlen(value, std::size(value)));
}

}  // namespace platform
