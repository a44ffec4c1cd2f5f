// A call that arrives while an earlier one waits in a modal dialog: the slot takes the new
// record, the earlier call carries on with the later record's services, and nothing breaks.
#include "harness.h"

#include <cstring>

namespace {

typedef void(WINAPI* ResizeService)(uint32_t, uint32_t);
ResizeService hostResize = nullptr;
int resizesThroughSecondRecord = 0;

void WINAPI SecondRecordResize(uint32_t handle, uint32_t size) {
    ++resizesThroughSecondRecord;
    hostResize(handle, size);
}

// A second record whose resize service is told apart from the first record's.
hostside::CallRecord SecondRecord() {
    hostside::CallRecord record(PluginModule());
    uint32_t service;
    std::memcpy(&service, record.Bytes() + hostside::offsets::kResizeHandle, sizeof service);
    hostResize = reinterpret_cast<ResizeService>(static_cast<uintptr_t>(service));
    service = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&SecondRecordResize));
    std::memcpy(record.Bytes() + hostside::offsets::kResizeHandle, &service, sizeof service);
    return record;
}

TEST(Reentrancy, CallDuringThePrintSetupDialogTakesTheSlot) {
    hostside::CallRecord second = SecondRecord();
    const uint32_t innerResult = hostside::NewHandle("");
    const uint32_t noArguments = hostside::NewHandle("");
    second.SetFunction(0, noArguments, innerResult);
    resizesThroughSecondRecord = 0;

    hostside::DialogWatch watch([&](HWND dialog) {
        // The host's own window messages run inside the dialog's loop and call the plug-in.
        hostside::CallEntryPoint(PluginEntry(), second.Bytes());
        hostside::PressButton(dialog, IDCANCEL);
    });
    const CallOutcome outer = CallFunction(2, "outer default");

    EXPECT_EQ("DO-Dezevad Azuzev 2.3", hostside::HandleBytes(innerResult));
    EXPECT_EQ("outer default", outer.result) << "the earlier call's answer went astray";
    // One resize for the inner call, one for the outer call's result after the dialog.
    EXPECT_EQ(2, resizesThroughSecondRecord)
        << "the earlier call must use the services of the record now in the slot";
}

TEST(Reentrancy, CallDuringTheAboutBox) {
    hostside::CallRecord second = SecondRecord();
    const uint32_t innerResult = hostside::NewHandle("");
    const uint32_t noArguments = hostside::NewHandle("");
    second.SetFunction(0, noArguments, innerResult);
    bool shown = false;
    hostside::DialogWatch watch([&](HWND dialog) {
        shown = true;
        hostside::CallEntryPoint(PluginEntry(), second.Bytes());
        hostside::PressButton(dialog, IDOK);
    });
    SendHostMessage(hostside::kMessagePreferences);
    EXPECT_TRUE(shown);
    EXPECT_EQ("DO-Dezevad Azuzev 2.3", hostside::HandleBytes(innerResult));
}

} // namespace

namespace {

TEST(Reentrancy, StartupAnswersIntoItsOwnRecordWhateverArrivesDuringItsErrorBox) {
    // The record's key without its value makes start-up show "error 2" and wait for the user.
    const char kRecordKey[] =
        "Software\\FileMaker\\FileMaker Pro\\5.5\\PlugIns\\Tesmun Plugin\\2.0v1";
    RegDeleteTreeA(HKEY_CURRENT_USER, kRecordKey);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kRecordKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);

    hostside::CallRecord idle(PluginModule());
    idle.SetMessage(hostside::kMessageIdle);
    uint8_t idleBefore[hostside::offsets::kRecordSize];
    std::memcpy(idleBefore, idle.Bytes(), sizeof idleBefore);
    std::string boxText;
    hostside::DialogWatch watch([&](HWND box) {
        boxText = hostside::MessageBoxText(box);
        // The host idles while the box waits for its user.
        hostside::CallEntryPoint(PluginEntry(), idle.Bytes());
        hostside::PressButton(box, IDOK);
    });
    const int32_t answer = Startup(4);

    EXPECT_EQ("error 2", boxText);
    EXPECT_EQ(4, answer) << "start-up's answer went elsewhere";
    EXPECT_EQ(0, std::memcmp(idleBefore, idle.Bytes(), sizeof idleBefore))
        << "the idle message's record received start-up's answer";
    RegDeleteTreeA(HKEY_CURRENT_USER, kRecordKey);
}

} // namespace
