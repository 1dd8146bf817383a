#!/usr/bin/python3
"""Checks a Windows executable's resources with pefile: either none at all, or exactly one
version resource with the given file/product version and string table, and no icon.

Prints one "OK name: ..." or "FAIL name: ..." line per finding; exits 1 when anything failed.
"""
import argparse
import os
import sys

import pefile

RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16


def version_of(ms, ls):
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def check(path, expect_none, version, table, strings):
    name = os.path.basename(path)
    pe = pefile.PE(path)
    failures = []
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    types = [entry.id for entry in directory.entries] if directory else []
    if expect_none:
        if types:
            failures.append(f"has resources of types {types}, expected none")
    else:
        if RT_ICON in types or RT_GROUP_ICON in types:
            failures.append("has an icon")
        if types != [RT_VERSION]:
            failures.append(f"resource types {types}, expected only the version resource [{RT_VERSION}]")
        fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
        if fixed is None:
            failures.append("no version resource")
        else:
            for label, actual in (("file", version_of(fixed.FileVersionMS, fixed.FileVersionLS)),
                                  ("product", version_of(fixed.ProductVersionMS, fixed.ProductVersionLS))):
                if actual != version:
                    failures.append(f"{label} version {actual}, expected {version}")
        tables = {}
        for info in getattr(pe, "FileInfo", []):
            for entry in info:
                for string_table in getattr(entry, "StringTable", []):
                    tables[string_table.LangID.decode()] = {
                        key.decode(): value.decode() for key, value in string_table.entries.items()}
        if list(tables) != [table]:
            failures.append(f"string tables {list(tables)}, expected [{table!r}]")
        elif tables[table] != strings:
            failures.append(f"strings {tables[table]}, expected {strings}")
    for failure in failures:
        print(f"FAIL {name}: {failure}")
    if not failures:
        print(f"OK {name}: " + ("no resources" if expect_none else f"version {version}, {table} {strings}"))
    return not failures


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--none", action="store_true", help="the executable must have no resources")
    parser.add_argument("--version", help="file and product version, e.g. 1.0.0.1")
    parser.add_argument("--table", help="the one string table's language and code page, e.g. 080904b0")
    parser.add_argument("--string", action="append", default=[], help="Name=Value, every string of the table")
    parser.add_argument("executable")
    args = parser.parse_args()
    strings = dict(item.split("=", 1) for item in args.string)
    return 0 if check(args.executable, args.none, args.version, args.table, strings) else 1


if __name__ == "__main__":
    sys.exit(main())
