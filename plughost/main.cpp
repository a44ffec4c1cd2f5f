// The bundled host: loads a plug-in of this interface and drives it from the command line,
// the way the database host would, so each function can be tried without the real host.
#include "dialog_driver.h"
#include "host_side.h"

#include <windows.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
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
    kExitUnanswered = 6,
    kExitNoSuchPrinter = 7,
};

// The host reads function names from string 144 + n for n = 0, 1, ... up to the first gap.
const int kHighestNamedFunction = 63;

const long long kDefaultWaitSeconds = 180;
const long long kLongestWaitSeconds = 86400;

const char kUsage[] =
    "usage: plughost [options] PLUGIN COMMAND [ARGUMENTS]\n"
    "\n"
    "Loads PLUGIN (a .fmx library), sends it start-up, runs COMMAND, then sends shutdown.\n"
    "\n"
    "commands:\n"
    "  list                  show the plug-in's name, feature string and named functions\n"
    "  call FUNCTION [--] [TEXT]\n"
    "                        call FUNCTION, given by name or number (0 to 4294967295), with\n"
    "                        the argument text TEXT, one word with the arguments separated\n"
    "                        by \"|\" (quote it: 'PDF|2'), and print the result; a TEXT that\n"
    "                        is one of the option names below needs the \"--\" before it\n"
    "  prefs                 send the preferences message (the plug-in's about box)\n"
    "  startup               only start up and shut down\n"
    "\n"
    "options:\n"
    "  --host-version N      interface version sent at start-up, -32768 to 32767 (default 4)\n"
    "  --window-title TEXT   make a window of ours with this title active before the call\n"
    "  --ok                  answer the plug-in's dialogs with OK (the print-setup dialog on\n"
    "                        the printer it opens with)\n"
    "  --choose PRINTER      answer the print-setup dialog by choosing PRINTER, then OK\n"
    "  --cancel              answer the print-setup dialog with Cancel\n"
    "  --wait SECONDS        close a dialog or box that nobody has answered after SECONDS,\n"
    "                        1 to 86400 (default 180), with Cancel where it has one\n"
    "  --screenshot FILE     save a picture (.bmp) of the first dialog before answering it\n"
    "  -h, --help            show this text\n"
    "\n"
    "Options go before PLUGIN; an option name after it is refused as a usage error.\n"
    "--ok, --choose and --cancel are answers to the print-setup dialog: give one at most.\n"
    "Without --ok, --choose or --cancel the dialogs wait for you, up to --wait seconds.\n"
    "Every error box that the plug-in shows is reported; with one of those options it is\n"
    "also answered with OK. Texts are printed as UTF-8, with what would not print as \\xHH.\n"
    "\n"
    "exit status: 0 done, 2 usage error, 3 the plug-in cannot be loaded, 4 start-up\n"
    "refused, 5 unknown function, 6 a dialog went unanswered, 7 the print-setup dialog\n"
    "has no printer of the --choose name (it was cancelled). When start-up is refused\n"
    "the status is 4, even if a dialog went unanswered during it.\n";

// Every name ParseOptions accepts. A word after PLUGIN that is one of them was meant as an
// option and would otherwise be taken as a command word or as the argument text.
const char* const kOptionNames[] = {"-h",           "--help",         "--ok",
                                    "--cancel",     "--choose",       "--window-title",
                                    "--screenshot", "--host-version", "--wait"};

bool IsOptionName(const std::string& word) {
    for (const char* name : kOptionNames)
        if (word == name) return true;
    return false;
}

struct Options {
    int16_t hostVersion = 4;
    std::string windowTitle;
    bool haveWindowTitle = false;
    bool answerDialogs = false;
    std::string answer;      // the --ok, --choose or --cancel given, as shown to the user
    std::string answerGiven; // the same, byte for byte, to tell two answers apart
    bool cancel = false;
    DWORD waitMs = kDefaultWaitSeconds * 1000;
    std::string choosePrinter;
    std::string screenshot;
    std::string pluginPath;
    std::vector<std::string> command;
    bool functionIsNumber = false;
    uint32_t functionNumber = 0;
};

// Writes UTF-8 text. A console gets it as wide text, since its own code page may be another;
// a pipe or a file gets the bytes.
void Write(FILE* stream, const std::string& text) {
    std::fflush(stream);
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        std::wstring wide(text.size(), L'\0');
        const int length =
            MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                static_cast<int>(wide.size()));
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(length > 0 ? length : 0), &written,
                      nullptr);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// printf to `stream`; every text argument that comes from outside goes through Shown first.
__attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3))) void Print(FILE* stream, const char* format,
                                                                ...) {
    va_list arguments;
    va_start(arguments, format);
    char small[512];
    const int length = std::vsnprintf(small, sizeof small, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    if (static_cast<size_t>(length) < sizeof small) {
        Write(stream, std::string(small, static_cast<size_t>(length)));
        return;
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    va_start(arguments, format);
    std::vsnprintf(&text[0], text.size(), format, arguments);
    va_end(arguments);
    text.resize(static_cast<size_t>(length));
    Write(stream, text);
}

// Control characters (C0, DEL and C1) and a lone half of a surrogate pair would not print.
bool Printable(wchar_t c) {
    return c >= 0x20 && !(c >= 0x7F && c < 0xA0) && !(c >= 0xD800 && c < 0xE000);
}

// Spaces other than the ASCII blank, and characters that show nothing (a soft hyphen, the
// zero-width and direction marks): on a terminal each looks like a blank or like nothing.
bool LooksLikeAnother(wchar_t c) {
    return c == 0xA0 || c == 0xAD || c == 0x1680 || (c >= 0x2000 && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202F) || (c >= 0x205F && c <= 0x2064) || c == 0x3000 ||
           c == 0xFEFF;
}

// The character of the ANSI code page that starts at text[i], as UTF-8, with the count of its
// bytes in `length`; empty when it would not print or is no character of the code page, and
// with `exact`, when it looks like another.
std::string PrintableCharacter(const std::string& text, size_t i, UINT codePage, size_t* length,
                               bool exact = false) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    *length = i + 1 < text.size() && IsDBCSLeadByteEx(codePage, byte) ? 2 : 1;
    wchar_t wide[2];
    const int characters = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, &text[i],
                                               static_cast<int>(*length), wide, 2);
    if (characters != 1 || !Printable(wide[0]) || (exact && LooksLikeAnother(wide[0])))
        return std::string();
    char utf8[4];
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, 1, utf8, sizeof utf8, nullptr, nullptr);
    return std::string(utf8, static_cast<size_t>(bytes > 0 ? bytes : 0));
}

// Text of the ANSI code page (what the plug-in, Windows and our arguments hand us) as UTF-8 for
// the terminal. What would not print, and bytes that are no character of the code page, show
// as \xHH; with `exact`, so do characters that look like a blank or like nothing, and a
// backslash shows doubled, so that two texts that differ show apart.
std::string Shown(const std::string& text, bool exact = false) {
    const UINT codePage = GetACP();
    std::string shown;
    for (size_t i = 0; i < text.size();) {
        size_t length = 1;
        const std::string character = PrintableCharacter(text, i, codePage, &length, exact);
        if (text[i] == '\\') {
            shown += exact ? "\\\\" : "\\";
            i += 1;
        } else if (!character.empty()) {
            shown += character;
            i += length;
        } else {
            // Only the first byte: a broken pair's second byte may well be a character itself.
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[i]));
            shown += hex;
            i += 1;
        }
    }
    return shown;
}

// Text of the ANSI code page as UTF-8 for a line to paste, with ASCII control characters kept
// for ShellWord to quote; false when another character would not print.
bool PastableText(const std::string& text, std::string* utf8) {
    const UINT codePage = GetACP();
    utf8->clear();
    for (size_t i = 0; i < text.size();) {
        // ASCII is itself in every ANSI code page and in UTF-8, and never begins a pair.
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            *utf8 += text[i++];
            continue;
        }
        size_t length = 1;
        const std::string character = PrintableCharacter(text, i, codePage, &length);
        if (character.empty()) return false;
        *utf8 += character;
        i += length;
    }
    return true;
}

