#!/usr/bin/python3
"""Checks the import table and subsystem version of Windows executables with objdump -p.

Prints one "OK name: ..." or "FAIL name: ..." line per finding; exits 1 when anything failed.
"""
import argparse
import os
import re
import subprocess
import sys


def read_headers(objdump, path):
    result = subprocess.run([objdump, "-p", path], capture_output=True, text=True, errors="replace")
    if result.returncode != 0:
        raise RuntimeError(f"{objdump} -p {path} failed: {result.stderr.strip()}")
    return result.stdout


def imported_dlls(dump):
    return [name.strip() for name in re.findall(r"^\s*DLL Name:\s*(.+)$", dump, re.MULTILINE)]


def subsystem_version(dump):
    major = re.search(r"^MajorSubsystemVersion\s+(\d+)", dump, re.MULTILINE)
    minor = re.search(r"^MinorSubsystemVersion\s+(\d+)", dump, re.MULTILINE)
    if not major or not minor:
        return None
    return f"{int(major.group(1))}.{int(minor.group(1))}"


def check(objdump, path, allowed, subsystem):
    name = os.path.basename(path)
    dump = read_headers(objdump, path)
    failures = []
    dlls = imported_dlls(dump)
    if not dlls:
        failures.append("no import table found")
    for dll in dlls:
        stem = dll.lower()
        if stem.endswith(".dll"):
            stem = stem[:-4]
        if stem not in allowed:
            failures.append(f"imports {dll}, which is not one of {', '.join(sorted(allowed))}")
    if subsystem is not None:
        actual = subsystem_version(dump)
        if actual != subsystem:
            failures.append(f"subsystem version {actual}, expected {subsystem}")
    for failure in failures:
        print(f"FAIL {name}: {failure}")
    if not failures:
        detail = f"; subsystem {subsystem}" if subsystem else ""
        print(f"OK {name}: imports {', '.join(dlls)}{detail}")
    return not failures


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--objdump", default="objdump")
    parser.add_argument("--allowed", required=True, help="comma-separated DLL names without .dll")
    parser.add_argument("--subsystem", help="required subsystem version, e.g. 4.0")
    parser.add_argument("executables", nargs="+")
    args = parser.parse_args()
    allowed = {name.strip().lower() for name in args.allowed.split(",") if name.strip()}
    ok = True
    for path in args.executables:
        ok = check(args.objdump, path, allowed, args.subsystem) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
