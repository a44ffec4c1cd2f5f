// The plug-in's one error message box, for failures it cannot report as result text.
#include "error_box.h"

#include "plugin_strings.h"

void ShowErrorBox(UINT stringId, int32_t code) {
    char caption[64];
    char format[64];
    char text[64] = "";
    LoadPluginString(stringId, caption, sizeof caption);
    LoadPluginString(stringId + 1, format, sizeof format);
    // The format is our own resource, "error %li", so the text stays far below 64 bytes.
    wsprintfA(text, format, static_cast<long>(code));
    MessageBoxA(nullptr, text, caption, MB_OK | MB_TASKMODAL);
}