// A UTF-8 word as a POSIX shell reads it back, quoted when it needs to be. A word with an ASCII
// control character gets $'...' quoting, the only kind in which a pasted line can hold one;
// the escapes are octal, since a hexadecimal escape may swallow a digit after it. It goes byte
// by byte, which is safe in UTF-8 only: there no byte of a longer character is ASCII, while in
// a double-byte code page the second byte of a character may be a backslash.
std::string ShellWord(const std::string& word) {
    bool plain = !word.empty();
    bool control = false;
    for (unsigned char c : word) {
        plain = plain && (std::isalnum(c) || std::strchr("_./=:-", c) != nullptr);
        control = control || c < 0x20 || c == 0x7F;
    }
    if (plain) return word;
    if (!control) {
        std::string quoted = "'";
        for (char c : word)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    }
    std::string quoted = "$'";
    for (unsigned char c : word) {
        if (c == '\t') {
            quoted += "\\t";
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", c);
            quoted += octal;
        } else if (c == '\\' || c == '\'') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "'";
}

int UsageError(const std::string& problem) {
    Print(stderr, "plughost: %s\n\n%s", problem.c_str(), kUsage);
    return kExitUsage;
}

// A decimal number as a person types it: an optional sign, then digits and nothing else.
bool LooksLikeNumber(const std::string& text) {
    const size_t start = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    return text.size() > start && text.find_first_not_of("0123456789", start) == std::string::npos;
}

// The number in `text` if it is one and lies in [lowest, highest].
bool NumberInRange(const std::string& text, long long lowest, long long highest, long long* value) {
    if (!LooksLikeNumber(text)) return false;
    const bool negative = text[0] == '-';
    long long magnitude = 0;
    for (size_t i = std::isdigit(static_cast<unsigned char>(text[0])) ? 0 : 1; i < text.size();
         ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > 99999999999LL) return false; // beyond every range here; no overflow
    }
    *value = negative ? -magnitude : magnitude;
    return *value >= lowest && *value <= highest;
}

// `what` says whose number it is: "--wait takes", "a function number is".
std::string RangeProblem(const char* what, const std::string& text, long long lowest,
                         long long highest) {
    return std::string(what) + " a whole number from " + std::to_string(lowest) + " to " +
           std::to_string(highest) + ", not \"" + Shown(text) + "\"";
}

std::string PluginString(HMODULE module, UINT id) {
    char text[512] = "";
    const int length = LoadStringA(module, id, text, sizeof text);
    return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

// The dialogs of this run that nobody answers: each is closed once it has waited its time.
struct WaitingDialog {
    HWND window;
    DWORD shownAt;
    std::string kind;
    bool closed;
};
std::vector<WaitingDialog> waitingDialogs;
DWORD waitLimitMs = 0;
bool dialogWentUnanswered = false;
bool choiceNotListed = false;

bool HasButton(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    return button != nullptr && IsWindowVisible(button);
}

void CALLBACK CloseUnansweredDialogs(HWND, UINT, UINT_PTR, DWORD) {
    const DWORD now = GetTickCount();
    // Newest first: a dialog opened from another is closed before the one that opened it.
    for (auto dialog = waitingDialogs.rbegin(); dialog != waitingDialogs.rend(); ++dialog) {
        if (dialog->closed || !IsWindow(dialog->window) || now - dialog->shownAt < waitLimitMs) {
            continue;
        }
        dialog->closed = true;
        dialogWentUnanswered = true;
        const char* how = "Cancel";
        if (HasButton(dialog->window, IDCANCEL)) {
            hostside::PressButton(dialog->window, IDCANCEL);
        } else if (HasButton(dialog->window, IDOK)) {
            hostside::PressButton(dialog->window, IDOK);
            how = "OK";
        } else {
            PostMessageA(dialog->window, WM_CLOSE, 0, 0);
            how = "its close box";
        }
        const std::string title = hostside::WindowText(dialog->window);
        const std::string named = title.empty() ? "" : " \"" + Shown(title) + "\"";
        Print(stdout, "no answer within %lu s: closed the %s%s with %s\n",
              static_cast<unsigned long>(waitLimitMs / 1000), dialog->kind.c_str(), named.c_str(),
              how);
    }
    for (auto dialog = waitingDialogs.begin(); dialog != waitingDialogs.end();)
        dialog = IsWindow(dialog->window) ? dialog + 1 : waitingDialogs.erase(dialog);
}

// Answers the dialogs of one call as the options say and reports every error box.
void AnswerDialog(const Options& options, HWND dialog) {
    HWND combo = FindWindowExA(dialog, nullptr, "ComboBox", nullptr);
    const bool isPrintSetup = combo != nullptr;
    const bool isMessageBox = !isPrintSetup && hostside::MessageBoxText(dialog).size() > 0 &&
                              GetDlgItem(dialog, 206) == nullptr;
    if (isMessageBox) {
        Print(stdout, "error box \"%s\": %s\n", Shown(hostside::WindowText(dialog)).c_str(),
              Shown(hostside::MessageBoxText(dialog)).c_str());
    }
    if (!options.screenshot.empty() && !isMessageBox) {
        static bool taken = false;
        if (!taken) {
            taken = hostside::SaveWindowPicture(dialog, options.screenshot);
            Print(stdout, "%s %s\n", taken ? "saved a picture of the dialog in" : "could not save",
                  Shown(options.screenshot).c_str());
        }
    }
    if (!options.answerDialogs) {
        const char* kind = isPrintSetup ? "print-setup dialog" : isMessageBox ? "box" : "dialog";
        waitingDialogs.push_back({dialog, GetTickCount(), kind, false});
        return;
    }
    if (isPrintSetup) {
        if (options.cancel) {
            hostside::PressButton(dialog, IDCANCEL);
            return;
        }
        if (!options.choosePrinter.empty() &&
            !hostside::ChoosePrinterInSetupDialog(dialog, options.choosePrinter)) {
            Print(stdout, "the print-setup dialog has no printer \"%s\"; cancelling\n",
                  Shown(options.choosePrinter).c_str());
            choiceNotListed = true;
            hostside::PressButton(dialog, IDCANCEL);
            return;
        }
        Print(stdout, "print-setup dialog: choosing \"%s\"\n",
              Shown(hostside::SelectedPrinterInSetupDialog(dialog)).c_str());
    }
    hostside::PressButton(dialog, IDOK);
}

// A command line that gives `words` back exactly when pasted into a POSIX shell, empty if one
// of them holds a character that the terminal cannot be shown as it is.
std::string PastableLine(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        std::string utf8;
        if (!PastableText(word, &utf8)) return std::string();
        line += (line.empty() ? "" : " ") + ShellWord(utf8);
    }
    return line;
}

