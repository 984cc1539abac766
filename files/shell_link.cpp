#include "files/shell_link.h"

namespace viduzo {
namespace {

// Room for the longest name a caller converts (521 wide characters with its
// terminator) and one zero more, which ends a conversion that was cut short.
constexpr int kWideBuffer = 522;

}  // namespace

bool Shortcut::Open(LPCSTR fileName, int wideChars) {
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr,
                              CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IShellLinkA,
                              link_.put())) ||
      FAILED(link_->QueryInterface(IID_IPersistFile, file_.put())))
    return false;
  WCHAR wide[kWideBuffer] = {};
  if (MultiByteToWideChar(CP_ACP, 0, fileName, -1, wide, wideChars) == 0) return false;
  return SUCCEEDED(file_->Load(wide, STGM_READ));
}

bool Shortcut::Target(char (&path)[kShortcutText]) {
  return SUCCEEDED(link_->GetPath(path, kShortcutText, nullptr, 0));
}

bool Shortcut::Arguments(char (&arguments)[kShortcutText]) {
  return SUCCEEDED(link_->GetArguments(arguments, kShortcutText));
}

}  // namespace viduzo
