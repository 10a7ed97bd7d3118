#!/usr/bin/env python3
"""Makes a Windows DLL import another DLL under a new, not longer, file name.

The published engine names its libraries ggml.v0.4.0.dll and llama.v0.4.0.dll, and llama
imports ggml under that name; the engine directory holds them as ggml.dll and llama.dll. The
loader would otherwise load ggml a second time, under its old name, for llama.

Usage: rename-dll-import.py FILE OLD_NAME NEW_NAME
"""
import struct
import sys


def rva_to_offset(sections, rva):
    for virtual_address, virtual_size, raw_offset, raw_size in sections:
        if virtual_address <= rva < virtual_address + max(virtual_size, raw_size):
            return raw_offset + rva - virtual_address
    raise ValueError(f"address {rva:#x} lies in no section")


def main():
    path, old, new = sys.argv[1], sys.argv[2].encode(), sys.argv[3].encode()
    if len(new) > len(old):
        sys.exit("the new name must not be longer than the old one")
    data = bytearray(open(path, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE file")
    section_count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x20B:
        sys.exit(f"{path}: not a 64-bit image")
    import_rva = struct.unpack_from("<I", data, optional + 112 + 8)[0]  # data directory 1
    sections = []
    for i in range(section_count):
        header = optional + optional_size + 40 * i
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from(
            "<IIII", data, header + 8)
        sections.append((virtual_address, virtual_size, raw_offset, raw_size))

    renamed = 0
    entry = rva_to_offset(sections, import_rva)
    while True:
        name_rva = struct.unpack_from("<I", data, entry + 12)[0]
        if name_rva == 0:
            break
        name_at = rva_to_offset(sections, name_rva)
        end = data.index(b"\0", name_at)
        if bytes(data[name_at:end]).lower() == old.lower():
            data[name_at:end] = new + b"\0" * (end - name_at - len(new))
            renamed += 1
        entry += 20
    if renamed == 0:
        sys.exit(f"{path} does not import {old.decode()}")
    open(path, "wb").write(data)


if __name__ == "__main__":
    main()
