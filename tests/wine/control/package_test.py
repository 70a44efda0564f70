#!/usr/bin/env python3
"""Checks the release package: its checksum file, the three files it holds, the programs'
PE headers (32-bit x86, no debug information) and Dovrand.exe's resources and imports; then,
where this machine runs 32-bit Wine, unpacks it and runs both programs' usage under Wine.

package_test.py PACKAGE.zip WINE_RUN PREFIX
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import zipfile

from pe_resources import Image, check_dovrand


def main():
    package, wine_run, prefix = sys.argv[1:4]
    problems = []
    with open(package, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    with open(package + ".sha256") as f:
        if f.read().split() != [digest, os.path.basename(package)]:
            problems.append("the checksum file does not match the package")
    with tempfile.TemporaryDirectory(prefix="dovrand-unpacked-") as folder:
        with zipfile.ZipFile(package) as z:
            names = sorted(z.namelist())
            z.extractall(folder)
        if names != ["Dovrand.exe", "README.txt", "qdlload.exe"]:
            problems.append("files %r" % names)
        for program in ("Dovrand.exe", "qdlload.exe"):
            image = Image(os.path.join(folder, program))
            if image.machine != 0x14C:
                problems.append("%s is not 32-bit x86 (machine 0x%x)" % (program, image.machine))
            debug = [s for s in image.section_names() if s.startswith(("/", ".debug"))]
            if debug:
                problems.append("%s has debug sections %s" % (program, debug))
        image, found = check_dovrand(os.path.join(folder, "Dovrand.exe"))
        problems += found
        print("Dovrand.exe: %d bytes; imports %s" % (
            os.path.getsize(os.path.join(folder, "Dovrand.exe")), ", ".join(image.imports())))
        # The same answer as cmake/wine-lib.sh's, so that DOVRAND_WINE64_ONLY=1 counts too.
        lib = os.path.join(os.path.dirname(os.path.abspath(wine_run)), "wine-lib.sh")
        why = subprocess.run(["sh", "-c", '. "$0"; wine_can_run_32 || printf %s "$WINE32_WHY"',
                              lib], capture_output=True, text=True).stdout
        if why:
            print("note: 32-bit Wine cannot run here (%s); the package's files, checksum and "
                  "PE headers were checked, its programs were not run" % why)
        else:
            env = dict(os.environ, LC_ALL="C.UTF-8")
            for program, status, start in (("Dovrand.exe", 1, b"\r\n Dovrand - "),
                                            ("qdlload.exe", 2, b"qdlload: no port given")):
                run = subprocess.run([wine_run, prefix, os.path.join(folder, program)], env=env,
                                     stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
                output = run.stdout + run.stderr
                if run.returncode != status or not output.startswith(start):
                    problems.append("%s: exit %d, output %r" % (program, run.returncode,
                                                                 output[:80]))
                else:
                    print("ran %s under Wine: exit %d, usage printed" % (program, status))
    for problem in problems:
        print("FAIL  " + problem)
    print("package checked" if not problems else "%d failed" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
