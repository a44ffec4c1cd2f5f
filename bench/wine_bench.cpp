// Each external function through the plug-in's entry point against the bare platform and
// host-service calls that the function has to make, written out by hand. Both sides run in the
// same process, interleaved in short rounds (each round times one batch of each, the order
// alternating), and a process's figure is the median of its rounds' ratios. Where code and data
// happen to lie moves a call of a fraction of a microsecond by several per cent from one process
// to the next, so the measurement runs in several processes: the figure is the median of theirs,
// shown with their range.
#include "dialog_driver.h"
#include "host_side.h"

#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

typedef void(WINAPI* ResizeProc)(hostside::Handle, uint32_t);
typedef uint32_t(WINAPI* SizeProc)(hostside::Handle);
typedef void(WINAPI* HandleProc)(hostside::Handle);
typedef uint32_t(WINAPI* ErrorProc)();

// The host's services, taken from a record exactly as the plug-in would find them.
struct Services {
    ResizeProc resize;
    SizeProc size;
    HandleProc prepare;
    HandleProc lock;
    HandleProc unlock;
    ErrorProc lastError;
};

Services ServicesOf(const hostside::CallRecord& record) {
    Services services;
    auto at = [&record](size_t offset) {
        uintptr_t value;
        std::memcpy(&value, record.Bytes() + offset, sizeof value);
        return reinterpret_cast<void*>(value);
    };
    services.resize = reinterpret_cast<ResizeProc>(at(hostside::offsets::kResizeHandle));
    services.size = reinterpret_cast<SizeProc>(at(hostside::offsets::kHandleSize));
    services.prepare = reinterpret_cast<HandleProc>(at(hostside::offsets::kPrepareHandle));
    services.lock = reinterpret_cast<HandleProc>(at(hostside::offsets::kLockHandle));
    services.unlock = reinterpret_cast<HandleProc>(at(hostside::offsets::kUnlockHandle));
    services.lastError = reinterpret_cast<ErrorProc>(at(hostside::offsets::kLastHandleError));
    return services;
}

// What every argument read costs the host, without the scan.
void ReadArgumentBare(const Services& services, hostside::Handle handle) {
    services.size(handle);
    services.prepare(handle);
    services.lock(handle);
    services.unlock(handle);
}

void WriteResultBare(const Services& services, hostside::Handle handle, const char* text,
                     uint32_t size) {
    services.resize(handle, size);
    if ((services.lastError() & 0xFFFF) == 0)
        std::memcpy(*reinterpret_cast<char**>(handle), text, size);
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

double TimeOf(const std::function<void()>& work, int calls) {
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    for (int i = 0; i < calls; ++i)
        work();
    QueryPerformanceCounter(&to);
    return Seconds(from, to) / calls;
}

// The value at `fraction` (0 to 1) of the sorted values.
double Quantile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5)];
}

struct Figure {
    const char* name;
    double target; // the ratio the plug-in may take at most
};
const Figure kFigures[] = {
    {"0 version text", 1.05},
    {"1 host printer preference", 1.10},
    {"5 default copies", 1.10},
};
const size_t kFigureCount = sizeof kFigures / sizeof kFigures[0];
const int kProcesses = 5;

// One process's figure: median seconds per call of each side, and the median of the ratios.
struct Measured {
    double plugin;
    double bare;
    double ratio;
};

// Preemption by other work on the machine lands in one batch of one round and makes that
// round's ratio an outlier, which the median leaves out; a batch far shorter than a time slice
// is rarely hit.
Measured Compare(const std::function<void()>& plugin, const std::function<void()>& bare, int rounds,
                 int calls) {
    std::vector<double> pluginTimes, bareTimes, ratios;
    plugin();
    bare(); // warm both paths before timing
    for (int round = 0; round < rounds; ++round) {
        double pluginTime, bareTime;
        if (round % 2 == 0) {
            pluginTime = TimeOf(plugin, calls);
            bareTime = TimeOf(bare, calls);
        } else {
            bareTime = TimeOf(bare, calls);
            pluginTime = TimeOf(plugin, calls);
        }
        pluginTimes.push_back(pluginTime);
        bareTimes.push_back(bareTime);
        ratios.push_back(pluginTime / bareTime);
    }
    return {Quantile(pluginTimes, 0.5), Quantile(bareTimes, 0.5), Quantile(ratios, 0.5)};
}

