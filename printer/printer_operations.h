// External functions 1, 2, 4 and 5: choosing and setting up printers.
#pragma once

#include "../host/call_record.h"

// Function 1: writes the running host product's "Printer" preference.
void SetHostPrinter(HostHandle argumentHandle, HostHandle resultHandle);

// Function 2: lets the user choose a printer in the print-setup dialog.
void SelectPrinter(HostHandle argumentHandle, HostHandle resultHandle);

// Functions 4 and 5: change a printer's global default paper source or number of copies.
void SetPrinterDefaultSource(HostHandle argumentHandle, HostHandle resultHandle);
void SetPrinterDefaultCopies(HostHandle argumentHandle, HostHandle resultHandle);
