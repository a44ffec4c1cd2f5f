// A day's use in one process: many calls of every operation, with the process's handles,
// window-system objects and private memory measured before and after.
#include "harness.h"

#include <psapi.h>
#include <winspool.h>

#include <cstdio>

namespace {

struct Usage {
    DWORD handles;
    DWORD gdiObjects;
    DWORD userObjects;
    SIZE_T privateBytes;
};

Usage MeasureUsage() {
    Usage usage = {};
    GetProcessHandleCount(GetCurrentProcess(), &usage.handles);
    usage.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    usage.userObjects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                         sizeof memory);
    usage.privateBytes = memory.PrivateUsage;
    return usage;
}

// What may grow in all: a few handles and objects that the platform caches on first use (the
// spooler's and the dialogs'), and 4 MiB of heap that the allocator keeps.
const DWORD kHandleAllowance = 16;
const DWORD kObjectAllowance = 16;
const SIZE_T kPrivateBytesAllowance = 4 << 20;

void ExpectNoGrowth(const Usage& before, const Usage& after) {
    std::printf("handles %lu -> %lu, GDI objects %lu -> %lu, USER objects %lu -> %lu, "
                "private bytes %lu -> %lu\n",
                before.handles, after.handles, before.gdiObjects, after.gdiObjects,
                before.userObjects, after.userObjects,
                static_cast<unsigned long>(before.privateBytes),
                static_cast<unsigned long>(after.privateBytes));
    EXPECT_LE(after.handles, before.handles + kHandleAllowance);
    EXPECT_LE(after.gdiObjects, before.gdiObjects + kObjectAllowance);
    EXPECT_LE(after.userObjects, before.userObjects + kObjectAllowance);
    EXPECT_LE(after.privateBytes, before.privateBytes + kPrivateBytesAllowance);
}

// Repeats a call with fresh handles each time, as the host does, and keeps only the first
// wrong answer so a fault does not flood the log. A null `expected` means no result at all.
void Repeat(int times, uint32_t number, const std::string& text, const char* expected) {
    for (int i = 0; i < times; ++i) {
        const CallOutcome outcome = CallFunction(number, text);
        const bool right = expected == nullptr ? !outcome.resultTouched : outcome.result == expected;
        if (!right || ::testing::Test::HasFailure()) {
            ADD_FAILURE() << "call " << i << " of function " << number << " answered \""
                          << outcome.result << "\"";
            return;
        }
        hostside::FreeAllHandles();
    }
}

TEST(Soak, ThousandsOfCallsLeaveNothingBehind) {
    const int scale = GetEnvironmentVariableA("QV_SOAK_QUICK", nullptr, 0) ? 100 : 1;
    Startup(4);
    ActiveWindow window("FileMaker Pro - [Soak]");
    // Warm every path once, so what the platform caches on first use is not counted.
    CallFunction(0, "");
    CallFunction(1, "PDF|7.0-soak");
    CallFunction(5, "PDF|1");
    hostside::FreeAllHandles();
    int aboutShown = 0, setupShown = 0;
    hostside::DialogWatch watch([&](HWND dialog) {
        if (GetDlgItem(dialog, 206) != nullptr) {
            ++aboutShown;
            hostside::PressButton(dialog, IDOK);
        } else {
            ++setupShown;
            hostside::PressButton(dialog, IDCANCEL);
        }
    });
    SendHostMessage(hostside::kMessagePreferences);
    CallFunction(2, "none");
    hostside::FreeAllHandles();

    const Usage before = MeasureUsage();
    Repeat(100000 / scale, 0, "", "DO-Dezevad Azuzev 2.3");
    for (uint32_t number : {3u, 6u, 99u, 0xFFFFFFFFu}) Repeat(25000 / scale, number, "x", nullptr);
    Repeat(100000 / scale, 1, "PDF|7.0-soak", nullptr);
    Repeat(1000 / scale, 4, "PDF|7", "<<OK>>");
    Repeat(1000 / scale, 5, "PDF|1", "<<OK>>");
    for (int i = 0; i < 200 / scale; ++i) {
        SendHostMessage(hostside::kMessagePreferences);
        EXPECT_EQ("none", CallFunction(2, "none").result);
        hostside::FreeAllHandles();
    }
    const Usage after = MeasureUsage();
    EXPECT_EQ(1 + 200 / scale, aboutShown);
    EXPECT_EQ(1 + 200 / scale, setupShown);
    ExpectNoGrowth(before, after);
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\FileMaker\\FileMaker Pro\\7.0-soak");
}

} // namespace
