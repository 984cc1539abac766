// FILETIME arithmetic and the calendar: CompareFileTime, the conversions
// between FILETIME and SYSTEMTIME, and the current time in UTC and local time.
#include <time.h>

#include <cstdint>

#include <windows.h>

#include "winsim/kernel32/clock.h"
#include "winsim/kernel32/entries.h"
#include "winsim/kernel32/paths.h"

namespace winsim {
namespace {

constexpr unsigned long long kTicksPerMillisecond = 10000ull;
constexpr unsigned long long kTicksPerDay = 864000000000ull;
// 1601-01-01 counted from 1970-01-01 in days.
constexpr long long kDays1601To1970 = 134774;
constexpr unsigned long long kLargestFileTime = 0x7FFFFFFFFFFFFFFFull;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  long long era = (y >= 0 ? y : y - 399) / 400;
  unsigned yoe = static_cast<unsigned>(y - era * 400);
  unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long* y, unsigned* m, unsigned* d) {
  z += 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  unsigned doe = static_cast<unsigned>(z - era * 146097);
  unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<long long>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(unsigned year, unsigned month) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

void ToSystemTime(unsigned long long ticks, SYSTEMTIME* out) {
  unsigned long long days = ticks / kTicksPerDay;
  unsigned long long rest = ticks % kTicksPerDay;
  long long year;
  unsigned month, day;
  CivilFromDays(static_cast<long long>(days) - kDays1601To1970, &year, &month, &day);
  out->wYear = static_cast<WORD>(year);
  out->wMonth = static_cast<WORD>(month);
  out->wDay = static_cast<WORD>(day);
  out->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  out->wHour = static_cast<WORD>(rest / (3600 * 1000 * kTicksPerMillisecond));
  out->wMinute = static_cast<WORD>(rest / (60 * 1000 * kTicksPerMillisecond) % 60);
  out->wSecond = static_cast<WORD>(rest / (1000 * kTicksPerMillisecond) % 60);
  out->wMilliseconds = static_cast<WORD>(rest / kTicksPerMillisecond % 1000);
}

void FromTm(const struct tm& t, long nanoseconds, SYSTEMTIME* out) {
  out->wYear = static_cast<WORD>(t.tm_year + 1900);
  out->wMonth = static_cast<WORD>(t.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(t.tm_wday);
  out->wDay = static_cast<WORD>(t.tm_mday);
  out->wHour = static_cast<WORD>(t.tm_hour);
  out->wMinute = static_cast<WORD>(t.tm_min);
  out->wSecond = static_cast<WORD>(t.tm_sec > 59 ? 59 : t.tm_sec);
  out->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

}  // namespace
}  // namespace winsim

LONG WINAPI CompareFileTime(const FILETIME* first, const FILETIME* second) {
  if (!first || !second) return -1;
  unsigned long long a = winsim::TicksOf(*first), b = winsim::TicksOf(*second);
  return a < b ? -1 : (a > b ? 1 : 0);
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime) {
  if (!fileTime || !systemTime || winsim::TicksOf(*fileTime) > winsim::kLargestFileTime) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  winsim::ToSystemTime(winsim::TicksOf(*fileTime), systemTime);
  return TRUE;
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* systemTime, LPFILETIME fileTime) {
  // Every field is checked but the day of the week, which is ignored.
  const SYSTEMTIME* s = systemTime;
  if (!s || !fileTime || s->wYear < 1601 || s->wYear > 30827 || s->wMonth < 1 || s->wMonth > 12 ||
      s->wDay < 1 || s->wDay > winsim::DaysInMonth(s->wYear, s->wMonth) || s->wHour > 23 ||
      s->wMinute > 59 || s->wSecond > 59 || s->wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  long long days = winsim::DaysFromCivil(s->wYear, s->wMonth, s->wDay) + winsim::kDays1601To1970;
  unsigned long long ms = ((static_cast<unsigned long long>(s->wHour) * 60 + s->wMinute) * 60 +
                           s->wSecond) * 1000 + s->wMilliseconds;
  *fileTime = winsim::FileTimeOf(static_cast<unsigned long long>(days) * winsim::kTicksPerDay +
                                 ms * winsim::kTicksPerMillisecond);
  return TRUE;
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME fileTime) {
  if (fileTime) *fileTime = winsim::FileTimeOf(winsim::SystemTicks(winsim::NowTicks()));
}

void WINAPI GetSystemTime(LPSYSTEMTIME systemTime) {
  if (systemTime) winsim::ToSystemTime(winsim::SystemTicks(winsim::NowTicks()), systemTime);
}

void WINAPI GetLocalTime(LPSYSTEMTIME systemTime) {
  if (!systemTime) return;
  timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  ::localtime_r(&now.tv_sec, &local);
  winsim::FromTm(local, now.tv_nsec, systemTime);
}
