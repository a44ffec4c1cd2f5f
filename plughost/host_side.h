// The host's side of the plug-in interface: handles, services, the call record and the call.
// Both the bundled host and the tests play the host through it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hostside {

// The record is built byte by byte at the host's offsets, independently of the plug-in's own
// declaration, so the two can check each other.
namespace offsets {
const size_t kHostVersion = 0;
const size_t kMessage = 9;
const size_t kIdleKind = 10;
const size_t kFunctionNumber = 12;
const size_t kArgumentHandle = 16;
const size_t kInstance = 20;
const size_t kResult = 24;
const size_t kResizeHandle = 36;
const size_t kHandleSize = 40;
const size_t kPrepareHandle = 48;
const size_t kLockHandle = 52;
const size_t kUnlockHandle = 56;
const size_t kLastHandleError = 68;
const size_t kRecordSize = 96; // the host's record is larger than the 72 bytes the plug-in reads
} // namespace offsets

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
    uint32_t handle; // 0 for lastHandleError
    uint32_t value;  // the new size for resizeHandle, else 0
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
uint32_t NewHandle(const std::string& bytes, bool movable = false);
std::string HandleBytes(uint32_t handle);
bool HandleCanariesIntact(uint32_t handle);
int LockDepth(uint32_t handle);
void FreeAllHandles();

typedef void(__cdecl* EntryPoint)(void* record);

struct Plugin {
    HMODULE module = nullptr;
    EntryPoint entry = nullptr;
};

// Loads a plug-in library and finds its entry point; on failure says why in `error`.
bool LoadPlugin(const std::string& path, Plugin* plugin, std::string* error);

// How the services that a record carries take their arguments off the stack: stdcall (the
// service removes them, as the host's are believed to) or cdecl (the caller does). A plug-in
// must work with either.
enum class ServiceConvention { Stdcall, Cdecl };

// The convention of the services in records made from now on (stdcall to begin with).
void UseServiceConvention(ServiceConvention convention);
ServiceConvention CurrentServiceConvention();

// One call record, canary-filled, with the host's services and the plug-in's instance.
class CallRecord {
  public:
    explicit CallRecord(HMODULE instance);
    void SetHostVersion(int16_t version);
    void SetMessage(uint8_t message);
    void SetIdleKind(uint8_t kind);
    void SetFunction(uint32_t number, uint32_t argumentHandle, uint32_t resultHandle);
    int32_t Result() const;
    uint8_t* Bytes() { return bytes_; }
    const uint8_t* Bytes() const { return bytes_; }

  private:
    void Put32(size_t offset, uint32_t value);
    alignas(4) uint8_t bytes_[offsets::kRecordSize];
};

// Calls the entry point as the host does (C convention) and returns how far the stack pointer
// moved across the call: 0 unless the entry point pops its own argument.
int32_t CallEntryPoint(EntryPoint entry, void* record);

} // namespace hostside
