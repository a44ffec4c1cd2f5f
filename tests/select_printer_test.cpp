// Function 2 as the host calls it: the real print-setup dialog, answered from inside its own
// modal loop, and a stand-in dialog for answers that the real one does not give.
#include "harness.h"

#include <commdlg.h>
#include <dlgs.h>
#include <winspool.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// The print-setup record's size: packed on 32-bit Windows, naturally aligned on x86-64.
#if defined(__i386__)
const DWORD kPrintDlgSize = 66;
#else
const DWORD kPrintDlgSize = 120;
#endif

// What the plug-in handed to PrintDlgA and what came back.
struct DialogCall {
    PRINTDLGA given;
    BOOL answer;
    HGLOBAL devMode;
    HGLOBAL devNames;
    short orientation; // of the DEVMODE handed back, 0 without one
};

std::vector<DialogCall> dialogCalls;
std::vector<HGLOBAL> freedBlocks;
decltype(&PrintDlgA) realPrintDlg = nullptr;
decltype(&GlobalFree) realGlobalFree = nullptr;
// When set, stands in for the dialog.
std::function<BOOL(PRINTDLGA*)> standInDialog;

short Orientation(HGLOBAL devMode) {
    if (devMode == nullptr) return 0;
    const auto* mode = static_cast<const DEVMODEA*>(GlobalLock(devMode));
    const short orientation = mode != nullptr ? mode->dmOrientation : 0;
    GlobalUnlock(devMode);
    return orientation;
}

BOOL WINAPI RecordingPrintDlg(PRINTDLGA* record) {
    DialogCall call = {};
    call.given = *record;
    call.answer = standInDialog ? standInDialog(record) : realPrintDlg(record);
    call.devMode = record->hDevMode;
    call.devNames = record->hDevNames;
    call.orientation = Orientation(record->hDevMode);
    dialogCalls.push_back(call);
    return call.answer;
}

HGLOBAL WINAPI RecordingGlobalFree(HGLOBAL block) {
    freedBlocks.push_back(block);
    return realGlobalFree(block);
}

int registryWrites = 0;
decltype(&RegSetValueExA) realRegSetValue = nullptr;

LONG WINAPI CountingRegSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                DWORD size) {
    ++registryWrites;
    return realRegSetValue(key, name, reserved, type, data, size);
}

std::string DefaultPrinter() {
    char name[256] = "";
    DWORD size = sizeof name;
    return GetDefaultPrinterA(name, &size) ? std::string(name) : std::string();
}

// What the spooler holds for a printer: its names and stored default settings.
struct SpoolerPrinter {
    bool found = false;
    std::string device, driverFile, port;
    std::string defaults2, defaults8; // the DEVMODE bytes of levels 2 and 8
};

std::vector<BYTE> PrinterInfo(HANDLE printer, DWORD level) {
    DWORD needed = 0;
    // The size query fails on anything but ERROR_INSUFFICIENT_BUFFER.
    if (GetPrinterA(printer, level, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return {};
    std::vector<BYTE> info(needed);
    if (!GetPrinterA(printer, level, info.data(), needed, &needed)) return {};
    return info;
}

std::string DevModeBytes(const DEVMODEA* mode) {
    if (mode == nullptr) return std::string();
    return std::string(reinterpret_cast<const char*>(mode), mode->dmSize + mode->dmDriverExtra);
}

SpoolerPrinter ReadSpooler(const std::string& name) {
    SpoolerPrinter printer;
    HANDLE handle = nullptr;
    if (!OpenPrinterA(const_cast<char*>(name.c_str()), &handle, nullptr)) return printer;
    const std::vector<BYTE> info2 = PrinterInfo(handle, 2);
    const std::vector<BYTE> info8 = PrinterInfo(handle, 8);
    DWORD needed = 0;
    GetPrinterDriverA(handle, nullptr, 2, nullptr, 0, &needed);
    std::vector<BYTE> driver(std::max<DWORD>(needed, 1));
    const bool haveDriver = GetPrinterDriverA(handle, nullptr, 2, driver.data(), needed, &needed);
    ClosePrinter(handle);
    if (info2.empty() || !haveDriver) return printer;

    const auto* level2 = reinterpret_cast<const PRINTER_INFO_2A*>(info2.data());
    printer.found = true;
    printer.device = level2->pPrinterName;
    printer.port = level2->pPortName;
    printer.defaults2 = DevModeBytes(level2->pDevMode);
    if (!info8.empty())
        printer.defaults8 =
            DevModeBytes(reinterpret_cast<const PRINTER_INFO_8A*>(info8.data())->pDevMode);
    // The print-setup dialog names the driver by the file name of the printer's driver.
    const std::string path = reinterpret_cast<const DRIVER_INFO_2A*>(driver.data())->pDriverPath;
    printer.driverFile = path.substr(path.find_last_of('\\') + 1);
    return printer;
}

std::string Joined(const SpoolerPrinter& printer) {
    return printer.device + "," + printer.driverFile + "," + printer.port;
}

// A DEVNAMES block with the given offsets followed by `strings`, as a dialog would hand back.
HGLOBAL NamesBlock(WORD device, WORD driver, WORD port, const std::string& strings) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DEVNAMES) + strings.size());
    auto* names = static_cast<DEVNAMES*>(GlobalLock(block));
    names->wDriverOffset = driver;
    names->wDeviceOffset = device;
    names->wOutputOffset = port;
    std::memcpy(names + 1, strings.data(), strings.size());
    GlobalUnlock(block);
    return block;
}

