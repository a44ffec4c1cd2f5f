// The plug-in's own per-user preference record, made sure of at every accepted start-up.
#include "format_preference.h"

#include "error_box.h"
#include "registry_key.h"
#include "resource_ids.h"

#include <windows.h>

FormatPreference formatPreference;

namespace {

const char kFormatKeyPath[] =
    "Software\\FileMaker\\FileMaker Pro\\5.5\\PlugIns\\Tesmun Plugin\\2.0v1";
const char kFormatValueName[] = "format_string";

void ShowRegistryError(LONG status) {
    ShowErrorBox(IDS_ERROR_CAPTION, status);
}

// The key is new: store the default record's length byte and characters, 17 bytes. The
// registry's A function adds the terminator that follows them in the record, on Windows as under
// Wine, so the value holds 18; the record has that zero byte either way.
void StoreDefaultRecord(HKEY key) {
    const DWORD size = static_cast<DWORD>(formatPreference.length) + 1;
    const LONG status = RegSetValueExA(key, kFormatValueName, 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(&formatPreference), size);
    if (status != ERROR_SUCCESS) ShowRegistryError(status);
}

// The key existed: read the stored record over the default. The value's type is not looked at.
void ReadStoredRecord(HKEY key) {
    DWORD size = 0;
    const LONG sizeStatus =
        RegQueryValueExA(key, kFormatValueName, nullptr, nullptr, nullptr, &size);
    if (sizeStatus != ERROR_SUCCESS) {
        ShowRegistryError(sizeStatus);
        return;
    }
    // The query itself succeeded, so the box for an over-long value reads "error 0".
    if (!StoredRecordSizeAccepted(size)) {
        ShowRegistryError(sizeStatus);
        return;
    }
    DWORD bytesRead = size;
    const LONG readStatus =
        RegQueryValueExA(key, kFormatValueName, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&formatPreference), &bytesRead);
    if (readStatus != ERROR_SUCCESS) {
        ResetFormatPreference();
        ShowRegistryError(readStatus);
        return;
    }
    // A length byte outside 0 to 30 would place the terminator outside the record.
    if (!FinishStoredRecord(formatPreference, bytesRead)) {
        ResetFormatPreference();
        ShowRegistryError(ERROR_INVALID_DATA);
    }
}

} // namespace

void ResetFormatPreference() {
    SetDefaultFormatRecord(formatPreference);
}

void LoadFormatPreference() {
    ResetFormatPreference();
    HKEY key = nullptr;
    DWORD disposition = 0;
    const LONG status = CreateUserKey(kFormatKeyPath, &key, &disposition);
    if (status != ERROR_SUCCESS) {
        ShowRegistryError(status);
        return;
    }
    const OpenKey keyCloser(key);
    if (disposition == REG_CREATED_NEW_KEY) {
        StoreDefaultRecord(key);
    } else {
        ReadStoredRecord(key);
    }
}
