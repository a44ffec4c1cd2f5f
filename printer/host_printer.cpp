// External function 1: makes a printer the one the running host product uses.
#include "printer_operations.h"

void SetHostPrinter(HostHandle /*argumentHandle*/, HostHandle /*resultHandle*/) {}
