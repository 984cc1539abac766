// What kernel32's system part offers the rest of kernel32.
#pragma once

#include <string>
#include <string_view>

namespace winsim {

// The value of a variable of the process environment (names compare without
// regard to case); false when it is not set. Sets no error code.
bool LookupEnvironment(std::string_view name, std::string* value);

}  // namespace winsim
