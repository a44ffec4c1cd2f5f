// The about dialog shown for the host's preferences message.
#pragma once

#include <windows.h>

void ShowAboutDialog();
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
HBRUSH ColorAboutStatic(HWND dialog, HDC dc, HWND control);
