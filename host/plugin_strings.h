// Loads the plug-in's own string resources as ANSI text.
#pragma once

#include <windows.h>

// Loads string `id` from the plug-in library named by the current call record into `buffer`
// (`size` bytes, terminator included) and returns its length; a missing string reads as empty.
int LoadPluginString(UINT id, char* buffer, int size);
