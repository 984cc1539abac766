// Small PE images made in memory, so that both engines can be given versioned
// and unversioned files without a build step.
#pragma once

#include <string>

namespace viduzo_test {

// A VS_VERSIONINFO resource with the given file version halves and file date
// high half, a string table and a translation.
std::string VersionResource(unsigned long fileMS, unsigned long fileLS, unsigned long dateMS);

// A PE image (PE32+ or PE32) holding one resource (type, id, language).
std::string Image(bool pe32Plus, unsigned type, unsigned id, unsigned language,
                  const std::string& data);

}  // namespace viduzo_test
