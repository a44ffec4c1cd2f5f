// Answers the dialogs and boxes of a run as its options say, and closes those nobody answers.
#include "dialog_answers.h"

#include "terminal_text.h"

#include <string>
#include <vector>

namespace {

// The dialogs of this run that nobody answers: each is closed once it has waited its time.
struct WaitingDialog {
    HWND window;
    DWORD shownAt;
    std::string kind;
    bool closed;
};
std::vector<WaitingDialog> waitingDialogs;
DWORD waitLimitMs = 0;
bool dialogWentUnanswered = false;
bool choiceNotListed = false;

bool HasButton(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    return button != nullptr && IsWindowVisible(button);
}

void CALLBACK CloseUnansweredDialogs(HWND, UINT, UINT_PTR, DWORD) {
    const DWORD now = GetTickCount();
    // Newest first: a dialog opened from another is closed before the one that opened it.
    for (auto dialog = waitingDialogs.rbegin(); dialog != waitingDialogs.rend(); ++dialog) {
        if (dialog->closed || !IsWindow(dialog->window) || now - dialog->shownAt < waitLimitMs) {
            continue;
        }
        dialog->closed = true;
        dialogWentUnanswered = true;
        const char* how = "Cancel";
        if (HasButton(dialog->window, IDCANCEL)) {
            hostside::PressButton(dialog->window, IDCANCEL);
        } else if (HasButton(dialog->window, IDOK)) {
            hostside::PressButton(dialog->window, IDOK);
            how = "OK";
        } else {
            PostMessageA(dialog->window, WM_CLOSE, 0, 0);
            how = "its close box";
        }
        const std::string title = hostside::WindowText(dialog->window);
        const std::string named = title.empty() ? "" : " \"" + Shown(title) + "\"";
        Print(stdout, "no answer within %lu s: closed the %s%s with %s\n",
              static_cast<unsigned long>(waitLimitMs / 1000), dialog->kind.c_str(), named.c_str(),
              how);
    }
    for (auto dialog = waitingDialogs.begin(); dialog != waitingDialogs.end();)
        dialog = IsWindow(dialog->window) ? dialog + 1 : waitingDialogs.erase(dialog);
}

// Answers the dialogs of one call as the options say and reports every error box.
void AnswerDialog(const Options& options, HWND dialog) {
    HWND combo = FindWindowExA(dialog, nullptr, "ComboBox", nullptr);
    const bool isPrintSetup = combo != nullptr;
    const bool isMessageBox = !isPrintSetup && hostside::MessageBoxText(dialog).size() > 0 &&
                              GetDlgItem(dialog, 206) == nullptr;
    if (isMessageBox) {
        Print(stdout, "error box \"%s\": %s\n", Shown(hostside::WindowText(dialog)).c_str(),
              Shown(hostside::MessageBoxText(dialog)).c_str());
    }
    if (!options.screenshot.empty() && !isMessageBox) {
        static bool taken = false;
        if (!taken) {
            taken = hostside::SaveWindowPicture(dialog, options.screenshot);
            Print(stdout, "%s %s\n", taken ? "saved a picture of the dialog in" : "could not save",
                  Shown(options.screenshot).c_str());
        }
    }
    if (!options.answerDialogs) {
        const char* kind = isPrintSetup ? "print-setup dialog" : isMessageBox ? "box" : "dialog";
        waitingDialogs.push_back({dialog, GetTickCount(), kind, false});
        return;
    }
    if (isPrintSetup) {
        if (options.cancel) {
            hostside::PressButton(dialog, IDCANCEL);
            return;
        }
        if (!options.choosePrinter.empty() &&
            !hostside::ChoosePrinterInSetupDialog(dialog, options.choosePrinter)) {
            Print(stdout, "the print-setup dialog has no printer \"%s\"; cancelling\n",
                  Shown(options.choosePrinter).c_str());
            choiceNotListed = true;
            hostside::PressButton(dialog, IDCANCEL);
            return;
        }
        Print(stdout, "print-setup dialog: choosing \"%s\"\n",
              Shown(hostside::SelectedPrinterInSetupDialog(dialog)).c_str());
    }
    hostside::PressButton(dialog, IDOK);
}

} // namespace

DialogAnswers::DialogAnswers(const Options& options)
    : watch_([&options](HWND dialog) { AnswerDialog(options, dialog); }) {
    waitLimitMs = options.waitMs;
    // A thread timer, like the watch's, so that it fires inside every modal loop.
    waitTimer_ = SetTimer(nullptr, 0, 100, CloseUnansweredDialogs);
}

DialogAnswers::~DialogAnswers() {
    KillTimer(nullptr, waitTimer_);
}

bool DialogAnswers::WentUnanswered() const {
    return dialogWentUnanswered;
}

bool DialogAnswers::ChoiceNotListed() const {
    return choiceNotListed;
}
