// A call that arrives while an earlier one waits in a modal loop: the later call has the slot
// while it runs, and the earlier call finishes with its own record. The host may release a
// record as soon as its call returns, so each nested record here becomes inaccessible at that
// moment: an earlier call that went on through it would fault inside the plug-in.
#include "harness.h"

#include <cstring>
#include <string>

namespace {

const char kVersionText[] = "DO-Dezevad Azuzev 2.3";

// A call of function `number` (the version, unless told otherwise) in a record of its own
// pages, released as soon as the call returns.
class NestedCall {
  public:
    explicit NestedCall(uint32_t number = 0, const std::string& text = "")
        : record_(PluginModule()), result_(hostside::NewHandle("")) {
        record_.SetFunction(number, hostside::NewHandle(text), result_);
    }
    NestedCall(const NestedCall&) = delete;
    NestedCall& operator=(const NestedCall&) = delete;

    // Calls the plug-in, as the host's own window code would from inside a modal loop, then
    // releases the record: its pages stay reserved, so no later record can take their place.
    void Run() {
        ++runs_;
        hostside::CallEntryPoint(PluginEntry(), record_.Bytes());
        record_.Revoke();
    }

    void ExpectAnswered(const std::string& where, const std::string& answer = kVersionText) const {
        EXPECT_EQ(1, runs_) << where << ": the nested call ran that often";
        EXPECT_EQ(answer, hostside::HandleBytes(result_)) << where;
    }

  private:
    hostside::CallRecord record_;
    hostside::Handle result_;
    int runs_ = 0;
};

TEST(Reentrancy, CallDuringThePrintSetupDialog) {
    NestedCall nested;
    hostside::DialogWatch watch([&](HWND dialog) {
        // The dialog has no owner, so the host's windows stay usable and a script can call in.
        nested.Run();
        hostside::PressButton(dialog, IDCANCEL);
    });
    const CallOutcome outer = CallFunction(2, "outer default");

    nested.ExpectAnswered("print-setup dialog");
    EXPECT_EQ("outer default", outer.result) << "the earlier call's answer went astray";
}

// The about box and start-up read nothing through the slot once their loops have begun, so
// these two show that a nested call is answered and start-up answers into its own record.
TEST(Reentrancy, CallDuringTheAboutBox) {
    NestedCall nested;
    hostside::DialogWatch watch([&](HWND dialog) {
        nested.Run();
        hostside::PressButton(dialog, IDOK);
    });
    SendHostMessage(hostside::kMessagePreferences);
    nested.ExpectAnswered("about box");
}

// Two levels: from the about box a script opens the print-setup dialog, and from inside that a
// version call arrives. Each call must give the slot back to the one it interrupted.
TEST(Reentrancy, CallsNestedTwoDeepEachFinishWithTheirOwnRecord) {
    NestedCall innermost;
    NestedCall middle(2, "middle default");
    int dialogs = 0;
    hostside::DialogWatch watch([&](HWND dialog) {
        if (++dialogs == 1) {
            // OK is pressed first: a fault in a timer's callback is swallowed by the platform,
            // and the box must not then wait for ever.
            hostside::PressButton(dialog, IDOK);
            middle.Run(); // opens the print-setup dialog, which this watch answers below
        } else {
            innermost.Run();
            hostside::PressButton(dialog, IDCANCEL);
        }
    });
    SendHostMessage(hostside::kMessagePreferences);
    EXPECT_EQ(2, dialogs) << "the about box and the print-setup dialog";
    innermost.ExpectAnswered("innermost");
    middle.ExpectAnswered("print-setup dialog from the about box", "middle default");
}

TEST(Reentrancy, StartupAnswersIntoItsOwnRecordWhateverArrivesDuringItsErrorBox) {
    // The record's key without its value makes start-up show "error 2" and wait for the user.
    const char kRecordKey[] =
        "Software\\FileMaker\\FileMaker Pro\\5.5\\PlugIns\\Tesmun Plugin\\2.0v1";
    RegDeleteTreeA(HKEY_CURRENT_USER, kRecordKey);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kRecordKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);

    // The host idles, and a script calls in, while the box waits for its user.
    hostside::CallRecord idle(PluginModule());
    idle.SetMessage(hostside::kMessageIdle);
    uint8_t idleBefore[hostside::offsets::kRecordSize];
    std::memcpy(idleBefore, idle.Bytes(), sizeof idleBefore);
    NestedCall nested;
    std::string boxText;
    hostside::DialogWatch watch([&](HWND box) {
        boxText = hostside::MessageBoxText(box);
        hostside::CallEntryPoint(PluginEntry(), idle.Bytes());
        nested.Run();
        hostside::PressButton(box, IDOK);
    });
    const int32_t answer = Startup(4);

    EXPECT_EQ("error 2", boxText);
    EXPECT_EQ(4, answer) << "start-up's answer went elsewhere";
    EXPECT_EQ(0, std::memcmp(idleBefore, idle.Bytes(), sizeof idleBefore))
        << "the idle message's record received start-up's answer";
    nested.ExpectAnswered("start-up's error box");
    RegDeleteTreeA(HKEY_CURRENT_USER, kRecordKey);
}

// A top-level window of the host whose handler calls the plug-in when a printer's defaults
// change, as a solution's script triggered by the announcement would.
NestedCall* onDevmodeChange = nullptr;

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVMODECHANGE && onDevmodeChange != nullptr) {
        NestedCall* nested = onDevmodeChange;
        onDevmodeChange = nullptr; // one announcement, one call
        nested->Run();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST(Reentrancy, CallDuringThePrinterDefaultsAnnouncement) {
    const char kPrinter[] = "PDF";
    const SavedPrinterDefaults saved(kPrinter);
    if (!saved.Opened())
        GTEST_SKIP() << "the test printer " << kPrinter << " cannot be administered here";

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = &HostWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QVReentrantHostWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(windowClass.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(nullptr, window);

    for (const uint32_t function : {4u, 5u}) {
        const std::string where = "function " + std::to_string(function);
        NestedCall nested;
        onDevmodeChange = &nested;
        const CallOutcome outer = CallFunction(function, std::string(kPrinter) + "|1");
        onDevmodeChange = nullptr;
        EXPECT_EQ("<<OK>>", outer.result) << where;
        nested.ExpectAnswered(where + "'s announcement");
    }

    DestroyWindow(window);
}

} // namespace
