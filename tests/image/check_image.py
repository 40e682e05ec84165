#!/usr/bin/python3
"""Checks built images against what the four target systems accept (Windows 3.1 with Win32s,
Windows NT 3.51, Windows 95, Windows NT 4.0), and the shipped sources for printf formats their
C runtimes do not know. Prints one line per finding; exits 1 when there is any.

    check_image.py image IMAGE...      instructions, imports, headers
    check_image.py formats DIR...      C99 length modifiers in *.c, *.cpp, *.h

The import lists in exports/ name their sources in their first lines.
"""
import fnmatch
import os
import re
import subprocess
import sys

import pefile

EXPORTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "exports")
TARGETS = ("win32s", "nt351", "win95", "nt40")
OBJDUMP = "i686-w64-mingw32-objdump"

# The 80386 instruction set with the 80387's, as objdump spells them in Intel syntax.
CONDITIONS = "a ae b be c e g ge l le na nae nb nbe nc ne ng nge nl nle no np ns nz o p pe po s z"
I386 = set("""
aaa aad aam aas adc add and arpl bound bsf bsr bt btc btr bts call cbw cdq clc cld cli clts cmc
cmp cmps cmpsb cmpsd cmpsw cwd cwde daa das dec div enter hlt idiv imul in inc ins insb insd insw
int int3 into iret iretd jcxz jecxz jmp lahf lar lcall lds lea leave les lfs lgdt lgs lidt ljmp
lldt lmsw lods lodsb lodsd lodsw loop loope loopne loopnz loopz lret lsl lss ltr mov movs movsb
movsd movsw movsx movzx mul neg nop not or out outs outsb outsd outsw pop popa popad popf popfd
push pusha pushad pushf pushfd rcl rcr ret retf rol ror sahf sal sar sbb scas scasb scasd scasw
sgdt shl shld shr shrd sidt sldt smsw stc std sti stos stosb stosd stosw str sub test verr verw
fwait xchg xlat xlatb xor
f2xm1 fabs fadd faddp fbld fbstp fchs fclex fnclex fcom fcomp fcompp fcos fdecstp fdiv fdivp
fdivr fdivrp ffree fiadd ficom ficomp fidiv fidivr fild fimul fincstp finit fninit fist fistp
fisub fisubr fld fld1 fldcw fldenv fldl2e fldl2t fldlg2 fldln2 fldpi fldz fmul fmulp fnop fpatan
fprem fprem1 fptan frndint frstor fsave fnsave fscale fsin fsincos fsqrt fst fstcw fnstcw fstenv
fnstenv fstp fstsw fnstsw fsub fsubp fsubr fsubrp ftst fucom fucomp fucompp fxam fxch fxtract
fyl2x fyl2xp1
""".split()) | {"j" + c for c in CONDITIONS.split()} | {"set" + c for c in CONDITIONS.split()}
PREFIXES = {"lock", "rep", "repz", "repe", "repnz", "repne", "data16", "addr16", "data32", "addr32",
            "cs", "ds", "es", "fs", "gs", "ss"}
STRING_OPS = re.compile(r"^(movs|cmps|scas|lods|stos|ins|outs)[bwd]?$")

# What came after the 80386, named so that a finding says which processor it needs. Anything
# else outside the set above is reported as well.
LATER = {
    "80486": "bswap cmpxchg xadd invd wbinvd invlpg",
    "Pentium": "cmpxchg8b cpuid rdtsc rdmsr wrmsr rsm",
    "Pentium Pro": "cmova cmovae cmovb cmovbe cmove cmovg cmovge cmovl cmovle cmovne cmovno "
                   "cmovnp cmovns cmovo cmovp cmovs fcmovb fcmovbe fcmove fcmovnb fcmovnbe "
                   "fcmovne fcmovnu fcmovu fcomi fcomip fucomi fucomip rdpmc ud2",
    "Pentium II": "sysenter sysexit fxsave fxrstor",
    "MMX": "emms",
    "SSE and later": "ldmxcsr stmxcsr sfence lfence mfence pause clflush movnti prefetchnta "
                     "prefetcht0 prefetcht1 prefetcht2 prefetchw fisttp monitor mwait popcnt "
                     "lzcnt tzcnt movbe crc32 endbr32 rdrand xgetbv xsave xrstor",
}
LATER_BY_NAME = {name: cpu for cpu, names in LATER.items() for name in names.split()}
VECTOR_REGISTER = re.compile(r"\b([xyz]?mm\d+|k[0-7])\b")
LINE = re.compile(r"^\s*([0-9a-f]+):\s+(.*)$")
SYMBOL = re.compile(r"^[0-9a-f]+ <(.+)>:$")

