#!/usr/bin/env python3
"""Checks the built plug-in library as the host and Windows see it: its export, its imports
and the resources it carries."""
import struct
import sys
import unittest

import pefile

PLUGIN = None

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "winspool.drv",
               "comdlg32.dll", "msvcrt.dll"}
# Every function the library may import: each exists on Windows XP, where the host versions that
# this plug-in serves run. A new import belongs here only once it is known to exist there.
XP_IMPORTS = {
    "advapi32.dll": {"RegCloseKey", "RegCreateKeyExA", "RegQueryValueExA", "RegSetValueExA"},
    "comdlg32.dll": {"PrintDlgA"},
    "gdi32.dll": {"CreateSolidBrush", "DeleteObject", "GetObjectA", "SetBkColor", "SetBkMode",
                  "SetTextColor"},
    "kernel32.dll": {
        "CloseHandle", "CreateSemaphoreW", "DeleteCriticalSection", "EnterCriticalSection",
        "FreeLibrary", "GetCurrentThreadId", "GetLastError", "GetModuleHandleA",
        "GetModuleHandleW", "GetProcAddress", "GlobalAlloc", "GlobalFree", "GlobalLock",
        "GlobalSize", "GlobalUnlock", "InitializeCriticalSection", "IsDBCSLeadByte",
        "IsDBCSLeadByteEx", "LeaveCriticalSection", "LoadLibraryA", "LoadLibraryW",
        "MultiByteToWideChar", "ReleaseSemaphore", "SetLastError", "Sleep", "TlsAlloc", "TlsFree",
        "TlsGetValue", "TlsSetValue", "VirtualAlloc", "VirtualFree", "VirtualProtect",
        "VirtualQuery", "WaitForSingleObject", "WideCharToMultiByte"},
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
        for entry in self.pe.DIRECTORY_ENTRY_IMPORT:
            dll = entry.dll.decode().lower()
            if dll == "msvcrt.dll":
                continue  # the system's C runtime, on every Windows
            names = {imported.name.decode() for imported in entry.imports}
            self.assertLessEqual(names, XP_IMPORTS.get(dll, set()),
                                 "%s: %s" % (dll, names - XP_IMPORTS.get(dll, set())))

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


if __name__ == "__main__":
    PLUGIN = sys.argv.pop(1)
    unittest.main(verbosity=1)
