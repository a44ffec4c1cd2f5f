// Every platform call that the plug-in makes failed one at a time, and memory run out, in every
// operation, on the real library: no crash, the answer that the failure calls for, nothing left
// open, and nothing stored that the failure should have prevented.
#include "harness.h"

#include <winspool.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>

namespace {

// How a call fails: an acquiring or querying call returns its failure value without running;
// a releasing call still releases, so the failure of a release cannot leak, and then reports
// failure. An allocation fails like an acquiring call, and also every time while memory has
// run out.
enum class Kind { Plain, Release, Allocation };
bool memoryExhausted = false;

struct PlatformCall {
    const char* name;
    int arguments;
    uintptr_t failValue;
    DWORD failError;
    Kind kind;
    // Filled while the hooks are in place.
    void* original;
    int calls;
    int failAt;
};

// EndDialog is left out: when it fails a modal dialog can never end, on any program.
PlatformCall platformCalls[] = {
    {"RegCreateKeyExA", 9, ERROR_ACCESS_DENIED, 0, Kind::Plain, nullptr, 0, -1},
    {"RegOpenKeyExA", 5, ERROR_ACCESS_DENIED, 0, Kind::Plain, nullptr, 0, -1},
    {"RegSetValueExA", 6, ERROR_ACCESS_DENIED, 0, Kind::Plain, nullptr, 0, -1},
    {"RegQueryValueExA", 6, ERROR_ACCESS_DENIED, 0, Kind::Plain, nullptr, 0, -1},
    {"RegCloseKey", 1, ERROR_INVALID_HANDLE, 0, Kind::Release, nullptr, 0, -1},
    {"OpenPrinterA", 3, 0, ERROR_ACCESS_DENIED, Kind::Plain, nullptr, 0, -1},
    {"GetPrinterA", 5, 0, ERROR_ACCESS_DENIED, Kind::Plain, nullptr, 0, -1},
    {"SetPrinterA", 4, 0, ERROR_ACCESS_DENIED, Kind::Plain, nullptr, 0, -1},
    {"DocumentPropertiesA", 6, static_cast<uintptr_t>(-1), ERROR_INVALID_PARAMETER, Kind::Plain,
     nullptr, 0, -1},
    {"ClosePrinter", 1, 0, ERROR_INVALID_HANDLE, Kind::Release, nullptr, 0, -1},
    {"PrintDlgA", 1, 0, 0, Kind::Plain, nullptr, 0, -1},
    {"GlobalAlloc", 2, 0, ERROR_NOT_ENOUGH_MEMORY, Kind::Allocation, nullptr, 0, -1},
    {"GlobalFree", 1, 1, ERROR_INVALID_HANDLE, Kind::Release, nullptr, 0, -1},
    {"GlobalLock", 1, 0, ERROR_INVALID_HANDLE, Kind::Plain, nullptr, 0, -1},
    {"GlobalUnlock", 1, 0, ERROR_NOT_LOCKED, Kind::Release, nullptr, 0, -1},
    {"GlobalSize", 1, 0, ERROR_INVALID_HANDLE, Kind::Plain, nullptr, 0, -1},
    {"VirtualAlloc", 4, 0, ERROR_NOT_ENOUGH_MEMORY, Kind::Allocation, nullptr, 0, -1},
    {"VirtualFree", 3, 0, ERROR_INVALID_ADDRESS, Kind::Release, nullptr, 0, -1},
    {"SetLastError", 1, 0, ERROR_INSUFFICIENT_BUFFER, Kind::Plain, nullptr, 0, -1},
    {"GetLastError", 0, ERROR_ACCESS_DENIED, 0, Kind::Plain, nullptr, 0, -1},
    {"GetActiveWindow", 0, 0, 0, Kind::Plain, nullptr, 0, -1},
    {"GetWindowTextLengthA", 1, 0, ERROR_INVALID_WINDOW_HANDLE, Kind::Plain, nullptr, 0, -1},
    {"GetWindowTextA", 3, 0, ERROR_INVALID_WINDOW_HANDLE, Kind::Plain, nullptr, 0, -1},
    {"LoadStringA", 4, 0, ERROR_RESOURCE_NAME_NOT_FOUND, Kind::Plain, nullptr, 0, -1},
    {"wsprintfA", -1, 0, 0, Kind::Plain, nullptr, 0, -1},
    {"MessageBoxA", 4, 0, ERROR_NOT_ENOUGH_MEMORY, Kind::Plain, nullptr, 0, -1},
    {"DialogBoxParamA", 5, static_cast<uintptr_t>(-1), ERROR_RESOURCE_NAME_NOT_FOUND, Kind::Plain,
     nullptr, 0, -1},
    {"SetDlgItemTextA", 3, 0, ERROR_INVALID_WINDOW_HANDLE, Kind::Plain, nullptr, 0, -1},
    {"GetDlgItem", 2, 0, ERROR_CONTROL_ID_NOT_FOUND, Kind::Plain, nullptr, 0, -1},
    {"SetFocus", 1, 0, ERROR_INVALID_WINDOW_HANDLE, Kind::Plain, nullptr, 0, -1},
    {"PostMessageA", 4, 0, ERROR_NOT_ENOUGH_QUOTA, Kind::Plain, nullptr, 0, -1},
    {"SendMessageTimeoutA", 7, 0, ERROR_TIMEOUT, Kind::Plain, nullptr, 0, -1},
    {"GetDlgCtrlID", 1, 0, ERROR_INVALID_WINDOW_HANDLE, Kind::Plain, nullptr, 0, -1},
    {"CreateSolidBrush", 1, 0, ERROR_NOT_ENOUGH_MEMORY, Kind::Plain, nullptr, 0, -1},
    {"GetObjectA", 3, 0, ERROR_INVALID_HANDLE, Kind::Plain, nullptr, 0, -1},
    {"SetBkColor", 2, CLR_INVALID, 0, Kind::Plain, nullptr, 0, -1},
    {"SetBkMode", 2, 0, 0, Kind::Plain, nullptr, 0, -1},
    {"SetTextColor", 2, CLR_INVALID, 0, Kind::Plain, nullptr, 0, -1},
    {"EnumChildWindows", 3, 0, 0, Kind::Plain, nullptr, 0, -1},
    {"GetWindowLongA", 2, 0, ERROR_INVALID_WINDOW_HANDLE, Kind::Plain, nullptr, 0, -1},
    {"SendMessageA", 4, 0, 0, Kind::Plain, nullptr, 0, -1},
    {"DeleteObject", 1, 0, ERROR_INVALID_HANDLE, Kind::Release, nullptr, 0, -1},
};
const size_t kPlatformCalls = sizeof platformCalls / sizeof platformCalls[0];

// What the plug-in holds open, counted from its own calls.
struct Holdings {
    int keys = 0;
    int printers = 0;
    int globalBlocks = 0;
    int pages = 0;
    int brushes = 0; // over the whole process: the library keeps one
};
Holdings holdings;
// Every key path the plug-in created or opened, in order.
std::vector<std::string> createdKeys;

bool Named(size_t slot, const char* name) {
    return lstrcmpA(platformCalls[slot].name, name) == 0;
}

void Observe(size_t slot, const uintptr_t* arguments, uintptr_t result) {
    if (Named(slot, "RegCreateKeyExA") && result == ERROR_SUCCESS) {
        ++holdings.keys;
        createdKeys.push_back(reinterpret_cast<const char*>(arguments[1]));
    }
    if (Named(slot, "RegOpenKeyExA") && result == ERROR_SUCCESS) ++holdings.keys;
    if (Named(slot, "RegCloseKey")) --holdings.keys;
    if (Named(slot, "OpenPrinterA") && result != 0) ++holdings.printers;
    if (Named(slot, "ClosePrinter")) --holdings.printers;
    if (Named(slot, "GlobalAlloc") && result != 0) ++holdings.globalBlocks;
    if (Named(slot, "GlobalFree")) --holdings.globalBlocks;
    if (Named(slot, "VirtualAlloc") && result != 0) ++holdings.pages;
    if (Named(slot, "VirtualFree")) --holdings.pages;
    if (Named(slot, "CreateSolidBrush") && result != 0) ++holdings.brushes;
    if (Named(slot, "PrintDlgA")) {
        // The dialog allocates the two blocks that the plug-in must free.
        const PRINTDLGA* dialog = reinterpret_cast<const PRINTDLGA*>(arguments[0]);
        holdings.globalBlocks += (dialog->hDevMode != nullptr) + (dialog->hDevNames != nullptr);
    }
}

template <size_t Slot, typename... Arguments> uintptr_t WINAPI Stub(Arguments... arguments) {
    PlatformCall& call = platformCalls[Slot];
    const uintptr_t values[] = {0, static_cast<uintptr_t>(arguments)...};
    const bool fail =
        call.calls++ == call.failAt || (memoryExhausted && call.kind == Kind::Allocation);
    if (fail && call.kind != Kind::Release) {
        SetLastError(call.failError);
        return call.failValue;
    }
    typedef uintptr_t(WINAPI * Original)(Arguments...);
    uintptr_t result = reinterpret_cast<Original>(call.original)(arguments...);
    const DWORD error = GetLastError();
    Observe(Slot, values + 1, result);
    if (fail) result = call.failValue;
    SetLastError(error);
    return result;
}

// wsprintfA alone takes a variable argument list and the C convention.
int __cdecl FormatStub(char* buffer, const char* format, ...) {
    PlatformCall* self = nullptr;
    for (PlatformCall& call : platformCalls)
        if (lstrcmpA(call.name, "wsprintfA") == 0) self = &call;
    if (self->calls++ == self->failAt) return 0; // writes nothing at all
    va_list list;
    va_start(list, format);
    const int length = wvsprintfA(buffer, format, list);
    va_end(list);
    return length;
}

template <size_t Slot, size_t... I> void* StubWith(std::index_sequence<I...>) {
    return reinterpret_cast<void*>(&Stub<Slot, decltype((void)I, uintptr_t())...>);
}

// The stub for a call of `arguments` arguments, one for each count up to the most any call
// takes; null for a count beyond them.
const int kMostArguments = 9;
template <size_t Slot, size_t... Counts>
void* StubFor(int arguments, std::index_sequence<Counts...>) {
    void* const stubs[] = {StubWith<Slot>(std::make_index_sequence<Counts>())...};
    if (arguments < 0) return reinterpret_cast<void*>(&FormatStub);
    return arguments < static_cast<int>(sizeof...(Counts)) ? stubs[arguments] : nullptr;
}

template <size_t... Slots> std::vector<void*> AllStubs(std::index_sequence<Slots...>) {
    return {StubFor<Slots>(platformCalls[Slots].arguments,
                           std::make_index_sequence<kMostArguments + 1>())...};
}

// Puts every platform call of the plug-in behind its stub for the life of the object.
class PlatformHooks {
  public:
    PlatformHooks() {
        const std::vector<void*> stubs = AllStubs(std::make_index_sequence<kPlatformCalls>());
        for (size_t slot = 0; slot < kPlatformCalls; ++slot) {
            if (stubs[slot] == nullptr) {
                ADD_FAILURE() << platformCalls[slot].name << " takes more than " << kMostArguments
                              << " arguments: raise kMostArguments";
                continue;
            }
            platformCalls[slot].original =
                PatchImport(PluginModule(), platformCalls[slot].name, stubs[slot]);
            // A call the library no longer imports would pass here without ever failing.
            EXPECT_NE(nullptr, platformCalls[slot].original)
                << platformCalls[slot].name << " is not imported: drop it from the list";
        }
    }
    ~PlatformHooks() {
        for (PlatformCall& call : platformCalls) {
            if (call.original != nullptr) PatchImport(PluginModule(), call.name, call.original);
        }
    }
    static void Arm(int slot, int failAt) {
        for (PlatformCall& call : platformCalls) {
            call.calls = 0;
            call.failAt = -1;
        }
        if (slot >= 0) platformCalls[slot].failAt = failAt;
    }
    // The allocations among the calls since the last Arm.
    static int Allocations() {
        int allocations = 0;
        for (const PlatformCall& call : platformCalls)
            if (call.kind == Kind::Allocation) allocations += call.calls;
        return allocations;
    }
};

const char kTestPrinter[] = "PDF";
const char kPreferencesKey[] = "Software\\FileMaker\\FileMaker Pro\\7.0-faults\\Preferences";
const char kProductKey[] = "Software\\FileMaker\\FileMaker Pro";
const char kVersionsKey[] = "Software\\FileMaker\\FileMaker Pro\\7.0-faults";
const char kEmptyProductKey[] = "Software\\FileMaker\\\\7.0-faults";
const char kRecordKey[] = "Software\\FileMaker\\FileMaker Pro\\5.5\\PlugIns\\Tesmun Plugin\\2.0v1";

int StoredCopies() {
    HANDLE printer = nullptr;
    if (!OpenPrinterA(const_cast<char*>(kTestPrinter), &printer, nullptr)) return -1;
    DWORD needed = 0;
    GetPrinterA(printer, 8, nullptr, 0, &needed);
    std::vector<BYTE> block(needed + 1);
    int copies = -1;
    if (GetPrinterA(printer, 8, block.data(), needed, &needed)) {
        const DEVMODEA* devmode = reinterpret_cast<PRINTER_INFO_8A*>(block.data())->pDevMode;
        if (devmode != nullptr) copies = devmode->dmCopies;
    }
    ClosePrinter(printer);
    return copies;
}

// A version of 31 levels under kVersionsKey's: with the product's key there, its path of 35
// levels is looked at before its one create of 32.
std::string DeepVersion() {
    std::string version = "7.0-faults";
    for (int level = 2; level <= 31; ++level)
        version += "\\v";
    return version;
}

bool PrinterValueStored(const std::string& path = kPreferencesKey) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    const bool stored =
        RegQueryValueExA(key, "Printer", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return stored;
}

// What memory running out is called where an operation's check names the failed call: every
// allocation, or only those of the C runtime's heap, which the plug-in has no need of.
const char kAllMemory[] = "all memory";
const char kCRuntimeHeap[] = "the C runtime's heap";

bool FailingOneOf(const char* failing, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (failing != nullptr && lstrcmpA(failing, name) == 0) return true;
    return false;
}

// Function 1 then reads the empty title, which names the empty product.
bool TitleLost(const char* failing) {
    return FailingOneOf(failing, {"GetActiveWindow", "GetWindowTextLengthA", "GetWindowTextA"});
}

// The answer of function 2 when nothing is chosen; longer than a string class keeps in place,
// so a copy of it would take the heap.
const char kKeptText[] = "kept when no printer is chosen";

// Whether the print-setup dialog is answered with OK on the printer it shows, or cancelled.
bool chooseInSetup = false;

struct Operation {
    const char* name;
    std::function<void()> prepare;
    // Runs the operation; `failing` names the failed call, or is null for a clean run.
    std::function<void(const char* failing)> runAndCheck;
};

std::vector<Operation> Operations() {
    std::vector<Operation> operations;
    operations.push_back({"first start-up", [] { RegDeleteTreeA(HKEY_CURRENT_USER, kRecordKey); },
                          [](const char*) { EXPECT_EQ(4, Startup(4)); }});
    operations.push_back({"later start-up",
                          [] {
                              PlatformHooks::Arm(-1, -1);
                              Startup(4); // makes sure the record exists
                          },
                          [](const char*) { EXPECT_EQ(4, Startup(4)); }});
    operations.push_back({"version", [] {},
                          [](const char* failing) {
                              const CallOutcome outcome = CallFunction(0, "");
                              const char* expected = FailingOneOf(failing, {"LoadStringA"})
                                                         ? ""
                                                         : "DO-Dezevad Azuzev 2.3";
                              EXPECT_EQ(expected, outcome.result);
                          }});
    operations.push_back({"set printer",
                          [] {
                              RegDeleteTreeA(HKEY_CURRENT_USER, kVersionsKey);
                              RegDeleteTreeA(HKEY_CURRENT_USER, kEmptyProductKey);
                          },
                          [](const char* failing) {
                              // Names "FileMaker Pro" once cut and normalised.
                              ActiveWindow window("FileMaker Pro Advanced - [Faults]");
                              createdKeys.clear();
                              const CallOutcome outcome =
                                  CallFunction(1, "Fault Printer|7.0-faults");
                              EXPECT_FALSE(outcome.resultTouched);
                              const bool titleLost = TitleLost(failing);
                              if (FailingOneOf(failing, {"VirtualAlloc", "RegCreateKeyExA",
                                                         "RegSetValueExA", kAllMemory})) {
                                  EXPECT_FALSE(PrinterValueStored());
                              } else if (!titleLost) {
                                  EXPECT_TRUE(PrinterValueStored());
                              }
                              // A half-made product name would name a key no host reads;
                              // a lost title leaves the product empty, a path with an empty
                              // level, which is never asked for.
                              if (titleLost) {
                                  EXPECT_TRUE(createdKeys.empty())
                                      << "created " << createdKeys.front() << ", expected no key";
                              } else {
                                  for (const std::string& key : createdKeys)
                                      EXPECT_EQ(kPreferencesKey, key);
                              }
                          }});
    operations.push_back(
        {"set printer, deep path",
         [] {
             RegDeleteTreeA(HKEY_CURRENT_USER, kVersionsKey);
             RegDeleteTreeA(HKEY_CURRENT_USER, kEmptyProductKey);
             HKEY key;
             if (RegCreateKeyExA(HKEY_CURRENT_USER, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &key, nullptr) == ERROR_SUCCESS)
                 RegCloseKey(key);
         },
         [](const char* failing) {
             ActiveWindow window("FileMaker Pro - [Faults]");
             createdKeys.clear();
             const std::string version = DeepVersion();
             const CallOutcome outcome = CallFunction(1, "Fault Printer|" + version);
             EXPECT_FALSE(outcome.resultTouched);
             const std::string path = std::string(kProductKey) + "\\" + version + "\\Preferences";
             if (TitleLost(failing)) {
                 EXPECT_TRUE(createdKeys.empty())
                     << "created " << createdKeys.front() << ", expected no key";
                 return;
             }
             // A failed look at the ancestor refuses nothing.
             const bool stopped = FailingOneOf(
                 failing, {"VirtualAlloc", "RegCreateKeyExA", "RegSetValueExA", kAllMemory});
             EXPECT_EQ(!stopped, PrinterValueStored(path));
             for (const std::string& key : createdKeys)
                 EXPECT_EQ(path, key);
         }});
    operations.push_back(
        {"set printer, path too long", [] { RegDeleteTreeA(HKEY_CURRENT_USER, kEmptyProductKey); },
         [](const char* failing) {
             // The error box says so, and nothing is written anywhere.
             ActiveWindow window(std::string(240, 'P') + " - [Faults]");
             createdKeys.clear();
             const CallOutcome outcome = CallFunction(1, "Fault Printer|7.0-faults");
             EXPECT_FALSE(outcome.resultTouched);
             if (!TitleLost(failing)) {
                 EXPECT_TRUE(createdKeys.empty())
                     << "created " << createdKeys.front() << ", expected no key";
             }
         }});
    operations.push_back({"select printer, cancelled", [] { chooseInSetup = false; },
                          [](const char*) {
                              const CallOutcome outcome =
                                  CallFunction(2, std::string(kKeptText) + "|x");
                              EXPECT_EQ(kKeptText, outcome.result) << "the dialog was cancelled";
                          }});
    operations.push_back(
        {"select printer, chosen", [] { chooseInSetup = true; },
         [](const char* failing) {
             static std::string chosen; // device, driver and port, from the clean run
             const CallOutcome outcome = CallFunction(2, std::string(kKeptText) + "|x");
             if (failing == nullptr) {
                 chosen = outcome.result;
                 EXPECT_TRUE(std::count(chosen.begin(), chosen.end(), ',') == 2 &&
                             chosen.front() != ',')
                     << "expected device,driver,port; got " << chosen;
                 return;
             }
             // The dialog allocates its blocks itself; the names need no memory of the
             // plug-in's.
             if (FailingOneOf(failing, {"PrintDlgA"})) {
                 EXPECT_EQ(kKeptText, outcome.result) << "no choice could be taken";
             } else if (FailingOneOf(failing, {"GlobalLock", "GlobalSize"})) {
                 EXPECT_EQ(",,", outcome.result) << "the name block could not be read";
             } else {
                 EXPECT_EQ(chosen, outcome.result);
             }
         }});
    for (const uint32_t function : {4u, 5u}) {
        operations.push_back(
            {function == 4 ? "default source" : "default copies", [] {},
             [function](const char* failing) {
                 const int before = StoredCopies();
                 const std::string text = std::string(kTestPrinter) + (function == 5 ? "|3" : "|7");
                 const CallOutcome outcome = CallFunction(function, text);
                 if (FailingOneOf(failing, {"OpenPrinterA"})) {
                     EXPECT_EQ("<<ERROR>> Printer not found", outcome.result);
                 } else if (FailingOneOf(failing,
                                         {"GetPrinterA", "GlobalAlloc", "DocumentPropertiesA",
                                          "SetPrinterA", "GetLastError", kAllMemory})) {
                     EXPECT_EQ("<<ERROR>> Document properties save problem", outcome.result);
                     EXPECT_EQ(before, StoredCopies()) << "stored after a failure";
                 } else {
                     EXPECT_EQ("<<OK>>", outcome.result);
                 }
             }});
    }
    operations.push_back(
        {"about box", [] {}, [](const char*) { SendHostMessage(hostside::kMessagePreferences); }});
    return operations;
}

// Answers every dialog that an operation opens, as a person would: the about box with OK, the
// print-setup dialog as `chooseInSetup` says, and every message box with OK.
class DialogAnswers {
  public:
    DialogAnswers()
        : watch_([this](HWND dialog) {
              if (GetDlgItem(dialog, 206) != nullptr) {
                  // A close request first, which the about box turns into an ignored cancel.
                  SendMessageA(dialog, WM_CLOSE, 0, 0);
                  hostside::PressButton(dialog, IDOK);
              } else if (FindWindowExA(dialog, nullptr, "ComboBox", nullptr) != nullptr) {
                  hostside::PressButton(dialog, chooseInSetup ? IDOK : IDCANCEL);
              } else {
                  ++boxes_;
                  hostside::PressButton(dialog, IDOK);
              }
          }) {}
    int Boxes() const { return boxes_; }

