// WaitForSingleObject and WaitForMultipleObjects on the simulated clock: a wait
// moves the clock to the moment the first object is signalled, or to its
// time-out, and returns at once in real time.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <windows.h>

#include "winsim/kernel32/clock.h"
#include "winsim/kernel32/process.h"

namespace {

DWORD Failed(DWORD error) {
  SetLastError(error);
  return WAIT_FAILED;
}

}  // namespace

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                    DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles)
    return Failed(ERROR_INVALID_PARAMETER);
  std::vector<std::shared_ptr<winsim::Waitable>> objects;
  for (DWORD i = 0; i < count; ++i) {
    auto object = winsim::GetKernel<winsim::Waitable>(handles[i]);
    if (!object) return Failed(ERROR_INVALID_HANDLE);
    if (!object->MayWait()) return Failed(ERROR_ACCESS_DENIED);
    objects.push_back(object);
  }
  const winsim::Milliseconds deadline =
      milliseconds == INFINITE ? winsim::kNever : winsim::Now() + milliseconds;
  for (;;) {
    winsim::Milliseconds next = waitAll ? 0 : winsim::kNever;
    bool all = true;
    for (DWORD i = 0; i < count; ++i) {
      if (objects[i]->Signaled()) {
        if (!waitAll) return WAIT_OBJECT_0 + i;
        continue;
      }
      all = false;
      winsim::Milliseconds at = objects[i]->SignalTime();
      if (waitAll ? at > next : at < next) next = at;
    }
    if (waitAll && all) return WAIT_OBJECT_0;
    if (next > deadline) {
      winsim::AdvanceTo(deadline);
      return WAIT_TIMEOUT;
    }
    if (next == winsim::kNever) {
      std::fprintf(stderr, "winsim: a wait without time-out on objects that nothing will ever "
                           "signal; the program would hang here\n");
      std::abort();
    }
    winsim::AdvanceTo(next);
  }
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}
