// Disk sizes: GetDiskFreeSpaceExA and GetDiskFreeSpaceA over the drives of the
// sandbox, with sizes a test sets per drive.
//
// A drive exists when the sandbox has its folder (C: always does; SetDiskSize
// makes one). Both calls accept any existing folder of the drive, as the
// Windows NT family does. The cluster figures are those of an NTFS volume
// formatted with the default cluster size: 512-byte sectors, 4 KB clusters,
// and larger clusters for volumes too large to count in 32-bit cluster
// numbers (8 KB above 16 TB, 16 KB above 32 TB, ... up to 2 MB), so the
// counts always fit; beyond what even 2 MB clusters can count they stop at
// 0xFFFFFFFF.
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>

#include <windows.h>

#include "winsim/control.h"
#include "winsim/core/codepage.h"
#include "winsim/kernel32/host.h"
#include "winsim/kernel32/modules.h"
#include "winsim/kernel32/paths.h"

namespace winsim {
namespace {

constexpr unsigned long long kGiB = 1024ull * 1024 * 1024;
constexpr unsigned long long kDefaultTotal = 256 * kGiB;
constexpr unsigned long long kDefaultFree = 96 * kGiB;
constexpr DWORD kBytesPerSector = 512;
constexpr DWORD kDefaultSectorsPerCluster = 8;      // 4 KB
constexpr DWORD kLargestSectorsPerCluster = 4096;   // 2 MB

struct Disk {
  unsigned long long total = kDefaultTotal;
  unsigned long long free = kDefaultFree;
  DWORD failEx = 0;
  DWORD failClusters = 0;
};

std::mutex g_mutex;

std::map<char, Disk>& Disks() {
  static std::map<char, Disk> disks;
  return disks;
}

char DriveKey(char drive) { return static_cast<char>(std::toupper(static_cast<unsigned char>(drive))); }

// The disk that holds a folder; false with *error when the path is on no
// drive or names no existing folder.
bool DiskOf(LPCSTR path, Disk* disk, DWORD* error) {
  std::u16string full;
  if (!path) {
    std::u16string cwd = CurrentDirectory();
    full = cwd.size() >= 2 && cwd[1] == u':' ? cwd.substr(0, 2) + u"\\" : cwd;
  } else if (ToWide(path).size() > MAX_PATH) {
    *error = ERROR_FILENAME_EXCED_RANGE;  // an ANSI path longer than MAX_PATH
    return false;
  } else if (!FullWindowsPath(ToWide(path), &full, error)) {
    return false;
  }
  char key = 0;
  if (full.size() >= 2 && full[1] == u':') {
    key = DriveKey(static_cast<char>(full[0]));
    if (!IsHostDirectory(SandboxRoot() + "/" + std::string(1, key))) {
      *error = ERROR_PATH_NOT_FOUND;
      return false;
    }
  }
  std::string host = HostPathOf(full);
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) {
    *error = ErrorFromErrno(errno, host);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *error = ERROR_DIRECTORY;
    return false;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = Disks().find(key);
  *disk = it == Disks().end() ? Disk() : it->second;
  return true;
}

DWORD Clusters(unsigned long long bytes, unsigned long long clusterBytes) {
  unsigned long long clusters = bytes / clusterBytes;
  return clusters > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(clusters);
}

// Programs look this one up by name (it is missing from the oldest systems).
[[maybe_unused]] const bool g_registered = RegisterSystemFunction(
    "kernel32.dll", "GetDiskFreeSpaceExA", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&GetDiskFreeSpaceExA)));

}  // namespace

void SetDiskSize(char drive, unsigned long long totalBytes, unsigned long long freeBytes) {
  char key = DriveKey(drive);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Disk& disk = Disks()[key];
    disk.total = totalBytes;
    disk.free = freeBytes > totalBytes ? totalBytes : freeBytes;
  }
  ::mkdir((SandboxRoot() + "/" + std::string(1, key)).c_str(), 0777);
}

void FailDiskCall(char drive, DiskCall call, DWORD error) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Disk& disk = Disks()[DriveKey(drive)];
  (call == DiskCall::kFreeSpaceEx ? disk.failEx : disk.failClusters) = error;
}

void ResetDisks() {
  std::lock_guard<std::mutex> lock(g_mutex);
  Disks().clear();
}

}  // namespace winsim

BOOL WINAPI GetDiskFreeSpaceExA(LPCSTR directoryName, PULARGE_INTEGER freeBytesAvailableToCaller,
                                PULARGE_INTEGER totalBytes, PULARGE_INTEGER totalFreeBytes) {
  winsim::Disk disk;
  DWORD error = ERROR_SUCCESS;
  if (!winsim::DiskOf(directoryName, &disk, &error) || (error = disk.failEx) != 0) {
    SetLastError(error);
    return FALSE;
  }
  if (freeBytesAvailableToCaller) freeBytesAvailableToCaller->QuadPart = disk.free;
  if (totalBytes) totalBytes->QuadPart = disk.total;
  if (totalFreeBytes) totalFreeBytes->QuadPart = disk.free;
  return TRUE;
}

BOOL WINAPI GetDiskFreeSpaceA(LPCSTR rootPathName, LPDWORD sectorsPerCluster,
                              LPDWORD bytesPerSector, LPDWORD freeClusters,
                              LPDWORD totalClusters) {
  winsim::Disk disk;
  DWORD error = ERROR_SUCCESS;
  if (!winsim::DiskOf(rootPathName, &disk, &error) || (error = disk.failClusters) != 0) {
    SetLastError(error);
    return FALSE;
  }
  DWORD sectors = winsim::kDefaultSectorsPerCluster;
  while (sectors < winsim::kLargestSectorsPerCluster &&
         disk.total / (static_cast<unsigned long long>(sectors) * winsim::kBytesPerSector) >
             0xFFFFFFFFull)
    sectors *= 2;
  unsigned long long clusterBytes = static_cast<unsigned long long>(sectors) * winsim::kBytesPerSector;
  if (sectorsPerCluster) *sectorsPerCluster = sectors;
  if (bytesPerSector) *bytesPerSector = winsim::kBytesPerSector;
  if (freeClusters) *freeClusters = winsim::Clusters(disk.free, clusterBytes);
  if (totalClusters) *totalClusters = winsim::Clusters(disk.total, clusterBytes);
  return TRUE;
}
