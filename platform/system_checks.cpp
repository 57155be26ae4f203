#include "platform/system_checks.h"

#include <windows.h>
#include <netlistmgr.h>
#include <objbase.h>

#include "platform/handles.h"
#include "platform/log.h"

namespace Utils {
namespace {

// Spelled out rather than taken from uuid.lib, whose mingw build lacks them.
const CLSID kNetworkListManager = {0xDCB00C01, 0x570F, 0x4A9B, {0x8D, 0x69, 0x19, 0x9F, 0xDB, 0xA5, 0x72, 0x3B}};
const IID kINetworkListManager = {0xDCB00000, 0x570F, 0x4A9B, {0x8D, 0x69, 0x19, 0x9F, 0xDB, 0xA5, 0x72, 0x3B}};

}  // namespace

// The network list manager, asked once. Missing service: 0, which callers
// read as good.
uint32_t CheckNetwork() {
  // Callers are worker threads that may or may not have COM already (a
  // different apartment model is fine too): it is undone only if set up here.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  uint32_t result = 0;
  UniqueComInterface<INetworkListManager> manager;
  if (SUCCEEDED(CoCreateInstance(kNetworkListManager, nullptr, CLSCTX_ALL, kINetworkListManager,
                                 reinterpret_cast<void**>(manager.put()))) &&
      manager) {
    NLM_CONNECTIVITY connectivity = NLM_CONNECTIVITY_DISCONNECTED;
    uint32_t reason = 0;
    if (FAILED(manager.get()->GetConnectivity(&connectivity))) connectivity = NLM_CONNECTIVITY_DISCONNECTED;
    const uint32_t flags = static_cast<uint32_t>(connectivity) & 0xFFFF;
    if (flags == 0) {
      OV_LOG(L"GetConnectivity %d", static_cast<int>(flags));
      reason = 1;
    } else {
      VARIANT_BOOL connected = VARIANT_TRUE;
      // get_IsConnectedToInternet in the SDK headers; mingw drops the "get_".
      if (SUCCEEDED(manager.get()->IsConnectedToInternet(&connected)) && connected == VARIANT_FALSE) {
        OV_LOG(L"get_IsConnectedToInternet:%d", static_cast<int>(connected));
        reason = 2;
      }
    }
    manager.reset();  // before COM goes
    CoFreeUnusedLibraries();
    result = flags + (reason << kNetworkReasonShift);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return result;
}

bool HardDiskManager::CheckFreeSpace(const std::wstring& directory) {
  ULARGE_INTEGER available, total, totalFree;
  if (!GetDiskFreeSpaceExW(directory.c_str(), &available, &total, &totalFree)) {
    OV_LOG(L"HardDiskManager::CheckFreeSpace FAIL code=%ld\r\n", static_cast<long>(GetLastError()));
    return false;
  }
  freeBytesAvailable = available.QuadPart;
  totalBytes = total.QuadPart;
  totalFreeBytes = totalFree.QuadPart;
  return true;
}

}  // namespace Utils
