// The shell's API: OLE, and the shell link object's interfaces and class.
#pragma once

#include "ole2.h"
#include "shobjidl.h"
