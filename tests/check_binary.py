#!/usr/bin/env python3
"""Checks the built plug-in library as the host and Windows see it: its export, its imports,
the resources it carries, and the hardening a security review looks for."""
import re
import struct
import sys
import unittest

import pefile

PLUGIN = None

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "winspool.drv",
               "comdlg32.dll", "msvcrt.dll"}
# Every function the library may import: each exists on Windows XP, where the host versions that
# this plug-in serves run. A new import belongs here only once it is known to exist there. The
# plug-in takes nothing from the C runtime's heap and has no C++ exceptions, so neither malloc
# (which operator new and the string class would bring back) nor the C++ runtime's thread and
# unwinding support is here; calloc, realloc and free are those of the runtime's start-up code,
# which keeps its exit list in one block made at load and freed at unload.
XP_IMPORTS = {
    "advapi32.dll": {"RegCloseKey", "RegCreateKeyExA", "RegOpenKeyExA", "RegQueryValueExA",
                     "RegSetValueExA"},
    "comdlg32.dll": {"PrintDlgA"},
    "gdi32.dll": {"CreateSolidBrush", "DeleteObject", "GetObjectA", "SetBkColor", "SetBkMode",
                  "SetTextColor"},
    "kernel32.dll": {
        "DeleteCriticalSection", "EnterCriticalSection", "FreeLibrary", "GetACP",
        "GetCurrentProcess", "GetCurrentProcessId", "GetCurrentThreadId", "GetLastError",
        "GetModuleHandleA", "GetProcAddress", "GetSystemTimeAsFileTime", "GetTickCount",
        "GlobalAlloc", "GlobalFree", "GlobalLock", "GlobalSize", "GlobalUnlock",
        "InitializeCriticalSection", "IsDBCSLeadByte", "LeaveCriticalSection", "LoadLibraryA",
        "QueryPerformanceCounter", "SetLastError", "Sleep", "TerminateProcess", "TlsGetValue",
        "VirtualAlloc", "VirtualFree", "VirtualProtect", "VirtualQuery"},
    "msvcrt.dll": {
        "_amsg_exit", "_initterm", "_iob", "_lock", "_unlock", "abort", "calloc", "free", "fwrite",
        "memchr", "memcmp", "memcpy", "memmove", "realloc", "strlen", "strncmp", "vfprintf"},
    "user32.dll": {
        "DialogBoxParamA", "EndDialog", "EnumChildWindows", "GetActiveWindow", "GetDlgCtrlID",
        "GetDlgItem", "GetWindowLongA", "GetWindowTextA", "GetWindowTextLengthA", "LoadStringA",
        "MessageBoxA", "PostMessageA", "SendMessageA", "SendMessageTimeoutA", "SetDlgItemTextA",
        "SetFocus", "wsprintfA"},
    "winspool.drv": {"ClosePrinter", "DocumentPropertiesA", "GetPrinterA", "OpenPrinterA",
                     "SetPrinterA"},
}
GERMAN = 1031
ENGLISH_US = 1033
STRINGS = {
    128: "VE Zederar",
    131: "QV041YYYYnY",
    144: "VEZederar-Version",
    145: "VEZederar-SetPrinter",
    146: "VEZederar-SelectPrinter",
    200: "DO-Dezevad Azuzev 2.3",
    22005: "VE Zederar Plugin Error",
    22006: "error %li",
}


def resources(pe, type_id):
    """Yields (name id, language, data bytes) of every resource of one type."""
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != type_id:
            continue
        for name in entry.directory.entries:
            for lang in name.directory.entries:
                rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
                yield name.id, lang.id, pe.get_data(rva, size)


def string_table(pe):
    """Every string resource as {id: (text, language)}."""
    table = {}
    for block, lang, data in resources(pe, pefile.RESOURCE_TYPE["RT_STRING"]):
        offset = 0
        for i in range(16):
            (length,) = struct.unpack_from("<H", data, offset)
            offset += 2
            if length:
                text = data[offset:offset + 2 * length].decode("utf-16-le")
                table[(block - 1) * 16 + i] = (text, lang)
            offset += 2 * length
    return table


