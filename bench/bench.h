// What every benchmark program shares: running SQL on the database being
// built, and timing a step.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <msidefs.h>
#include <objbase.h>

namespace viduzo_bench {

// Runs one SQL statement (with an optional parameter record); a failure ends
// the program, since the figures would mean nothing.
inline void Execute(MSIHANDLE database, const std::string& sql, MSIHANDLE params = 0) {
  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewA(database, sql.c_str(), &view) != ERROR_SUCCESS ||
      MsiViewExecute(view, params) != ERROR_SUCCESS) {
    std::fprintf(stderr, "failed: %s\n", sql.c_str());
    std::exit(1);
  }
  MsiViewClose(view);
  MsiCloseHandle(view);
}

// Commits a database built with MSIDBOPEN_CREATE, with the summary
// information the engine needs, and opens it as an install session.
inline MSIHANDLE OpenAsPackage(MSIHANDLE database, const std::string& path) {
  MSIHANDLE summary = 0;
  MsiGetSummaryInformationA(database, nullptr, 4, &summary);
  MsiSummaryInfoSetPropertyA(summary, PID_TEMPLATE, VT_LPSTR, 0, nullptr, ";1033");
  MsiSummaryInfoSetPropertyA(summary, PID_REVNUMBER, VT_LPSTR, 0, nullptr,
                             "{3B9F0C52-7D1A-4E86-B2C4-95E0A17D6F38}");
  MsiSummaryInfoSetPropertyA(summary, PID_PAGECOUNT, VT_I4, 200, nullptr, nullptr);
  MsiSummaryInfoSetPropertyA(summary, PID_WORDCOUNT, VT_I4, 2, nullptr, nullptr);
  MsiSummaryInfoPersist(summary);
  MsiCloseHandle(summary);
  MsiDatabaseCommit(database);
  MsiCloseHandle(database);
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MSIHANDLE install = 0;
  if (MsiOpenPackageA(path.c_str(), &install) != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    std::exit(1);
  }
  return install;
}

// Calls an export of viduzo.dll (winsim's image of it) with the install handle.
inline UINT CallAction(const char* name, MSIHANDLE install) {
  static HMODULE module = LoadLibraryA("viduzo.dll");
  auto action = reinterpret_cast<UINT(WINAPI*)(MSIHANDLE)>(
      reinterpret_cast<void*>(GetProcAddress(module, name)));
  return action(install);
}

// The wall-clock seconds that f takes.
template <class F>
double Seconds(F&& f) {
  auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace viduzo_bench
