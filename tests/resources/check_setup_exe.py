#!/usr/bin/python3
"""Checks the built setup.exe against its contract: the PE header settings a
distribution disk needs on the oldest systems, its imports and exports, and every
dialog template, string and icon resource, field by field.

    check_setup_exe.py SETUP.EXE
"""
import struct
import sys

import pefile

BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82
PUSH, DEFPUSH, TEXT, ICON = 0x50010000, 0x50010001, 0x50020000, 0x50000003
FIELD, LOG = 0x50810000, 0x50B10004
MODAL, MODELESS = 0x80C800C4, 0x90C800C4
NO_ID = 0xFFFF

# (id, title, style, (x, y, cx, cy), controls); a control is
# (id, class, style, (x, y, cx, cy), text), an int text being an icon resource number.
DIALOGS = [
    (200, "Tabrin Install - Introduction", MODAL, (18, 18, 168, 92), [
        (1, BUTTON, PUSH, (8, 70, 32, 14), "&Ok"),
        (2, BUTTON, PUSH, (56, 70, 32, 14), "&Cancel"),
        (201, STATIC, TEXT, (8, 6, 152, 8), "Installation program for:"),
        (202, STATIC, TEXT, (8, 42, 152, 16),
         "Before continuing installation, make sure you have the 3 disks listed in README.TXT."),
        (NO_ID, STATIC, TEXT, (16, 16, 32, 8), "Tabrin"),
        (NO_ID, STATIC, TEXT, (16, 26, 72, 8), "Corvane"),
        (NO_ID, STATIC, TEXT, (48, 16, 60, 8), "2.1"),
        (NO_ID, STATIC, TEXT, (88, 26, 60, 8), "4.03"),
    ]),
    (250, "Tabrin Install - Copyright", MODAL, (18, 18, 228, 134), [
        (1, BUTTON, PUSH, (8, 112, 32, 14), "&Ok"),
        (2, BUTTON, PUSH, (56, 112, 32, 14), "&Cancel"),
        (251, STATIC, TEXT, (6, 6, 184, 8), "Tabrin and Corvane are separate programs."),
        (NO_ID, STATIC, TEXT, (6, 14, 184, 8), "They are owned by separate entities."),
        (1, STATIC, ICON, (8, 32, 18, 20), 1),
        (252, STATIC, TEXT, (40, 30, 176, 8), "Tabrin:"),
        (NO_ID, STATIC, TEXT, (48, 40, 160, 8), None),
        (NO_ID, STATIC, TEXT, (48, 48, 160, 8), None),
        (NO_ID, STATIC, TEXT, (48, 56, 160, 8), "See the file LICENCE for more details."),
        (2, STATIC, ICON, (8, 72, 18, 20), 2),
        (253, STATIC, TEXT, (40, 70, 176, 8), "Corvane:"),
        (NO_ID, STATIC, TEXT, (48, 80, 160, 8), None),
        (NO_ID, STATIC, TEXT, (48, 88, 174, 8), None),
        (NO_ID, STATIC, TEXT, (48, 96, 160, 8), "See the file PUBLIC for more details."),
    ]),
    (320, "Tabrin Install - Directory", MODAL, (18, 20, 219, 122), [
        (1, BUTTON, PUSH, (7, 102, 32, 14), "&Ok"),
        (2, BUTTON, PUSH, (55, 102, 32, 14), "&Cancel"),
        (321, STATIC, TEXT, (6, 6, 206, 8), "The base directory for Tabrin and Corvane is:"),
        (52, EDIT, FIELD, (6, 18, 197, 12), ""),
        (NO_ID, STATIC, TEXT, (6, 34, 206, 16),
         "Within the base directory, Tabrin will be installed into the subdirectory:"),
        (NO_ID, STATIC, TEXT, (16, 53, 60, 8), "tabrin"),
        (54, STATIC, TEXT, (6, 65, 206, 8), "Corvane will be installed into the subdirectory:"),
        (NO_ID, STATIC, TEXT, (16, 75, 60, 8), "cv4.03"),
        (53, STATIC, TEXT, (6, 89, 206, 8), "Change the base directory if you wish."),
    ]),
    (350, "Tabrin Install - Missing ZIP file", MODAL, (18, 18, 179, 60), [
        (351, STATIC, TEXT, (6, 6, 168, 10),
         "Can't find ZIP file.  Insert disk with the file below."),
        (1, BUTTON, PUSH, (8, 40, 32, 14), "&Ok"),
        (2, BUTTON, PUSH, (56, 40, 32, 14), "&Cancel"),
        (52, EDIT, FIELD, (8, 19, 164, 12), ""),
    ]),
    (360, "Tabrin Install - Config", MODAL, (18, 18, 189, 59), [
        (1, BUTTON, PUSH, (8, 40, 32, 14), "&Ok"),
        (2, BUTTON, PUSH, (56, 40, 100, 14), "Don't update autoexec.bat"),
        (361, STATIC, TEXT, (8, 8, 173, 24),
         "The following line will be added to your autoexec.bat\r"
         "     SET TEMP=C:\\\rYour old autoexec.bat will be renamed autoexec.cv"),
    ]),
    (570, "Tabrin Install - Unzipping", MODELESS, (6, 15, 308, 194), [
        (2, BUTTON, DEFPUSH, (8, 174, 50, 14), "&Cancel"),
        (572, BUTTON, PUSH, (126, 174, 50, 14), "Copy"),
        (571, EDIT, LOG, (8, 8, 290, 160), ""),
    ]),
]