HGLOBAL WellFormedNames(const std::string& device, const std::string& driver,
                        const std::string& port) {
    const WORD first = sizeof(DEVNAMES);
    const WORD second = static_cast<WORD>(first + device.size() + 1);
    const WORD third = static_cast<WORD>(second + driver.size() + 1);
    return NamesBlock(first, second, third, device + '\0' + driver + '\0' + port + '\0');
}

class SelectPrinter : public ::testing::Test {
  protected:
    SelectPrinter()
        : printDlgHook_(PluginModule(), "PrintDlgA", &RecordingPrintDlg),
          globalFreeHook_(PluginModule(), "GlobalFree", &RecordingGlobalFree) {
        realPrintDlg = printDlgHook_.Original();
        realGlobalFree = globalFreeHook_.Original();
        dialogCalls.clear();
        freedBlocks.clear();
        standInDialog = nullptr;
    }
    ~SelectPrinter() override { standInDialog = nullptr; }

    void SetUp() override {
        ASSERT_TRUE(printDlgHook_.Installed()) << "the plug-in does not import PrintDlgA";
        ASSERT_TRUE(globalFreeHook_.Installed()) << "the plug-in does not import GlobalFree";
    }

    // The one dialog of the call got the print-setup record, and both blocks it handed back
    // were freed exactly once.
    void ExpectOneDialogCleanedUp(const std::string& label) {
        ASSERT_EQ(1u, dialogCalls.size()) << label;
        const DialogCall& call = dialogCalls[0];
        PRINTDLGA expected = {};
        expected.lStructSize = kPrintDlgSize;
        expected.Flags = PD_PRINTSETUP | PD_NOSELECTION | PD_NOPAGENUMS | PD_USEDEVMODECOPIES |
                         PD_HIDEPRINTTOFILE;
        EXPECT_EQ(kPrintDlgSize, call.given.lStructSize) << label;
        EXPECT_EQ(0x14004Cu, call.given.Flags) << label;
        EXPECT_EQ(nullptr, call.given.hwndOwner) << label;
        EXPECT_EQ(0, std::memcmp(&expected, &call.given, sizeof expected))
            << label << ": every other field of the record is zero";
        for (HGLOBAL block : {call.devMode, call.devNames}) {
            if (block == nullptr) continue;
            EXPECT_EQ(1, std::count(freedBlocks.begin(), freedBlocks.end(), block))
                << label << ": block " << block << " freed this often";
        }
    }

  private:
    ImportHook<decltype(&PrintDlgA)> printDlgHook_;
    ImportHook<decltype(&GlobalFree)> globalFreeHook_;
};

// What the test saw of the real dialog when it opened.
struct SeenDialog {
    int count = 0;
    HWND owner = nullptr;
    std::string firstPrinter;
    bool hostWindowEnabled = false;
};

