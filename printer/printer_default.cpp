// External functions 4 and 5: a printer's global default paper source and copies.
#include "printer_operations.h"

void SetPrinterDefaultSource(HostHandle /*argumentHandle*/, HostHandle /*resultHandle*/) {}
void SetPrinterDefaultCopies(HostHandle /*argumentHandle*/, HostHandle /*resultHandle*/) {}
