// The about dialog as the host's preferences message shows it, driven from inside its own modal
// loop: its lines and focus, what ends it, its owner and place, its one brush and its colours.
#include "harness.h"

#include <functional>

namespace {

const char kVersionText[] = "DO-Dezevad Azuzev 2.3";
const char kTemplateNotice[] = "(c) QV Printer Plug-in Team";
const char kTemplateRightsLine[] = "All rights reserved.";
const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kLineGrey = RGB(147, 149, 152);
const int kVersionLine = 206;
const int kNoticeLine = 204;

// What a showing of the dialog left for the test to check.
struct Showing {
    int opened = 0;
    HWND dialog = nullptr;
    bool stillOpenAfterAction = false;
};

Showing* checkedShowing = nullptr;
std::function<void(HWND)> settledCheck;

// Runs well after the action's posted messages and the paints they caused: a dialog still open
// then stayed open; it is looked at and ended with OK so the showing can finish.
void CALLBACK CheckStillOpen(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (checkedShowing == nullptr || !IsWindow(checkedShowing->dialog)) return;
    checkedShowing->stillOpenAfterAction = IsWindowVisible(checkedShowing->dialog) != FALSE;
    if (settledCheck) settledCheck(checkedShowing->dialog);
    hostside::PressButton(checkedShowing->dialog, IDOK);
}

// Sends the preferences message; `onOpen` sees the dialog inside its loop and acts on it. When
// the dialog has not ended 300 ms after that, it is noted as still open, handed to `settled`
// and closed with OK.
Showing ShowAbout(const std::function<void(HWND)>& onOpen,
                  const std::function<void(HWND)>& settled = nullptr) {
    Showing showing;
    checkedShowing = &showing;
    settledCheck = settled;
    UINT_PTR checkTimer = 0;
    {
        hostside::DialogWatch watch([&](HWND dialog) {
            ++showing.opened;
            showing.dialog = dialog;
            onOpen(dialog);
            checkTimer = SetTimer(nullptr, 0, 300, CheckStillOpen);
        });
        SendHostMessage(hostside::kMessagePreferences);
    }
    if (checkTimer != 0) KillTimer(nullptr, checkTimer);
    checkedShowing = nullptr;
    settledCheck = nullptr;
    EXPECT_EQ(1, showing.opened) << "dialogs that opened";
    EXPECT_FALSE(IsWindow(showing.dialog)) << "the preferences call returned before the end";
    return showing;
}

void PressOk(HWND dialog) {
    hostside::PressButton(dialog, IDOK);
}

// The dialog's children in creation order.
std::vector<HWND> Controls(HWND dialog) {
    std::vector<HWND> controls;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
        controls.push_back(child);
    return controls;
}

std::string PluginString(UINT id) {
    char text[256] = "";
    LoadStringA(PluginModule(), id, text, sizeof text);
    return text;
}

HBRUSH AnsweredBrush(HWND dialog, UINT message, HDC dc, HWND control) {
    return reinterpret_cast<HBRUSH>(SendMessageA(dialog, message, reinterpret_cast<WPARAM>(dc),
                                                 reinterpret_cast<LPARAM>(control)));
}

void Repaint(HWND dialog) {
    RedrawWindow(dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

int brushTries = 0;
int brushesMade = 0;
bool failBrush = false;
decltype(&CreateSolidBrush) realCreateSolidBrush = nullptr;

HBRUSH WINAPI CountingCreateSolidBrush(COLORREF colour) {
    ++brushTries;
    EXPECT_EQ(kWhite, colour);
    if (failBrush) return nullptr;
    ++brushesMade;
    return realCreateSolidBrush(colour);
}

// First in this program, while the library has made no brush yet.
TEST(AboutDialog, OneWhiteBrushForEveryShowingTriedAgainAfterAFailure) {
    ImportHook<decltype(&CreateSolidBrush)> hook(PluginModule(), "CreateSolidBrush",
                                                 &CountingCreateSolidBrush);
    ASSERT_TRUE(hook.Installed());
    realCreateSolidBrush = hook.Original();
    brushTries = brushesMade = 0;
    failBrush = true;

    HBRUSH first = nullptr;
    bool madeBefore = false;
    ShowAbout([&](HWND dialog) {
        madeBefore = brushTries == 0;
        HDC dc = GetDC(dialog);
        // While creation fails, the request is left to the system's colours.
        EXPECT_EQ(0, brushesMade);
        failBrush = false;
        first = AnsweredBrush(dialog, WM_CTLCOLORDLG, dc, dialog);
        ReleaseDC(dialog, dc);
        for (int i = 0; i < 3; ++i)
            Repaint(dialog);
        PressOk(dialog);
    });
    if (madeBefore) GTEST_SKIP() << "the brush existed before this test: run it first";
    EXPECT_EQ(1, brushesMade) << "after " << brushTries << " tries";
    LOGBRUSH description = {};
    ASSERT_EQ(static_cast<int>(sizeof description),
              GetObjectA(first, sizeof description, &description));
    EXPECT_EQ(static_cast<UINT>(BS_SOLID), description.lbStyle);
    EXPECT_EQ(kWhite, description.lbColor);

    for (int showing = 2; showing <= 3; ++showing) {
        ShowAbout([&](HWND dialog) {
            Repaint(dialog);
            HDC dc = GetDC(dialog);
            EXPECT_EQ(first, AnsweredBrush(dialog, WM_CTLCOLORDLG, dc, dialog)) << showing;
            ReleaseDC(dialog, dc);
            PressOk(dialog);
        });
    }
    EXPECT_EQ(1, brushesMade) << "brushes made over three showings";
}

TEST(AboutDialog, OpensWithTheFocusOnOkAndItsLinesFilled) {
    const std::string notice = PluginString(129);
    ASSERT_FALSE(notice.empty());
    ShowAbout([&](HWND dialog) {
        EXPECT_EQ(GetDlgItem(dialog, IDOK), GetFocus())
            << "focus on control " << GetDlgCtrlID(GetFocus());
        EXPECT_EQ(kVersionText, hostside::WindowText(GetDlgItem(dialog, kVersionLine)));
        EXPECT_EQ(notice, hostside::WindowText(GetDlgItem(dialog, kNoticeLine)));
        EXPECT_NE(kTemplateNotice, notice) << "the notice line still shows the template's text";
        const std::vector<HWND> controls = Controls(dialog);
        ASSERT_EQ(5u, controls.size());
        EXPECT_EQ(kTemplateRightsLine, hostside::WindowText(controls[2]));
        // The picture came from the plug-in's own resources, at its own size.
        const HANDLE picture =
            reinterpret_cast<HANDLE>(SendMessageA(controls[4], STM_GETIMAGE, IMAGE_BITMAP, 0));
        BITMAP bitmap = {};
        ASSERT_NE(0, GetObjectA(picture, sizeof bitmap, &bitmap)) << "no picture";
        EXPECT_EQ(377, bitmap.bmWidth);
        EXPECT_EQ(270, bitmap.bmHeight);
        EXPECT_EQ(0, GetWindowTextLengthA(dialog)) << "a title";
        PressOk(dialog);
    });
}

TEST(AboutDialog, ItsPictureGoesWithIt) {
    // Showing after showing, a picture kept alive would cost some 400 KB each time.
    HANDLE picture = nullptr;
    ShowAbout([&](HWND dialog) {
        picture = reinterpret_cast<HANDLE>(
            SendMessageA(Controls(dialog)[4], STM_GETIMAGE, IMAGE_BITMAP, 0));
        PressOk(dialog);
    });
    ASSERT_NE(nullptr, picture);
    EXPECT_EQ(0u, GetObjectType(picture)) << "the picture's bitmap outlived the dialog";
}

TEST(AboutDialog, OnlyOkEndsIt) {
    const struct {
        const char* action;
        std::function<void(HWND)> act;
        bool staysOpen;
    } cases[] = {
        {"Escape", [](HWND d) { hostside::PressKey(d, VK_ESCAPE); }, true},
        {"close request", [](HWND d) { PostMessageA(d, WM_CLOSE, 0, 0); }, true},
        {"cancel command", [](HWND d) { hostside::PressButton(d, IDCANCEL); }, true},
        {"OK with notification 1",
         [](HWND d) {
             PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDOK, 1),
                          reinterpret_cast<LPARAM>(GetDlgItem(d, IDOK)));
         },
         true},
        {"Enter", [](HWND d) { hostside::PressKey(d, VK_RETURN); }, false},
        {"click on OK", [](HWND d) { PostMessageA(GetDlgItem(d, IDOK), BM_CLICK, 0, 0); }, false},
        {"space on the focused OK", [](HWND d) { hostside::PressKey(d, VK_SPACE); }, false},
    };
    for (const auto& c : cases) {
        const Showing showing = ShowAbout(c.act);
        EXPECT_EQ(c.staysOpen, showing.stillOpenAfterAction) << c.action;
    }
}

TEST(AboutDialog, OwnedByTheActiveWindowAtTheTopLeftOfItsClientArea) {
    {
        ActiveWindow host("Host document");
        POINT ownerOrigin = {0, 0};
        ClientToScreen(host.Handle(), &ownerOrigin);
        HWND owner = nullptr;
        bool ownerEnabled = true;
        POINT dialogOrigin = {-1, -1};
        ShowAbout([&](HWND dialog) {
            owner = GetWindow(dialog, GW_OWNER);
            ownerEnabled = IsWindowEnabled(host.Handle()) != FALSE;
            dialogOrigin = {0, 0};
            ClientToScreen(dialog, &dialogOrigin);
            PressOk(dialog);
        });
        EXPECT_EQ(host.Handle(), owner);
        EXPECT_FALSE(ownerEnabled) << "the owner stays usable during a modal dialog";
        EXPECT_TRUE(IsWindowEnabled(host.Handle())) << "the owner was not enabled again";
        EXPECT_EQ(ownerOrigin.x, dialogOrigin.x);
        EXPECT_EQ(ownerOrigin.y, dialogOrigin.y);
    }
    if (GetActiveWindow() != nullptr) GTEST_SKIP() << "the thread still has an active window";
    HWND owner = reinterpret_cast<HWND>(1);
    ShowAbout([&](HWND dialog) {
        owner = GetWindow(dialog, GW_OWNER);
        PressOk(dialog);
    });
    EXPECT_EQ(nullptr, owner) << "without an active window";
}

TEST(AboutDialog, GreyLinesOnWhiteAndTheButtonInSystemColours) {
    ShowAbout([](HWND dialog) {
        const std::vector<HWND> controls = Controls(dialog);
        ASSERT_EQ(5u, controls.size());
        HWND ok = GetDlgItem(dialog, IDOK);
        HDC dc = CreateCompatibleDC(nullptr);
        HBRUSH white = AnsweredBrush(dialog, WM_CTLCOLORDLG, dc, dialog);
        const struct {
            const char* request;
            UINT message;
            HWND control;
            bool whiteBrush;
            bool greyText; // with a white, transparent text background
        } cases[] = {
            {"version line", WM_CTLCOLORSTATIC, controls[0], true, true},
            {"rights line", WM_CTLCOLORSTATIC, controls[2], true, true},
            {"picture", WM_CTLCOLORSTATIC, controls[4], true, true},
            {"static request from OK", WM_CTLCOLORSTATIC, ok, false, false},
            {"button", WM_CTLCOLORBTN, ok, false, false},
            {"edit", WM_CTLCOLOREDIT, controls[0], false, false},
            {"dialog ground", WM_CTLCOLORDLG, dialog, true, false},
            {"message box ground", WM_CTLCOLORMSGBOX, dialog, true, false},
        };
        for (const auto& c : cases) {
            SetTextColor(dc, RGB(1, 2, 3));
            SetBkColor(dc, RGB(4, 5, 6));
            SetBkMode(dc, OPAQUE);
            const HBRUSH answer = AnsweredBrush(dialog, c.message, dc, c.control);
            EXPECT_EQ(c.whiteBrush, answer == white) << c.request;
            EXPECT_EQ(c.greyText, GetTextColor(dc) == kLineGrey) << c.request;
            if (c.whiteBrush && !c.greyText) {
                EXPECT_EQ(RGB(1, 2, 3), GetTextColor(dc))
                    << c.request << ": the ground's DC changed";
                EXPECT_EQ(OPAQUE, GetBkMode(dc)) << c.request;
            }
            if (!c.greyText) continue;
            EXPECT_EQ(TRANSPARENT, GetBkMode(dc)) << c.request;
            EXPECT_EQ(kWhite, GetBkColor(dc)) << c.request;
        }
        DeleteDC(dc);
        PressOk(dialog);
    });
}

// How the screen shows the dialog once its paints have gone through its own loop, in the
// order the dialog manager gives them: grey text over the picture, white ground.
TEST(AboutDialog, TheScreenShowsGreyLinesOnWhite) {
    struct Pixels {
        int grey = 0, black = 0;
    } line;
    COLORREF ground = CLR_INVALID;
    ShowAbout(
        [](HWND dialog) {
            RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        },
        [&](HWND dialog) {
            HDC screen = GetDC(nullptr);
            RECT rect;
            GetWindowRect(GetDlgItem(dialog, kVersionLine), &rect);
            for (int y = rect.top; y < rect.bottom; ++y) {
                for (int x = rect.left; x < rect.right; ++x) {
                    const COLORREF pixel = GetPixel(screen, x, y);
                    line.grey += pixel == kLineGrey;
                    line.black += pixel == RGB(0, 0, 0);
                }
            }
            // Beside the OK button, below the picture: the dialog's own ground.
            GetWindowRect(GetDlgItem(dialog, IDOK), &rect);
            ground = GetPixel(screen, rect.left - 10, rect.top + 2);
            ReleaseDC(nullptr, screen);
        });
    EXPECT_GT(line.grey, 20) << "pixels of the version line in its grey";
    EXPECT_EQ(0, line.black) << "pixels of the version line in black";
    EXPECT_EQ(kWhite, ground);
}

} // namespace
