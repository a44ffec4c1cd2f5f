// Creating the plug-in's registry keys and closing them on every path.
#pragma once

#include <windows.h>

// Creates `path` under HKEY_CURRENT_USER, with every missing key above it, or opens it if it
// exists, for all access; a key it creates receives the class text "REG_SZ". Sets
// `disposition` to 0 before the call, so that it stays 0 when no key could be had.
inline LONG CreateUserKey(const char* path, HKEY* key, DWORD* disposition) {
    static const char kKeyClass[] = "REG_SZ";
    *disposition = 0;
    // The class parameter is declared writable but is only read.
    return RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, const_cast<LPSTR>(kKeyClass),
                           REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key, disposition);
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
