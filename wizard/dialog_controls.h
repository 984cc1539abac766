// Wizard dialogs shown as samples: the dialog behind a display text of the
// dialog lists, and the temporary ControlCondition rows that disable its input
// controls while the sample is shown.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "runtime/msi.h"

namespace viduzo {

// The given column of the first VmrDialogMapping row whose DisplayText equals
// displayText, read through query. Null when there is none; a display text of
// more than 200 characters is never found, since the query object's query text
// holds 256. The caller releases the text with MSI::FreeText.
char* LookupDialogMapping(MSI& query, LPCSTR displayText, UINT column);

// The dialog name (column 1) listed under displayText, through a query object
// of its own on the active database. Null when there is none; the caller
// releases the text with MSI::FreeText.
char* DialogForDisplayText(MSIHANDLE hInstall, LPCSTR displayText);

// The enable key (column 3) of the dialog listed under displayText: the text
// that ENABLE_DIALOGS must hold for the wizard to show the dialog. Looked up
// with a second query object that shares the caller's install and database
// handles, so the caller's open view and current record stay as they are and
// its database stays open. Null when there is none; the caller releases the
// text with MSI::FreeText.
char* EnableKeyForDisplayText(MSI& caller, LPCSTR displayText);

// Adds a temporary ControlCondition row (Disable, "DisplaySampleDialog=1") for
// every input control of the dialog but Cancel. 0, or the first failing code
// (a row that is there already gives the engine's duplicate-row error).
UINT DisableControls(MSIHANDLE hInstall, LPCSTR dialog);

// Deletes the dialog's rows that DisableControls added.
UINT RemoveDisableConditions(MSIHANDLE hInstall, LPCSTR dialog);

}  // namespace viduzo
