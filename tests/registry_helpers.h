// Reads and stores the tests' registry values, and records the plug-in's registry calls.
#pragma once

#include "import_patch.h"

#include <windows.h>

#include <set>
#include <string>
#include <vector>

// Every path here names a key under HKEY_CURRENT_USER, where the plug-in keeps its values.
bool KeyExists(const std::string& path);

// The shortest leading part of `path` that names no key, or "" when the whole path exists.
std::string FirstMissingLevel(const std::string& path);

// The class text of the key at `path`, or "(no key)".
std::string KeyClass(const std::string& path);

struct StoredValue {
    LONG status = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    std::string bytes; // as RegQueryValueExA hands them back, with their reported count
};

StoredValue ReadValue(const std::string& path, const char* name);

// Creates the key at `path` (with class `keyClass`, or none when null) and stores `bytes` raw
// as `name`; a failure is a fatal failure of the caller's test.
void StoreValue(const std::string& path, const char* keyClass, const char* name,
                const std::string& bytes, DWORD type);

// What the plug-in asked of the registry, and the failures a test makes it meet.
struct RegistryCalls {
    std::vector<std::string> createPaths; // one per RegCreateKeyExA call, failed ones too
    std::vector<std::string> openPaths;   // one per RegOpenKeyExA call, failed ones too
    REGSAM openAccess = 0;                // every access any open asked for
    std::set<HKEY> openKeys;
    int strayCloses = 0;
    int writes = 0;
    LONG failCreate = ERROR_SUCCESS;
    // What a failed create leaves in its out-parameters: nothing documents what a call that
    // fails partway leaves there, so a test may leave anything.
    HKEY keyLeftByFailedCreate = nullptr;
    DWORD dispositionLeftByFailedCreate = 0;
    bool createReportsNoDisposition = false; // a create that succeeds leaves the disposition 0
    LONG failOpen = ERROR_SUCCESS;
    LONG failWrite = ERROR_SUCCESS;
    LONG failRead = ERROR_SUCCESS; // the read of the data, not the size query before it
    std::string writtenName;       // the last write's
    DWORD writtenType = REG_NONE;
    std::string writtenBytes; // as many as the call counted
};

// The hooks are plain functions, so there is one record, filled by the recorder that lives.
extern RegistryCalls registryCalls;

// While it lives, the plug-in's RegCreateKeyExA, RegOpenKeyExA, RegCloseKey, RegSetValueExA and
// RegQueryValueExA go through `registryCalls`, which it starts empty.
class RegistryRecorder {
  public:
    RegistryRecorder();
    RegistryRecorder(const RegistryRecorder&) = delete;
    RegistryRecorder& operator=(const RegistryRecorder&) = delete;

    bool Installed() const;
    // Every key the plug-in opened was closed, and exactly once.
    void ExpectEveryKeyClosedOnce() const;

  private:
    ImportHook<decltype(&RegCreateKeyExA)> createHook_;
    ImportHook<decltype(&RegOpenKeyExA)> openHook_;
    ImportHook<decltype(&RegCloseKey)> closeHook_;
    ImportHook<decltype(&RegSetValueExA)> setHook_;
    ImportHook<decltype(&RegQueryValueExA)> queryHook_;
};
