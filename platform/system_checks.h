// Checks the installer window makes around a download: is the machine on
// the internet, and how much room is on a drive. Both may run on any thread
// (CheckNetwork sets up COM on its thread when the thread has none); both
// are slow enough to keep off the window's thread. Neither throws.
#pragma once

#include <cstdint>
#include <string>

namespace Utils {

// Low 16 bits: the network list manager's NLM_CONNECTIVITY flags (0 when it
// could not be asked). Bits 16 and up: 0 connected or not checkable, 1 no
// connectivity at all, 2 connected but not to the internet. Callers treat
// anything above 0xFFFF as a poor network.
uint32_t CheckNetwork();

inline constexpr uint32_t kNetworkReasonShift = 16;

class HardDiskManager {
 public:
  virtual ~HardDiskManager() = default;

  // Fills the three counts for the folder (callers pass a drive such as
  // "C:") and returns true; on failure logs the system error and leaves them.
  bool CheckFreeSpace(const std::wstring& directory);

  uint64_t freeBytesAvailable = 0;  // to the calling user
  uint64_t totalBytes = 0;
  uint64_t totalFreeBytes = 0;
};

// Bytes expressed in GiB, as the failure reports and the space check show them.
inline double BytesToGiB(uint64_t bytes) { return static_cast<double>(bytes) / 1073741824.0; }

}  // namespace Utils
