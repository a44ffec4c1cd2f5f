// Calls the host's handle services through the record of the current call.
#pragma once

#include "call_record.h"

#include <cstdint>

// Each reads the service's address from the record in currentCallRecord at the moment of use,
// and calls it so that the stack is the same afterwards whichever convention the host gave it.
void HostResizeHandle(HostHandle handle, uint32_t newSize);
uint32_t HostHandleSize(HostHandle handle);
void HostPrepareHandle(HostHandle handle);
void HostLockHandle(HostHandle handle);
void HostUnlockHandle(HostHandle handle);
// The 16-bit status of the host's last handle operation; 0 means success.
int16_t HostLastHandleError();
