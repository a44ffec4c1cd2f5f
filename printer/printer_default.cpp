// External functions 4 and 5: a printer's global default paper source and copies.
#include "printer_operations.h"

#include "arguments.h"
#include "decimal_value.h"
#include "host_services.h"
#include "global_block.h"

#include <windows.h>
#include <winspool.h>

#include <cstddef>
#include <cstdint>

namespace {

const uint32_t kArgumentCap = 200;
const DWORD kGlobalDefaultsLevel = 8;
const UINT kAnnounceTimeoutMs = 1000;

const char kOk[] = "<<OK>>";
const char kPrinterNotFound[] = "<<ERROR>> Printer not found";
const char kSaveProblem[] = "<<ERROR>> Document properties save problem";

// The one DEVMODE field that a function writes, and the dmFields bit that says the driver
// keeps it.
struct DevmodeField {
    size_t offset;
    DWORD bit;
};
const DevmodeField kDefaultSource = {offsetof(DEVMODEA, dmDefaultSource), DM_DEFAULTSOURCE};
const DevmodeField kCopies = {offsetof(DEVMODEA, dmCopies), DM_COPIES};

// Holds the host's argument handle locked for the whole call; the reads inside lock it again.
class ArgumentLock {
  public:
    explicit ArgumentLock(HostHandle handle) : handle_(handle) {
        if (handle_ != nullptr) HostLockHandle(handle_);
    }
    ~ArgumentLock() {
        if (handle_ != nullptr) HostUnlockHandle(handle_);
    }
    ArgumentLock(const ArgumentLock&) = delete;
    ArgumentLock& operator=(const ArgumentLock&) = delete;

  private:
    HostHandle handle_;
};

// A spooler handle, closed once when it goes out of scope.
class PrinterHandle {
  public:
    PrinterHandle() = default;
    ~PrinterHandle() {
        if (handle_ != nullptr) ClosePrinter(handle_);
    }
    PrinterHandle(const PrinterHandle&) = delete;
    PrinterHandle& operator=(const PrinterHandle&) = delete;

    // An empty name opens the local print server, which takes no defaults.
    bool Open(char* name) {
        PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        const BOOL opened = name[0] == '\0' ? OpenPrinterA(nullptr, &handle_, nullptr)
                                            : OpenPrinterA(name, &handle_, &defaults);
        // Whatever a failed open left in the handle is not ours to close.
        if (!opened) handle_ = nullptr;
        return opened != 0;
    }
    HANDLE Get() const { return handle_; }

