#!/usr/bin/python3
"""Shows that check_image.py finds what it claims: images built the toolchain's stock way,
the shipped setup.exe with one defect put in at a time, single instructions, and printf
formats.

    self_test.py SETUP.EXE STOCK.EXE STOCK.DLL
"""
import os
import sys
import tempfile
import unittest

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_image  # noqa: E402

SETUP, STOCK_EXE, STOCK_DLL = sys.argv[1:4]
del sys.argv[1:4]

TLS = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_TLS"]
RELOCATIONS = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]


def findings_of(pe):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "image.exe")
        pe.write(filename=path)
        return check_image.image_findings(path)


def code_offset(pe):
    text = next(s for s in pe.sections if s.Name.startswith(b".text"))
    return text.PointerToRawData, pe.OPTIONAL_HEADER.ImageBase + text.VirtualAddress


def rename_import(pe, old, new):
    """Writes NEW over the hint-name entry of the import OLD (NEW is not longer)."""
    for entry in pe.DIRECTORY_ENTRY_IMPORT:
        for symbol in entry.imports:
            if symbol.name == old.encode():
                pe.set_bytes_at_rva(symbol.hint_name_table_rva + 2, new.encode() + b"\0")
                return
    raise AssertionError("setup.exe imports no %s" % old)


class ShippedImageWithOneDefect(unittest.TestCase):
    def setUp(self):
        self.pe = pefile.PE(SETUP)

    def assertFinds(self, expected):
        found = findings_of(self.pe)
        self.assertTrue(any(expected in line for line in found),
                        "no finding with %r in %s" % (expected, found))

    def test_the_shipped_image_has_no_finding(self):
        self.assertEqual(findings_of(self.pe), [])

    def test_headers(self):
        optional = self.pe.OPTIONAL_HEADER
        cases = [
            (lambda: setattr(optional, "MajorSubsystemVersion", 4), "subsystem version 4.10"),
            (lambda: setattr(optional, "MinorSubsystemVersion", 0), "subsystem version 3.0"),
            (lambda: setattr(optional, "Subsystem", 3), "subsystem 3, not Windows GUI"),
            (lambda: setattr(optional, "DllCharacteristics", 0x40), "DYNAMIC_BASE"),
            (lambda: setattr(optional, "DllCharacteristics", 0x100), "NX_COMPAT"),
            (lambda: setattr(optional.DATA_DIRECTORY[RELOCATIONS], "Size", 0),
             "no base relocations"),
            (lambda: setattr(optional.DATA_DIRECTORY[TLS], "VirtualAddress", 0x1000),
             "TLS directory present"),
            (lambda: setattr(self.pe.FILE_HEADER, "PointerToSymbolTable", 0x400),
             "not stripped"),
        ]
        for change, expected in cases:
            with self.subTest(expected):
                self.setUp()
                optional = self.pe.OPTIONAL_HEADER
                change()
                self.assertFinds(expected)

    def test_imports(self):
        cases = [
            ("WritePrivateProfileStringA", "MoveFileExA",
             "KERNEL32.dll!MoveFileExA: a failing stub on win95"),
            ("WritePrivateProfileStringA", "GetModuleHandleW",
             "KERNEL32.dll!GetModuleHandleW: a failing stub on win95"),
            ("WritePrivateProfileStringA", "GetLongPathNameA",
             "KERNEL32.dll!GetLongPathNameA: missing on nt40"),
            ("WritePrivateProfileStringA", "CancelIo", "KERNEL32.dll!CancelIo: missing on nt351"),
            ("WritePrivateProfileStringA", "WritePrivateProfileStringQ",
             "not exported on win95"),
            ("fopen", "fopeq", "crtdll.dll!fopeq: not exported on win32s"),
        ]
        for old, new, expected in cases:
            with self.subTest(new):
                self.setUp()
                rename_import(self.pe, old, new)
                self.assertFinds(expected)

    def test_a_dll_that_a_target_lacks(self):
        entry = next(e for e in self.pe.DIRECTORY_ENTRY_IMPORT if e.dll == b"crtdll.dll")
        self.pe.set_bytes_at_rva(entry.struct.Name, b"msvcrt.dll\0")
        self.assertFinds("import from msvcrt.dll: absent on win95")

    def test_instructions(self):
        cases = [
            (b"\x0f\x44\xc2", "Pentium Pro instruction (cmove)"),
            (b"\xdb\xf1", "Pentium Pro instruction (fcomi)"),
            (b"\x0f\xc8", "80486 instruction (bswap)"),
            (b"\xf0\x0f\xb1\x11", "80486 instruction (cmpxchg)"),
            (b"\x0f\xa2", "Pentium instruction (cpuid)"),
            (b"\x0f\x31", "Pentium instruction (rdtsc)"),
            (b"\x0f\x1f\x00", "Pentium Pro instruction (multi-byte nop)"),
            (b"\x0f\x0b", "Pentium Pro instruction (ud2)"),
            (b"\x0f\x6f\xc1", "MMX/SSE register"),
            (b"\x66\x0f\xef\xc0", "MMX/SSE register"),
            (b"\xf3\x0f\xbc\xc0", "SSE and later instruction (tzcnt)"),
            (b"\xf3\x0f\xb8\xc0", "SSE and later instruction (popcnt)"),
            (b"\x0f\x34", "Pentium II instruction (sysenter)"),
        ]
        for code, expected in cases:
            with self.subTest(expected):
                self.setUp()
                offset, address = code_offset(self.pe)
                # The bytes go in over the first instructions, padded so decoding stays in step
                # with the original code after them.
                self.pe.set_bytes_at_offset(offset, code + b"\x90" * (16 - len(code)))
                self.pe.set_bytes_at_offset(offset + 16, b"\x90" * 16)
                self.assertFinds(".text at 0x%x in .text: %s" % (address, expected))


