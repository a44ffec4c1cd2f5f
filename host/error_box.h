// The plug-in's one error message box, for failures it cannot report as result text.
#pragma once

#include <windows.h>

#include <cstdint>

// Shows a task-modal box captioned by string `stringId` whose text is string `stringId` + 1
// formatted with `code`; returns once the user has closed it.
void ShowErrorBox(UINT stringId, int32_t code);