// Words the shell split at blanks may have been one text with blanks or several arguments
// with the "|" left out; only the user knows which, so both are offered.
int SeparateWordsError(const std::vector<std::string>& command) {
    std::string blanks = command[2];
    std::string bars = command[2];
    for (size_t i = 3; i < command.size(); ++i) {
        blanks += " " + command[i];
        bars += "|" + command[i];
    }
    const std::string kept = PastableLine({"call", command[1], blanks});
    const std::string joined = PastableLine({"call", command[1], bars});
    std::string problem = "\"call\" takes one argument text after the function, as one quoted "
                          "word";
    if (kept.empty() || joined.empty()) {
        return UsageError(problem + ", with the arguments separated by \"|\" (no example: a "
                                    "word holds a character that cannot be shown)");
    }
    return UsageError(problem + ". For one text with blanks in it, keep the blanks:\n  " + kept +
                      "\nor for separate arguments, join them with \"|\":\n  " + joined);
}

// Checks the command words; a `call` with a number also gets its number checked here, so that
// a mistyped number is a usage error whatever the plug-in.
int CheckCommand(Options* options) {
    std::vector<std::string>& command = options->command;
    if (command.empty()) return UsageError("no command given");
    const std::string verb = command[0];
    // "--" lets the argument text be an option name; the words after it are the text.
    size_t textStart = command.size();
    if (verb == "call" && command.size() >= 3 && command[2] == "--") {
        command.erase(command.begin() + 2);
        textStart = 2;
    }
    for (size_t i = 0; i < textStart; ++i) {
        if (!IsOptionName(command[i])) continue;
        std::string problem =
            "the option " + command[i] + " comes after PLUGIN; options go before PLUGIN";
        const std::string withSeparator = verb == "call" && i == 2 && command.size() == 3
                                              ? PastableLine({"call", command[1], "--", command[i]})
                                              : std::string();
        if (!withSeparator.empty()) {
            problem += " (for an argument text that is \"" + command[i] +
                       "\" itself, put \"--\" before it: " + withSeparator + ")";
        }
        return UsageError(problem);
    }
    if (verb == "list" || verb == "prefs" || verb == "startup") {
        if (command.size() == 1) return kExitOk;
        return UsageError("\"" + verb + "\" takes nothing after it");
    }
    if (verb != "call") return UsageError("cannot understand the command: " + Shown(verb));
    if (command.size() < 2) return UsageError("\"call\" needs a FUNCTION");
    if (command.size() > 3) return SeparateWordsError(command);
    if (LooksLikeNumber(command[1])) {
        long long number = 0;
        if (!NumberInRange(command[1], 0, 0xFFFFFFFFLL, &number))
            return UsageError(RangeProblem("a function number is", command[1], 0, 0xFFFFFFFFLL));
        options->functionIsNumber = true;
        options->functionNumber = static_cast<uint32_t>(number);
    }
    return kExitOk;
}