class StockImages(unittest.TestCase):
    def test_the_stock_exe(self):
        found = "\n".join(check_image.image_findings(STOCK_EXE))
        for expected in ("TLS directory present", "import from msvcrt.dll: absent on win95",
                         "DllCharacteristics has DYNAMIC_BASE", "Pentium Pro instruction",
                         "subsystem version 4.0"):
            with self.subTest(expected):
                self.assertIn(expected, found)

    def test_the_stock_dll(self):
        found = "\n".join(check_image.image_findings(STOCK_DLL))
        for expected in ("subsystem 3, not Windows GUI", "TLS directory present",
                         "80486 instruction (cmpxchg)"):
            with self.subTest(expected):
                self.assertIn(expected, found)


class SingleInstructions(unittest.TestCase):
    def test_table(self):
        cases = [
            ("mov eax,DWORD PTR [esp+0x4]", None),
            ("rep stos DWORD PTR es:[edi],eax", None),
            ("repz cmps BYTE PTR ds:[esi],BYTE PTR es:[edi]", None),
            ("repz ret", None),
            ("lock inc DWORD PTR [eax]", None),
            ("xchg ax,ax", None),
            ("fnstsw ax", None),
            ("fucompp", None),
            ("shld eax,edx,0x4", None),
            ("rep bsf eax,edx", "rep prefix on bsf"),
            ("lock xadd DWORD PTR [eax],edx", "80486"),
            ("cmovne eax,edx", "Pentium Pro"),
            ("fucomip st,st(1)", "Pentium Pro"),
            ("cmpxchg8b QWORD PTR [esi]", "Pentium"),
            ("movd mm0,eax", "MMX/SSE register"),
            ("addss xmm0,DWORD PTR [eax]", "MMX/SSE register"),
            ("nop WORD PTR cs:[eax+eax*1+0x0]", "multi-byte nop"),
            ("(bad)", "no instruction"),
            ("arpl_invented eax", "not an 80386/80387 instruction"),
        ]
        for text, expected in cases:
            with self.subTest(text):
                problem = check_image.instruction_problem(text)
                if expected is None:
                    self.assertIsNone(problem)
                else:
                    self.assertIn(expected, problem or "")


class Formats(unittest.TestCase):
    def test_c99_length_modifiers_are_found(self):
        lines = ['snprintf(b, n, "%zu %lu", a, c);', 'printf("%lld\\n", x);',
                 'printf("%-8hhx|", c);', 'printf("%I64d", v);', 'printf("100%%zu %5.2f %ld");',
                 'printf("%s %d %%lld", s, i);']
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "a.cpp"), "w") as f:
                f.write("\n".join(lines) + "\n")
            with open(os.path.join(folder, "notes.txt"), "w") as f:
                f.write("%zu in a text file is no code\n")
            found = check_image.format_findings([folder])
        self.assertEqual([(line.split(":")[1], line.split()[4]) for line in found],
                         [("1", "%zu"), ("2", "%lld"), ("3", "%-8hhx"), ("4", "%I64d")])


if __name__ == "__main__":
    unittest.main()
