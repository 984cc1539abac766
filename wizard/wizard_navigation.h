// The wizard's next-dialog search: DialogWizardControl names the candidates that
// follow a dialog's control, ENABLE_DIALOGS switches dialogs off, and a skipped
// dialog's own Next-button events are replayed as if the user had passed it.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

namespace viduzo {

// How many searches may run inside one another: a switched-off dialog whose
// replayed Next button searches again, and so on. Dialogs that lead back to one
// another stop here with 1627 instead of recursing without end.
inline constexpr int kMaxNestedDialogSearches = 32;

// Runs the events of control K of the switched-off dialog D whose condition is
// true: property settings ("[Name]" events), the library's SearchNewDialog, and
// other DoAction events through RunEventAction. 0, or the first failing code.
UINT ReplayControlEvents(MSIHANDLE hInstall, LPCSTR dialog, LPCSTR control);

// Gives the dialog's Next button a temporary EndDialog event that ends the
// wizard when nothing follows and none of its own SpawnDialog conditions holds.
// 0 also when the dialog needs none; 1627 when the tables cannot be queried.
UINT AddWizardEndEvent(MSIHANDLE hInstall, LPCSTR dialog);

// Runs the action of a DoAction event: one of this library's own (a CustomAction
// row whose Source is the library's Binary key) by calling its export in this
// process, any other through the engine.
UINT RunEventAction(MSIHANDLE hInstall, LPCSTR action, MSIHANDLE database);

}  // namespace viduzo
