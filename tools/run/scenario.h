// The scenario of a run: what the machine holds before the package opens
// (registry keys and values, folders, files), the properties set on the
// session, the answer to messages, and what to run (actions by name, or a
// sequence table of the package). A scenario file holds one item to a line,
// the same items that the command line takes as options:
//
//   # a comment
//   property CLIENT_NAME=Reception Desk 04
//   registry HKLM\SOFTWARE\Velmar\QVA Client 8|Version=8.4.2
//   folder C:\QVACache
//   file C:\Program Files\Velmar\QVA Client\HOSTCFG.INI=[ZNClient]\r\nLogFile=C:\x.log\r\n
//   answer 1
//   action GetSystemState
//   sequence InstallExecuteSequence
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <windows.h>

namespace viduzo_run {

struct RegistryFixture {
  HKEY root = nullptr;
  std::string key;
  bool hasValue = false;
  std::string name;
  DWORD type = REG_SZ;
  std::string data;  // the value's bytes as RegSetValueExA takes them
};

struct Scenario {
  std::vector<std::pair<std::string, std::string>> properties;
  std::vector<RegistryFixture> registry;
  std::vector<std::string> folders;
  std::vector<std::pair<std::string, std::string>> files;  // path, content
  bool hasAnswer = false;
  int answer = 0;
  std::vector<std::string> actions;
  std::string sequence;
};

// Adds one scenario item ("property NAME=VALUE", ...). False with the reason
// when the item is malformed.
bool AddScenarioItem(const std::string& kind, const std::string& argument, Scenario* scenario,
                     std::string* error);
// Reads a scenario file; an error names the file and line.
bool ReadScenarioFile(const std::string& path, Scenario* scenario, std::string* error);

// Puts the registry, folders and files on winsim's machine.
bool ApplyMachine(const Scenario& scenario, std::string* error);

}  // namespace viduzo_run