CallOutcome CallWithDialog(const std::string& text, std::function<void(HWND)> answer,
                           SeenDialog* seen, HWND hostWindow = nullptr) {
    hostside::DialogWatch watch([&](HWND dialog) {
        ++seen->count;
        seen->owner = GetWindow(dialog, GW_OWNER);
        seen->firstPrinter = hostside::SelectedPrinterInSetupDialog(dialog);
        seen->hostWindowEnabled = hostWindow != nullptr && IsWindowEnabled(hostWindow);
        answer(dialog);
    });
    return CallFunction(2, text);
}

void Cancel(HWND dialog) {
    hostside::PressButton(dialog, IDCANCEL);
}
void CloseBox(HWND dialog) {
    PostMessageA(dialog, WM_CLOSE, 0, 0);
}

TEST_F(SelectPrinter, WithoutAChoiceAnswersArgumentOneAndOpensOnTheDefaultPrinter) {
    const std::string defaultPrinter = DefaultPrinter();
    if (defaultPrinter.empty()) GTEST_SKIP() << "no default printer";
    ActiveWindow host("Host document");
    const std::string exact(255, 'p');
    const struct {
        const char* label;
        std::string text;
        void (*answer)(HWND);
        std::string expected;
    } cases[] = {
        {"cancel, no argument", "", Cancel, ""},
        {"cancel, argument 1 empty", "|second", Cancel, ""},
        {"cancel, argument 1 set", "PDF", Cancel, "PDF"},
        {"cancel, zero byte inside", std::string("a\0b|x", 5), Cancel, "a"},
        {"close box, another printer named", "QVTest2|x", CloseBox, "QVTest2"},
        {"cancel, 255 bytes", exact, Cancel, exact},
        {"cancel, 255 bytes then |", exact + "|", Cancel, ""},
        {"cancel, 256 bytes", exact + "p", Cancel, ""},
    };
    for (const auto& c : cases) {
        dialogCalls.clear();
        freedBlocks.clear();
        SeenDialog seen;
        const CallOutcome outcome = CallWithDialog(c.text, c.answer, &seen, host.Handle());
        EXPECT_EQ(c.expected, outcome.result) << c.label;
        EXPECT_TRUE(outcome.resultTouched) << c.label;
        EXPECT_EQ(1, seen.count) << c.label;
        EXPECT_EQ(nullptr, seen.owner) << c.label;
        EXPECT_TRUE(seen.hostWindowEnabled) << c.label << ": an unowned dialog disables nothing";
        EXPECT_EQ(defaultPrinter, seen.firstPrinter)
            << c.label << ": argument 1 preselects nothing";
        ExpectOneDialogCleanedUp(c.label);
        EXPECT_FALSE(dialogCalls.empty() || dialogCalls[0].answer) << c.label;
    }
}

// In code page 932 the second byte of "ポ" (0x83 0x7C) is no separator: the text to answer
// after Cancel comes back whole.
TEST_F(SelectPrinter, DoubleByteTextComesBackWhole) {
    if (!RunsInAnsiCodePage(932))
        GTEST_SKIP() << "needs ANSI code page 932; this process has " << GetACP();
    if (DefaultPrinter().empty()) GTEST_SKIP() << "no default printer";
    const std::string report = "\x83\x8C\x83\x7C\x81\x5B\x83\x67"; // "レポート"
    SeenDialog seen;
    const CallOutcome outcome = CallWithDialog(report + "|x", Cancel, &seen);
    EXPECT_EQ(report, outcome.result);
    EXPECT_EQ(1, seen.count);
    ExpectOneDialogCleanedUp("cancel");
}

TEST_F(SelectPrinter, OkOnTheDefaultPrinterAnswersItsDeviceDriverAndPort) {
    const SpoolerPrinter printer = ReadSpooler(DefaultPrinter());
    if (!printer.found) GTEST_SKIP() << "no default printer in the spooler";
    SeenDialog seen;
    const CallOutcome outcome = CallWithDialog(
        "kept", [](HWND dialog) { hostside::PressButton(dialog, IDOK); }, &seen);
    EXPECT_EQ(Joined(printer), outcome.result);
    EXPECT_EQ(printer.device, seen.firstPrinter);
    ExpectOneDialogCleanedUp("OK");
    ASSERT_FALSE(dialogCalls.empty());
    EXPECT_NE(nullptr, dialogCalls[0].devMode);
    EXPECT_NE(nullptr, dialogCalls[0].devNames);
}

