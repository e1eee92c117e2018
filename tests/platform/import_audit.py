#!/usr/bin/env python3
"""Checks that every function a Windows program imports exists on each Windows
release its build supports, against the table tests/platform/imports.tsv.

    import_audit.py --table imports.tsv --arch i686|x86_64 [--objdump PATH] EXE...
    import_audit.py --table imports.tsv --arch i686|x86_64 --listing FILE...

i686 programs must load on NT 4.0 and on 98/ME and import no function that
98/ME export only as a failing stub (the Unicode layer reaches those);
x86_64 programs on XP x64 / Server 2003 (NT 5.2). Exit 0 when all is well,
1 when an import is missing or too new (one line per problem), 2 on bad input.
"""

import argparse
import collections
import os
import re
import subprocess
import sys

NT_MAX = {"i686": (4, 0), "x86_64": (5, 2)}
WIN9X_PRESENT = {"95", "98"}
WIN9X_VALUES = WIN9X_PRESENT | {"stub", "me", "-"}
PE_MAGIC = {"i686": "010b", "x86_64": "020b"}

# Libraries a program may import statically: the system resolves them before
# the program's folder is searched (known DLLs, and comctl32 through the
# manifest's side-by-side assembly). Any other library is loaded by full path
# from the system folder at run time, so that one planted beside the program
# is never loaded.
STATIC_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL", "COMCTL32.DLL"}

Row = collections.namedtuple("Row", "nt win9x x64")


class InputError(Exception):
    pass


def parse_version(text):
    if not re.fullmatch(r"\d+\.\d+", text):
        raise ValueError(text)
    major, minor = text.split(".")
    return int(major), int(minor)


def load_table(path):
    table = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split("\t")
            where = "%s:%d" % (path, number)
            if len(fields) != 6:
                raise InputError("%s: expected 6 tab-separated columns, got %d" % (where, len(fields)))
            dll, function, nt, win9x, x64, source = fields
            try:
                nt_version = parse_version(nt)
            except ValueError:
                raise InputError("%s: nt column %r is no version" % (where, nt))
            if win9x not in WIN9X_VALUES or x64 not in ("yes", "no") or not source.strip():
                raise InputError("%s: bad win9x, x64 or empty source column" % where)
            if dll != dll.upper():
                raise InputError("%s: dll %r is not upper case" % (where, dll))
            if (dll, function) in table:
                raise InputError("%s: %s!%s listed twice" % (where, dll, function))
            table[(dll, function)] = Row(nt_version, win9x, x64 == "yes")
    return table


def parse_listing(text):
    """Returns (magic or None, [(dll, name or None, ordinal or None)]) from objdump -p output."""
    magic = None
    imports = []
    inside = False
    dll = None
    for line in text.splitlines():
        m = re.match(r"Magic\s+([0-9a-fA-F]{4})\b", line)
        if m:
            magic = m.group(1).lower()
        if line.startswith("The Import Tables"):
            inside = True
            continue
        if not inside:
            continue
        if line[:1].strip():
            break  # the next section of the dump
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).upper()
            continue
        m = re.match(r"\t([0-9a-fA-F]+)\t\s*([0-9a-fA-F]+)\s+(\S+)\s*$", line)
        if dll and m:
            if m.group(3) == "<none>":
                imports.append((dll, None, int(m.group(1), 16) & 0xFFFF))
            else:
                imports.append((dll, m.group(3), None))
    return magic, imports


def run_objdump(objdump, exe):
    try:
        result = subprocess.run([objdump, "-p", exe], capture_output=True, text=True)
    except OSError as e:
        raise InputError("%s: cannot run %s: %s" % (exe, objdump, e))
    if result.returncode != 0:
        raise InputError("%s: %s failed: %s" % (exe, objdump, result.stderr.strip()))
    return result.stdout


def unsupported(row, arch):
    """Why the row's function is absent on a supported release of arch, or None."""
    if arch == "x86_64":
        if not row.x64:
            return "not exported by the 64-bit DLL of XP x64"
        if row.nt > NT_MAX[arch]:
            return "first in NT %d.%d, after XP x64 (NT 5.2)" % row.nt
        return None
    reasons = []
    if row.nt > NT_MAX[arch]:
        reasons.append("first in NT %d.%d, after NT 4.0" % row.nt)
    if row.win9x == "stub":
        reasons.append("only a failing stub on Windows 98/ME (reach it through the Unicode layer)")
    elif row.win9x not in WIN9X_PRESENT:
        reasons.append("absent on Windows 98" if row.win9x == "me" else "absent on Windows 98/ME")
    return ", ".join(reasons) or None


def audit(name, text, table, arch):
    """Returns (problems, summary line) for one program's objdump listing."""
    magic, imports = parse_listing(text)
    problems = []
    if magic and magic != PE_MAGIC[arch]:
        problems.append("%s: PE magic %s is not the one of %s programs" % (name, magic, arch))
    if not imports:
        problems.append("%s: no import table found" % name)
    per_dll = collections.Counter()
    for dll, function, ordinal in imports:
        per_dll[dll] += 1
        if per_dll[dll] == 1 and dll not in STATIC_DLLS:
            problems.append("%s: %s: a library that may be planted beside the program; bind it at run time" % (name, dll))
        if function is None:
            problems.append("%s: %s!#%d: imported by ordinal %d only" % (name, dll, ordinal, ordinal))
            continue
        row = table.get((dll, function))
        if row is None:
            problems.append("%s: %s!%s: not in the table" % (name, dll, function))
            continue
        reason = unsupported(row, arch)
        if reason:
            problems.append("%s: %s!%s: %s" % (name, dll, function, reason))
    summary = "%s (%s): %d imports: %s" % (
        name, arch, len(imports), ", ".join("%s %d" % item for item in sorted(per_dll.items())))
    return problems, summary


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--table", required=True)
    parser.add_argument("--arch", required=True, choices=sorted(NT_MAX))
    parser.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    parser.add_argument("--listing", action="append", default=[], help="saved objdump -p output")
    parser.add_argument("exe", nargs="*")
    args = parser.parse_args(argv)
    if not args.exe and not args.listing:
        parser.error("give programs or --listing files")
    try:
        table = load_table(args.table)
        programs = [(os.path.basename(path), open(path, encoding="utf-8").read()) for path in args.listing]
        programs += [(os.path.basename(exe), run_objdump(args.objdump, exe)) for exe in args.exe]
    except (InputError, OSError) as e:
        print("import_audit: %s" % e, file=sys.stderr)
        return 2
    failed = False
    for name, text in programs:
        problems, summary = audit(name, text, table, args.arch)
        print(summary)
        for problem in problems:
            print("FAIL " + problem)
        failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