DYNAMIC_BASE, NX_COMPAT, HIGH_ENTROPY_VA = 0x40, 0x100, 0x20
SCN_CNT_CODE, SCN_MEM_EXECUTE = 0x20, 0x20000000


def instruction_problem(text):
    """Why one disassembled instruction (Intel syntax, no bytes) is not 80386 code, or None."""
    words = text.split()
    while words and words[0] in PREFIXES:
        prefix = words.pop(0)
        if prefix.startswith("rep") and words and not (STRING_OPS.match(words[0])
                                                        or words[0] == "ret"):
            return "%s prefix on %s (a different instruction on later processors)" % (
                prefix, words[0])
    if not words:
        return "prefix without an instruction"
    name, operands = words[0], " ".join(words[1:])
    if name == "(bad)":
        return "bytes that are no instruction"
    if name in LATER_BY_NAME:
        return "%s instruction (%s)" % (LATER_BY_NAME[name], name)
    if VECTOR_REGISTER.search(operands):
        return "MMX/SSE register (%s)" % text
    if name == "nop" and operands:
        return "Pentium Pro instruction (multi-byte nop)"
    if name not in I386:
        return "not an 80386/80387 instruction (%s)" % name
    return None


def executable_sections(pe):
    return [s for s in pe.sections if s.Characteristics & (SCN_CNT_CODE | SCN_MEM_EXECUTE)]


def routine_lists_start(pe, section, code_ranges):
    """Where the constructor and destructor lists begin that the linker puts at the end of
    .text (each: -1, addresses of code, 0), or None. They are data, not instructions."""
    data = section.get_data()[:section.Misc_VirtualSize]
    base = pe.OPTIONAL_HEADER.ImageBase
    position = len(data) - len(data) % 4
    for _ in range(2):
        position -= 4
        if position < 0 or int.from_bytes(data[position:position + 4], "little") != 0:
            return None
        while True:
            position -= 4
            if position < 0:
                return None
            value = int.from_bytes(data[position:position + 4], "little")
            if value == 0xFFFFFFFF:
                break
            if not any(low <= value - base < high for low, high in code_ranges):
                return None
    return position


def instruction_findings(path, pe):
    findings = []
    base = pe.OPTIONAL_HEADER.ImageBase
    sections = executable_sections(pe)
    code_ranges = [(s.VirtualAddress, s.VirtualAddress + s.Misc_VirtualSize) for s in sections]
    for section in sections:
        name = section.Name.rstrip(b"\0").decode("latin-1")
        start = base + section.VirtualAddress
        end = start + min(section.Misc_VirtualSize or section.SizeOfRawData, section.SizeOfRawData)
        lists = routine_lists_start(pe, section, code_ranges) if name == ".text" else None
        if lists is not None:
            end = start + lists
        listing = subprocess.run(
            [OBJDUMP, "-D", "-z", "-M", "intel", "--no-show-raw-insn", "-j", name, path],
            check=True, capture_output=True, text=True, errors="replace").stdout
        function, first, last = "?", None, None
        for line in listing.splitlines():
            symbol = SYMBOL.match(line)
            if symbol:
                function = symbol.group(1)
                continue
            match = LINE.match(line)
            if not match:
                continue
            address, text = int(match.group(1), 16), match.group(2).split("#")[0].strip()
            if address >= end:
                break
            first = address if first is None else first
            last = address
            problem = instruction_problem(text)
            if problem:
                findings.append("%s at 0x%x in %s: %s" % (name, address, function, problem))
        # objdump's output must span the whole section (an instruction is at most 15 bytes).
        if end > start and (first != start or last < end - 15):
            findings.append("section %s: disassembly does not cover 0x%x-0x%x" % (name, start, end))
    return findings


def read_list(name):
    """The entries of one list file: its non-comment lines, split into words."""
    path = os.path.join(EXPORTS, name)
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return [line.split("#")[0].split() for line in f
                if line.strip() and not line.startswith("#")]


def complete_list(target, dll):
    entries = read_list("%s-%s.txt" % (target, dll.lower()[:-4]))
    return None if entries is None else {words[0] for words in entries}