STRINGS = {
    868: 'Installation successful.\rA Program Manager group named "CV Tools" has been created.',
    870: "Couldn't make directory",
    872: "Directory '%s' does not exist.  Create it?",
    873: "tabrin",
    875: "Corvane %s appears to be already installed.  Skip installation of Corvane?",
    900: "Installation aborted\n%s",
}

# Icon group: the images' (width, height, colours) in order.
ICONS = {1: [(32, 32, 16), (16, 16, 16), (24, 24, 16), (20, 20, 16)], 2: [(32, 32, 16)]}

SYSTEM_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "CRTDLL.DLL"}
EXPORTS = {"GeneralDlgProc", "InputDlgProc", "ModelessDlgProc", "TextDlgProc"}

problems = []


def expect(what, actual, expected):
    if actual != expected:
        problems.append(f"{what}: {actual!r}, expected {expected!r}")


class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def word(self):
        value, = struct.unpack_from("<H", self.data, self.at)
        self.at += 2
        return value

    def dword(self):
        value, = struct.unpack_from("<I", self.data, self.at)
        self.at += 4
        return value

    def text(self):
        """A NUL-terminated UTF-16 text, or 0xFFFF and an ordinal."""
        if struct.unpack_from("<H", self.data, self.at)[0] == 0xFFFF:
            self.at += 2
            return self.word()
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def align(self):
        self.at = (self.at + 3) & ~3


def parse_dialog(data):
    r = Reader(data)
    dialog = {"style": r.dword(), "exstyle": r.dword()}
    count = r.word()
    dialog["rect"] = (r.word(), r.word(), r.word(), r.word())
    dialog["menu"], dialog["class"], dialog["title"] = r.text(), r.text(), r.text()
    if dialog["style"] & 0x40:  # DS_SETFONT
        dialog["font"] = (r.word(), r.text())
    controls = []
    for _ in range(count):
        r.align()
        style, exstyle = r.dword(), r.dword()
        rect = (r.word(), r.word(), r.word(), r.word())
        control_id = r.word()
        window_class, text = r.text(), r.text()
        extra = r.word()
        r.at += extra
        controls.append((control_id, window_class, style, exstyle, rect, text))
    dialog["controls"] = controls
    return dialog


def resources(pe, kind):
    """{(id, language): bytes} of one resource type."""
    found = {}
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != kind:
            continue
        for item in entry.directory.entries:
            for language in item.directory.entries:
                rva, size = language.data.struct.OffsetToData, language.data.struct.Size
                found[(item.id, language.id)] = pe.get_memory_mapped_image()[rva:rva + size]
    return found


