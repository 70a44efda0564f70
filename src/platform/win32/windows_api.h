// <windows.h> for the adapters, without the macros that would rename the seam's own
// operations (CreateEvent -> CreateEventW and the like).
#pragma once

#include <shlwapi.h>
#include <windows.h>

#undef CreateEvent
#undef CreateDirectory
#undef GetObject
#undef PathCombine
#undef CreateService
#undef OpenService
