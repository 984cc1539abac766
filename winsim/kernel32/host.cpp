// The host file system: the sandbox folder, and the host's errors in
// Windows terms.
#include "winsim/kernel32/host.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>


namespace winsim {
namespace {

namespace fs = std::filesystem;

// The folder named by WINSIM_ROOT, else a fresh temporary folder that goes
// when the process exits.
struct Sandbox {
  std::string root;
  bool owned = false;

  Sandbox() {
    const char* fromEnv = std::getenv("WINSIM_ROOT");
    std::error_code ec;
    if (fromEnv && *fromEnv) {
      root = fromEnv;
      fs::create_directories(root, ec);
    } else {
      std::string pattern = (fs::temp_directory_path(ec) / "winsim-XXXXXX").string();
      std::vector<char> buffer(pattern.begin(), pattern.end());
      buffer.push_back('\0');
      if (::mkdtemp(buffer.data())) {
        root = buffer.data();
        owned = true;
      } else {
        root = pattern.substr(0, pattern.size() - 7) + std::to_string(::getpid());
        fs::create_directories(root, ec);
        owned = true;
      }
    }
    while (root.size() > 1 && root.back() == '/') root.pop_back();
  }

  ~Sandbox() {
    if (!owned) return;
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

}  // namespace

const std::string& HostSandboxFolder() {
  static const Sandbox sandbox;
  return sandbox.root;
}


bool IsHostDirectory(const std::string& host) {
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD ErrorFromErrno(int err, const std::string& hostPath) {
  switch (err) {
    case ENOENT: {
      size_t slash = hostPath.rfind('/');
      std::string parent = slash == std::string::npos ? std::string(".") : hostPath.substr(0, slash);
      return IsHostDirectory(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    case ENOSPC:
      return 112;  // ERROR_DISK_FULL
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

}  // namespace winsim