  private:
    int boxes_ = 0;
    hostside::DialogWatch watch_;
};

// Everything an operation took it has given back.
void ExpectNothingHeld(const Holdings& before) {
    EXPECT_EQ(before.keys, holdings.keys) << "registry key left open";
    EXPECT_EQ(before.printers, holdings.printers) << "printer handle left open";
    EXPECT_EQ(before.globalBlocks, holdings.globalBlocks) << "global block left";
    EXPECT_EQ(before.pages, holdings.pages) << "title storage left";
    EXPECT_LE(holdings.brushes, 1) << "a second white brush";
}

// Puts the test printer's copies back and removes the keys that function 1 made.
void CleanUp(int copiesBefore) {
    PlatformHooks::Arm(-1, -1);
    CallFunction(5, std::string(kTestPrinter) + "|" + std::to_string(copiesBefore));
    RegDeleteTreeA(HKEY_CURRENT_USER, kVersionsKey);
    RegDeleteTreeA(HKEY_CURRENT_USER, kEmptyProductKey);
}

TEST(FaultInjection, EveryPlatformCallFailedOnceInEveryOperation) {
    DialogAnswers answers;
    const int copiesBefore = StoredCopies();
    PlatformHooks hooks;

    int runs = 0;
    std::vector<int> failed(kPlatformCalls);
    for (const Operation& operation : Operations()) {
        // A clean run first, to learn which calls the operation makes and how often.
        operation.prepare();
        PlatformHooks::Arm(-1, -1);
        {
            SCOPED_TRACE(std::string(operation.name) + ", no failure");
            operation.runAndCheck(nullptr);
        }
        std::vector<int> counts;
        for (const PlatformCall& call : platformCalls)
            counts.push_back(call.calls);

        for (size_t slot = 0; slot < kPlatformCalls; ++slot) {
            // The first few calls of each kind: later ones repeat the same paths.
            for (int failAt = 0; failAt < std::min(counts[slot], 3); ++failAt) {
                operation.prepare();
                const Holdings before = holdings;
                PlatformHooks::Arm(static_cast<int>(slot), failAt);
                SCOPED_TRACE(std::string(operation.name) + ", call " + std::to_string(failAt + 1) +
                             " of " + platformCalls[slot].name + " fails");
                operation.runAndCheck(platformCalls[slot].name);
                ++runs;
                if (platformCalls[slot].calls > failAt) ++failed[slot];
                ExpectNothingHeld(before);
            }
        }
    }
    // A listed call that no operation reaches in its clean run would pass without ever failing.
    // The white brush is made once in the library's life, before anything here can fail; the
    // about box's own test fails its making.
    for (size_t slot = 0; slot < kPlatformCalls; ++slot) {
        if (!Named(slot, "CreateSolidBrush")) {
            EXPECT_GT(failed[slot], 0) << platformCalls[slot].name << " never failed";
        }
    }
    CleanUp(copiesBefore);
    std::printf("%d runs with one failed platform call, %d error boxes answered\n", runs,
                answers.Boxes());
    EXPECT_GT(runs, 40);
}

// The heap functions the plug-in may import. Those of the C runtime are counted; while memory
// has run out every one of them fails, and so, when every allocation fails, do those of the
// Windows heaps and the platform's allocations above. The blocks handed out and not yet freed
// are kept, to show what a failure left behind.
typedef void*(__cdecl* MallocFunction)(size_t);
typedef void*(__cdecl* CallocFunction)(size_t, size_t);
typedef void*(__cdecl* ReallocFunction)(void*, size_t);
typedef void(__cdecl* FreeFunction)(void*);
typedef void(__cdecl* AbortFunction)();
typedef HLOCAL(WINAPI* LocalAllocFunction)(UINT, SIZE_T);
typedef LPVOID(WINAPI* HeapAllocFunction)(HANDLE, DWORD, SIZE_T);
struct Allocator {
    MallocFunction realMalloc;
    CallocFunction realCalloc;
    ReallocFunction realRealloc;
    FreeFunction realFree;
    AbortFunction realAbort;
    int calls = 0;
    bool exhausted = false; // every allocation fails
    bool runaway = false;   // it kept asking after memory had run out
    std::set<void*> live;
    std::string during; // the case that runs, for a report of the process's end
} allocator;

// A runtime that answers a failed allocation by allocating again, and that again, recurses
// until its stack overflows, and Wine ends such a process with status 0, as if all were well.
// Past this many requests in one run the memory comes back, so the test lives to report it.
const int kRequestsAfterRunningOut = 100;

bool FailsNow() {
    ++allocator.calls;
    if (!allocator.exhausted) return false;
    if (allocator.calls > kRequestsAfterRunningOut) {
        allocator.runaway = true;
        return false;
    }
    errno = ENOMEM;
    return true;
}

void* __cdecl AllocatorMalloc(size_t size) {
    if (FailsNow()) return nullptr;
    void* block = allocator.realMalloc(size);
    if (block != nullptr) allocator.live.insert(block);
    return block;
}

void* __cdecl AllocatorCalloc(size_t count, size_t size) {
    if (FailsNow()) return nullptr;
    void* block = allocator.realCalloc(count, size);
    if (block != nullptr) allocator.live.insert(block);
    return block;
}

// A failed growth leaves the old block as it was.
void* __cdecl AllocatorRealloc(void* block, size_t size) {
    if (size != 0 && FailsNow()) return nullptr;
    void* moved = allocator.realRealloc(block, size);
    if (moved != nullptr || size == 0) allocator.live.erase(block);
    if (moved != nullptr) allocator.live.insert(moved);
    return moved;
}

void __cdecl AllocatorFree(void* block) {
    allocator.live.erase(block);
    allocator.realFree(block);
}

// The Windows heaps are only ever failed, and only while memory has run out.
HLOCAL WINAPI FailedLocalAlloc(UINT, SIZE_T) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

LPVOID WINAPI FailedHeapAlloc(HANDLE, DWORD, SIZE_T) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

// A failure the runtime cannot handle ends the process through its abort: say where.
void __cdecl ReportAbort() {
    std::fprintf(stderr, "The plug-in ended the process while %s\n", allocator.during.c_str());
    std::fflush(stderr);
    allocator.realAbort();
}

class AllocatorHooks {
  public:
    AllocatorHooks()
        : malloc_(PluginModule(), "malloc", &AllocatorMalloc),
          calloc_(PluginModule(), "calloc", &AllocatorCalloc),
          realloc_(PluginModule(), "realloc", &AllocatorRealloc),
          free_(PluginModule(), "free", &AllocatorFree),
          abort_(PluginModule(), "abort", &ReportAbort) {
        allocator.realMalloc = malloc_.Original();
        allocator.realCalloc = calloc_.Original();
        allocator.realRealloc = realloc_.Original();
        allocator.realFree = free_.Original();
        allocator.realAbort = abort_.Original();
        // The blocks of an allocator that is imported are freed through the same runtime.
        EXPECT_TRUE(free_.Installed() ||
                    !(malloc_.Installed() || calloc_.Installed() || realloc_.Installed()))
            << "the C runtime's heap is imported without its free";
    }
    // The heap functions that the library imports, for the test's report.
    std::string Imported() const {
        std::string names;
        if (malloc_.Installed()) names += " malloc";
        if (calloc_.Installed()) names += " calloc";
        if (realloc_.Installed()) names += " realloc";
        return names.empty() ? " none" : names;
    }
    // Counts the C runtime's allocations afresh, failing none.
    static void Arm(const std::string& during) {
        allocator.calls = 0;
        allocator.exhausted = false;
        allocator.runaway = false;
        allocator.live.clear();
        allocator.during = during;
    }
    // From now on every allocation of the C runtime fails, and with `platformToo` also those of
    // the Windows heaps and the platform's allocations that the platform hooks fail.
    void Exhaust(const std::string& during, bool platformToo) {
        Arm(during);
        allocator.exhausted = true;
        if (!platformToo) return;
        memoryExhausted = true;
        localAlloc_.reset(
            new ImportHook<LocalAllocFunction>(PluginModule(), "LocalAlloc", &FailedLocalAlloc));
        heapAlloc_.reset(
            new ImportHook<HeapAllocFunction>(PluginModule(), "HeapAlloc", &FailedHeapAlloc));
    }
    void Replenish() {
        allocator.exhausted = false;
        memoryExhausted = false;
        localAlloc_.reset();
        heapAlloc_.reset();
    }

