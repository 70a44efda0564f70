#!/usr/bin/env python3
"""The import check of the shipped programs: pe_imports.py PROGRAM.exe...

Fails, naming the program and the function, on any imported DLL or function that is not in
xp_imports.txt (the functions present on 32-bit Windows XP SP3, with where that is documented),
and on a PE header that Windows XP could not load or that lacks the hardening flags: dynamic base
(ASLR) and NX compatible (DEP) set, OS and subsystem version no higher than 5.1.
"""
import os
import sys

from pe_resources import Image

DYNAMIC_BASE = 0x40
NX_COMPAT = 0x100


def allowed_imports():
    allowed, dll = {}, None
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "xp_imports.txt")) as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line.startswith("["):
                dll = allowed.setdefault(line.strip("[]").lower(), set())
            elif line:
                dll.add(line)
    return allowed


def check(path, allowed):
    image, program, problems = Image(path), os.path.basename(path), []
    for dll, functions in image.import_functions().items():
        if dll.lower() not in allowed:
            problems.append("%s imports %s, a DLL not in the list" % (program, dll))
            continue
        problems += ["%s imports %s from %s, which is not in the list of functions Windows XP "
                     "SP3 has" % (program, f, dll) for f in functions
                     if f not in allowed[dll.lower()]]
    os_version, subsystem, characteristics = image.header()
    for what, version in (("OS", os_version), ("subsystem", subsystem)):
        if version > (5, 1):
            problems.append("%s needs %s version %d.%d (at most 5.1 for Windows XP)" %
                            ((program, what) + version))
    for flag, name in ((DYNAMIC_BASE, "dynamic base"), (NX_COMPAT, "NX compatible")):
        if not characteristics & flag:
            problems.append("%s is not marked %s" % (program, name))
    count = sum(len(f) for f in image.import_functions().values())
    return problems, "%s: %d functions from %s" % (program, count,
                                                  ", ".join(image.import_functions()))


def main():
    allowed, failed = allowed_imports(), 0
    for path in sys.argv[1:]:
        problems, summary = check(path, allowed)
        print(summary)
        for problem in problems:
            print("FAIL  " + problem)
        failed += len(problems)
    print("imports checked" if not failed else "%d failed" % failed)
    return 1 if failed or len(sys.argv) < 2 else 0


if __name__ == "__main__":
    sys.exit(main())
