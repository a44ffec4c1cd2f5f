// The about dialog shown for the host's preferences message.
#pragma once

#include <windows.h>

// Shows the about dialog modally over the thread's active window; returns once OK ended it.
void ShowAboutDialog();

// The dialog's procedure: fills the two lines, ends on OK alone and paints white and grey.
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The answer to a static control's colour request: grey text on the white brush.
HBRUSH ColorAboutStatic(HWND dialog, HDC dc, HWND control);
