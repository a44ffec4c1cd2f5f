// Loads the plug-in's own string resources as ANSI text.
#include "plugin_strings.h"

#include "call_record.h"

int LoadModuleString(HINSTANCE module, UINT id, char* buffer, int size) {
    buffer[0] = '\0';
    const int length = LoadStringA(module, id, buffer, size);
    if (length <= 0) {
        buffer[0] = '\0';
        return 0;
    }
    return length;
}

int LoadPluginString(UINT id, char* buffer, int size) {
    return LoadModuleString(currentCallRecord->instance, id, buffer, size);
}
