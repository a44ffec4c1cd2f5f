// The host's side of the plug-in interface: handles, services, the call record and the call.
// Both the bundled host and the tests play the host through it. The handles and services are
// in handle_services.cpp, the record and the call in plugin_call.cpp, and the memory that both
// take in host_memory.cpp.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hostside {

// The record is built byte by byte at the host's offsets, independently of the plug-in's own
// declaration, so the two can check each other. The 32-bit host's record is the boundary
// format; the x86-64 build, which only the tests run, keeps the same fields in the same order
// with natural alignment, so addresses, handles and services take 8 bytes there.
struct RecordLayout {
    size_t hostVersion, message, idleKind, functionNumber, argumentHandle, instance, result;
    size_t resizeHandle, handleSize, prepareHandle, lockHandle, unlockHandle, lastHandleError;
    size_t recordSize; // the bytes the plug-in may read: the record ends at an inaccessible page
};
constexpr RecordLayout kLayoutI686 = {0, 9, 10, 12, 16, 20, 24, 36, 40, 48, 52, 56, 68, 72};
constexpr RecordLayout kLayoutX8664 = {0, 9, 10, 12, 16, 24, 32, 48, 56, 72, 80, 88, 104, 112};
#if defined(__i386__)
constexpr RecordLayout kLayout = kLayoutI686;
#elif defined(__x86_64__)
constexpr RecordLayout kLayout = kLayoutX8664;
#else
#error "the call record is laid out for i686 and x86-64 only"
#endif

namespace offsets {
const size_t kHostVersion = kLayout.hostVersion;
const size_t kMessage = kLayout.message;
const size_t kIdleKind = kLayout.idleKind;
const size_t kFunctionNumber = kLayout.functionNumber;
const size_t kArgumentHandle = kLayout.argumentHandle;
const size_t kInstance = kLayout.instance;
const size_t kResult = kLayout.result;
const size_t kResizeHandle = kLayout.resizeHandle;
const size_t kHandleSize = kLayout.handleSize;
const size_t kPrepareHandle = kLayout.prepareHandle;
const size_t kLockHandle = kLayout.lockHandle;
const size_t kUnlockHandle = kLayout.unlockHandle;
const size_t kLastHandleError = kLayout.lastHandleError;
const size_t kRecordSize = kLayout.recordSize;
} // namespace offsets

// A host handle as the record carries it: the address of the word that holds the block's
// address, as wide as an address.
typedef uintptr_t Handle;

const uint8_t kMessageStartup = 0;
const uint8_t kMessageIdle = 1;
const uint8_t kMessageExternalFunction = 3;
const uint8_t kMessageShutdown = 4;
const uint8_t kMessagePreferences = 5;

// Filled into every record byte and around every block, to show what the plug-in touched.
const uint8_t kCanary = 0xA5;

enum class Service {
    ResizeHandle,
    HandleSize,
    PrepareHandle,
    LockHandle,
    UnlockHandle,
    LastHandleError
};

struct ServiceCall {
    Service service;
    Handle handle;  // 0 for lastHandleError
    uint32_t value; // the new size for resizeHandle, else 0
    bool operator==(const ServiceCall& other) const {
        return service == other.service && handle == other.handle && value == other.value;
    }
};

const char* ServiceName(Service service);
std::string DescribeCall(const ServiceCall& call);

// Every service call since the last ClearServiceLog, in order.
const std::vector<ServiceCall>& ServiceLog();
void ClearServiceLog();

// Makes lastHandleError report `status` after the next resize (0 restores success).
void FailNextResize(int16_t status);

// A host handle: a word that holds the address of a block with canary bytes on both sides.
// A movable handle's word holds null while the block is not locked, as a host that moves its
// blocks about would leave it unreadable.
Handle NewHandle(const std::string& bytes, bool movable = false);
std::string HandleBytes(Handle handle);
bool HandleCanariesIntact(Handle handle);
int LockDepth(Handle handle);
void FreeAllHandles();

typedef void(__cdecl* EntryPoint)(void* record);

struct Plugin {
    HMODULE module = nullptr;
    EntryPoint entry = nullptr;
};

// Loads a plug-in library and finds its entry point; on failure says why in `error`.
bool LoadPlugin(const std::string& path, Plugin* plugin, std::string* error);

// How the services that a record carries take their arguments off the stack: stdcall (the
// service removes them, as the 32-bit host's are believed to) or cdecl (the caller does). A
// 32-bit plug-in must work with either; x86-64 has one convention, and the choice changes
// nothing there.
enum class ServiceConvention { Stdcall, Cdecl };

// The convention of the services in records made from now on (stdcall to begin with).
void UseServiceConvention(ServiceConvention convention);
ServiceConvention CurrentServiceConvention();

// The address of `service` in the convention now in use, as a new record carries it.
const void* ServiceFunction(Service service);

// One call record, canary-filled, with the host's services and the plug-in's instance, in pages
// of its own (above 4 GiB on x86-64) that end where the record ends.
class CallRecord {
  public:
    explicit CallRecord(HMODULE instance);
    ~CallRecord();
    CallRecord(const CallRecord&) = delete;
    CallRecord& operator=(const CallRecord&) = delete;
    // Makes the record inaccessible, as a host that released it after its call returned.
    void Revoke();
    void SetHostVersion(int16_t version);
    void SetMessage(uint8_t message);
    void SetIdleKind(uint8_t kind);
    void SetFunction(uint32_t number, Handle argumentHandle, Handle resultHandle);
    int32_t Result() const;
    uint8_t* Bytes() { return bytes_; }
    const uint8_t* Bytes() const { return bytes_; }

  private:
    void Put32(size_t offset, uint32_t value);
    void PutWord(size_t offset, uintptr_t value);
    static const size_t kPageSize = 4096;
    uint8_t* pages_;
    uint8_t* bytes_;
};

// Calls the entry point as the host does (C convention) and returns how far the stack pointer
// moved across the call: 0 unless the entry point pops its own argument. Only i686 can tell:
// on x86-64 the argument travels in a register and the answer is always 0.
const bool kMeasuresEntryStack =
#if defined(__i386__)
    true;
#else
    false;
#endif
int32_t CallEntryPoint(EntryPoint entry, void* record);

} // namespace hostside
