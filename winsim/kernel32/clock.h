// The simulated clock of processes and waits. It runs with the host's clock and
// jumps forward whenever a program sleeps or waits, so that a wait of thirty
// seconds costs no real time: Sleep, the time-outs of the waits and
// GetTickCount all read and move this clock.
#pragma once

namespace winsim {

using Milliseconds = unsigned long long;
inline constexpr Milliseconds kNever = ~0ull;

// The clock now, in milliseconds.
Milliseconds Now();

// Moves the clock forward to `time` (a time already past leaves it alone).
void AdvanceTo(Milliseconds time);

// The date and time in UTC as FILETIME ticks: the host's real time, or, once a
// test has set the date, that date moving on with the clock above.
// `hostTicks` is the host's real time in the same ticks.
unsigned long long SystemTicks(unsigned long long hostTicks);

}  // namespace winsim
