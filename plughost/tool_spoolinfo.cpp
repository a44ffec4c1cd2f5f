// Prints a printer's global default copies and paper source as the spooler stores them.
// The demonstration shows with it what functions 4 and 5 left behind.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <vector>

namespace {

const DWORD kGlobalDefaultsLevel = 8;

// Reads level 8 into `block`; false with the reason printed.
bool ReadGlobalDefaults(HANDLE printer, const char* name, std::vector<BYTE>* block) {
    DWORD needed = 0;
    SetLastError(0);
    if (!GetPrinterA(printer, kGlobalDefaultsLevel, nullptr, 0, &needed) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        std::fprintf(stderr, "spoolinfo: %s: level 8 cannot be read (error %lu)\n", name,
                     GetLastError());
        return false;
    }
    block->assign(needed, 0);
    if (needed == 0 ||
        !GetPrinterA(printer, kGlobalDefaultsLevel, block->data(), needed, &needed)) {
        std::fprintf(stderr, "spoolinfo: %s: level 8 cannot be read (error %lu)\n", name,
                     GetLastError());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: spoolinfo PRINTER\n"
                             "Prints the copies and default paper source that the spooler keeps\n"
                             "as PRINTER's global defaults.\n");
        return 2;
    }
    char* name = argv[1];
    HANDLE printer = nullptr;
    if (!OpenPrinterA(name, &printer, nullptr)) {
        std::fprintf(stderr, "spoolinfo: %s: no such printer (error %lu)\n", name, GetLastError());
        return 1;
    }
    std::vector<BYTE> block;
    const bool read = ReadGlobalDefaults(printer, name, &block);
    ClosePrinter(printer);
    if (!read) return 1;

    const DEVMODEA* devmode = reinterpret_cast<const PRINTER_INFO_8A*>(block.data())->pDevMode;
    if (devmode == nullptr) {
        std::printf("%s: no global defaults stored\n", name);
        return 0;
    }
    std::printf("%s: copies %d, default source %d\n", name, devmode->dmCopies,
                devmode->dmDefaultSource);
    return 0;
}
