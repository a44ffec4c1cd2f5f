// Each external function through the plug-in's entry point against the bare platform and
// host-service calls that the function has to make, written out by hand. Both sides run in
// the same process, interleaved round by round; the figure is the ratio of their medians.
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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figure {
    const char* name;
    double plugin;
    double bare;
};

Figure Compare(const char* name, const std::function<void()>& plugin,
               const std::function<void()>& bare, int rounds, int calls) {
    std::vector<double> pluginTimes, bareTimes;
    plugin();
    bare(); // warm both paths before timing
    for (int round = 0; round < rounds; ++round) {
        pluginTimes.push_back(TimeOf(plugin, calls));
        bareTimes.push_back(TimeOf(bare, calls));
    }
    return {name, Median(pluginTimes), Median(bareTimes)};
}

} // namespace

int main(int argc, char** argv) {
    const std::string pluginPath = argc > 1 ? argv[1] : "QV_Printer7.fmx";
    const std::string printer = argc > 2 ? argv[2] : "PDF";
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

    auto call = [&](uint32_t number, hostside::Handle argument) {
        record.SetFunction(number, argument, result);
        hostside::CallEntryPoint(plugin.entry, record.Bytes());
        hostside::ClearServiceLog();
    };

    std::vector<Figure> figures;
    figures.push_back(Compare(
        "0 version text", [&] { call(0, emptyArgument); },
        [&] {
            char text[256];
            const int length = LoadStringA(plugin.module, 200, text, sizeof text);
            WriteResultBare(services, result, text, static_cast<uint32_t>(length));
            hostside::ClearServiceLog();
        },
        15, 2000));

    figures.push_back(Compare(
        "1 host printer preference", [&] { call(1, setPrinterArgument); },
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
        15, 300));

    figures.push_back(Compare(
        "5 default copies", [&] { call(5, copiesArgument); },
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
        9, 20));

    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\FileMaker\\FileMaker Pro\\7.0-bench");
    DestroyWindow(window);

    std::printf("%-28s %14s %14s %8s\n", "function", "plug-in", "bare calls", "ratio");
    bool withinTarget = true;
    for (const Figure& figure : figures) {
        const double ratio = figure.plugin / figure.bare;
        withinTarget = withinTarget && ratio <= 1.10;
        std::printf("%-28s %11.2f us %11.2f us %8.3f\n", figure.name, figure.plugin * 1e6,
                    figure.bare * 1e6, ratio);
    }
    std::printf("target: every ratio at most 1.10 -- %s\n", withinTarget ? "met" : "NOT met");
    return 0;
}