// Measures every figure in this process and prints them as "figure INDEX PLUGIN BARE RATIO"
// lines, and the entry point alone as "idle SECONDS", for the process that started it.
int MeasureInThisProcess(const std::string& pluginPath, const std::string& printer) {
    hostside::Plugin plugin;
    std::string error;
    if (!hostside::LoadPlugin(pluginPath, &plugin, &error)) {
        std::fprintf(stderr, "wine_bench: %s\n", error.c_str());
        return 3;
    }
    hostside::CallRecord record(plugin.module);
    const Services services = ServicesOf(record);
    HWND window = hostside::MakeActiveWindow("FileMaker Pro - [Benchmark]");

    const std::string setPrinterText = printer + "|7.0-bench";
    const hostside::Handle setPrinterArgument = hostside::NewHandle(setPrinterText);
    const hostside::Handle copiesArgument = hostside::NewHandle(printer + "|1");
    const hostside::Handle emptyArgument = hostside::NewHandle("");
    const hostside::Handle result = hostside::NewHandle("");

    // Filling in the record is the host's work, not the plug-in's: each figure sets it once (a
    // call writes nothing into it) and times the call alone.
    auto call = [&] {
        hostside::CallEntryPoint(plugin.entry, record.Bytes());
        hostside::ClearServiceLog();
    };

    std::vector<Measured> figures;
    record.SetFunction(0, emptyArgument, result);
    figures.push_back(Compare(
        call,
        [&] {
            char text[256];
            const int length = LoadStringA(plugin.module, 200, text, sizeof text);
            WriteResultBare(services, result, text, static_cast<uint32_t>(length));
            hostside::ClearServiceLog();
        },
        401, 200));

    // What the entry point's own layers cost (the record slot, the stack guard's seeding check,
    // the dispatch on the message), against nothing at all.
    hostside::CallRecord idle(plugin.module);
    idle.SetMessage(hostside::kMessageIdle);
    std::vector<double> idleTimes;
    for (int round = 0; round < 401; ++round)
        idleTimes.push_back(
            TimeOf([&] { hostside::CallEntryPoint(plugin.entry, idle.Bytes()); }, 200));

    record.SetFunction(1, setPrinterArgument, result);
    figures.push_back(Compare(
        call,
        [&] {
            HWND active = GetActiveWindow();
            const int length = GetWindowTextLengthA(active);
            char* title =
                static_cast<char*>(VirtualAlloc(nullptr, length + 1, MEM_COMMIT, PAGE_READWRITE));
            GetWindowTextA(active, title, length + 1);
            VirtualFree(title, 0, MEM_RELEASE);
            ReadArgumentBare(services, setPrinterArgument);
            ReadArgumentBare(services, setPrinterArgument);
            HKEY key;
            DWORD disposition = 0;
            char keyClass[] = "REG_SZ";
            RegCreateKeyExA(
                HKEY_CURRENT_USER, "Software\\FileMaker\\FileMaker Pro\\7.0-bench\\Preferences", 0,
                keyClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition);
            RegSetValueExA(key, "Printer", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(printer.c_str()),
                           static_cast<DWORD>(printer.size() + 1));
            RegCloseKey(key);
            hostside::ClearServiceLog();
        },
        61, 20));

    record.SetFunction(5, copiesArgument, result);
    figures.push_back(Compare(
        call,
        [&] {
            services.lock(copiesArgument);
            ReadArgumentBare(services, copiesArgument);
            ReadArgumentBare(services, copiesArgument);
            PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
            HANDLE handle = nullptr;
            OpenPrinterA(const_cast<char*>(printer.c_str()), &handle, &defaults);
            DWORD needed = 0;
            SetLastError(0);
            GetPrinterA(handle, 8, nullptr, 0, &needed);
            HGLOBAL block = GlobalAlloc(GMEM_ZEROINIT, needed);
            GetPrinterA(handle, 8, static_cast<BYTE*>(block), needed, &needed);
            DEVMODEA* devmode = reinterpret_cast<PRINTER_INFO_8A*>(block)->pDevMode;
            // The driver's size, which the function asks for before it lets the driver write.
            DocumentPropertiesA(nullptr, handle, const_cast<char*>(printer.c_str()), nullptr,
                                nullptr, 0);
            devmode->dmCopies = 1;
            DocumentPropertiesA(nullptr, handle, const_cast<char*>(printer.c_str()), devmode,
                                devmode, DM_IN_BUFFER | DM_OUT_BUFFER);
            SetPrinterA(handle, 8, static_cast<BYTE*>(block), 0);
            SendMessageTimeoutA(HWND_BROADCAST, WM_DEVMODECHANGE, 0,
                                reinterpret_cast<LPARAM>(printer.c_str()), SMTO_NORMAL, 1000,
                                nullptr);
            GlobalFree(block);
            ClosePrinter(handle);
            WriteResultBare(services, result, "<<OK>>", 6);
            services.unlock(copiesArgument);
            hostside::ClearServiceLog();
        },
        31, 3));

    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\FileMaker\\FileMaker Pro\\7.0-bench");
    DestroyWindow(window);

    for (size_t i = 0; i < figures.size(); ++i)
        std::printf("figure %u %.9g %.9g %.9g\n", static_cast<unsigned>(i), figures[i].plugin,
                    figures[i].bare, figures[i].ratio);
    std::printf("idle %.9g\n", Quantile(idleTimes, 0.5));
    return 0;
}

