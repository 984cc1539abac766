// The last touches on the screen: ForceIconCacheRefresh makes the shell rebuild
// its icon cache, so that new icons show at once, and UpdateDisplayWindow makes
// the controls of the foreground dialog repaint their frames.
#include <cstdlib>
#include <cstring>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "runtime/action.h"
#include "runtime/handles.h"

namespace viduzo {
namespace {

constexpr char kMetricsKey[] = "Control Panel\\desktop\\WindowMetrics";
constexpr char kIconSize[] = "Shell Icon Size";
constexpr DWORD kIconSizeBytes = 260;
constexpr int kDefaultIconSize = 32;
constexpr UINT kBroadcastTimeoutMs = 5000;
constexpr int kMaxRepaints = 10;
constexpr DWORD kSettleMs = 50;

// Tells every top-level window that the icon metrics changed; a window that
// does not answer in time is not waited for further.
void BroadcastIconMetrics() {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETICONMETRICS,
                      reinterpret_cast<LPARAM>("WindowMetrics"), SMTO_NORMAL, kBroadcastTimeoutMs,
                      &result);
}

// A write that fails leaves the size as it was; nothing more can be done.
void WriteIconSize(HKEY key, int size) {
  char text[kIconSizeBytes];
  int length = wsprintfA(text, "%d", size);
  RegSetValueExA(key, kIconSize, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 static_cast<DWORD>(length + 1));
}

}  // namespace
}  // namespace viduzo

// The shell rebuilds its icon cache when the icon size changes: the size is
// moved by one pixel, announced, put back and announced again.
extern "C" UINT WINAPI ForceIconCacheRefresh(MSIHANDLE) {
  viduzo::RegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, viduzo::kMetricsKey, 0, KEY_ALL_ACCESS, key.put()) !=
      ERROR_SUCCESS)
    return ERROR_SUCCESS;
  // One byte more than the value may take, so that the text always ends.
  char value[viduzo::kIconSizeBytes + 1] = {};
  DWORD type = REG_SZ;
  DWORD size = viduzo::kIconSizeBytes;
  bool existed = true;
  LONG read = RegQueryValueExA(key.get(), viduzo::kIconSize, nullptr, &type,
                               reinterpret_cast<BYTE*>(value), &size);
  if (read == ERROR_FILE_NOT_FOUND) {
    wsprintfA(value, "%d", viduzo::kDefaultIconSize);
    existed = false;
  } else if (read != ERROR_SUCCESS) {
    return ERROR_INSTALL_FAILURE;
  }
  int iconSize = std::atoi(value);
  if (iconSize == 0) iconSize = viduzo::kDefaultIconSize;
  viduzo::WriteIconSize(key.get(), iconSize > 47 ? iconSize - 1 : iconSize + 1);
  viduzo::BroadcastIconMetrics();
  if (existed) viduzo::WriteIconSize(key.get(), iconSize);
  else RegDeleteValueA(key.get(), viduzo::kIconSize);
  viduzo::BroadcastIconMetrics();
  return ERROR_SUCCESS;
}

// Walks the tab order of the foreground dialog once, from its first tab-stop
// control until the order comes back to it, repainting each control's frame.
extern "C" UINT WINAPI UpdateDisplayWindow(MSIHANDLE) {
  HWND dialog = GetForegroundWindow();
  Sleep(viduzo::kSettleMs);
  if (!dialog) return ERROR_SUCCESS;
  HWND control = GetNextDlgTabItem(dialog, nullptr, FALSE);
  if (!control) return ERROR_SUCCESS;
  const int first = GetDlgCtrlID(control);
  if (first == 0) return ERROR_SUCCESS;
  for (int i = 0; i < viduzo::kMaxRepaints; ++i) {
    SendMessageA(control, WM_NCPAINT, 1, 0);
    control = GetNextDlgTabItem(dialog, control, FALSE);
    if (!control || GetDlgCtrlID(control) == first) break;
  }
  return ERROR_SUCCESS;
}