def check_header(pe):
    expect("machine", pe.FILE_HEADER.Machine, 0x14C)
    expect("PE32 magic", pe.OPTIONAL_HEADER.Magic, 0x10B)
    expect("subsystem", pe.OPTIONAL_HEADER.Subsystem, 2)
    expect("subsystem version", (pe.OPTIONAL_HEADER.MajorSubsystemVersion,
                                 pe.OPTIONAL_HEADER.MinorSubsystemVersion), (3, 10))
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[5]
    expect("relocation section present", relocations.Size > 0, True)
    expect("relocations not stripped", pe.FILE_HEADER.Characteristics & 1, 0)
    imported = {entry.dll.decode().upper() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    expect("imports beyond the system DLLs", sorted(imported - SYSTEM_DLLS), [])
    exported = {e.name.decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols if e.name}
    expect("exported dialog procedures", exported & EXPORTS, EXPORTS)


def check_dialogs(pe):
    templates = resources(pe, pefile.RESOURCE_TYPE["RT_DIALOG"])
    expect("dialog ids", sorted(templates), sorted((d[0], 0) for d in DIALOGS))
    for number, title, style, rect, controls in DIALOGS:
        data = templates.get((number, 0))
        if data is None:
            continue
        dialog = parse_dialog(data)
        where = f"dialog {number}"
        expect(f"{where} style", hex(dialog["style"]), hex(style))
        expect(f"{where} extended style", dialog["exstyle"], 0)
        expect(f"{where} position", dialog["rect"], rect)
        expect(f"{where} menu and class", (dialog["menu"], dialog["class"]), ("", ""))
        expect(f"{where} title", dialog["title"], title)
        expect(f"{where} font", dialog.get("font"), (8, "Helv"))
        expect(f"{where} control count", len(dialog["controls"]), len(controls))
        for index, (want, got) in enumerate(zip(controls, dialog["controls"])):
            control_id, window_class, control_style, control_rect, text = want
            at = f"{where} control {index}"
            expect(f"{at} id", got[0], control_id)
            expect(f"{at} class", got[1], window_class)
            expect(f"{at} style", hex(got[2]), hex(control_style))
            expect(f"{at} extended style", got[3], 0)
            expect(f"{at} rectangle", got[4], control_rect)
            if text is None:
                expect(f"{at} notice line is text", isinstance(got[5], str) and got[5] != "", True)
            else:
                expect(f"{at} text", got[5], text)


def check_strings(pe):
    blocks = resources(pe, pefile.RESOURCE_TYPE["RT_STRING"])
    found = {}
    for (block, language), data in blocks.items():
        expect(f"string block {block} language", language, 0)
        r = Reader(data)
        for index in range(16):
            length = r.word()
            if length:
                found[(block - 1) * 16 + index] = data[r.at:r.at + 2 * length].decode("utf-16-le")
                r.at += 2 * length
    expect("strings", found, STRINGS)


def check_icons(pe):
    groups = resources(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"])
    images = resources(pe, pefile.RESOURCE_TYPE["RT_ICON"])
    expect("icon groups", sorted(g for g, _ in groups), sorted(ICONS))
    for (group, _), data in groups.items():
        count = struct.unpack_from("<H", data, 4)[0]
        described = []
        for index in range(count):
            width, height, colours, _, _, bits, _, image_id = struct.unpack_from(
                "<BBBBHHIH", data, 6 + 14 * index)
            described.append((width, height, colours))
            image = next((v for (i, _), v in images.items() if i == image_id), b"")
            header = struct.unpack_from("<IiiHH", image) if len(image) >= 16 else None
            expect(f"icon {group} image {index} bitmap",
                   header and (header[1], header[2], header[4]), (width, 2 * height, 4))
            expect(f"icon {group} image {index} bits", bits, 4)
        expect(f"icon group {group}", described, ICONS.get(group))


def main():
    pe = pefile.PE(sys.argv[1])
    for check in (check_header, check_dialogs, check_strings, check_icons):
        check(pe)
    for problem in problems:
        print(problem)
    print(f"setup.exe: {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
