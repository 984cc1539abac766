// The COM base API of ole32 that the library uses: GUIDs.
#pragma once

#include "guiddef.h"
#include "windows.h"
#include "wtypes.h"

HRESULT WINAPI CoCreateGuid(GUID* guid);
int WINAPI StringFromGUID2(const GUID& guid, LPWSTR buffer, int size);
