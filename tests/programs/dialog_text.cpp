// Reads what the installer's dialogs show, for the wizard checks and the
// wizard demo: every visible top-level window whose title contains the text
// given on the command line, with its visible child controls.
//
//   vdzdialogs TITLE-PART
//
// prints, one item a line (tab-separated):
//   dialog  <title>
//   control <class> <enabled 0/1> <text>      (a rich-edit control: its plain text)
//   item    <text>                           (the items of the list box above)
// Line breaks inside a text are written as "\n"; texts are written in UTF-8.
// The controls are Unicode windows of another process: their texts are read
// with the wide-character messages, which Windows carries across processes.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return "";
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                      nullptr, nullptr);
  return out;
}

std::string WindowText(HWND window) {
  LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return "";
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  LRESULT got = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return Utf8(text);
}

BOOL CALLBACK PrintControl(HWND control, LPARAM) {
  if (!IsWindowVisible(control)) return TRUE;
  char cls[64] = "";
  GetClassNameA(control, cls, sizeof cls);  // class names are plain ASCII
  std::printf("control\t%s\t%d\t%s\n", cls, IsWindowEnabled(control) ? 1 : 0,
              OneLine(WindowText(control)).c_str());
  if (lstrcmpiA(cls, "ListBox") == 0) {
    LRESULT count = SendMessageW(control, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      LRESULT length = SendMessageW(control, LB_GETTEXTLEN, i, 0);
      if (length < 0) continue;
      std::wstring item(static_cast<size_t>(length) + 1, L'\0');
      SendMessageW(control, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&item[0]));
      item.resize(wcslen(item.c_str()));
      std::printf("item\t%s\n", OneLine(Utf8(item)).c_str());
    }
  }
  return TRUE;
}

BOOL CALLBACK PrintDialog(HWND window, LPARAM titlePart) {
  if (!IsWindowVisible(window)) return TRUE;
  std::string title = WindowText(window);
  if (title.find(reinterpret_cast<const char*>(titlePart)) == std::string::npos) return TRUE;
  std::printf("dialog\t%s\n", OneLine(title).c_str());
  EnumChildWindows(window, PrintControl, 0);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vdzdialogs TITLE-PART\n");
    return 2;
  }
  EnumWindows(PrintDialog, reinterpret_cast<LPARAM>(argv[1]));
  std::fflush(stdout);
  return 0;
}
