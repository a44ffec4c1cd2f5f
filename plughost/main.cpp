// The bundled host's commands: load a plug-in, start it up, list, call or show it, shut it down.
// It plays the database host from the command line, so each function can be tried without it.
#include "command_line.h"
#include "dialog_answers.h"
#include "dialog_driver.h"
#include "host_side.h"
#include "terminal_text.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The host reads function names from string 144 + n for n = 0, 1, ... up to the first gap.
const int kHighestNamedFunction = 63;

std::string PluginString(HMODULE module, UINT id) {
    char text[512] = "";
    const int length = LoadStringA(module, id, text, sizeof text);
    return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

// The function number for a name from the plug-in's string table.
bool FindFunction(HMODULE module, const std::string& function, uint32_t* number) {
    for (int n = 0; n <= kHighestNamedFunction; ++n) {
        const std::string name = PluginString(module, 144 + n);
        if (name.empty()) break;
        if (lstrcmpiA(name.c_str(), function.c_str()) == 0) {
            *number = static_cast<uint32_t>(n);
            return true;
        }
    }
    return false;
}

void ListFunctions(HMODULE module) {
    Print(stdout, "plug-in name:   %s\n", Shown(PluginString(module, 128)).c_str());
    Print(stdout, "feature string: %s\n", Shown(PluginString(module, 131)).c_str());
    Print(stdout, "functions:\n");
    for (int n = 0; n <= kHighestNamedFunction; ++n) {
        const std::string name = PluginString(module, 144 + n);
        if (name.empty()) break;
        Print(stdout, "  %2d  %s\n", n, Shown(name).c_str());
    }
    Print(stdout, "(a function without a name is called by its number: call 4 'TEXT')\n");
}

void SendMessageOnly(const hostside::Plugin& plugin, uint8_t message) {
    hostside::CallRecord record(plugin.module);
    record.SetMessage(message);
    hostside::CallEntryPoint(plugin.entry, record.Bytes());
}

void CallFunction(const hostside::Plugin& plugin, uint32_t number, const std::string& text) {
    const hostside::Handle argument = hostside::NewHandle(text);
    const hostside::Handle result = hostside::NewHandle("");
    hostside::CallRecord record(plugin.module);
    record.SetFunction(number, argument, result);
    hostside::ClearServiceLog();
    hostside::CallEntryPoint(plugin.entry, record.Bytes());

    bool resized = false;
    for (const hostside::ServiceCall& call : hostside::ServiceLog()) {
        resized =
            resized || (call.service == hostside::Service::ResizeHandle && call.handle == result);
    }
    if (!resized) {
        Print(stdout, "(no result)\n");
        return;
    }
    const std::string bytes = hostside::HandleBytes(result);
    Print(stdout, "result (%u bytes): %s\n", static_cast<unsigned>(bytes.size()),
          Shown(bytes, true).c_str());
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    int exitCode = kExitOk;
    if (!ParseOptions(argc, argv, &options, &exitCode)) return exitCode;

    hostside::Plugin plugin;
    std::string error;
    if (!hostside::LoadPlugin(options.pluginPath, &plugin, &error)) {
        Print(stderr, "plughost: %s\n", Shown(error).c_str());
        return kExitCannotLoad;
    }

    const std::vector<std::string>& command = options.command;
    uint32_t number = options.functionNumber;
    if (command[0] == "call" && !options.functionIsNumber &&
        !FindFunction(plugin.module, command[1], &number)) {
        Print(stderr, "plughost: the plug-in names no function \"%s\" (try: list)\n",
              Shown(command[1]).c_str());
        return kExitUnknownFunction;
    }

    const DialogAnswers answers(options);

    hostside::CallRecord startup(plugin.module);
    startup.SetMessage(hostside::kMessageStartup);
    startup.SetHostVersion(options.hostVersion);
    hostside::CallEntryPoint(plugin.entry, startup.Bytes());
    const int32_t answer = startup.Result();
    if (answer != 4) {
        Print(stdout, "start-up: host version %d refused (answer %ld)\n", options.hostVersion,
              static_cast<long>(answer));
        // The run stopped at start-up, which the status says; the dialog is still reported.
        if (answers.WentUnanswered()) Print(stderr, "plughost: a dialog went unanswered\n");
        return kExitStartupRefused;
    }
    Print(stdout, "start-up: host version %d accepted, the plug-in speaks version %ld\n",
          options.hostVersion, static_cast<long>(answer));

    HWND titleWindow = nullptr;
    if (options.haveWindowTitle) {
        titleWindow = hostside::MakeActiveWindow(options.windowTitle);
        Print(stdout, "active window: \"%s\"\n", Shown(options.windowTitle).c_str());
    }

    if (command[0] == "list") {
        ListFunctions(plugin.module);
    } else if (command[0] == "prefs") {
        SendMessageOnly(plugin, hostside::kMessagePreferences);
        Print(stdout, "preferences: the about box was closed\n");
    } else if (command[0] == "call") {
        CallFunction(plugin, number, command.size() > 2 ? command[2] : std::string());
    }

    SendMessageOnly(plugin, hostside::kMessageShutdown);
    Print(stdout, "shutdown sent\n");
    if (titleWindow != nullptr) DestroyWindow(titleWindow);
    if (answers.WentUnanswered()) {
        Print(stderr, "plughost: a dialog went unanswered\n");
        return kExitUnanswered;
    }
    if (answers.ChoiceNotListed()) {
        Print(stderr, "plughost: the printer to choose was not in the print-setup dialog\n");
        return kExitNoSuchPrinter;
    }
    return kExitOk;
}
