// Creating the plug-in's registry keys, looking for one, and closing them on every path.
#pragma once

#include <windows.h>

// Creates `path` under HKEY_CURRENT_USER, with every missing key above it, or opens it if it
// exists, for all access; a key it creates receives the class text "REG_SZ". Answers
// ERROR_SUCCESS, with `key` open and `disposition` saying whether it was created or opened, only
// when the call's status and its disposition both say so. Otherwise answers the status to show,
// and `key` is neither to be used nor closed: nothing documents what a call that fails partway
// leaves in it. A call that claims success without a disposition answers ERROR_CANTOPEN, the
// key it gave closed.
inline LONG CreateUserKey(const char* path, HKEY* key, DWORD* disposition) {
    static const char kKeyClass[] = "REG_SZ";
    HKEY created = nullptr;
    *disposition = 0;
    // The class parameter is declared writable but is only read.
    const LONG status =
        RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, const_cast<LPSTR>(kKeyClass),
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &created, disposition);
    if (status != ERROR_SUCCESS) return status;
    if (*disposition != REG_CREATED_NEW_KEY && *disposition != REG_OPENED_EXISTING_KEY) {
        if (created != nullptr) RegCloseKey(created);
        return ERROR_CANTOPEN;
    }
    *key = created;
    return ERROR_SUCCESS;
}

// Whether the key at `path` under HKEY_CURRENT_USER is known to be missing: only an open that
// answers "not found" says so. The open asks to read values only, and a key it opens is closed at
// once. A key that may not be opened (access denied) exists, and any other failure says nothing
// of the key, so neither counts as missing.
inline bool UserKeyIsMissing(const char* path) {
    HKEY key = nullptr;
    const LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status == ERROR_FILE_NOT_FOUND;
}

// Closes an open registry key when the routine that opened it returns.
class OpenKey {
  public:
    explicit OpenKey(HKEY key) : key_(key) {}
    ~OpenKey() { RegCloseKey(key_); }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

  private:
    HKEY key_;
};
