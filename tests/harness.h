// Plays the host for the tests: loads the built plug-in from beside the test program, fills
// call records at the host's offsets and calls the entry point.
#pragma once

#include "dialog_driver.h"
#include "host_side.h"
#include "import_patch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The plug-in library, loaded once per test program.
HMODULE PluginModule();
hostside::EntryPoint PluginEntry();

struct CallOutcome {
    std::string result; // the result block's bytes afterwards
    bool resultTouched; // whether resizeHandle was called on the result handle
    std::vector<hostside::ServiceCall> log;
    hostside::Handle argumentHandle;
    hostside::Handle resultHandle;
};

// The result block's content before every call, so an untouched handle can be recognised.
extern const char kResultSentinel[];

// Runs external function `number` with the argument text `text` and checks, as non-fatal
// failures, what every call must leave alone: the record's bytes, the stack pointer, the
// canaries around both blocks, the argument text and the argument handle's lock balance.
CallOutcome CallFunction(uint32_t number, const std::string& text);

// Sends start-up with `hostVersion` and answers the plug-in's answer.
int32_t Startup(int16_t hostVersion);

// Sends a message that carries no values (idle, shutdown, preferences, unknown codes).
void SendHostMessage(uint8_t message);

// While it lives, every message box that opens on the thread is read and closed with OK.
struct SeenBox {
    std::string caption;
    std::string text;
    HWND owner;
};
class MessageBoxCatcher {
  public:
    MessageBoxCatcher();
    const std::vector<SeenBox>& Boxes() const { return boxes_; }

  private:
    std::vector<SeenBox> boxes_;
    hostside::DialogWatch watch_;
};

// A top-level window of the test with `title`, active while the object lives.
class ActiveWindow {
  public:
    explicit ActiveWindow(const std::string& title);
    ~ActiveWindow();
    HWND Handle() const { return window_; }

  private:
    HWND window_;
};

// A printer opened for administration whose stored defaults (level 8) are put back, and the
// printer closed, when the object ends. Opened() is false where the printer cannot be
// administered, and then nothing is kept.
class SavedPrinterDefaults {
  public:
    explicit SavedPrinterDefaults(const char* printer);
    ~SavedPrinterDefaults();
    SavedPrinterDefaults(const SavedPrinterDefaults&) = delete;
    SavedPrinterDefaults& operator=(const SavedPrinterDefaults&) = delete;
    bool Opened() const { return printer_ != nullptr; }

  private:
    HANDLE printer_ = nullptr;
    std::vector<BYTE> saved_;
};

// Where the test program lives, with a trailing backslash.
std::string ProgramFolder();

// Whether this process has ANSI code page `codePage`. Wine takes the code page from the Unix
// locale, so a run meant for one names it in QV_EXPECT_ACP, and a process that did not get the
// code page it names fails the calling test.
bool RunsInAnsiCodePage(UINT codePage);
