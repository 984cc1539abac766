// The simulated clock: the host's monotonic clock plus the time that sleeps and
// waits have skipped. Sleep moves it instead of sleeping. A test may stop the
// host's part, so that the clock moves only by sleeps and waits.
#include "winsim/kernel32/clock.h"

#include <time.h>

#include <mutex>

#include <windows.h>

#include "winsim/control.h"

namespace winsim {
namespace {

struct Clock {
  std::mutex mutex;
  long long offset = 0;     // added to the host's clock while it runs
  bool frozen = false;
  Milliseconds frozenAt = 0;  // the clock while the host's part is stopped
  bool dateSet = false;        // a test set the date:
  unsigned long long dateTicks = 0;  // the date it set, in FILETIME ticks,
  Milliseconds dateSetAt = 0;        // at this time of the clock
};

Clock& TheClock() {
  static Clock clock;
  return clock;
}

Milliseconds HostMilliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<Milliseconds>(now.tv_sec) * 1000u +
         static_cast<Milliseconds>(now.tv_nsec) / 1000000u;
}

Milliseconds NowLocked(const Clock& clock) {
  return clock.frozen ? clock.frozenAt
                      : static_cast<Milliseconds>(static_cast<long long>(HostMilliseconds()) +
                                                  clock.offset);
}

}  // namespace

Milliseconds Now() {
  Clock& clock = TheClock();
  std::lock_guard<std::mutex> lock(clock.mutex);
  return NowLocked(clock);
}

void AdvanceTo(Milliseconds time) {
  Clock& clock = TheClock();
  std::lock_guard<std::mutex> lock(clock.mutex);
  Milliseconds now = NowLocked(clock);
  if (time <= now) return;
  if (clock.frozen) clock.frozenAt = time;
  else clock.offset += static_cast<long long>(time - now);
}

void FreezeClock(bool frozen) {
  Clock& clock = TheClock();
  std::lock_guard<std::mutex> lock(clock.mutex);
  if (frozen == clock.frozen) return;
  if (frozen) {
    clock.frozenAt = NowLocked(clock);
  } else {
    // Go on from where the stopped clock stands.
    clock.offset = static_cast<long long>(clock.frozenAt) -
                   static_cast<long long>(HostMilliseconds());
  }
  clock.frozen = frozen;
}

unsigned long long SystemTicks(unsigned long long hostTicks) {
  Clock& clock = TheClock();
  std::lock_guard<std::mutex> lock(clock.mutex);
  if (!clock.dateSet) return hostTicks;
  return clock.dateTicks + (NowLocked(clock) - clock.dateSetAt) * 10000ull;
}

void SetSystemClock(const FILETIME& utc) {
  Clock& clock = TheClock();
  std::lock_guard<std::mutex> lock(clock.mutex);
  clock.dateSet = true;
  clock.dateTicks = (static_cast<unsigned long long>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
  clock.dateSetAt = NowLocked(clock);
}

void ResetSystemClock() {
  Clock& clock = TheClock();
  std::lock_guard<std::mutex> lock(clock.mutex);
  clock.dateSet = false;
}

}  // namespace winsim

void WINAPI Sleep(DWORD ms) { winsim::AdvanceTo(winsim::Now() + ms); }

DWORD WINAPI GetTickCount() { return static_cast<DWORD>(winsim::Now()); }