  private:
    HANDLE handle_ = nullptr;
};

// The size of the printer driver's full DEVMODE, or 0 when the driver will not say.
DWORD DriverDevmodeSize(HANDLE printer, char* name) {
    const LONG size = DocumentPropertiesA(nullptr, printer, name, nullptr, nullptr, 0);
    return size > 0 ? static_cast<DWORD>(size) : 0;
}

// Fills `block` with the driver's own default DEVMODE.
bool ReadDriverDefaults(HANDLE printer, char* name, GlobalBlock* block) {
    const DWORD size = DriverDevmodeSize(printer, name);
    if (size == 0 || !block->Allocate(size)) return false;
    return DocumentPropertiesA(nullptr, printer, name, static_cast<DEVMODEA*>(block->Get()),
                               nullptr, DM_OUT_BUFFER) == IDOK;
}

// The driver writes its whole DEVMODE back in place, so a stored DEVMODE that is shorter than
// the driver's (one that another program stored without the driver's private part) is moved
// into a block of the driver's size first.
bool MakeRoomForDriver(HANDLE printer, char* name, DEVMODEA** devmode, GlobalBlock* block) {
    const DWORD storedSize = static_cast<DWORD>((*devmode)->dmSize) + (*devmode)->dmDriverExtra;
    const DWORD driverSize = DriverDevmodeSize(printer, name);
    if (driverSize == 0) return false;
    if (storedSize >= driverSize) return true;
    if (!block->Allocate(driverSize)) return false;
    CopyMemory(block->Get(), *devmode, storedSize);
    *devmode = static_cast<DEVMODEA*>(block->Get());
    return true;
}

// Writes the field only where the driver keeps it, and only inside the DEVMODE's own size.
void EditField(DEVMODEA* devmode, DevmodeField field, int16_t value) {
    if ((devmode->dmFields & field.bit) == 0) return;
    if (field.offset + sizeof value > devmode->dmSize) return;
    CopyMemory(reinterpret_cast<BYTE*>(devmode) + field.offset, &value, sizeof value);
}

// Reads the printer's global defaults, edits the field, has the driver check them and stores
// them. Every handle and block is released on return, whichever step failed.
const char* StoreEditedDefaults(char* name, DevmodeField field, int16_t value) {
    PrinterHandle printer;
    if (!printer.Open(name)) return kPrinterNotFound;

    // The size query reports ERROR_INSUFFICIENT_BUFFER when all is well; the cleared code keeps
    // a stale one from passing for it.
    DWORD needed = 0;
    SetLastError(0);
    if (!GetPrinterA(printer.Get(), kGlobalDefaultsLevel, nullptr, 0, &needed) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return kSaveProblem;
    if (needed == 0) return kSaveProblem;

    GlobalBlock level8;
    if (!level8.Allocate(needed)) return kSaveProblem;
    if (!GetPrinterA(printer.Get(), kGlobalDefaultsLevel, static_cast<BYTE*>(level8.Get()), needed,
                     &needed))
        return kSaveProblem;
    PRINTER_INFO_8A* info = static_cast<PRINTER_INFO_8A*>(level8.Get());

    GlobalBlock devmodeBlock;
    if (info->pDevMode == nullptr) {
        if (!ReadDriverDefaults(printer.Get(), name, &devmodeBlock)) return kSaveProblem;
        info->pDevMode = static_cast<DEVMODEA*>(devmodeBlock.Get());
    } else if (!MakeRoomForDriver(printer.Get(), name, &info->pDevMode, &devmodeBlock)) {
        return kSaveProblem;
    }

    EditField(info->pDevMode, field, value);
    if (DocumentPropertiesA(nullptr, printer.Get(), name, info->pDevMode, info->pDevMode,
                            DM_IN_BUFFER | DM_OUT_BUFFER) != IDOK)
        return kSaveProblem;
    if (!SetPrinterA(printer.Get(), kGlobalDefaultsLevel, static_cast<BYTE*>(level8.Get()), 0))
        return kSaveProblem;

    // A window that does not answer costs at most the time-out; the outcome does not matter.
    SendMessageTimeoutA(HWND_BROADCAST, WM_DEVMODECHANGE, 0, reinterpret_cast<LPARAM>(name),
                        SMTO_NORMAL, kAnnounceTimeoutMs, nullptr);
    return kOk;
}

void ChangePrinterDefault(HostHandle argumentHandle, HostHandle resultHandle, DevmodeField field) {
    // Held from before the first read until the result is written.
    ArgumentLock lock(argumentHandle);
    // Zero-filled beyond the text, with room for a wide terminator after the longest name:
    // Wine passes an ANSI broadcast's text on as if it were wide, up to a double zero byte.
    struct {
        char text[kArgumentCap + 1];
        char wideTerminator[2];
    } name = {};
    char valueText[kArgumentCap + 1];
    GetTextArgument(argumentHandle, 1, name.text);
    GetTextArgument(argumentHandle, 2, valueText);
    const int16_t value = DecimalFieldValue(valueText);

    SetResultString(resultHandle, StoreEditedDefaults(name.text, field, value));
}

} // namespace

void SetPrinterDefaultSource(HostHandle argumentHandle, HostHandle resultHandle) {
    ChangePrinterDefault(argumentHandle, resultHandle, kDefaultSource);
}

void SetPrinterDefaultCopies(HostHandle argumentHandle, HostHandle resultHandle) {
    ChangePrinterDefault(argumentHandle, resultHandle, kCopies);
}
