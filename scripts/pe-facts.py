#!/usr/bin/env python3
"""What a Windows program file says of itself, for the Windows stage's checks:
its version information and the sizes of its icon, read from its resources.
  scripts/pe-facts.py PROGRAM.exe...
prints, per file, "NAME: version V, original name N, icon 16,24,...,256";
exit 1 if a file has no version information or no icon."""
import struct
import sys

RT_ICON_GROUP = 14
RT_VERSION = 16


def resources(data):
    """{type id: [bytes of each resource of that type]}"""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = optional + optional_size
    if rsrc_rva == 0:
        return {}

    def offset_of(rva):
        for i in range(sections):
            vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            if vaddr <= rva < vaddr + max(vsize, raw_size):
                return rva - vaddr + raw_ptr
        raise ValueError("RVA %x in no section" % rva)

    base = offset_of(rsrc_rva)

    def entries(at):
        named, ids = struct.unpack_from("<HH", data, base + at + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + at + 16 + 8 * i)
            yield name, target

    found = {}
    for type_id, to_names in entries(0):
        for _, to_langs in entries(to_names & 0x7FFFFFFF):
            for _, to_data in entries(to_langs & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + to_data)
                start = offset_of(rva)
                found.setdefault(type_id, []).append(data[start:start + size])
    return found


def version_strings(blob):
    """The StringFileInfo pairs, by their keys. Each key is preceded by its
    entry's binary lengths, which decode as stray characters."""
    words = [w for w in blob.decode("utf-16-le", errors="replace").split("\0") if w.strip()]
    keys = ("CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
            "OriginalFilename", "ProductName", "ProductVersion")
    return {k: words[i + 1] for i, w in enumerate(words[:-1]) for k in keys if w.endswith(k)}


def icon_sizes(group):
    count = struct.unpack_from("<H", group, 4)[0]
    return sorted((group[6 + 14 * i] or 256) for i in range(count))


failed = False
for path in sys.argv[1:]:
    with open(path, "rb") as f:
        found = resources(f.read())
    versions = [version_strings(b) for b in found.get(RT_VERSION, [])]
    groups = [icon_sizes(g) for g in found.get(RT_ICON_GROUP, [])]
    if not versions or not groups:
        failed = True
    v = versions[0] if versions else {}
    print("%s: version %s, original name %s, icon %s" % (
        path.rsplit("/", 1)[-1], v.get("ProductVersion", "none"), v.get("OriginalFilename", "none"),
        ",".join(str(s) for s in groups[0]) if groups else "none"))
sys.exit(1 if failed else 0)
