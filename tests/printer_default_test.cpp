// Functions 4 and 5 against Wine's spooler and its CUPS printers: what is stored, what the
// driver is handed, the announcement, and every failure with what it must release.
#include "harness.h"

#include <winspool.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <map>
#include <optional>

namespace {

using hostside::Service;
using hostside::ServiceCall;

const char kPrinter[] = "PDF";
const std::string kOk = "<<OK>>";
const std::string kNotFound = "<<ERROR>> Printer not found";
const std::string kSaveProblem = "<<ERROR>> Document properties save problem";

typedef std::vector<BYTE> Bytes;

// A DEVMODE as the spooler hands it back: the public part and the driver's private part.
Bytes DevmodeBytes(const DEVMODEA* devmode) {
    if (devmode == nullptr) return Bytes();
    const BYTE* first = reinterpret_cast<const BYTE*>(devmode);
    return Bytes(first, first + devmode->dmSize + devmode->dmDriverExtra);
}

DEVMODEA* AsDevmode(Bytes& bytes) {
    return reinterpret_cast<DEVMODEA*>(bytes.data());
}
const DEVMODEA* AsDevmode(const Bytes& bytes) {
    return reinterpret_cast<const DEVMODEA*>(bytes.data());
}

// The field that a function writes.
short& FieldOf(uint32_t function, DEVMODEA* devmode) {
    return function == 4 ? devmode->dmDefaultSource : devmode->dmCopies;
}
DWORD BitOf(uint32_t function) {
    return function == 4 ? DM_DEFAULTSOURCE : DM_COPIES;
}

// The two fields, where the bytes hold them, and the size.
std::string Describe(const Bytes& devmode) {
    if (devmode.empty()) return "no DEVMODE";
    const DEVMODEA* d = AsDevmode(devmode);
    std::string text;
    if (devmode.size() >= offsetof(DEVMODEA, dmCopies) + sizeof d->dmCopies)
        text += "copies " + std::to_string(d->dmCopies) + ", ";
    if (devmode.size() >= offsetof(DEVMODEA, dmDefaultSource) + sizeof d->dmDefaultSource)
        text += "source " + std::to_string(d->dmDefaultSource) + ", ";
    return text + std::to_string(devmode.size()) + " bytes";
}

// Compares two DEVMODEs and, when they differ, says where and how.
void ExpectSameDevmode(const Bytes& expected, const Bytes& got, const std::string& where) {
    if (expected == got) return;
    size_t at = 0;
    while (at < expected.size() && at < got.size() && expected[at] == got[at])
        ++at;
    ADD_FAILURE() << where << ": expected " << Describe(expected) << ", got " << Describe(got)
                  << "; first difference at byte " << at;
}

// Everything a call may do to the spooler passes through these hooks on the plug-in's import
// table; `Injection` says which step to fail or reshape, `Seen` what the plug-in did.
struct Injection {
    std::optional<DWORD> sizeQueryError;    // the size query fails with this last error
    bool sizeQueryFailsSilently = false;    // ...without setting any, after a stale 122
    std::optional<BOOL> sizeQueryNeedsZero; // answers this and a needed size of 0
    int failAllocation = 0;                 // the nth GlobalAlloc of the call answers null
    bool failRead = false;
    bool dropGlobalDevmode = false; // pDevMode null after a real read
    DWORD clearFields = 0;          // dmFields bits removed after a real read
    WORD shortDmSize = 0;           // ...the DEVMODE cut to this dmSize, no driver's part
    bool exactLayout = false;       // level 8 laid out to the byte, as Windows' spooler does
    SIZE_T junkAfterLevel8 = 0;     // the level-8 block is followed by this many junk bytes
    std::optional<LONG> driverSize, defaultsAnswer, mergeAnswer;
    bool failStore = false;
};

struct Block {
    BYTE* start;
    SIZE_T size;
    UINT flags;
};

// How the plug-in asked for a printer: the name (null for the print server) and the access it
// asked for (0 when it passed no defaults).
struct OpenRequest {
    bool named;
    std::string name;
    bool withDefaults;
    DWORD access;
    bool defaultsEmpty; // no data type and no DEVMODE in the defaults
};

struct Seen {
    std::vector<OpenRequest> openRequests;
    std::vector<HANDLE> opened;
    std::map<HANDLE, int> closes;
    std::vector<Block> blocks;
    std::map<HGLOBAL, int> frees;
    int allocations = 0;
    int reads = 0; // GetPrinterA calls with a buffer
    bool injected = false;
    LONG driverSize = 0;
    Bytes driverDefaults; // the DEVMODE the driver filled in as its defaults
    Bytes mergeInput;     // the DEVMODE as handed to the driver to check
    LONG mergeRoom = -1;  // bytes from that DEVMODE to the end of its global block
    Bytes mergeBeyond;    // the bytes after that DEVMODE, up to the driver's size
    bool mergeInPlace = false;
};

Injection inject;
Seen seen;

struct Originals {
    decltype(&OpenPrinterA) openPrinter;
    decltype(&ClosePrinter) closePrinter;
    decltype(&GetPrinterA) getPrinter;
    decltype(&SetPrinterA) setPrinter;
    decltype(&DocumentPropertiesA) documentProperties;
    decltype(&GlobalAlloc) globalAlloc;
    decltype(&GlobalFree) globalFree;
} original;

BOOL WINAPI SpyOpenPrinter(LPSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSA defaults) {
    seen.openRequests.push_back(
        {name != nullptr, name != nullptr ? name : "", defaults != nullptr,
         defaults != nullptr ? defaults->DesiredAccess : 0,
         defaults != nullptr && defaults->pDatatype == nullptr && defaults->pDevMode == nullptr});
    const BOOL opened = original.openPrinter(name, handle, defaults);
    if (opened) seen.opened.push_back(*handle);
    // A stale error that only a cleared last-error code keeps from passing the size query.
    if (opened && inject.sizeQueryFailsSilently) SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return opened;
}

BOOL WINAPI SpyClosePrinter(HANDLE handle) {
    ++seen.closes[handle];
    return original.closePrinter(handle);
}

Bytes RealLevel8(HANDLE printer) {
    DWORD needed = 0;
    original.getPrinter(printer, 8, nullptr, 0, &needed);
    Bytes block(needed);
    if (needed == 0 || !original.getPrinter(printer, 8, block.data(), needed, &needed))
        block.clear();
    return block;
}

// PRINTER_INFO_8 with its DEVMODE straight after it and not one byte more.
Bytes ExactLevel8(HANDLE printer) {
    const Bytes real = RealLevel8(printer);
    if (real.empty()) return real;
    const Bytes devmode =
        DevmodeBytes(reinterpret_cast<const PRINTER_INFO_8A*>(real.data())->pDevMode);
    Bytes exact(sizeof(PRINTER_INFO_8A));
    exact.insert(exact.end(), devmode.begin(), devmode.end());
    return exact;
}

BOOL WINAPI SpyGetPrinter(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    if (buffer == nullptr) {
        if (inject.sizeQueryError) {
            seen.injected = true;
            SetLastError(*inject.sizeQueryError);
            return FALSE;
        }
        if (inject.sizeQueryFailsSilently) {
            // Reports a size but leaves the last error as it found it.
            seen.injected = true;
            const DWORD before = GetLastError();
            original.getPrinter(printer, level, buffer, size, needed);
            SetLastError(before);
            return FALSE;
        }
        if (inject.sizeQueryNeedsZero) {
            seen.injected = true;
            *needed = 0;
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return *inject.sizeQueryNeedsZero;
        }
        if (inject.exactLayout && level == 8) {
            *needed = static_cast<DWORD>(ExactLevel8(printer).size());
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        return original.getPrinter(printer, level, buffer, size, needed);
    }
    ++seen.reads;
    if (inject.failRead) {
        seen.injected = true;
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BOOL read;
    if (inject.exactLayout && level == 8) {
        const Bytes exact = ExactLevel8(printer);
        *needed = static_cast<DWORD>(exact.size());
        read = !exact.empty() && size >= exact.size();
        if (read) {
            std::memcpy(buffer, exact.data(), exact.size());
            reinterpret_cast<PRINTER_INFO_8A*>(buffer)->pDevMode =
                reinterpret_cast<DEVMODEA*>(buffer + sizeof(PRINTER_INFO_8A));
        }
    } else {
        read = original.getPrinter(printer, level, buffer, size, needed);
    }
    PRINTER_INFO_8A* info = reinterpret_cast<PRINTER_INFO_8A*>(buffer);
    if (read && level == 8 && info->pDevMode != nullptr) {
        if (inject.clearFields != 0) {
            seen.injected = true;
            info->pDevMode->dmFields &= ~inject.clearFields;
        }
        if (inject.shortDmSize != 0) {
            seen.injected = true;
            info->pDevMode->dmSize = inject.shortDmSize;
            info->pDevMode->dmDriverExtra = 0;
        }
        if (inject.dropGlobalDevmode) {
            seen.injected = true;
            info->pDevMode = nullptr;
        }
    }
    return read;
}

BOOL WINAPI SpySetPrinter(HANDLE printer, DWORD level, LPBYTE info, DWORD command) {
    if (inject.failStore) {
        seen.injected = true;
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return original.setPrinter(printer, level, info, command);
}

LONG RoomInBlock(const void* address) {
    const BYTE* at = static_cast<const BYTE*>(address);
    for (const Block& block : seen.blocks) {
        if (at >= block.start && at < block.start + block.size)
            return static_cast<LONG>(block.start + block.size - at);
    }
    return -1;
}

LONG WINAPI SpyDocumentProperties(HWND window, HANDLE printer, LPSTR name, PDEVMODEA out,
                                  PDEVMODEA in, DWORD mode) {
    if (mode == 0) {
        if (inject.driverSize) {
            seen.injected = true;
            return *inject.driverSize;
        }
        return seen.driverSize = original.documentProperties(window, printer, name, out, in, mode);
    }
    if (mode == DM_OUT_BUFFER) {
        if (inject.defaultsAnswer) {
            seen.injected = true;
            return *inject.defaultsAnswer;
        }
        const LONG answer = original.documentProperties(window, printer, name, out, in, mode);
        if (answer == IDOK) seen.driverDefaults = DevmodeBytes(out);
        return answer;
    }
    if (mode == (DM_IN_BUFFER | DM_OUT_BUFFER)) {
        seen.mergeInput = DevmodeBytes(in);
        seen.mergeRoom = RoomInBlock(out);
        if (in != nullptr && seen.driverSize > static_cast<LONG>(seen.mergeInput.size()) &&
            RoomInBlock(in) >= seen.driverSize) {
            const BYTE* first = reinterpret_cast<const BYTE*>(in);
            seen.mergeBeyond.assign(first + seen.mergeInput.size(), first + seen.driverSize);
        }
        seen.mergeInPlace = in == out;
        if (inject.mergeAnswer) {
            seen.injected = true;
            return *inject.mergeAnswer;
        }
    }
    return original.documentProperties(window, printer, name, out, in, mode);
}

HGLOBAL WINAPI SpyGlobalAlloc(UINT flags, SIZE_T size) {
    if (++seen.allocations == inject.failAllocation) {
        seen.injected = true;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // A heap may hand out more than was asked for, and the bytes past the request are anyone's.
    const SIZE_T junk = seen.allocations == 1 ? inject.junkAfterLevel8 : 0;
    const HGLOBAL block = original.globalAlloc(flags, size + junk);
    if (block != nullptr && junk != 0) {
        seen.injected = true;
        std::memset(static_cast<BYTE*>(block) + size, 0xCC, junk);
    }
    if (block != nullptr) seen.blocks.push_back({static_cast<BYTE*>(block), size, flags});
    return block;
}

HGLOBAL WINAPI SpyGlobalFree(HGLOBAL block) {
    ++seen.frees[block];
    return original.globalFree(block);
}

class SpoolerSpy {
  public:
    explicit SpoolerSpy(const Injection& injection = Injection())
        : open_(PluginModule(), "OpenPrinterA", &SpyOpenPrinter),
          close_(PluginModule(), "ClosePrinter", &SpyClosePrinter),
          get_(PluginModule(), "GetPrinterA", &SpyGetPrinter),
          set_(PluginModule(), "SetPrinterA", &SpySetPrinter),
          properties_(PluginModule(), "DocumentPropertiesA", &SpyDocumentProperties),
          alloc_(PluginModule(), "GlobalAlloc", &SpyGlobalAlloc),
          free_(PluginModule(), "GlobalFree", &SpyGlobalFree) {
        original = {open_.Original(),       close_.Original(), get_.Original(), set_.Original(),
                    properties_.Original(), alloc_.Original(), free_.Original()};
        EXPECT_TRUE(open_.Installed() && close_.Installed() && get_.Installed() &&
                    set_.Installed() && properties_.Installed() && alloc_.Installed() &&
                    free_.Installed())
            << "the plug-in does not import every spooler and memory call";
        inject = injection;
        seen = Seen();
    }
    ~SpoolerSpy() { inject = Injection(); }

  private:
    ImportHook<decltype(&OpenPrinterA)> open_;
    ImportHook<decltype(&ClosePrinter)> close_;
    ImportHook<decltype(&GetPrinterA)> get_;
    ImportHook<decltype(&SetPrinterA)> set_;
    ImportHook<decltype(&DocumentPropertiesA)> properties_;
    ImportHook<decltype(&GlobalAlloc)> alloc_;
    ImportHook<decltype(&GlobalFree)> free_;
};

// Every printer handle closed once, every block fixed and freed once, nothing else released.
void ExpectAllReleased(const std::string& where) {
    for (HANDLE handle : seen.opened)
        EXPECT_EQ(1, seen.closes[handle]) << where << ": printer handle closed that often";
    EXPECT_EQ(seen.opened.size(), seen.closes.size()) << where << ": closed a handle never opened";
    for (const Block& block : seen.blocks) {
        EXPECT_EQ(1, seen.frees[block.start]) << where << ": block of " << block.size << " bytes";
        EXPECT_EQ(static_cast<UINT>(GMEM_ZEROINIT), block.flags)
            << where << ": blocks are used as pointers, so they must be fixed and zero-filled";
    }
    EXPECT_EQ(seen.blocks.size(), seen.frees.size()) << where << ": freed a block never allocated";
}

// The argument handle is locked around both reads and the result, and unlocked at the end.
void ExpectHeldLocked(const CallOutcome& outcome, const std::string& where) {
    const hostside::Handle argument = outcome.argumentHandle;
    const std::vector<ServiceCall> read = {{Service::HandleSize, argument, 0},
                                           {Service::PrepareHandle, argument, 0},
                                           {Service::LockHandle, argument, 0},
                                           {Service::UnlockHandle, argument, 0}};
    std::vector<ServiceCall> expected = {{Service::LockHandle, argument, 0}};
    expected.insert(expected.end(), read.begin(), read.end());
    expected.insert(expected.end(), read.begin(), read.end());
    expected.push_back({Service::ResizeHandle, outcome.resultHandle,
                        static_cast<uint32_t>(outcome.result.size())});
    expected.push_back({Service::LastHandleError, 0, 0});
    expected.push_back({Service::UnlockHandle, argument, 0});
    ASSERT_EQ(expected.size(), outcome.log.size()) << where;
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(expected[i], outcome.log[i])
            << where << ": service call " << i << " was " << hostside::DescribeCall(outcome.log[i]);
}

// What the plug-in broadcasts, and what a hidden top-level window of the test's thread
// receives of it. Wine 8 hands the text of an ANSI broadcast on without converting it, so
// windows there receive it garbled: the text is checked where the plug-in sends it, and the
// window counts what arrives.
struct Broadcast {
    HWND window;
    UINT message;
    WPARAM wParam;
    std::string text;
    UINT flags;
    UINT timeout;
    PDWORD_PTR answer;
};
std::vector<Broadcast> broadcasts;
int receivedChanges = 0;
decltype(&SendMessageTimeoutA) originalSendMessageTimeout;

LRESULT WINAPI SpySendMessageTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT flags, UINT timeout, PDWORD_PTR answer) {
    const char* text =
        message == WM_DEVMODECHANGE && lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
    broadcasts.push_back({window, message, wParam, text, flags, timeout, answer});
    return originalSendMessageTimeout(window, message, wParam, lParam, flags, timeout, answer);
}

class AnnouncementWindow {
  public:
    AnnouncementWindow() : hook_(PluginModule(), "SendMessageTimeoutA", &SpySendMessageTimeout) {
        originalSendMessageTimeout = hook_.Original();
        EXPECT_TRUE(hook_.Installed()) << "the plug-in does not import SendMessageTimeoutA";
        static const ATOM windowClass = [] {
            WNDCLASSA description = {};
            description.lpfnWndProc = &Receive;
            description.hInstance = GetModuleHandleA(nullptr);
            description.lpszClassName = "QVDevmodeChangeListener";
            return RegisterClassA(&description);
        }();
        window_ = CreateWindowA(MAKEINTATOM(windowClass), "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
        EXPECT_NE(nullptr, window_);
        Forget();
    }
    ~AnnouncementWindow() { DestroyWindow(window_); }

    // Exactly `times` announcements of the test printer since the last check, each received.
    void ExpectAnnounced(int times, const std::string& where) {
        EXPECT_EQ(times, receivedChanges) << where << ": WM_DEVMODECHANGE received that often";
        EXPECT_EQ(static_cast<size_t>(times), broadcasts.size()) << where << ": sent that often";
        for (const Broadcast& b : broadcasts) {
            EXPECT_TRUE(b.window == HWND_BROADCAST && b.message == WM_DEVMODECHANGE &&
                        b.wParam == 0 && b.flags == SMTO_NORMAL && b.timeout == 1000 &&
                        b.answer == nullptr)
                << where << ": sent message " << b.message << " to " << b.window << " flags "
                << b.flags << " time-out " << b.timeout;
            EXPECT_EQ(kPrinter, b.text) << where;
        }
        Forget();
    }

  private:
    static void Forget() {
        broadcasts.clear();
        receivedChanges = 0;
    }
    static LRESULT CALLBACK Receive(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_DEVMODECHANGE) {
            ++receivedChanges;
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    ImportHook<decltype(&SendMessageTimeoutA)> hook_;
    HWND window_;
};

// Keeps the test printer's stored defaults (levels 2 and 8) and puts them back afterwards.
class PrinterDefaults : public ::testing::Test {
  protected:
    void SetUp() override {
        PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        if (!OpenPrinterA(const_cast<char*>(kPrinter), &printer_, &defaults)) {
            printer_ = nullptr;
            GTEST_SKIP() << "the test printer " << kPrinter << " cannot be administered here";
        }
        savedLevel2_ = Read(2);
        saved_ = StoredDevmode();
        if (saved_.empty()) GTEST_SKIP() << kPrinter << " has no global default DEVMODE to keep";
    }

    void TearDown() override {
        if (printer_ == nullptr) return;
        if (!saved_.empty()) {
            EXPECT_TRUE(SetPrinterA(printer_, 2, savedLevel2_.data(), 0)) << GetLastError();
            Store(saved_);
            ExpectSameDevmode(saved_, StoredDevmode(), "restoring the printer's defaults");
        }
        ClosePrinter(printer_);
    }

    Bytes Read(DWORD level) {
        DWORD needed = 0;
        GetPrinterA(printer_, level, nullptr, 0, &needed);
        Bytes block(needed);
        EXPECT_TRUE(needed != 0 && GetPrinterA(printer_, level, block.data(), needed, &needed))
            << "level " << level << " error " << GetLastError();
        return block;
    }

    // The DEVMODE stored at level 8 now, from a fresh read.
    Bytes StoredDevmode() {
        const Bytes block = Read(8);
        if (block.empty()) return block;
        return DevmodeBytes(reinterpret_cast<const PRINTER_INFO_8A*>(block.data())->pDevMode);
    }

    void Store(Bytes devmode) {
        PRINTER_INFO_8A info = {AsDevmode(devmode)};
        EXPECT_TRUE(SetPrinterA(printer_, 8, reinterpret_cast<BYTE*>(&info), 0)) << GetLastError();
    }

    HANDLE printer_ = nullptr;
    Bytes savedLevel2_;
    Bytes saved_;
};

TEST_F(PrinterDefaults, CopiesThenSourceAreStoredAndAnnounced) {
    AnnouncementWindow window;
    Bytes expected = saved_;
    const struct {
        uint32_t function;
        const char* text;
        short value;
    } steps[] = {{5, "PDF|3", 3}, {4, "PDF|4", DMBIN_MANUAL}};
    for (const auto& step : steps) {
        const std::string where = "function " + std::to_string(step.function);
        const CallOutcome outcome = CallFunction(step.function, step.text);
        EXPECT_EQ(kOk, outcome.result) << where;
        ExpectHeldLocked(outcome, where);

        // Wine's driver keeps every value as given, so the stored DEVMODE is the saved one
        // with the fields written so far and nothing else changed.
        FieldOf(step.function, AsDevmode(expected)) = step.value;
        ExpectSameDevmode(expected, StoredDevmode(), where + ", stored");
        window.ExpectAnnounced(1, where);
    }
}

TEST_F(PrinterDefaults, DecimalRuleReachesTheDriverInTheFunctionsFieldOnly) {
    const struct {
        std::string arguments;
        short value;
    } cases[] = {
        {"PDF", 0},
        {"PDF|", 0},
        {"PDF|abc", 0},
        {"PDF|  12", 12},
        {"PDF|\t-3", -3},
        {"PDF|+8", 8},
        {"PDF|7 copies", 7},
        {"PDF|65535", -1},
        {"PDF|65536", 0},
        {"PDF|32768", -32768},
        {"PDF|2|9", 2},
        // 10^200 - 1 fills the argument's 200 bytes exactly; 1000 digits exceed them, so the
        // argument reads as empty.
        {"PDF|" + std::string(200, '9'), -1},
        {"PDF|" + std::string(1000, '9'), 0},
    };
    for (const uint32_t function : {4u, 5u}) {
        for (const auto& c : cases) {
            const std::string where = "function " + std::to_string(function) + " \"" +
                                      c.arguments.substr(0, 20) + "\" (" +
                                      std::to_string(c.arguments.size()) + " bytes)";
            SpoolerSpy spy;
            const CallOutcome outcome = CallFunction(function, c.arguments);
            EXPECT_EQ(kOk, outcome.result) << where;

            Bytes expected = saved_;
            FieldOf(function, AsDevmode(expected)) = c.value;
            ExpectSameDevmode(expected, seen.mergeInput, where + ", handed to the driver");
            EXPECT_TRUE(seen.mergeInPlace) << where;
            ExpectAllReleased(where);
            Store(saved_);
        }
    }
}

TEST_F(PrinterDefaults, FailuresReleaseEverythingAndAnnounceNothing) {
    const struct {
        const char* label;
        const char* arguments;
        std::function<void(Injection&)> setUp;
        const std::string& result;
        bool stopsBeforeTheRead; // no block allocated, level 8 never read
    } cases[] = {
        {"unknown printer", "No Such Printer|3", nullptr, kNotFound, true},
        // Wine answers the level-8 size query of the print server with ERROR_INVALID_HANDLE.
        {"empty name opens the print server", "|3", nullptr, kSaveProblem, true},
        {"size query fails", "PDF|3", [](Injection& i) { i.sizeQueryError = ERROR_ACCESS_DENIED; },
         kSaveProblem, true},
        {"size query fails without an error", "PDF|3",
         [](Injection& i) { i.sizeQueryFailsSilently = true; }, kSaveProblem, true},
        {"size query needs 0 bytes", "PDF|3", [](Injection& i) { i.sizeQueryNeedsZero = FALSE; },
         kSaveProblem, true},
        {"size query succeeds with 0 bytes", "PDF|3",
         [](Injection& i) { i.sizeQueryNeedsZero = TRUE; }, kSaveProblem, true},
        {"level-8 block not allocated", "PDF|3", [](Injection& i) { i.failAllocation = 1; },
         kSaveProblem, false},
        {"read fails", "PDF|3", [](Injection& i) { i.failRead = true; }, kSaveProblem, false},
        {"no global DEVMODE, driver size 0", "PDF|3",
         [](Injection& i) {
             i.dropGlobalDevmode = true;
             i.driverSize = 0;
         },
         kSaveProblem, false},
        {"no global DEVMODE, driver size negative", "PDF|3",
         [](Injection& i) {
             i.dropGlobalDevmode = true;
             i.driverSize = -1;
         },
         kSaveProblem, false},
        {"no global DEVMODE, its block not allocated", "PDF|3",
         [](Injection& i) {
             i.dropGlobalDevmode = true;
             i.failAllocation = 2;
         },
         kSaveProblem, false},
        {"no global DEVMODE, driver defaults not IDOK", "PDF|3",
         [](Injection& i) {
             i.dropGlobalDevmode = true;
             i.defaultsAnswer = IDCANCEL;
         },
         kSaveProblem, false},
        {"driver size unknown for a stored DEVMODE", "PDF|3",
         [](Injection& i) { i.driverSize = -1; }, kSaveProblem, false},
        {"merge not IDOK", "PDF|3", [](Injection& i) { i.mergeAnswer = -1; }, kSaveProblem, false},
        {"no global DEVMODE, merge not IDOK", "PDF|3",
         [](Injection& i) {
             i.dropGlobalDevmode = true;
             i.mergeAnswer = IDCANCEL;
         },
         kSaveProblem, false},
        {"store fails", "PDF|3", [](Injection& i) { i.failStore = true; }, kSaveProblem, false},
        {"no global DEVMODE, store fails", "PDF|3",
         [](Injection& i) {
             i.dropGlobalDevmode = true;
             i.failStore = true;
         },
         kSaveProblem, false},
    };
    AnnouncementWindow window;
    for (const auto& c : cases) {
        for (const uint32_t function : {4u, 5u}) {
            const std::string where =
                std::string(c.label) + ", function " + std::to_string(function);
            Injection injection;
            if (c.setUp) c.setUp(injection);
            SpoolerSpy spy(injection);
            const CallOutcome outcome = CallFunction(function, c.arguments);

            EXPECT_EQ(c.result, outcome.result) << where;
            EXPECT_EQ(c.setUp != nullptr, seen.injected) << where << ": the failure never fired";
            if (c.stopsBeforeTheRead) {
                EXPECT_EQ(0, seen.allocations) << where << ": allocated a block";
                EXPECT_EQ(0, seen.reads) << where << ": read level 8";
            }
            window.ExpectAnnounced(0, where);
            ExpectAllReleased(where);
            ExpectHeldLocked(outcome, where);
            ExpectSameDevmode(saved_, StoredDevmode(), where + ", stored after a failure");
        }
    }
}

TEST_F(PrinterDefaults, OpensThePrinterForFullAccessAndTheServerWithoutDefaults) {
    {
        SpoolerSpy spy;
        CallFunction(5, "PDF|1");
        ASSERT_EQ(1u, seen.openRequests.size());
        const OpenRequest& open = seen.openRequests[0];
        EXPECT_TRUE(open.named && open.name == "PDF") << open.name;
        EXPECT_TRUE(open.withDefaults && open.defaultsEmpty);
        // Changing the defaults of every user needs the administrator's right.
        EXPECT_EQ(static_cast<DWORD>(PRINTER_ALL_ACCESS), open.access);
        Store(saved_);
    }
    {
        SpoolerSpy spy;
        CallFunction(5, "|1");
        ASSERT_EQ(1u, seen.openRequests.size());
        EXPECT_FALSE(seen.openRequests[0].named) << "an empty name opens the local print server";
        EXPECT_FALSE(seen.openRequests[0].withDefaults);
    }
}

TEST_F(PrinterDefaults, FieldTheDriverDoesNotKeepGoesThroughUnchanged) {
    AnnouncementWindow window;
    for (const uint32_t function : {4u, 5u}) {
        const std::string where = "function " + std::to_string(function);
        Injection injection;
        injection.clearFields = BitOf(function);
        SpoolerSpy spy(injection);
        const CallOutcome outcome = CallFunction(function, "PDF|9");

        EXPECT_EQ(kOk, outcome.result) << where;
        ASSERT_FALSE(seen.mergeInput.empty()) << where << ": never reached the driver";
        EXPECT_EQ(FieldOf(function, AsDevmode(saved_)),
                  FieldOf(function, AsDevmode(seen.mergeInput)))
            << where << ": the field was written although dmFields lacks its bit";
        window.ExpectAnnounced(1, where);
        ExpectAllReleased(where);
        Store(saved_);
    }
}

TEST_F(PrinterDefaults, PrinterWithoutGlobalDefaultsGetsTheDriverDefaultsEdited) {
    AnnouncementWindow window;
    Injection injection;
    injection.dropGlobalDevmode = true;
    SpoolerSpy spy(injection);
    const CallOutcome outcome = CallFunction(5, "PDF|6");

    EXPECT_EQ(kOk, outcome.result);
    ASSERT_FALSE(seen.driverDefaults.empty()) << "the driver's defaults were never asked for";
    EXPECT_EQ(seen.driverSize, static_cast<LONG>(seen.driverDefaults.size()));
    Bytes expected = seen.driverDefaults;
    AsDevmode(expected)->dmCopies = 6;
    ExpectSameDevmode(expected, seen.mergeInput, "handed to the driver");
    ExpectSameDevmode(expected, StoredDevmode(), "stored");
    window.ExpectAnnounced(1, "no global DEVMODE");
    ExpectAllReleased("no global DEVMODE");
}

// Another program may have stored a DEVMODE without the driver's private part; the driver
// writes its whole DEVMODE back, which must not run past the block. The stored DEVMODE ends
// the level-8 block, and junk follows the block: only the stored bytes may be moved, so the
// driver's part starts out as the new block's zeros.
TEST_F(PrinterDefaults, ShortStoredDevmodeGivesTheDriverRoomForItsWholeDevmode) {
    Bytes bare = saved_;
    bare.resize(AsDevmode(bare)->dmSize);
    AsDevmode(bare)->dmDriverExtra = 0;
    Store(bare);
    ASSERT_EQ(bare, StoredDevmode()) << "Wine did not keep the short DEVMODE";

    Injection injection;
    injection.exactLayout = true;
    injection.junkAfterLevel8 = 16384;
    SpoolerSpy spy(injection);
    const CallOutcome outcome = CallFunction(5, "PDF|4");

    EXPECT_EQ(kOk, outcome.result);
    ASSERT_GT(seen.driverSize, static_cast<LONG>(bare.size()))
        << "the driver keeps no private part";
    ASSERT_LE(seen.driverSize, static_cast<LONG>(injection.junkAfterLevel8));
    EXPECT_GE(seen.mergeRoom, seen.driverSize) << "the driver's answer overruns its block";
    ASSERT_EQ(static_cast<size_t>(seen.driverSize) - bare.size(), seen.mergeBeyond.size())
        << "the bytes after the stored DEVMODE were not seen at the merge";
    const auto nonZero =
        std::find_if(seen.mergeBeyond.begin(), seen.mergeBeyond.end(), [](BYTE b) { return b; });
    EXPECT_TRUE(nonZero == seen.mergeBeyond.end())
        << "byte " << bare.size() + (nonZero - seen.mergeBeyond.begin())
        << " of the DEVMODE handed to the driver is " << int(*nonZero)
        << ", expected 0: copied from past the " << bare.size() << " stored bytes";
    EXPECT_EQ(4, AsDevmode(seen.mergeInput)->dmCopies);
    const Bytes stored = StoredDevmode();
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(4, AsDevmode(stored)->dmCopies);
    EXPECT_EQ(seen.driverSize, static_cast<LONG>(stored.size())) << "the driver's part is back";
    ExpectAllReleased("short stored DEVMODE");
}

// A DEVMODE that another program stored shorter than the spooler's own: the field is written
// when it lies wholly inside dmSize, also when it ends exactly there, and otherwise not at all.
// Nothing is written past the stored bytes either.
TEST_F(PrinterDefaults, FieldIsWrittenOnlyInsideTheStoredDmSize) {
    const struct {
        uint32_t function;
        WORD dmSize;
        bool written;
    } cases[] = {
        {4, 58, true}, // dmDefaultSource takes bytes 56 and 57
        {4, 57, false},
        {5, 56, true}, // dmCopies takes bytes 54 and 55
        {5, 55, false},
    };
    for (const auto& c : cases) {
        const std::string where =
            "function " + std::to_string(c.function) + ", dmSize " + std::to_string(c.dmSize);
        ASSERT_NE(0u, AsDevmode(saved_)->dmFields & BitOf(c.function)) << where;
        const short value = static_cast<short>(FieldOf(c.function, AsDevmode(saved_)) + 1);
        Injection injection;
        injection.shortDmSize = c.dmSize;
        SpoolerSpy spy(injection);
        const CallOutcome outcome = CallFunction(c.function, "PDF|" + std::to_string(value));

        EXPECT_EQ(kOk, outcome.result) << where;
        Bytes expected = saved_;
        if (c.written) FieldOf(c.function, AsDevmode(expected)) = value;
        AsDevmode(expected)->dmSize = c.dmSize;
        AsDevmode(expected)->dmDriverExtra = 0;
        expected.resize(c.dmSize);
        ExpectSameDevmode(expected, seen.mergeInput, where + ", handed to the driver");
        ASSERT_GT(seen.driverSize, static_cast<LONG>(c.dmSize)) << where;
        EXPECT_EQ(Bytes(seen.driverSize - c.dmSize, 0), seen.mergeBeyond)
            << where << ": written past the stored DEVMODE";
        ExpectAllReleased(where);
        Store(saved_);
    }
}

// In code page 932 "ポ" is 0x83 0x7C, and its second byte is no separator: a printer whose name
// holds it reaches the spooler whole. No such printer exists here, so the answer is "not found";
// what counts is the name the spooler was asked for.
TEST(PrinterName, DoubleByteNameReachesTheSpoolerWhole) {
    if (!RunsInAnsiCodePage(932))
        GTEST_SKIP() << "needs ANSI code page 932; this process has " << GetACP();

    const std::string name = "\x83\x8C\x83\x7C\x81\x5B\x83\x67 PDF"; // "レポート PDF"
    for (const uint32_t function : {4u, 5u}) {
        const std::string where = "function " + std::to_string(function);
        SpoolerSpy spy;
        const CallOutcome outcome = CallFunction(function, name + "|2");
        EXPECT_EQ(kNotFound, outcome.result) << where;
        ASSERT_EQ(1u, seen.openRequests.size()) << where;
        EXPECT_TRUE(seen.openRequests[0].named) << where;
        EXPECT_EQ(name, seen.openRequests[0].name) << where;
        ExpectAllReleased(where);
    }
}

} // namespace