TEST_F(SelectPrinter, ChoosingTheSecondPrinterAnswersItAndStoresNothing) {
    const std::string defaultPrinter = DefaultPrinter();
    const SpoolerPrinter before = ReadSpooler("QVTest2");
    const SpoolerPrinter defaultBefore = ReadSpooler(defaultPrinter);
    if (!before.found || !defaultBefore.found || defaultPrinter == "QVTest2")
        GTEST_SKIP() << "needs the printer QVTest2 beside another default printer";

    registryWrites = 0;
    ImportHook<decltype(&RegSetValueExA)> setValue(PluginModule(), "RegSetValueExA",
                                                   &CountingRegSetValue);
    realRegSetValue = setValue.Original();

    bool chosen = false;
    SeenDialog seen;
    const CallOutcome outcome = CallWithDialog(
        "",
        [&chosen](HWND dialog) {
            chosen = hostside::ChoosePrinterInSetupDialog(dialog, "QVTest2");
            // A change in the dialog's settings, which the plug-in must not store.
            PostMessageA(GetDlgItem(dialog, rad2), BM_CLICK, 0, 0); // Landscape
            hostside::PressButton(dialog, chosen ? IDOK : IDCANCEL);
        },
        &seen);
    ASSERT_TRUE(chosen) << "the dialog's printer list lacks QVTest2";
    EXPECT_EQ(Joined(before), outcome.result);
    ExpectOneDialogCleanedUp("QVTest2");
    ASSERT_FALSE(dialogCalls.empty());
    EXPECT_EQ(DMORIENT_LANDSCAPE, dialogCalls[0].orientation) << "the dialog took the change";

    EXPECT_EQ(defaultPrinter, DefaultPrinter());
    EXPECT_EQ(0, registryWrites) << "the host's printer preference was written";
    const SpoolerPrinter after = ReadSpooler("QVTest2");
    EXPECT_TRUE(before.defaults2 == after.defaults2) << "QVTest2's level 2 defaults changed";
    EXPECT_TRUE(before.defaults8 == after.defaults8) << "QVTest2's level 8 defaults changed";
    const SpoolerPrinter defaultAfter = ReadSpooler(defaultPrinter);
    EXPECT_TRUE(defaultBefore.defaults2 == defaultAfter.defaults2);
    EXPECT_TRUE(defaultBefore.defaults8 == defaultAfter.defaults8);
}

// Answers the real dialog cannot be made to give: odd name blocks, a failure with blocks left.
TEST_F(SelectPrinter, NameBlocksAreJoinedWholeAndReadWithinTheirBlock) {
    const std::string longDevice(300, 'd');
    const struct {
        const char* label;
        BOOL answer;
        bool devMode;
        std::function<HGLOBAL()> names;
        std::string expected;
    } cases[] = {
        {"plain", TRUE, true, [] { return WellFormedNames("PDF", "winspool", "CUPS:PDF"); },
         "PDF,winspool,CUPS:PDF"},
        {"comma in a name", TRUE, true, [] { return WellFormedNames("Floor 2, east", "d", "p"); },
         "Floor 2, east,d,p"},
        {"longer than 255", TRUE, true,
         [&longDevice] { return WellFormedNames(longDevice, "drv", "LPT1:"); },
         longDevice + ",drv,LPT1:"},
        {"no name block", TRUE, true, [] { return HGLOBAL(nullptr); }, ",,"},
        {"offsets outside the block", TRUE, false,
         [] { return NamesBlock(sizeof(DEVNAMES), 0xFFF0, 2, std::string("PDF\0", 4)); }, "PDF,,"},
        {"last name unterminated", TRUE, false,
         [] { return NamesBlock(8, 12, 16, std::string("ab\0\0cd\0\0XYZ", 11)); }, "ab,cd,XYZ"},
        {"failure that left blocks", FALSE, true, [] { return WellFormedNames("a", "b", "c"); },
         "kept"},
    };
    for (const auto& c : cases) {
        dialogCalls.clear();
        freedBlocks.clear();
        standInDialog = [&c](PRINTDLGA* record) {
            record->hDevMode =
                c.devMode ? GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DEVMODEA)) : nullptr;
            record->hDevNames = c.names();
            return c.answer;
        };
        const CallOutcome outcome = CallFunction(2, "kept|x");
        EXPECT_EQ(c.expected, outcome.result) << c.label;
        ExpectOneDialogCleanedUp(c.label);
    }
}

} // namespace
