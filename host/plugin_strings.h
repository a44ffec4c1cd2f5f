// Loads the plug-in's own string resources as ANSI text.
#pragma once

#include <windows.h>

// Loads string `id` of `module` into `buffer` (`size` bytes, terminator included) and returns
// its length; a missing string reads as empty.
int LoadModuleString(HINSTANCE module, UINT id, char* buffer, int size);

// LoadModuleString for the plug-in library named by the current call record.
int LoadPluginString(UINT id, char* buffer, int size);
