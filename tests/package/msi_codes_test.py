#!/usr/bin/env python3
"""The Windows Installer package's codes and times, from packaging/build-msi: the same inputs in
another folder at another time give the same bytes; the product code follows the version and
the commit; the package code changes with every byte of the package; the summary information's
times are SOURCE_DATE_EPOCH. Needs no Wine.

msi_codes_test.py
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
COMMIT = "0123456789abcdef0123456789abcdef01234567"
OTHER_COMMIT = "fedcba9876543210fedcba9876543210fedcba98"
EPOCH = "1700000000"


def build(folder, version="1.03.1", commit=COMMIT, readme=b"guide\r\n", epoch=EPOCH):
    """Builds a package of stand-in files in folder; returns its bytes, product code, package
    code and summary times."""
    os.makedirs(folder)
    for name, data in (("Dovrand.exe", b"MZ dovrand"), ("qdlload.exe", b"MZ qdlload"),
                       ("README.txt", readme)):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    output = os.path.join(folder, "out.msi")
    subprocess.run([os.path.join(ROOT, "packaging", "build-msi"), "--version", version,
                    "--commit", commit, "--dovrand", os.path.join(folder, "Dovrand.exe"),
                    "--qdlload", os.path.join(folder, "qdlload.exe"),
                    "--readme", os.path.join(folder, "README.txt"), "--output", output],
                   check=True, env=dict(os.environ, SOURCE_DATE_EPOCH=epoch))
    env = dict(os.environ, TZ="UTC")
    properties = subprocess.run(["msiinfo", "export", output, "Property"], check=True,
                                capture_output=True, text=True).stdout
    summary = subprocess.run(["msiinfo", "suminfo", output], check=True, capture_output=True,
                             text=True, env=env).stdout
    fields = dict(line.split(": ", 1) for line in summary.splitlines() if ": " in line)
    product = [line.split("\t")[1].strip() for line in properties.splitlines()
               if line.startswith("ProductCode\t")][0]
    with open(output, "rb") as f:
        data = f.read()
    return (data, product, fields["Revision number (UUID)"],
            (fields["Created"], fields["Last saved"]))


def main():
    root = tempfile.mkdtemp(prefix="dovrand-msi-codes-")
    problems = []
    try:
        data, product, package, times = build(os.path.join(root, "base"))
        # The product code of version 1.03.1 at COMMIT, and the summary times of EPOCH.
        if product != "{A09B9EE4-1D6F-5544-A20B-D5891C3E04D4}":
            problems.append("product code %s" % product)
        if times != ("Tue Nov 14 22:13:20 2023", "Tue Nov 14 22:13:20 2023"):
            problems.append("summary times %r" % (times,))
        time.sleep(1)
        # (what, build arguments, same bytes, same product code, same package code)
        rows = [
            ("the same inputs, another folder, later", {}, True, True, True),
            ("one byte of a file changed", {"readme": b"guidE\r\n"}, False, True, False),
            ("another commit", {"commit": OTHER_COMMIT}, False, False, False),
            ("another version", {"version": "1.03.2"}, False, False, False),
            ("another commit time", {"epoch": "1700000001"}, False, True, False),
        ]
        for i, (what, arguments, same_bytes, same_product, same_package) in enumerate(rows):
            got = build(os.path.join(root, "row%d" % i), **arguments)
            found = (got[0] == data, got[1] == product, got[2] == package)
            if found != (same_bytes, same_product, same_package):
                problems.append("%s: same bytes, product code, package code: %r, want %r" % (
                    what, found, (same_bytes, same_product, same_package)))
            else:
                print("ok    %s" % what)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for problem in problems:
        print("FAIL  " + problem)
    print("%d failed" % len(problems) if problems else "package codes checked")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
