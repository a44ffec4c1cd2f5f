// External function 2: the print-setup dialog, answering device, driver and port.
#include "printer_operations.h"

#include "../host/arguments.h"
#include "global_block.h"

#include <commdlg.h>

#include <cstdint>
#include <iterator>

// PrintDlgA takes the record in its packed form on 32-bit Windows (the x86-64 test build's is
// naturally aligned).
#if defined(__i386__)
static_assert(sizeof(PRINTDLGA) == 66, "PRINTDLGA must have its packed 32-bit size");
#else
static_assert(sizeof(PRINTDLGA) == 120, "PRINTDLGA must have its 64-bit size");
#endif

namespace {

// Argument 1, the answer when no printer is chosen, is read up to this many bytes.
const uint32_t kDefaultTextCap = 255;

// No hook flags and no hook procedure: a hook that must change nothing only adds risk.
const DWORD kSetupFlags =
    PD_PRINTSETUP | PD_NOSELECTION | PD_NOPAGENUMS | PD_USEDEVMODECOPIES | PD_HIDEPRINTTOFILE;
static_assert(kSetupFlags == 0x14004C, "the print-setup flags");

// A view of a locked global block, unlocked when the view ends.
class LockedBlock {
  public:
    explicit LockedBlock(HGLOBAL block)
        : block_(block), bytes_(static_cast<const char*>(GlobalLock(block))),
          size_(bytes_ != nullptr ? GlobalSize(block) : 0) {}
    ~LockedBlock() {
        if (bytes_ != nullptr) GlobalUnlock(block_);
    }
    LockedBlock(const LockedBlock&) = delete;
    LockedBlock& operator=(const LockedBlock&) = delete;
    const char* Bytes() const { return bytes_; }
    SIZE_T Size() const { return size_; }

  private:
    HGLOBAL block_;
    const char* bytes_;
    SIZE_T size_;
};

// The zero-terminated name at `offset` in the block, as a piece of text; a name that starts
// outside the block or runs off its end is cut at the end, so a malformed block is never read
// past.
TextPiece NameAt(const LockedBlock& names, WORD offset) {
    if (offset < sizeof(DEVNAMES) || offset >= names.Size()) return {"", 0};
    const char* start = names.Bytes() + offset;
    const size_t room = names.Size() - offset;
    size_t length = 0;
    while (length < room && start[length] != '\0')
        ++length;
    return {start, length};
}

// Answers device, driver and port of the chosen printer joined by commas; three empty names
// when the dialog left no name block or it cannot be read. The names go from the block straight
// into the result, so a long name is returned whole (a cut printer name would name no printer)
// without storage of the plug-in's own.
void AnswerPrinterNames(HostHandle resultHandle, HGLOBAL devNames) {
    TextPiece pieces[] = {{"", 0}, {",", 1}, {"", 0}, {",", 1}, {"", 0}};
    if (devNames == nullptr) {
        SetResultPieces(resultHandle, pieces, std::size(pieces));
        return;
    }
    LockedBlock names(devNames);
    if (names.Bytes() != nullptr && names.Size() >= sizeof(DEVNAMES)) {
        const DEVNAMES* header = reinterpret_cast<const DEVNAMES*>(names.Bytes());
        pieces[0] = NameAt(names, header->wDeviceOffset);
        pieces[2] = NameAt(names, header->wDriverOffset);
        pieces[4] = NameAt(names, header->wOutputOffset);
    }
    SetResultPieces(resultHandle, pieces, std::size(pieces));
}

} // namespace

void SelectPrinter(HostHandle argumentHandle, HostHandle resultHandle) {
    // Read before the dialog opens: the handle is not held locked while the dialog runs.
    char defaultText[kDefaultTextCap + 1];
    GetTextArgument(argumentHandle, 1, defaultText);

    PRINTDLGA dialog = {};
    dialog.lStructSize = sizeof dialog;
    // No owner, so the host's windows stay usable; no blocks, so the dialog starts on the
    // system's default printer and allocates both itself.
    dialog.hwndOwner = nullptr;
    dialog.hDevMode = nullptr;
    dialog.hDevNames = nullptr;
    dialog.Flags = kSetupFlags;
    const BOOL chosen = PrintDlgA(&dialog);

    // The dialog allocated both blocks; the user's property changes go with the DEVMODE.
    GlobalBlock devMode(dialog.hDevMode);
    GlobalBlock devNames(dialog.hDevNames);
    if (chosen) {
        AnswerPrinterNames(resultHandle, devNames.Get());
    } else {
        SetResultString(resultHandle, defaultText);
    }
}
