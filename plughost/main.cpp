// The bundled host: loads a plug-in of this interface and drives it from the command line,
// the way the database host would, so each function can be tried without the real host.
#include "dialog_driver.h"
#include "host_side.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 2,
    kExitCannotLoad = 3,
    kExitStartupRefused = 4,
    kExitUnknownFunction = 5,
};

// The host reads function names from string 144 + n for n = 0, 1, ... up to the first gap.
const int kHighestNamedFunction = 63;

const char kUsage[] =
    "usage: plughost [options] PLUGIN COMMAND [ARGUMENTS]\n"
    "\n"
    "Loads PLUGIN (a .fmx library), sends it start-up, runs COMMAND, then sends shutdown.\n"
    "\n"
    "commands:\n"
    "  list                  show the plug-in's name, feature string and named functions\n"
    "  call FUNCTION [TEXT]  call FUNCTION, given by name or number, with the argument\n"
    "                        text TEXT (arguments separated by \"|\"), and print the result\n"
    "  prefs                 send the preferences message (the plug-in's about box)\n"
    "  startup               only start up and shut down\n"
    "\n"
    "options:\n"
    "  --host-version N      interface version sent at start-up (default 4)\n"
    "  --window-title TEXT   make a window of ours with this title active before the call\n"
    "  --ok                  answer the plug-in's dialogs with OK (the print-setup dialog on\n"
    "                        the printer it opens with)\n"
    "  --choose PRINTER      answer the print-setup dialog by choosing PRINTER, then OK\n"
    "  --cancel              answer the print-setup dialog with Cancel\n"
    "  --screenshot FILE     save a picture (.bmp) of the first dialog before answering it\n"
    "  -h, --help            show this text\n"
    "\n"
    "Without --ok, --choose or --cancel the dialogs wait for you. Every error box that the\n"
    "plug-in shows is reported; with one of those options it is also answered with OK.\n"
    "\n"
    "exit status: 0 done, 2 usage error, 3 the plug-in cannot be loaded, 4 start-up\n"
    "refused, 5 unknown function\n";

struct Options {
    int16_t hostVersion = 4;
    std::string windowTitle;
    bool haveWindowTitle = false;
    bool answerDialogs = false;
    bool cancel = false;
    std::string choosePrinter;
    std::string screenshot;
    std::string pluginPath;
    std::vector<std::string> command;
};

int UsageError(const char* problem) {
    std::fprintf(stderr, "plughost: %s\n\n%s", problem, kUsage);
    return kExitUsage;
}

// Escapes bytes that would not print, so that every byte of a result can be seen.
std::string Printable(const std::string& bytes) {
    std::string shown;
    for (unsigned char byte : bytes) {
        if (byte == '\\') {
            shown += "\\\\";
        } else if (byte >= 0x20 && byte != 0x7F) {
            shown += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        }
    }
    return shown;
}

std::string PluginString(HMODULE module, UINT id) {
    char text[512] = "";
    const int length = LoadStringA(module, id, text, sizeof text);
    return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

// Answers the dialogs of one call as the options say and reports every error box.
void AnswerDialog(const Options& options, HWND dialog) {
    HWND combo = FindWindowExA(dialog, nullptr, "ComboBox", nullptr);
    const bool isPrintSetup = combo != nullptr;
    const bool isMessageBox = !isPrintSetup && hostside::MessageBoxText(dialog).size() > 0 &&
                              GetDlgItem(dialog, 206) == nullptr;
    if (isMessageBox) {
        std::printf("error box \"%s\": %s\n", hostside::WindowText(dialog).c_str(),
                    hostside::MessageBoxText(dialog).c_str());
        std::fflush(stdout);
    }
    if (!options.screenshot.empty() && !isMessageBox) {
        static bool taken = false;
        if (!taken) {
            taken = hostside::SaveWindowPicture(dialog, options.screenshot);
            std::printf("%s %s\n", taken ? "saved a picture of the dialog in" : "could not save",
                        options.screenshot.c_str());
        }
    }
    if (!options.answerDialogs) return;
    if (isPrintSetup) {
        if (options.cancel) {
            hostside::PressButton(dialog, IDCANCEL);
            return;
        }
        if (!options.choosePrinter.empty() &&
            !hostside::ChoosePrinterInSetupDialog(dialog, options.choosePrinter)) {
            std::printf("the print-setup dialog has no printer \"%s\"; cancelling\n",
                        options.choosePrinter.c_str());
            hostside::PressButton(dialog, IDCANCEL);
            return;
        }
        std::printf("print-setup dialog: choosing \"%s\"\n",
                    hostside::SelectedPrinterInSetupDialog(dialog).c_str());
    }
    hostside::PressButton(dialog, IDOK);
}

bool ParseOptions(int argc, char** argv, Options* options, int* exitCode) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "-h" || option == "--help") {
            std::fputs(kUsage, stdout);
            *exitCode = kExitOk;
            return false;
        } else if (option == "--ok") {
            options->answerDialogs = true;
        } else if (option == "--cancel") {
            options->answerDialogs = options->cancel = true;
        } else if (option == "--choose" && hasValue) {
            options->answerDialogs = true;
            options->choosePrinter = argv[++i];
        } else if (option == "--window-title" && hasValue) {
            options->windowTitle = argv[++i];
            options->haveWindowTitle = true;
        } else if (option == "--screenshot" && hasValue) {
            options->screenshot = argv[++i];
        } else if (option == "--host-version" && hasValue) {
            options->hostVersion = static_cast<int16_t>(std::atoi(argv[++i]));
        } else {
            *exitCode = UsageError(("unknown option or missing value: " + option).c_str());
            return false;
        }
    }
    if (i >= argc) {
        *exitCode = UsageError("no plug-in given");
        return false;
    }
    options->pluginPath = argv[i++];
    for (; i < argc; ++i)
        options->command.push_back(argv[i]);
    if (options->command.empty()) {
        *exitCode = UsageError("no command given");
        return false;
    }
    const std::string& verb = options->command[0];
    const size_t count = options->command.size();
    const bool known = ((verb == "list" || verb == "prefs" || verb == "startup") && count == 1) ||
                       (verb == "call" && (count == 2 || count == 3));
    if (!known) {
        *exitCode = UsageError(("cannot understand the command: " + verb).c_str());
        return false;
    }
    return true;
}

