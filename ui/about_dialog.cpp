// The about dialog shown for the host's preferences message.
#include "about_dialog.h"

#include "../host/call_record.h"
#include "../host/plugin_strings.h"
#include "../resources/resource_ids.h"

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kLineGrey = RGB(147, 149, 152);

// The lines are one short sentence each; a longer string is cut, as a 202-unit line would be.
const int kLineBufferSize = 256;

#if defined(__i386__)
static_assert(sizeof(LOGBRUSH) == 12, "the brush description read back is 12 bytes");
#else
static_assert(sizeof(LOGBRUSH) == 16, "the brush description read back is 16 bytes on x86-64");
#endif

// One white brush for the life of the library: every showing and repaint answers with it.
HBRUSH whiteBrush = nullptr;

// The white brush, made on first use; a failed creation leaves the slot empty to try again.
HBRUSH WhiteBrush() {
    if (whiteBrush == nullptr) whiteBrush = CreateSolidBrush(kWhite);
    return whiteBrush;
}

// The picture control loads its bitmap from the template itself. Wine's control never deletes
// it (some 400 KB a showing), Windows' does; taking the bitmap out of the control before it is
// destroyed makes it ours on both, and it is deleted here.
BOOL CALLBACK ReleasePicture(HWND control, LPARAM) {
    if ((GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) != SS_BITMAP) return TRUE;
    HGDIOBJ picture = reinterpret_cast<HGDIOBJ>(
        SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(nullptr)));
    if (picture != nullptr) DeleteObject(picture);
    return FALSE;
}

// The strings come from the module the dialog was made from, whatever record the slot holds.
void SetLineFromString(HWND dialog, int lineId, UINT stringId) {
    char text[kLineBufferSize];
    const HINSTANCE module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE));
    LoadModuleString(module, stringId, text, sizeof text);
    SetDlgItemTextA(dialog, lineId, text);
}

void InitializeAboutDialog(HWND dialog) {
    SetFocus(GetDlgItem(dialog, IDOK));
    SetLineFromString(dialog, IDC_ABOUT_VERSION_LINE, IDS_VERSION_TEXT);
    SetLineFromString(dialog, IDC_ABOUT_NOTICE_LINE, IDS_MAKER_NOTICE);
}

} // namespace

void ShowAboutDialog() {
    HWND owner = GetActiveWindow();
    // Read before the dialog exists: a host call during its loop may replace the record.
    HINSTANCE instance = currentCallRecord->instance;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutDlgProc, 0);
}

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitializeAboutDialog(dialog);
        // FALSE: the focus has been placed on OK and must stay there.
        return FALSE;
    case WM_COMMAND:
        // Only a plain click of OK (IDOK with BN_CLICKED, also from Enter and the space bar)
        // ends the dialog; Escape's IDCANCEL and other notifications of OK leave it open.
        if (wParam == IDOK) EndDialog(dialog, IDOK);
        return FALSE;
    case WM_DESTROY:
        EnumChildWindows(dialog, ReleasePicture, 0);
        return FALSE;
    case WM_CLOSE:
        // The dialog has no close box; a close request becomes a cancel, which is ignored.
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return FALSE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORMSGBOX:
        return reinterpret_cast<INT_PTR>(WhiteBrush());
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(ColorAboutStatic(dialog, reinterpret_cast<HDC>(wParam),
                                                          reinterpret_cast<HWND>(lParam)));
    default:
        // The OK button and every other colour request keep the system's colours.
        return FALSE;
    }
}

HBRUSH ColorAboutStatic(HWND /*dialog*/, HDC dc, HWND control) {
    if (GetDlgCtrlID(control) == IDOK) return nullptr;
    HBRUSH brush = WhiteBrush();
    if (brush == nullptr) return nullptr;
    LOGBRUSH description;
    if (GetObjectA(brush, sizeof description, &description) == 0) return nullptr;
    SetBkColor(dc, description.lbColor);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kLineGrey);
    return brush;
}