  private:
    ImportHook<MallocFunction> malloc_;
    ImportHook<CallocFunction> calloc_;
    ImportHook<ReallocFunction> realloc_;
    ImportHook<FreeFunction> free_;
    ImportHook<AbortFunction> abort_;
    std::unique_ptr<ImportHook<LocalAllocFunction>> localAlloc_;
    std::unique_ptr<ImportHook<HeapAllocFunction>> heapAlloc_;
};

// Memory runs out in every operation: first the C runtime's heap, which the plug-in has no need
// of, so every operation answers as it would with memory; then every allocation, so each answers
// as its failure calls for. Either way the call returns to the host, every guard on the way out
// releases what it holds, and the version function answers afterwards. The process must live
// through it: a runtime that answers a failed allocation by allocating again (as a C++
// exception's emergency path does) would end it.
TEST(FaultInjection, EveryOperationLivesThroughMemoryRunningOut) {
    DialogAnswers answers;
    const int copiesBefore = StoredCopies();
    PlatformHooks counting; // fails only what is armed, counts what is held
    AllocatorHooks hooks;
    std::printf("C runtime heap functions the library imports:%s\n", hooks.Imported().c_str());

    int runs = 0;
    int failed = 0;
    for (const Operation& operation : Operations()) {
        operation.prepare();
        PlatformHooks::Arm(-1, -1);
        AllocatorHooks::Arm(std::string(operation.name) + ", no failure");
        {
            SCOPED_TRACE(allocator.during);
            operation.runAndCheck(nullptr);
        }
        std::printf("%s: %d C runtime allocations\n", operation.name, allocator.calls);

        for (const char* shortage : {kCRuntimeHeap, kAllMemory}) {
            const bool platformToo = shortage == kAllMemory;
            operation.prepare();
            PlatformHooks::Arm(-1, -1);
            const Holdings before = holdings;
            hooks.Exhaust(std::string(operation.name) + ", out of " + shortage, platformToo);
            SCOPED_TRACE(allocator.during);
            // A process that ends here leaves only its output to say where.
            std::printf("%s\n", allocator.during.c_str());
            std::fflush(stdout);

            operation.runAndCheck(shortage);
            EXPECT_FALSE(allocator.runaway)
                << "asked for memory " << allocator.calls << " times after it had run out";
            ExpectNothingHeld(before);
            EXPECT_TRUE(allocator.live.empty())
                << allocator.live.size() << " heap blocks left, expected none";
            EXPECT_EQ("DO-Dezevad Azuzev 2.3", CallFunction(0, "").result)
                << "the version function afterwards";

            failed += allocator.calls + (platformToo ? PlatformHooks::Allocations() : 0);
            hooks.Replenish();
            PlatformHooks::Arm(-1, -1);
            ++runs;
        }
    }
    AllocatorHooks::Arm("cleaning up");
    CleanUp(copiesBefore);
    std::printf("%d runs with memory running out, %d allocations failed\n", runs, failed);
    // The hooks must see the plug-in's allocations, or nothing here ran out of memory.
    EXPECT_GT(failed, 0);
}

} // namespace
