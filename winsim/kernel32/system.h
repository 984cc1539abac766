// What kernel32's system part offers the rest of kernel32.
#pragma once

#include <string>
#include <string_view>

namespace winsim {

// The machine winsim stands for: a 64-bit Windows with one user logged on,
// whose profile folder is C:\Users\<kUserName>.
inline constexpr char kComputerName[] = "WINSIM";
inline constexpr char kUserName[] = "winsim";
inline constexpr char16_t kUserProfile[] = u"C:\\Users\\winsim";
// The processor's level as GetSystemInfo gives it (PROCESSOR_LEVEL).
inline constexpr char kProcessorLevel[] = "6";

// The value of a variable of the process environment (names compare without
// regard to case); false when it is not set. Sets no error code.
bool LookupEnvironment(std::string_view name, std::string* value);

}  // namespace winsim
