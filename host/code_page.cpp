// The process's ANSI code page, for the pure text routines.
#include "code_page.h"

#include <windows.h>

namespace {

bool IsAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

} // namespace

AnsiCodePage ProcessAnsiCodePage() {
    return {IsAnsiLeadByte, GetACP() == CP_UTF8};
}
