// The shape of every exported custom action: the install handle in, a result
// code out, the standard Windows calling convention and C linkage so that the
// module definition file can export it by its plain name.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#define VIDUZO_ACTION(Name) extern "C" UINT WINAPI Name(MSIHANDLE hInstall);
#include "dll/actions.h"
#undef VIDUZO_ACTION
