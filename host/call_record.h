// The host's call record, laid out byte for byte as the 32-bit host passes it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

static_assert(sizeof(void*) == 4, "the host's call record is a 32-bit boundary format");

// A host handle points at a word that holds the current address of a movable block.
typedef char** HostHandle;

// The host's handle services use the stdcall convention; only the return values named here are
// used. lastHandleError's status is 16 bits wide, so only the low word of its answer counts.
typedef void(WINAPI* ResizeHandleProc)(HostHandle handle, uint32_t newSize);
typedef uint32_t(WINAPI* HandleSizeProc)(HostHandle handle);
typedef void(WINAPI* PrepareHandleProc)(HostHandle handle);
typedef void(WINAPI* LockHandleProc)(HostHandle handle);
typedef void(WINAPI* UnlockHandleProc)(HostHandle handle);
typedef int16_t(WINAPI* LastHandleErrorProc)();

enum HostMessage : uint8_t {
    kMessageStartup = 0,
    kMessageIdle = 1,
    kMessageExternalFunction = 3,
    kMessageShutdown = 4,
    kMessagePreferences = 5,
};

struct ExternCallRecord {
    int16_t hostVersion;
    uint8_t hostOwned2[7];
    uint8_t message;
    uint8_t idleKind;
    uint8_t hostOwned11;
    uint32_t functionNumber;
    HostHandle argumentHandle;
    HINSTANCE instance;
    // Start-up writes its answer here; an external-function call reads the result handle.
    union {
        int32_t answer;
        HostHandle handle;
    } result;
    uint8_t hostOwned28[8];
    ResizeHandleProc resizeHandle;
    HandleSizeProc handleSize;
    uint8_t hostOwned44[4];
    PrepareHandleProc prepareHandle;
    LockHandleProc lockHandle;
    UnlockHandleProc unlockHandle;
    uint8_t hostOwned60[8];
    LastHandleErrorProc lastHandleError;
};

static_assert(offsetof(ExternCallRecord, hostVersion) == 0, "hostVersion");
static_assert(offsetof(ExternCallRecord, message) == 9, "message");
static_assert(offsetof(ExternCallRecord, idleKind) == 10, "idleKind");
static_assert(offsetof(ExternCallRecord, functionNumber) == 12, "functionNumber");
static_assert(offsetof(ExternCallRecord, argumentHandle) == 16, "argumentHandle");
static_assert(offsetof(ExternCallRecord, instance) == 20, "instance");
static_assert(offsetof(ExternCallRecord, result) == 24, "result");
static_assert(sizeof(ExternCallRecord::result) == 4, "result is one 32-bit word");
static_assert(offsetof(ExternCallRecord, resizeHandle) == 36, "resizeHandle");
static_assert(offsetof(ExternCallRecord, handleSize) == 40, "handleSize");
static_assert(offsetof(ExternCallRecord, prepareHandle) == 48, "prepareHandle");
static_assert(offsetof(ExternCallRecord, lockHandle) == 52, "lockHandle");
static_assert(offsetof(ExternCallRecord, unlockHandle) == 56, "unlockHandle");
static_assert(offsetof(ExternCallRecord, lastHandleError) == 68, "lastHandleError");
static_assert(sizeof(ExternCallRecord) == 72, "the plug-in reads nothing beyond byte 71");

// The record of the latest call. Every service and the instance are read through it at the
// moment of use: a call that arrives during a modal dialog replaces it.
extern ExternCallRecord* currentCallRecord;
