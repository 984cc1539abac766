// user32: message boxes, recorded for the test that reads them back and
// answered with the answer it set.
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

#include "winsim/control.h"

namespace winsim {
namespace {

struct Boxes {
  std::mutex mutex;
  std::vector<MessageBoxCall> calls;
  int answer = IDOK;
};

Boxes& Shown() {
  static Boxes boxes;
  return boxes;
}

}  // namespace

const std::vector<MessageBoxCall>& MessageBoxes() { return Shown().calls; }

void ClearMessageBoxes() {
  std::lock_guard<std::mutex> lock(Shown().mutex);
  Shown().calls.clear();
}

void SetMessageBoxAnswer(int answer) {
  std::lock_guard<std::mutex> lock(Shown().mutex);
  Shown().answer = answer;
}

}  // namespace winsim

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  winsim::Boxes& boxes = winsim::Shown();
  std::lock_guard<std::mutex> lock(boxes.mutex);
  boxes.calls.push_back({text ? text : "", caption ? caption : "", type});
  return boxes.answer;
}
