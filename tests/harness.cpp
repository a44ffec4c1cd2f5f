// Plays the host for the tests: loads the built plug-in and calls its entry point.
#include "harness.h"

#include <winspool.h>

#include <cstdlib>
#include <cstring>

namespace {

hostside::Plugin& LoadedPlugin() {
    static hostside::Plugin plugin;
    if (plugin.module == nullptr) {
        std::string error;
        if (!hostside::LoadPlugin(ProgramFolder() + "QV_Printer7.fmx", &plugin, &error)) {
            ADD_FAILURE() << error;
            std::abort();
        }
    }
    return plugin;
}

} // namespace

const char kResultSentinel[] = "untouched result";

std::string ProgramFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

bool RunsInAnsiCodePage(UINT codePage) {
    const char* expected = std::getenv("QV_EXPECT_ACP");
    if (expected != nullptr) {
        EXPECT_EQ(static_cast<UINT>(std::atoi(expected)), GetACP())
            << "this run was meant to have ANSI code page " << expected;
    }
    return GetACP() == codePage;
}

HMODULE PluginModule() {
    return LoadedPlugin().module;
}
hostside::EntryPoint PluginEntry() {
    return LoadedPlugin().entry;
}

CallOutcome CallFunction(uint32_t number, const std::string& text) {
    CallOutcome outcome;
    outcome.argumentHandle = hostside::NewHandle(text, true);
    outcome.resultHandle = hostside::NewHandle(kResultSentinel);
    hostside::CallRecord record(PluginModule());
    record.SetFunction(number, outcome.argumentHandle, outcome.resultHandle);
    uint8_t before[hostside::offsets::kRecordSize];
    std::memcpy(before, record.Bytes(), sizeof before);

    hostside::ClearServiceLog();
    const int32_t stackMoved = hostside::CallEntryPoint(PluginEntry(), record.Bytes());
    outcome.log = hostside::ServiceLog();

    if (hostside::kMeasuresEntryStack) {
        EXPECT_EQ(0, stackMoved) << "the entry point must leave its argument to the caller";
    }
    EXPECT_EQ(0, std::memcmp(before, record.Bytes(), sizeof before))
        << "an external-function call writes nothing into the record";
    EXPECT_EQ(text, hostside::HandleBytes(outcome.argumentHandle)) << "argument text changed";
    EXPECT_EQ(0, hostside::LockDepth(outcome.argumentHandle)) << "argument handle left locked";
    EXPECT_TRUE(hostside::HandleCanariesIntact(outcome.argumentHandle));
    EXPECT_TRUE(hostside::HandleCanariesIntact(outcome.resultHandle))
        << "written outside the result block";

    outcome.result = hostside::HandleBytes(outcome.resultHandle);
    outcome.resultTouched = false;
    for (const hostside::ServiceCall& call : outcome.log) {
        if (call.service == hostside::Service::ResizeHandle && call.handle == outcome.resultHandle)
            outcome.resultTouched = true;
    }
    return outcome;
}

int32_t Startup(int16_t hostVersion) {
    hostside::CallRecord record(PluginModule());
    record.SetMessage(hostside::kMessageStartup);
    record.SetHostVersion(hostVersion);
    hostside::CallEntryPoint(PluginEntry(), record.Bytes());
    return record.Result();
}

void SendHostMessage(uint8_t message) {
    hostside::CallRecord record(PluginModule());
    record.SetMessage(message);
    hostside::CallEntryPoint(PluginEntry(), record.Bytes());
}

MessageBoxCatcher::MessageBoxCatcher()
    : watch_([this](HWND box) {
          boxes_.push_back(
              {hostside::WindowText(box), hostside::MessageBoxText(box), GetWindow(box, GW_OWNER)});
          hostside::PressButton(box, IDOK);
      }) {}

ActiveWindow::ActiveWindow(const std::string& title) : window_(hostside::MakeActiveWindow(title)) {
    EXPECT_NE(nullptr, window_);
    EXPECT_EQ(window_, GetActiveWindow()) << "the test window did not become active";
}

ActiveWindow::~ActiveWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
}

SavedPrinterDefaults::SavedPrinterDefaults(const char* printer) {
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterA(const_cast<char*>(printer), &printer_, &defaults)) {
        printer_ = nullptr;
        return;
    }
    DWORD needed = 0;
    GetPrinterA(printer_, 8, nullptr, 0, &needed);
    saved_.resize(needed);
    if (needed == 0 || !GetPrinterA(printer_, 8, saved_.data(), needed, &needed)) saved_.clear();
}

SavedPrinterDefaults::~SavedPrinterDefaults() {
    if (printer_ == nullptr) return;
    if (!saved_.empty()) {
        EXPECT_TRUE(SetPrinterA(printer_, 8, saved_.data(), 0))
            << "putting the printer's defaults back: error " << GetLastError();
    }
    ClosePrinter(printer_);
}
