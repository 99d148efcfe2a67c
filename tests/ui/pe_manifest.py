#!/usr/bin/env python3
"""Reads the application manifest out of Windows executables' resources and
checks that it names the executable's own processor architecture.

usage: pe_manifest.py EXE...   one result line per executable, then
                               "N passed, N failed"; exit 1 on any failure.

The manifest is resource type 24 (RT_MANIFEST), id 1, in the resource
section the PE header's resource directory points at. Windows refuses to
start a program whose own assemblyIdentity names another architecture; the
Common Controls dependency may name the same one or "*"."""
import struct
import sys
import xml.etree.ElementTree as ET

RT_MANIFEST = 24
MANIFEST_ID = 1
RESOURCE_DIRECTORY = 2  # index of the resource table in the data directories
ARCH_OF_MACHINE = {0x014C: "x86", 0x8664: "amd64", 0xAA64: "arm64"}
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"


class PeError(Exception):
    pass


def unpack(fmt, data, offset):
    size = struct.calcsize(fmt)
    if offset < 0 or offset + size > len(data):
        raise PeError(f"truncated at {offset:#x}")
    return struct.unpack_from(fmt, data, offset)


def read_pe(data):
    """(machine, resource RVA, sections as (rva, size, file offset))."""
    if data[:2] != b"MZ":
        raise PeError("no MZ header")
    (pe_offset,) = unpack("<I", data, 0x3C)
    if data[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    machine, section_count, _, _, _, optional_size, _ = unpack("<HHIIIHH", data, pe_offset + 4)
    optional = pe_offset + 24
    (magic,) = unpack("<H", data, optional)
    directories = optional + {0x10B: 96, 0x20B: 112}.get(magic, -1)
    if directories < optional:
        raise PeError(f"unknown optional header {magic:#x}")
    resource_rva, _ = unpack("<II", data, directories + 8 * RESOURCE_DIRECTORY)
    sections = []
    for i in range(section_count):
        entry = optional + optional_size + 40 * i
        virtual_size, rva, raw_size, raw_offset = unpack("<IIII", data, entry + 8)
        sections.append((rva, max(virtual_size, raw_size), raw_offset))
    return machine, resource_rva, sections


def file_offset(sections, rva):
    for start, size, raw in sections:
        if start <= rva < start + size:
            return raw + rva - start
    raise PeError(f"RVA {rva:#x} in no section")


def find_entry(data, directory, wanted_id):
    """The entry (high bit kept) of a resource directory with that id; the
    first entry when wanted_id is None."""
    named, numbered = unpack("<HH", data, directory + 12)
    for i in range(named + numbered):
        name, target = unpack("<II", data, directory + 16 + 8 * i)
        if wanted_id is None or (not name & 0x80000000 and name == wanted_id):
            return target
    return None


def manifest_of(data):
    machine, resource_rva, sections = read_pe(data)
    if resource_rva == 0:
        raise PeError("no resource section")
    root = file_offset(sections, resource_rva)
    node = root
    for wanted in (RT_MANIFEST, MANIFEST_ID, None):  # type, id, language
        target = find_entry(data, node, wanted)
        if target is None:
            raise PeError("no manifest resource (type 24, id 1)")
        if wanted is None and target & 0x80000000:
            raise PeError("manifest language entry is a directory")
        node = root + (target & 0x7FFFFFFF)
    data_rva, size, _, _ = unpack("<IIII", data, node)
    start = file_offset(sections, data_rva)
    if start + size > len(data):
        raise PeError("manifest runs past the file")
    return machine, data[start:start + size]


def check(path):
    with open(path, "rb") as f:
        data = f.read()
    machine, manifest = manifest_of(data)
    want = ARCH_OF_MACHINE.get(machine)
    if want is None:
        raise PeError(f"unknown machine {machine:#x}")
    root = ET.fromstring(manifest)
    own = root.find(ASM_V1 + "assemblyIdentity")
    if own is None:
        raise PeError("manifest has no assemblyIdentity")
    arch = own.get("processorArchitecture")
    if arch != want:
        raise PeError(f"machine {want} but the manifest names processorArchitecture=\"{arch}\"")
    for dep in root.iter(ASM_V1 + "dependentAssembly"):
        ident = dep.find(ASM_V1 + "assemblyIdentity")
        dep_arch = ident.get("processorArchitecture") if ident is not None else None
        if dep_arch not in (want, "*"):
            raise PeError(f"dependency {ident.get('name')} names processorArchitecture=\"{dep_arch}\"")
    return f"{want}, manifest of {len(manifest)} bytes names processorArchitecture=\"{arch}\""


def main(paths):
    passed = failed = 0
    for path in paths:
        try:
            print(f"ok   {path}: {check(path)}")
            passed += 1
        except (OSError, PeError, ET.ParseError) as e:
            print(f"FAIL {path}: {e}")
            failed += 1
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
