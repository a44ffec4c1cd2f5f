// Routes the host's messages and external-function calls to the plug-in's operations.
#include "dispatch.h"

#include "format_preference.h"
#include "stack_guard.h"
#include "version_text.h"
#include "../printer/printer_operations.h"
#include "../ui/about_dialog.h"

ExternCallRecord* currentCallRecord = nullptr;

namespace {

const int16_t kLowestHostVersion = 4;
const int16_t kHighestHostVersion = 255;
const int32_t kInterfaceVersion = 4;
const int32_t kRefused = -1;

// Answers into the start-up call's own record: a host call that arrives while an error box of
// the start-up record is open takes the slot, and its record is not the one waiting for the
// answer.
void AnswerStartup(ExternCallRecord* record) {
    const int16_t hostVersion = record->hostVersion;
    int32_t answer = kRefused;
    if (hostVersion >= kLowestHostVersion && hostVersion <= kHighestHostVersion) {
        LoadFormatPreference();
        answer = kInterfaceVersion;
    }
    record->result.answer = answer;
}

void HandleIdle(uint8_t /*idleKind*/) {}

// Holds the slot for one call and gives it back when the call returns. A call that arrives
// while an earlier one waits in a modal loop (a dialog, the error box, the broadcast) has the
// slot only while it runs; the host may release its record as soon as it returns, so the
// earlier call must finish with its own record, which is still alive.
class CallRecordSlot {
  public:
    explicit CallRecordSlot(ExternCallRecord* record) : outer_(currentCallRecord) {
        currentCallRecord = record;
    }
    ~CallRecordSlot() { currentCallRecord = outer_; }
    CallRecordSlot(const CallRecordSlot&) = delete;
    CallRecordSlot& operator=(const CallRecordSlot&) = delete;

  private:
    ExternCallRecord* outer_;
};

} // namespace

void DispatchFunction(uint32_t functionNumber, HostHandle argumentHandle, HostHandle resultHandle) {
    switch (functionNumber) {
    case 0:
        ReturnVersionText(resultHandle);
        break;
    case 1:
        SetHostPrinter(argumentHandle, resultHandle);
        break;
    case 2:
        SelectPrinter(argumentHandle, resultHandle);
        break;
    case 4:
        SetPrinterDefaultSource(argumentHandle, resultHandle);
        break;
    case 5:
        SetPrinterDefaultCopies(argumentHandle, resultHandle);
        break;
    default:
        break;
    }
}

namespace {

// Everything a call does, below the entry point: the guard word is seeded before any of it runs.
__attribute__((noinline)) void HandleCall(ExternCallRecord* record) {
    const CallRecordSlot slot(record);
    switch (record->message) {
    case kMessageStartup:
        AnswerStartup(record);
        break;
    case kMessageIdle:
        HandleIdle(record->idleKind);
        break;
    case kMessageExternalFunction:
        DispatchFunction(record->functionNumber, record->argumentHandle, record->result.handle);
        break;
    case kMessageShutdown:
        break;
    case kMessagePreferences:
        ShowAboutDialog();
        break;
    default:
        break;
    }
}

} // namespace

// Not guarded itself: the guard word is seeded here on the first call, before any guarded frame
// of the plug-in exists.
extern "C"
    __attribute__((no_stack_protector)) void __cdecl FMExternCallProc(ExternCallRecord* record) {
    SeedStackGuardOnce();
    HandleCall(record);
}