def stubbed(target, dll, function):
    """A stubs list matches DLL FUNCTION-PATTERN lines in order; '!' lines exempt."""
    result = False
    for words in read_list("stubs-%s.txt" % target) or []:
        exempt = words[0].startswith("!")
        if words[0].lstrip("!").lower() == dll.lower() and fnmatch.fnmatchcase(function, words[1]):
            result = not exempt
    return result


def import_findings(pe):
    findings = []
    shipped = {}
    for target, dll, state in read_list("system-dlls.txt"):
        shipped[(target, dll.lower())] = state
    missing = {(target, words[0].lower(), words[1])
               for target in TARGETS for words in read_list("known-missing-%s.txt" % target)}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode("latin-1")
        for target in TARGETS:
            state = shipped.get((target, dll.lower()), "not known to ship")
            if state != "present":
                findings.append("import from %s: %s on %s" % (dll, state, target))
        for symbol in entry.imports:
            if symbol.name is None:
                findings.append("import from %s by ordinal %d" % (dll, symbol.ordinal))
                continue
            function = symbol.name.decode("latin-1")
            for target in TARGETS:
                exports = complete_list(target, dll)
                if exports is not None and function not in exports:
                    findings.append("import %s!%s: not exported on %s" % (dll, function, target))
                if (target, dll.lower(), function) in missing:
                    findings.append("import %s!%s: missing on %s" % (dll, function, target))
                if stubbed(target, dll, function):
                    findings.append("import %s!%s: a failing stub on %s" % (dll, function, target))
    return findings


def header_findings(pe):
    findings = []
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    directories = optional.DATA_DIRECTORY
    if header.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        findings.append("not a 32-bit x86 image (machine 0x%x)" % header.Machine)
    version = (optional.MajorSubsystemVersion, optional.MinorSubsystemVersion)
    if version != (3, 10):
        findings.append("subsystem version %d.%d, not 3.10" % version)
    if optional.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]:
        findings.append("subsystem %d, not Windows GUI" % optional.Subsystem)
    for bit, name in ((DYNAMIC_BASE, "DYNAMIC_BASE"), (NX_COMPAT, "NX_COMPAT"),
                      (HIGH_ENTROPY_VA, "HIGH_ENTROPY_VA")):
        if optional.DllCharacteristics & bit:
            findings.append("DllCharacteristics has %s" % name)
    relocations = directories[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if (header.Characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_RELOCS_STRIPPED"]
            or relocations.Size == 0):
        findings.append("no base relocations")
    if directories[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_TLS"]].VirtualAddress:
        findings.append("TLS directory present")
    if directories[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DEBUG"]].Size:
        findings.append("debug directory present")
    debug = [s.Name.rstrip(b"\0").decode("latin-1") for s in pe.sections
             if s.Name.startswith(b".debug") or s.Name.startswith(b"/")]
    if debug or header.PointerToSymbolTable:
        findings.append("not stripped: symbol table or debug sections %s" % " ".join(debug))
    return findings


def image_findings(path):
    pe = pefile.PE(path)
    findings = header_findings(pe) + import_findings(pe)
    if pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        findings += instruction_findings(path, pe)
    return findings


FORMAT = re.compile(r"(?<!%)%[-+ #0]*(?:\*|\d+)?(?:\.(?:\*|\d+))?(hh|ll|I64|I32|z|j|t)[diouxXn]")


def format_findings(paths):
    findings = []
    for top in paths:
        for folder, _, files in os.walk(top):
            for name in sorted(files):
                if not name.endswith((".c", ".cpp", ".h")):
                    continue
                path = os.path.join(folder, name)
                with open(path, encoding="latin-1") as f:
                    for number, line in enumerate(f, 1):
                        for match in FORMAT.finditer(line):
                            findings.append("%s:%d: printf length modifier %s unknown to the "
                                            "C runtimes of the targets" % (path, number,
                                                                           match.group(0)))
    return findings


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("image", "formats"):
        sys.exit(__doc__)
    if sys.argv[1] == "formats":
        findings = format_findings(sys.argv[2:])
    else:
        findings = ["%s: %s" % (os.path.basename(p), f) for p in sys.argv[2:]
                    for f in image_findings(p)]
    for finding in findings:
        print(finding)
    print("%d problem(s)" % len(findings))
    sys.exit(1 if findings else 0)


if __name__ == "__main__":
    main()
