// External function 0: the plug-in's name and version.
#include "version_text.h"

#include "arguments.h"
#include "plugin_strings.h"
#include "resource_ids.h"

void ReturnVersionText(HostHandle resultHandle) {
    char text[256];
    const int length = LoadPluginString(IDS_VERSION_TEXT, text, sizeof text);
    SetResultText(resultHandle, text, static_cast<uint32_t>(length));
}
