// Routes the host's messages and external-function calls to the plug-in's operations.
#pragma once

#include "call_record.h"

#include <cstdint>

extern "C" void __cdecl FMExternCallProc(ExternCallRecord* record);

void DispatchFunction(uint32_t functionNumber, HostHandle argumentHandle, HostHandle resultHandle);
