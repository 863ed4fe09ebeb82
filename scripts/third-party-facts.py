#!/usr/bin/env python3
"""The libraries of others that a Windows folder carries, for the Windows
stage's check of the notices: every DLL in it, and what the DLLs hold inside
them, found by the marks each library leaves (its version string where it
has one).
  scripts/third-party-facts.py BIN_FOLDER NOTICES
prints a line per finding, "FILE: NAME VERSION", and "no notice: ..." for
every DLL or library that NOTICES does not name (with that version, where
the DLL states one); exit 1 if there is one."""
import pathlib
import re
import struct
import sys

# What a library leaves in a DLL: a pattern and, where the library writes its
# own version, the group that holds it. Libraries without any mark (md4c,
# TinyCBOR, double-conversion, the easing equations) are named in the notices from Qt's own
# list of what it bundles, and cannot be checked here.
MARKS = [
    ("zlib", rb"deflate (\d+\.\d+\.\d+) Copyright"),
    ("PCRE2", rb"PCRE2 does not support"),
    ("PCRE2", rb"(10\.\d+) 20\d\d-\d\d-\d\d\0"),
    ("libpng", rb"libpng version (\d+\.\d+\.\d+)"),
    ("HarfBuzz", rb"buffer verify error"),
    ("HarfBuzz", rb"uniscribe-bug-compatible\0invalid\0(?:[^\0]{1,8}\0)?(\d+\.\d+\.\d+)\0"),
    ("FreeType", rb"FT_New_Face failed"),
    ("sRGB colour profile", rb"International Color Consortium"),
    ("SHA-3 (Keccak)", rb"Keccak_256"),
    ("BLAKE2", rb"Blake2b_256"),
    ("GCC runtime", rb"GCC: \(GNU\) (\d+)"),
    ("winpthreads", rb"winpthreads"),
    # libstdc++'s std::from_chars and std::to_chars carry fast_float and Ryu,
    # which leave no text: their first table rows (fast_float's 128-bit
    # powers of five, Ryu's inverse powers of five), as the DLL stores them.
    ("fast_float", re.escape(struct.pack("<QQ", 0xEEF453D6923BD65A, 0x113FAA2906A13B3F))),
    ("Ryu", re.escape(struct.pack("<QQQQ", 1, 1 << 61, 0x999999999999999A, 0x1999999999999999))),
]


def findings(folder):
    """[(file name, library, version or "")] for every DLL and program."""
    found = []
    for path in sorted(folder.rglob("*")):
        if path.suffix.lower() not in (".dll", ".exe"):
            continue
        data = path.read_bytes()
        name = path.relative_to(folder).as_posix()
        libraries = {}
        for library, pattern in MARKS:
            match = re.search(pattern, data)
            if match:
                version = match.group(1).decode() if match.groups() else ""
                libraries[library] = libraries.get(library) or version
        for library, version in sorted(libraries.items()):
            found.append((name, library, version))
    return found


def main():
    folder, notices = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]).read_text()
    missing = []
    for path in sorted(folder.rglob("*.dll")):
        print(f"{path.relative_to(folder).as_posix()}: shipped")
        if path.name not in notices:
            missing.append(path.name)
    for name, library, version in findings(folder):
        # The GCC runtime's mark is the compiler's, in every file it built:
        # its notice names the version as "GCC 12".
        wanted = f"GCC {version}" if library == "GCC runtime" else f"{library} {version}".strip()
        print(f"{name}: {wanted}")
        if wanted not in notices:
            missing.append(f"{wanted} (in {name})")
    for what in sorted(set(missing)):
        print(f"no notice: {what}")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
