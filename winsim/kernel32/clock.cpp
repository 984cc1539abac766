// The simulated clock: the host's monotonic clock plus the time that sleeps and
// waits have skipped. Sleep moves it instead of sleeping.
#include "winsim/kernel32/clock.h"

#include <time.h>

#include <atomic>

#include <windows.h>

namespace winsim {
namespace {

std::atomic<Milliseconds> g_skipped{0};

Milliseconds HostMilliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<Milliseconds>(now.tv_sec) * 1000u +
         static_cast<Milliseconds>(now.tv_nsec) / 1000000u;
}

}  // namespace

Milliseconds Now() { return HostMilliseconds() + g_skipped.load(); }

void AdvanceTo(Milliseconds time) {
  Milliseconds now = Now();
  if (time > now) g_skipped += time - now;
}

}  // namespace winsim

void WINAPI Sleep(DWORD ms) { winsim::AdvanceTo(winsim::Now() + ms); }

DWORD WINAPI GetTickCount() { return static_cast<DWORD>(winsim::Now()); }
