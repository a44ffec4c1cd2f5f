// Finds the dialogs that a plug-in call opens, from inside their modal loops, and drives them.
#include "dialog_driver.h"

#include <dlgs.h>

#include <cstdio>
#include <set>
#include <vector>

namespace hostside {
namespace {

DialogWatch* activeWatch = nullptr;
std::set<HWND> seenDialogs;

bool IsDialogWindow(HWND window) {
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    return lstrcmpA(className, "#32770") == 0 && IsWindowVisible(window);
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM list) {
    if (IsDialogWindow(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// The print-setup template names its printer list cmb1 (the paper size and source lists are
// cmb2 and cmb3), so the list is found by its id rather than by its place among the children.
HWND PrinterCombo(HWND dialog) {
    return GetDlgItem(dialog, cmb1);
}

struct TextSearch {
    std::string text;
};

BOOL CALLBACK FindMessageText(HWND child, LPARAM search) {
    char className[16] = "";
    GetClassNameA(child, className, sizeof className);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (lstrcmpiA(className, "Static") != 0 || (style & SS_TYPEMASK) == SS_ICON) return TRUE;
    std::string text = WindowText(child);
    if (text.empty()) return TRUE;
    reinterpret_cast<TextSearch*>(search)->text = text;
    return FALSE;
}

} // namespace

DialogWatch::DialogWatch(std::function<void(HWND dialog)> onDialog, UINT periodMs)
    : onDialog_(std::move(onDialog)), outer_(activeWatch) {
    activeWatch = this;
    timer_ = SetTimer(nullptr, 0, periodMs, Tick);
}

DialogWatch::~DialogWatch() {
    KillTimer(nullptr, timer_);
    activeWatch = outer_;
}

void CALLBACK DialogWatch::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (activeWatch == nullptr) return;
    std::vector<HWND> dialogs;
    EnumThreadWindows(GetCurrentThreadId(), CollectDialog, reinterpret_cast<LPARAM>(&dialogs));
    for (HWND dialog : dialogs) {
        // Window handles are reused: forget the ones that have gone.
        if (!seenDialogs.insert(dialog).second) continue;
        activeWatch->onDialog_(dialog);
    }
    for (auto it = seenDialogs.begin(); it != seenDialogs.end();) {
        it = IsWindow(*it) ? std::next(it) : seenDialogs.erase(it);
    }
}

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(window, &text[0], length + 1);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

std::string MessageBoxText(HWND box) {
    TextSearch search;
    EnumChildWindows(box, FindMessageText, reinterpret_cast<LPARAM>(&search));
    return search.text;
}

void PressButton(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PressKey(HWND dialog, UINT virtualKey) {
    HWND focus = GetFocus();
    HWND target = focus != nullptr && (focus == dialog || IsChild(dialog, focus)) ? focus : dialog;
    PostMessageA(target, WM_KEYDOWN, virtualKey, 1);
    PostMessageA(target, WM_KEYUP, virtualKey, 0xC0000001);
}

bool ChoosePrinterInSetupDialog(HWND dialog, const std::string& printer) {
    HWND combo = PrinterCombo(dialog);
    if (combo == nullptr) return false;
    const LRESULT index = SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(printer.c_str()));
    if (index == CB_ERR) return false;
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    // A person's choice in the list also tells the dialog, which then loads that printer.
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
    return true;
}

std::string SelectedPrinterInSetupDialog(HWND dialog) {
    HWND combo = PrinterCombo(dialog);
    return combo ? WindowText(combo) : std::string();
}

namespace {

LRESULT CALLBACK TitleWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

HWND MakeActiveWindow(const std::string& title) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = TitleWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "PlugHostTitleWindow";
    RegisterClassA(&windowClass); // fails harmlessly when already registered
    HWND window =
        CreateWindowExA(0, windowClass.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 40, 40,
                        480, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) return nullptr;
    ShowWindow(window, SW_SHOW);
    SetActiveWindow(window);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
    return window;
}

bool SaveWindowPicture(HWND window, const std::string& path) {
    // Repaint through the ordinary queue: Wine's immediate repaint draws the dialog's picture
    // over the transparent text lines that lie on top of it.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    MSG message;
    while (PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE))
        DispatchMessageA(&message);
    RECT rect;
    if (!GetWindowRect(window, &rect)) return false;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, previous);

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    info.biSizeImage = rowBytes * static_cast<DWORD>(height);
    std::vector<unsigned char> pixels(info.biSizeImage);
    const int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                               reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (rows != height) return false;

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    bool written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                   std::fwrite(&info, sizeof info, 1, out) == 1 &&
                   std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
    written = std::fclose(out) == 0 && written;
    return written;
}

} // namespace hostside
