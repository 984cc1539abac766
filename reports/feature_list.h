// The feature list box: features that the user may still choose, listed in the
// feature lists of the ListBox table under their title paths.
#pragma once

#include <string>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "runtime/msi.h"

namespace viduzo {

// A feature's parent chain is followed for at most this many titles, the depth
// of the deepest feature tree the installer accepts. A longer chain (a Feature
// table whose parents loop) gives no title path.
constexpr int kMaxTitlePathDepth = 16;

// The title path of a feature: the Title of its top-level ancestor, then each
// lower ancestor's Title, then its own, joined by a backslash, as in
// "Suite\Client\Plug-ins". A parent that is missing or has no title leaves the path
// beginning with a backslash.
//
// owner lends its install and database handles; the walk uses a query object
// of its own on the Feature table, so owner's view and record stay untouched.
// False (path untouched) when the Feature table cannot be read, the feature is
// not in it, the path comes out empty or the chain is longer than
// kMaxTitlePathDepth titles.
bool BuildFeatureTitlePath(const MSI& owner, LPCSTR feature, std::string* path);

}  // namespace viduzo