// The function number for a name from the plug-in's string table, or a number given as is.
bool FindFunction(HMODULE module, const std::string& function, uint32_t* number) {
    char* end = nullptr;
    const unsigned long given = std::strtoul(function.c_str(), &end, 10);
    if (!function.empty() && *end == '\0') {
        *number = static_cast<uint32_t>(given);
        return true;
    }
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
    std::printf("plug-in name:   %s\n", PluginString(module, 128).c_str());
    std::printf("feature string: %s\n", PluginString(module, 131).c_str());
    std::printf("functions:\n");
    for (int n = 0; n <= kHighestNamedFunction; ++n) {
        const std::string name = PluginString(module, 144 + n);
        if (name.empty()) break;
        std::printf("  %2d  %s\n", n, name.c_str());
    }
    std::printf("(a function without a name is called by its number: call 4 'TEXT')\n");
}

void SendMessageOnly(const hostside::Plugin& plugin, uint8_t message) {
    hostside::CallRecord record(plugin.module);
    record.SetMessage(message);
    hostside::CallEntryPoint(plugin.entry, record.Bytes());
}

void CallFunction(const hostside::Plugin& plugin, uint32_t number, const std::string& text) {
    const uint32_t argument = hostside::NewHandle(text);
    const uint32_t result = hostside::NewHandle("");
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
        std::printf("(no result)\n");
        return;
    }
    const std::string bytes = hostside::HandleBytes(result);
    std::printf("result (%u bytes): %s\n", static_cast<unsigned>(bytes.size()),
                Printable(bytes).c_str());
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    int exitCode = kExitOk;
    if (!ParseOptions(argc, argv, &options, &exitCode)) return exitCode;

    hostside::Plugin plugin;
    std::string error;
    if (!hostside::LoadPlugin(options.pluginPath, &plugin, &error)) {
        std::fprintf(stderr, "plughost: %s\n", error.c_str());
        return kExitCannotLoad;
    }

    const std::vector<std::string>& command = options.command;
    uint32_t number = 0;
    if (command[0] == "call" && !FindFunction(plugin.module, command[1], &number)) {
        std::fprintf(stderr, "plughost: the plug-in names no function \"%s\" (try: list)\n",
                     command[1].c_str());
        return kExitUnknownFunction;
    }

    hostside::DialogWatch watch([&options](HWND dialog) { AnswerDialog(options, dialog); });

    hostside::CallRecord startup(plugin.module);
    startup.SetMessage(hostside::kMessageStartup);
    startup.SetHostVersion(options.hostVersion);
    hostside::CallEntryPoint(plugin.entry, startup.Bytes());
    const int32_t answer = startup.Result();
    if (answer != 4) {
        std::printf("start-up: host version %d refused (answer %ld)\n", options.hostVersion,
                    static_cast<long>(answer));
        return kExitStartupRefused;
    }
    std::printf("start-up: host version %d accepted, the plug-in speaks version %ld\n",
                options.hostVersion, static_cast<long>(answer));

    HWND titleWindow = nullptr;
    if (options.haveWindowTitle) {
        titleWindow = hostside::MakeActiveWindow(options.windowTitle);
        std::printf("active window: \"%s\"\n", options.windowTitle.c_str());
    }

    if (command[0] == "list") {
        ListFunctions(plugin.module);
    } else if (command[0] == "prefs") {
        SendMessageOnly(plugin, hostside::kMessagePreferences);
        std::printf("preferences: the about box was closed\n");
    } else if (command[0] == "call") {
        CallFunction(plugin, number, command.size() > 2 ? command[2] : std::string());
    }

    SendMessageOnly(plugin, hostside::kMessageShutdown);
    std::printf("shutdown sent\n");
    if (titleWindow != nullptr) DestroyWindow(titleWindow);
    return kExitOk;
}
