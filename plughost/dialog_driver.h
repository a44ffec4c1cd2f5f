// Finds the dialogs that a plug-in call opens, from inside their modal loops, and drives them.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace hostside {

// While it lives, a thread timer looks for new visible dialogs of the calling thread and hands
// each one once to `onDialog`. The timer fires inside any modal loop that runs on the thread.
class DialogWatch {
  public:
    explicit DialogWatch(std::function<void(HWND dialog)> onDialog, UINT periodMs = 25);
    ~DialogWatch();
    DialogWatch(const DialogWatch&) = delete;
    DialogWatch& operator=(const DialogWatch&) = delete;

  private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    std::function<void(HWND)> onDialog_;
    UINT_PTR timer_ = 0;
    DialogWatch* outer_ = nullptr;
};

std::string WindowText(HWND window);

// The message of a message box: the text of its static control that is not an icon.
std::string MessageBoxText(HWND box);

// Clicks a dialog button as a person would: posts its BN_CLICKED command.
void PressButton(HWND dialog, int id);

// Posts a key press to the dialog's focused control (or the dialog), through its modal loop.
void PressKey(HWND dialog, UINT virtualKey);

// Selects `printer` in the print-setup dialog's printer list; false when the list lacks it.
bool ChoosePrinterInSetupDialog(HWND dialog, const std::string& printer);

// The printer shown as selected in the print-setup dialog's printer list.
std::string SelectedPrinterInSetupDialog(HWND dialog);

// A visible top-level window of ours with `title`, made the thread's active window, as the
// host's document window would be when a script calls the plug-in.
HWND MakeActiveWindow(const std::string& title);

// Saves the screen area of `window` as a 24-bit .bmp file, as the display draws it.
bool SaveWindowPicture(HWND window, const std::string& path);

} // namespace hostside
