// Reads and stores the tests' registry values, and records the plug-in's registry calls.
#include "registry_helpers.h"

#include "harness.h"

RegistryCalls registryCalls;

bool KeyExists(const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string FirstMissingLevel(const std::string& path) {
    for (size_t end = 0; end != std::string::npos;) {
        end = path.find('\\', end + 1);
        const std::string level = path.substr(0, end);
        if (!KeyExists(level)) return level;
    }
    return "";
}

std::string KeyClass(const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "(no key)";
    char keyClass[64] = "";
    DWORD length = sizeof keyClass;
    RegQueryInfoKeyA(key, keyClass, &length, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return keyClass;
}

StoredValue ReadValue(const std::string& path, const char* name) {
    StoredValue value;
    HKEY key;
    value.status = RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
    if (value.status != ERROR_SUCCESS) return value;
    char data[8192];
    DWORD size = sizeof data;
    value.status =
        RegQueryValueExA(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(data), &size);
    if (value.status == ERROR_SUCCESS) value.bytes.assign(data, size);
    RegCloseKey(key);
    return value;
}

void StoreValue(const std::string& path, const char* keyClass, const char* name,
                const std::string& bytes, DWORD type) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, const_cast<LPSTR>(keyClass), 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr))
        << path;
    const LONG status =
        RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, status) << path << " value " << name;
}

namespace {

decltype(&RegCreateKeyExA) originalCreateKey;
decltype(&RegOpenKeyExA) originalOpenKey;
decltype(&RegCloseKey) originalCloseKey;
decltype(&RegSetValueExA) originalSetValue;
decltype(&RegQueryValueExA) originalQueryValue;

LONG WINAPI CreateKeyRecorded(HKEY root, LPCSTR path, DWORD reserved, LPSTR keyClass, DWORD options,
                              REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY key,
                              LPDWORD disposition) {
    registryCalls.createPaths.push_back(path);
    if (registryCalls.failCreate != ERROR_SUCCESS) {
        if (registryCalls.keyLeftByFailedCreate != nullptr)
            *key = registryCalls.keyLeftByFailedCreate;
        if (registryCalls.dispositionLeftByFailedCreate != 0 && disposition != nullptr)
            *disposition = registryCalls.dispositionLeftByFailedCreate;
        return registryCalls.failCreate;
    }
    const LONG status = originalCreateKey(root, path, reserved, keyClass, options, access, security,
                                          key, disposition);
    if (status == ERROR_SUCCESS) registryCalls.openKeys.insert(*key);
    if (status == ERROR_SUCCESS && registryCalls.createReportsNoDisposition &&
        disposition != nullptr)
        *disposition = 0;
    return status;
}

LONG WINAPI OpenKeyRecorded(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
    registryCalls.openPaths.push_back(path);
    registryCalls.openAccess |= access;
    if (registryCalls.failOpen != ERROR_SUCCESS) return registryCalls.failOpen;
    const LONG status = originalOpenKey(root, path, options, access, key);
    if (status == ERROR_SUCCESS) registryCalls.openKeys.insert(*key);
    return status;
}

LONG WINAPI CloseKeyRecorded(HKEY key) {
    if (registryCalls.openKeys.erase(key) == 0) ++registryCalls.strayCloses;
    return originalCloseKey(key);
}

LONG WINAPI SetValueRecorded(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                             DWORD size) {
    ++registryCalls.writes;
    registryCalls.writtenName = name;
    registryCalls.writtenType = type;
    registryCalls.writtenBytes.assign(reinterpret_cast<const char*>(data), size);
    if (registryCalls.failWrite != ERROR_SUCCESS) return registryCalls.failWrite;
    return originalSetValue(key, name, reserved, type, data, size);
}

LONG WINAPI QueryValueMayFail(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                              LPDWORD size) {
    if (data != nullptr && registryCalls.failRead != ERROR_SUCCESS) return registryCalls.failRead;
    return originalQueryValue(key, name, reserved, type, data, size);
}

} // namespace

RegistryRecorder::RegistryRecorder()
    : createHook_(PluginModule(), "RegCreateKeyExA", &CreateKeyRecorded),
      openHook_(PluginModule(), "RegOpenKeyExA", &OpenKeyRecorded),
      closeHook_(PluginModule(), "RegCloseKey", &CloseKeyRecorded),
      setHook_(PluginModule(), "RegSetValueExA", &SetValueRecorded),
      queryHook_(PluginModule(), "RegQueryValueExA", &QueryValueMayFail) {
    registryCalls = RegistryCalls();
    originalCreateKey = createHook_.Original();
    originalOpenKey = openHook_.Original();
    originalCloseKey = closeHook_.Original();
    originalSetValue = setHook_.Original();
    originalQueryValue = queryHook_.Original();
}

bool RegistryRecorder::Installed() const {
    return createHook_.Installed() && openHook_.Installed() && closeHook_.Installed() &&
           setHook_.Installed() && queryHook_.Installed();
}

void RegistryRecorder::ExpectEveryKeyClosedOnce() const {
    EXPECT_TRUE(registryCalls.openKeys.empty())
        << registryCalls.openKeys.size() << " key(s) left open";
    EXPECT_EQ(0, registryCalls.strayCloses) << "closed a key it had not opened";
}