// Runs this program again with `arguments` and collects the lines it prints.
bool RunMeasuringProcess(const std::string& arguments, std::vector<Measured>* figures,
                         double* idle) {
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    std::string commandLine = "\"" + std::string(self) + "\" " + arguments;
    const BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    std::string output;
    if (started) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
            output.append(buffer, got);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    CloseHandle(readEnd);
    DWORD status = 1;
    if (started) {
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    if (status != 0) return false;

    figures->assign(kFigureCount, Measured());
    size_t seen = 0;
    for (size_t at = 0; at < output.size();) {
        const size_t end = std::min(output.find('\n', at), output.size());
        const std::string line = output.substr(at, end - at);
        unsigned index = 0;
        Measured figure;
        if (std::sscanf(line.c_str(), "figure %u %lf %lf %lf", &index, &figure.plugin, &figure.bare,
                        &figure.ratio) == 4 &&
            index < kFigureCount) {
            (*figures)[index] = figure;
            ++seen;
        }
        std::sscanf(line.c_str(), "idle %lf", idle);
        at = end + 1;
    }
    return seen == kFigureCount;
}

} // namespace

int main(int argc, char** argv) {
    const std::string pluginPath = argc > 1 ? argv[1] : "QV_Printer7.fmx";
    const std::string printer = argc > 2 ? argv[2] : "PDF";
    if (argc > 3 && std::strcmp(argv[3], "--one-process") == 0)
        return MeasureInThisProcess(pluginPath, printer);

    std::vector<std::vector<Measured>> processes;
    std::vector<double> idleTimes;
    for (int i = 0; i < kProcesses; ++i) {
        std::vector<Measured> figures;
        double idle = 0;
        if (!RunMeasuringProcess("\"" + pluginPath + "\" \"" + printer + "\" --one-process",
                                 &figures, &idle)) {
            std::fprintf(stderr, "wine_bench: measuring process %d failed\n", i + 1);
            return 3;
        }
        processes.push_back(figures);
        idleTimes.push_back(idle);
    }

    std::printf("%d processes; each figure is the median of theirs, with their range\n",
                kProcesses);
    std::printf("%-28s %14s %14s %8s %15s %7s\n", "function", "plug-in", "bare calls", "ratio",
                "range", "target");
    bool withinTarget = true;
    double versionBare = 0;
    for (size_t i = 0; i < kFigureCount; ++i) {
        std::vector<double> plugin, bare, ratio;
        for (const std::vector<Measured>& figures : processes) {
            plugin.push_back(figures[i].plugin);
            bare.push_back(figures[i].bare);
            ratio.push_back(figures[i].ratio);
        }
        const double median = Quantile(ratio, 0.5);
        withinTarget = withinTarget && median <= kFigures[i].target;
        if (i == 0) versionBare = Quantile(bare, 0.5);
        std::printf("%-28s %11.3f us %11.3f us %8.3f %7.3f-%-7.3f %7.2f\n", kFigures[i].name,
                    Quantile(plugin, 0.5) * 1e6, Quantile(bare, 0.5) * 1e6, median,
                    Quantile(ratio, 0), Quantile(ratio, 1), kFigures[i].target);
    }
    const double idle = Quantile(idleTimes, 0.5);
    std::printf("entry point alone (idle message): %.1f ns, %.3f of function 0's bare calls\n",
                idle * 1e9, idle / versionBare);
    std::printf("target: every ratio at most its target -- %s\n", withinTarget ? "met" : "NOT met");
    return 0;
}
