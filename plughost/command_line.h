// The bundled host's command line: its options, its command words and its usage errors.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 2,
    kExitCannotLoad = 3,
    kExitStartupRefused = 4,
    kExitUnknownFunction = 5,
    kExitUnanswered = 6,
    kExitNoSuchPrinter = 7,
};

const long long kDefaultWaitSeconds = 180;

// What the command line asks for.
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

// Fills `options` from the command line; false with `exitCode` set when the run ends here (the
// help was asked for, or a usage error was reported).
bool ParseOptions(int argc, char** argv, Options* options, int* exitCode);