// Fills `options` from the command line; false with `exitCode` set when the run ends here.
bool ParseOptions(int argc, char** argv, Options* options, int* exitCode) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        long long number = 0;
        if (option == "-h" || option == "--help") {
            Write(stdout, kUsage);
            *exitCode = kExitOk;
            return false;
        } else if (option == "--ok" || option == "--cancel" || (option == "--choose" && hasValue)) {
            std::string answer = option;
            std::string given = option;
            if (option == "--choose") {
                const std::string printer = argv[++i];
                if (printer.empty()) {
                    *exitCode = UsageError("--choose takes a printer's name, not an empty text "
                                           "(--ok answers with the printer the dialog opens "
                                           "with)");
                    return false;
                }
                // Exact, so that two names that differ only in a backslash show apart.
                answer += " \"" + Shown(printer, true) + "\"";
                given += '\0' + printer;
                options->choosePrinter = printer;
            }
            // One would otherwise silently win over the other.
            if (!options->answerGiven.empty() && options->answerGiven != given) {
                *exitCode = UsageError(options->answer + " and " + answer +
                                       " are two answers to the print-setup dialog; give one "
                                       "of --ok, --choose PRINTER and --cancel");
                return false;
            }
            options->answer = answer;
            options->answerGiven = given;
            options->answerDialogs = true;
            options->cancel = option == "--cancel";
        } else if (option == "--window-title" && hasValue) {
            options->windowTitle = argv[++i];
            options->haveWindowTitle = true;
        } else if (option == "--screenshot" && hasValue) {
            options->screenshot = argv[++i];
        } else if (option == "--host-version" && hasValue) {
            if (!NumberInRange(argv[++i], -32768, 32767, &number)) {
                *exitCode =
                    UsageError(RangeProblem("--host-version takes", argv[i], -32768, 32767));
                return false;
            }
            options->hostVersion = static_cast<int16_t>(number);
        } else if (option == "--wait" && hasValue) {
            if (!NumberInRange(argv[++i], 1, kLongestWaitSeconds, &number)) {
                *exitCode =
                    UsageError(RangeProblem("--wait takes", argv[i], 1, kLongestWaitSeconds));
                return false;
            }
            options->waitMs = static_cast<DWORD>(number * 1000);
        } else {
            *exitCode = UsageError("unknown option or missing value: " + Shown(option));
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
    *exitCode = CheckCommand(options);
    return *exitCode == kExitOk;
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

    hostside::DialogWatch watch([&options](HWND dialog) { AnswerDialog(options, dialog); });
    waitLimitMs = options.waitMs;
    // A thread timer, like the watch's, so that it fires inside every modal loop.
    const UINT_PTR waitTimer = SetTimer(nullptr, 0, 100, CloseUnansweredDialogs);

    hostside::CallRecord startup(plugin.module);
    startup.SetMessage(hostside::kMessageStartup);
    startup.SetHostVersion(options.hostVersion);
    hostside::CallEntryPoint(plugin.entry, startup.Bytes());
    const int32_t answer = startup.Result();
    if (answer != 4) {
        Print(stdout, "start-up: host version %d refused (answer %ld)\n", options.hostVersion,
              static_cast<long>(answer));
        // The run stopped at start-up, which the status says; the dialog is still reported.
        if (dialogWentUnanswered) Print(stderr, "plughost: a dialog went unanswered\n");
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
    KillTimer(nullptr, waitTimer);
    if (titleWindow != nullptr) DestroyWindow(titleWindow);
    if (dialogWentUnanswered) {
        Print(stderr, "plughost: a dialog went unanswered\n");
        return kExitUnanswered;
    }
    if (choiceNotListed) {
        Print(stderr, "plughost: the printer to choose was not in the print-setup dialog\n");
        return kExitNoSuchPrinter;
    }
    return kExitOk;
}
