#!/usr/bin/env python3
"""Checks the program's manifest and that a built program carries it.

    manifest_check.py MANIFEST [EXE]...

MANIFEST must be well-formed XML declaring the common controls 6 assembly,
requireAdministrator, every Windows release from Vista to 11 as supported and
system DPI awareness. Each EXE must hold MANIFEST's bytes, unchanged, as its
RT_MANIFEST resource 1. Exit 0 when all is well, 1 with one line per problem.
"""

import struct
import sys
import xml.etree.ElementTree as ET

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPAT = "urn:schemas-microsoft-com:compatibility.v1"
SETTINGS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"

SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10 and 11",
}
RT_MANIFEST = 24


def q(ns, name):
    return "{%s}%s" % (ns, name)


def check_text(data, origin):
    """Problems of the manifest `data` (bytes), each a line naming `origin`."""
    try:
        root = ET.fromstring(data)
    except ET.ParseError as e:
        return ["%s: not well-formed: %s" % (origin, e)]
    problems = []
    if root.tag != q(ASM_V1, "assembly") or root.get("manifestVersion") != "1.0":
        problems.append("%s: root is not an asm.v1 assembly of manifestVersion 1.0" % origin)
    controls = [a for a in root.iterfind("%s/%s/%s" % (q(ASM_V1, "dependency"), q(ASM_V1, "dependentAssembly"),
                                                        q(ASM_V1, "assemblyIdentity")))
                if a.get("name") == "Microsoft.Windows.Common-Controls"]
    if len(controls) != 1 or controls[0].get("version") != "6.0.0.0" or \
            controls[0].get("publicKeyToken") != "6595b64144ccf1df":
        problems.append("%s: no dependency on the common controls 6.0.0.0" % origin)
    levels = [e.get("level") for e in root.iterfind("%s/%s/%s/%s" % (
        q(ASM_V3, "trustInfo"), q(ASM_V3, "security"), q(ASM_V3, "requestedPrivileges"),
        q(ASM_V3, "requestedExecutionLevel")))]
    if levels != ["requireAdministrator"]:
        problems.append("%s: execution level %s, expected requireAdministrator" % (origin, levels))
    ids = [e.get("Id", "").lower() for e in root.iterfind("%s/%s/%s" % (
        q(COMPAT, "compatibility"), q(COMPAT, "application"), q(COMPAT, "supportedOS")))]
    for guid, name in SUPPORTED_OS.items():
        if ids.count(guid) != 1:
            problems.append("%s: Windows %s is not declared once as supported" % (origin, name))
    for guid in ids:
        if guid not in SUPPORTED_OS:
            problems.append("%s: unknown supportedOS %s" % (origin, guid))
    aware = [(e.text or "").strip().lower() for e in root.iterfind("%s/%s/%s" % (
        q(ASM_V3, "application"), q(ASM_V3, "windowsSettings"), q(SETTINGS_2005, "dpiAware")))]
    if aware != ["true"]:
        problems.append("%s: dpiAware %s, expected one 'true' in asm.v3 application/windowsSettings" % (origin, aware))
    return problems


def resource_manifest(path):
    """The bytes of RT_MANIFEST resource 1 of the PE file `path` (its first
    language), or a string saying why there are none."""
    with open(path, "rb") as f:
        image = f.read()
    if image[:2] != b"MZ":
        return "no MZ header"
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        return "no PE header"
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + {0x10B: 96, 0x20B: 112}.get(magic, 0)
    if directories == optional:
        return "unknown optional header"
    resource_rva, resource_size = struct.unpack_from("<II", image, directories + 2 * 8)
    if resource_size == 0:
        return "no resource directory"
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            _, vsize, va, rawsize, raw = struct.unpack_from("<8sIIII", image, table + 40 * i)
            if va <= rva < va + max(vsize, rawsize):
                return raw + rva - va
        return None

    base = offset(resource_rva)
    if base is None:
        return "resource directory outside every section"

    def entries(at):
        named, ids = struct.unpack_from("<HH", image, base + at + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", image, base + at + 16 + 8 * i)
            yield name, target

    def find(at, wanted):
        for name, target in entries(at):
            if not name & 0x80000000 and name == wanted and target & 0x80000000:
                return target & 0x7FFFFFFF
        return None

    types = find(0, RT_MANIFEST)
    names = find(types, 1) if types is not None else None
    if names is None:
        return "no RT_MANIFEST resource 1"
    languages = list(entries(names))
    if len(languages) != 1 or languages[0][1] & 0x80000000:
        return "RT_MANIFEST 1 has %d languages" % len(languages)
    data_rva, data_size = struct.unpack_from("<II", image, base + languages[0][1])
    at = offset(data_rva)
    if at is None:
        return "RT_MANIFEST 1 outside every section"
    return image[at:at + data_size]


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        manifest = f.read()
    problems = check_text(manifest, argv[1])
    for exe in argv[2:]:
        carried = resource_manifest(exe)
        if isinstance(carried, str):
            problems.append("%s: %s" % (exe, carried))
        elif carried != manifest:
            problems.append("%s: RT_MANIFEST 1 differs from %s (%d bytes, %d expected)" %
                            (exe, argv[1], len(carried), len(manifest)))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
