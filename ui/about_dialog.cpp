// The about dialog shown for the host's preferences message.
#include "about_dialog.h"

void ShowAboutDialog() {}

INT_PTR CALLBACK AboutDlgProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

HBRUSH ColorAboutStatic(HWND, HDC, HWND) { return nullptr; }
