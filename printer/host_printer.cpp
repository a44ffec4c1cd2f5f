// External function 1: makes a printer the one the running host product uses, by writing the
// product's own "Printer" preference for the host version the caller names.
#include "printer_operations.h"

#include "../host/arguments.h"
#include "../host/code_page.h"
#include "../host/error_box.h"
#include "../host/registry_key.h"
#include "resource_ids.h"
#include "title_text.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace {

// Arguments 1 (the printer) and 2 (the host version) are each at most this long.
const uint32_t kArgumentCap = 200;
const char kPrinterValueName[] = "Printer";

// Storage from VirtualAlloc, returned once: when the routine that holds it is done with it, or
// when that routine returns.
class VirtualBlock {
  public:
    VirtualBlock() = default;
    ~VirtualBlock() { Release(); }
    VirtualBlock(const VirtualBlock&) = delete;
    VirtualBlock& operator=(const VirtualBlock&) = delete;

    // Fresh, zero-filled storage.
    bool Allocate(SIZE_T size) {
        Release();
        address_ = VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE);
        return address_ != nullptr;
    }
    void Release() {
        if (address_ != nullptr) VirtualFree(address_, 0, MEM_RELEASE);
        address_ = nullptr;
    }
    char* Text() const { return static_cast<char*>(address_); }

  private:
    void* address_ = nullptr;
};

// Reads the title of the calling thread's active window into `storage`, which then holds the
// title's bytes, `length` of them, with a zero byte after them; a missing window or an
// unreadable title gives the empty text. Answers false only when no storage could be had.
bool ReadActiveWindowTitle(VirtualBlock* storage, size_t* length) {
    HWND window = GetActiveWindow();
    int titleLength = GetWindowTextLengthA(window);
    // The room for the terminator must not wrap around.
    if (titleLength < 0 || titleLength == INT_MAX) titleLength = 0;
    const int capacity = titleLength + 1;
    // Zero-filled, so a title that cannot be read leaves the empty text.
    if (!storage->Allocate(static_cast<SIZE_T>(capacity))) return false;
    GetWindowTextA(window, storage->Text(), capacity);
    *length = strnlen(storage->Text(), static_cast<size_t>(capacity));
    return true;
}

// Composes the preferences key path and answers ERROR_SUCCESS, or the status to show for a path
// that is not asked for: one with an empty level, and one that would name some other key (a cut
// path, or a product or version whose last lead byte would take the next backslash as its second
// byte).
LONG ComposeUsableKeyPath(const char* product, const char* version, LeadByteTest isLeadByte,
                          char (&path)[kKeyPathBufferSize]) {
    if (!ComposePreferencesKeyPath(product, version, path)) return ERROR_FILENAME_EXCED_RANGE;
    if (EndsInsideCharacter(product, isLeadByte) || EndsInsideCharacter(version, isLeadByte))
        return ERROR_NO_UNICODE_TRANSLATION;
    // This path can have an empty level only in the middle. Wine skips one there, so the value
    // would land one level up, where no host reads; what Windows does with it is not known. 161
    // is what Windows answers for an empty level at the start of a path.
    if (HasEmptyKeyLevel(path, isLeadByte)) return ERROR_BAD_PATHNAME;
    return ERROR_SUCCESS;
}

// Windows creates at most 32 levels of a key path in one call, however deep the tree; Wine
// creates any number. So a path of more than 32 levels is asked for only when its ancestor 32
// levels up exists already. Answers ERROR_SUCCESS, or 206, the status of a name too long, when
// that ancestor is missing. Nothing else refuses the path: the create answers for itself, and
// as it names the whole path from the root, a key made or removed after this look can change
// only whether the path is refused, never where the value goes.
LONG CheckLevelsToCreate(const char (&path)[kKeyPathBufferSize], LeadByteTest isLeadByte) {
    const size_t ancestorLength = RequiredAncestorLength(path, isLeadByte);
    if (ancestorLength == 0) return ERROR_SUCCESS;
    char ancestor[kKeyPathBufferSize];
    std::memcpy(ancestor, path, ancestorLength);
    ancestor[ancestorLength] = '\0';
    return UserKeyIsMissing(ancestor) ? ERROR_FILENAME_EXCED_RANGE : ERROR_SUCCESS;
}

void WritePrinterPreference(const char* path, const char* printer) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    const LONG createStatus = CreateUserKey(path, &key, &disposition);
    if (createStatus != ERROR_SUCCESS) {
        ShowErrorBox(IDS_ERROR_CAPTION, createStatus);
        return;
    }
    const OpenKey keyCloser(key);

    // The terminating zero is stored with the text.
    const DWORD size = static_cast<DWORD>(std::strlen(printer)) + 1;
    const LONG status = RegSetValueExA(key, kPrinterValueName, 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(printer), size);
    if (status != ERROR_SUCCESS) ShowErrorBox(IDS_ERROR_CAPTION, status);
}

} // namespace

void SetHostPrinter(HostHandle argumentHandle, HostHandle /*resultHandle*/) {
    VirtualBlock title;
    size_t titleLength = 0;
    if (!ReadActiveWindowTitle(&title, &titleLength)) return;
    const AnsiCodePage codePage = ProcessAnsiCodePage();
    // The product name is made in the title's own storage: it is never longer than the title.
    char* const product = title.Text();
    product[ProductNameFromTitle(product, titleLength, codePage)] = '\0';

    char printer[kArgumentCap + 1];
    char version[kArgumentCap + 1];
    GetTextArgument(argumentHandle, 1, printer);
    GetTextArgument(argumentHandle, 2, version);

    // Every way the key cannot be had ends in the error box, like a failed write, since a
    // script's request must not vanish without trace.
    char path[kKeyPathBufferSize];
    LONG pathStatus = ComposeUsableKeyPath(product, version, codePage.isLeadByte, path);
    // The path holds all that is needed of the title from here on.
    title.Release();
    if (pathStatus == ERROR_SUCCESS) pathStatus = CheckLevelsToCreate(path, codePage.isLeadByte);
    if (pathStatus != ERROR_SUCCESS) {
        ShowErrorBox(IDS_ERROR_CAPTION, pathStatus);
        return;
    }
    WritePrinterPreference(path, printer);
}