class Library(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(PLUGIN)

    def test_is_a_32_bit_dll(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, 0x14C)
        self.assertTrue(self.pe.FILE_HEADER.Characteristics & 0x2000, "not a DLL")

    def test_exports_only_the_entry_point_by_name_at_ordinal_1(self):
        exports = self.pe.DIRECTORY_ENTRY_EXPORT
        self.assertEqual(self.pe.get_string_at_rva(exports.struct.Name), b"QV_Printer7.fmx")
        self.assertEqual([(s.name, s.ordinal) for s in exports.symbols],
                         [(b"FMExternCallProc", 1)])

    def test_imports_windows_system_libraries_only(self):
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertLessEqual(imported, SYSTEM_DLLS, imported - SYSTEM_DLLS)

    def test_imports_only_functions_that_windows_xp_has(self):
        unexpected = {}
        for entry in self.pe.DIRECTORY_ENTRY_IMPORT:
            dll = entry.dll.decode().lower()
            names = {imported.name.decode() for imported in entry.imports}
            if names - XP_IMPORTS.get(dll, set()):
                unexpected[dll] = sorted(names - XP_IMPORTS.get(dll, set()))
        self.assertFalse(unexpected, "imports that are not on the list")

    def test_string_table(self):
        table = string_table(self.pe)
        for string_id, text in STRINGS.items():
            self.assertEqual(table.get(string_id), (text, GERMAN), string_id)
        notice, lang = table[129]
        self.assertEqual(lang, GERMAN)
        self.assertTrue(0 < len(notice) <= 40, notice)
        self.assertEqual(sorted(table), sorted(list(STRINGS) + [129]))

    def test_version_record(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00020003, 0))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00020003, 0))
        self.assertEqual((fixed.FileFlagsMask, fixed.FileFlags), (0x3F, 0x20))
        self.assertEqual((fixed.FileOS, fixed.FileType, fixed.FileSubtype), (4, 1, 0))
        self.assertEqual((fixed.FileDateMS, fixed.FileDateLS), (0, 0))
        info = {}
        for file_info in self.pe.FileInfo[0]:
            if file_info.Key == b"StringFileInfo":
                for table in file_info.StringTable:
                    self.assertEqual(table.LangID, b"040904e4")
                    info.update({k.decode(): v.decode() for k, v in table.entries.items()})
            if file_info.Key == b"VarFileInfo":
                self.assertEqual(file_info.Var[0].entry, {b"Translation": "0x0409 0x04e4"})
        notice = string_table(self.pe)[129][0]
        self.assertEqual(info, {
            "CompanyName": notice,
            "FileDescription": "DO-Dezevad Azuzev 2.3",
            "FileVersion": "2.3",
            "InternalName": "TESMUN Plugin",
            "LegalCopyright": notice,
            "OriginalFilename": "QV_PRINTER.FMX",
            "ProductName": "DO-Dezevad Azuzev 2.3",
            "ProductVersion": "2, 3, 0, 0",
            "SpecialBuild": "only for FM7/8",
        })


# The stack guard's value before it is seeded (host/stack_guard.cpp), which finds the word in
# the stripped library.
UNSEEDED_STACK_GUARD = 0xBB40E64E
DYNAMIC_BASE, NX_COMPAT, NO_SEH = 0x0040, 0x0100, 0x0400
SCN_EXECUTE, SCN_WRITE = 0x20000000, 0x80000000


class Hardening(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(PLUGIN)
        cls.code = b"".join(s.get_data() for s in cls.pe.sections
                            if s.Characteristics & SCN_EXECUTE)

    def test_aslr_and_dep(self):
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        self.assertEqual(flags & (DYNAMIC_BASE | NX_COMPAT), DYNAMIC_BASE | NX_COMPAT, hex(flags))

    def test_relocations_are_there_to_move_it(self):
        self.assertFalse(self.pe.FILE_HEADER.Characteristics & 0x0001, "relocations stripped")
        relocations = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[5]
        self.assertGreater(relocations.Size, 0)
        self.assertIn(b".reloc", [s.Name.rstrip(b"\0") for s in self.pe.sections])

    def test_no_section_is_both_writable_and_executable(self):
        for section in self.pe.sections:
            both = section.Characteristics & (SCN_WRITE | SCN_EXECUTE)
            self.assertNotEqual(both, SCN_WRITE | SCN_EXECUTE, section.Name)

    def test_claims_no_exception_handlers_and_registers_none(self):
        # MinGW cannot write SafeSEH tables; instead the image says it has no handlers. That is
        # only true while no code writes a registration to fs:[0] (mov, pop or immediate). The
        # byte patterns are the forms compilers emit; a hand-written SIB-addressed or prefixed
        # store would pass unseen, so this is a tripwire, not a proof.
        self.assertTrue(self.pe.OPTIONAL_HEADER.DllCharacteristics & NO_SEH)
        writes = re.findall(rb"\x64(?:\xa3|\x89[\x05\x0d\x15\x1d\x25\x2d\x35\x3d]|\x8f\x05|"
                            rb"\xc7\x05)\x00\x00\x00\x00", self.code)
        self.assertEqual(writes, [])

    def test_functions_check_the_stack_guard(self):
        # GCC's i686 epilogue compares the frame's copy with "sub reg, [guard]"; the word is the
        # one in .data that holds the unseeded value.
        guards = [self.pe.OPTIONAL_HEADER.ImageBase + s.VirtualAddress + m.start()
                  for s in self.pe.sections if s.Name.rstrip(b"\0") == b".data"
                  for m in re.finditer(re.escape(struct.pack("<I", UNSEEDED_STACK_GUARD)),
                                       s.get_data())]
        self.assertEqual(len(guards), 1, "the stack guard word")
        checks = re.findall(rb"\x2b[\x05\x0d\x15\x1d\x25\x2d\x35\x3d]" +
                            re.escape(struct.pack("<I", guards[0])), self.code)
        self.assertGreaterEqual(len(checks), 5, "functions that check the stack guard")


if __name__ == "__main__":
    PLUGIN = sys.argv.pop(1)
    unittest.main(verbosity=1)
