// External function 2: the print-setup dialog, answering device, driver and port.
#include "printer_operations.h"

void SelectPrinter(HostHandle /*argumentHandle*/, HostHandle /*resultHandle*/) {}
