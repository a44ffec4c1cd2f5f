// The host's call record, laid out byte for byte as the host passes it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// The record is the 32-bit host's boundary format. The x86-64 build, which only the tests run,
// keeps the same fields in the same order with natural alignment: addresses, handles and
// services are 8 bytes wide there, the other fields keep their widths.

// A host handle points at a word that holds the current address of a movable block.
typedef char** HostHandle;

// The address of one of the host's handle services. They are called only through
// host_services.h, which copes with either calling convention; the record says nothing of it.
typedef const void* HostService;

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
    HostService resizeHandle; // (handle, new size in bytes)
    HostService handleSize;   // (handle): the block's size, 32 bits
    uint8_t hostOwned44[4];
    HostService prepareHandle; // (handle), just before it is locked for reading
    HostService lockHandle;    // (handle)
    HostService unlockHandle;  // (handle)
    uint8_t hostOwned60[8];
    HostService lastHandleError; // (): 16-bit status of the last handle operation, 0 success
};

static_assert(offsetof(ExternCallRecord, hostVersion) == 0, "hostVersion");
static_assert(offsetof(ExternCallRecord, message) == 9, "message");
static_assert(offsetof(ExternCallRecord, idleKind) == 10, "idleKind");
static_assert(offsetof(ExternCallRecord, functionNumber) == 12, "functionNumber");
static_assert(offsetof(ExternCallRecord, argumentHandle) == 16, "argumentHandle");
#if defined(__i386__)
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
#elif defined(__x86_64__)
static_assert(offsetof(ExternCallRecord, instance) == 24, "instance");
static_assert(offsetof(ExternCallRecord, result) == 32, "result");
static_assert(sizeof(ExternCallRecord::result) == 8, "result is one 64-bit word");
static_assert(offsetof(ExternCallRecord, resizeHandle) == 48, "resizeHandle");
static_assert(offsetof(ExternCallRecord, handleSize) == 56, "handleSize");
static_assert(offsetof(ExternCallRecord, prepareHandle) == 72, "prepareHandle");
static_assert(offsetof(ExternCallRecord, lockHandle) == 80, "lockHandle");
static_assert(offsetof(ExternCallRecord, unlockHandle) == 88, "unlockHandle");
static_assert(offsetof(ExternCallRecord, lastHandleError) == 104, "lastHandleError");
static_assert(sizeof(ExternCallRecord) == 112, "the plug-in reads nothing beyond byte 111");
#else
#error "the call record is laid out for i686 and x86-64 only"
#endif

// The record of the call under way. Every service and the instance are read through it at the
// moment of use. A call that arrives while an earlier one waits in a modal loop holds it while
// it runs; the entry point then puts the earlier call's record back.
extern ExternCallRecord* currentCallRecord;
