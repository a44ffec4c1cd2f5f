// The bundled host's command line: its options, its command words and its usage errors.
#include "command_line.h"

#include "terminal_text.h"

#include <cctype>

namespace {

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

} // namespace

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
