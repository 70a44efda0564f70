#!/usr/bin/env python3
"""The signed release: scripts/package run with a throw-away code-signing key, made here with
openssl (a test CA and a code-signing certificate it issued), and checked:

  - the programs in the zip and the package carry two signatures, SHA-1 first and SHA-256
    nested, and `osslsigncode verify` accepts each against the test CA;
  - a signed file with one byte changed after signing fails the check, so does a file checked
    against another CA, and an unsigned one;
  - the import check, the resource check and the package's table check pass on the signed files;
  - the password is never printed, and without a key the release is unsigned and says so once;
  - where 32-bit Wine runs, the signed package installs under Wine's msiexec (the signed
    Dovrand.exe in place, the service registered) and uninstalls.

signed_release_test.py [--build DIR] [--wine-prefix TEMPLATE]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine", "control"))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine", "msi"))
sys.path.insert(0, os.path.join(ROOT, "tools", "qdlload"))

VERSION = "1.03.1"
ZIP = "dovrand-%s-win32.zip" % VERSION
MSI = "dovrand-%s-win32.msi" % VERSION
PASSWORD = "test-only: 7Qv!x s3cr3t"
UNSIGNED_LINE = ("package: no signing key (--pkcs12 or DOVRAND_SIGN_PKCS12): the programs and "
                 "the package are not signed")
PROGRAM_FOLDER = "C:\\Program Files (x86)\\Dovrand"
SERVICE_KEY = "HKLM\\System\\CurrentControlSet\\Services\\Dovrand"


def run(*command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def make_ca(folder, name):
    """A CA and a code-signing certificate it issued, as a PKCS#12 file with PASSWORD."""
    ca_key, ca = os.path.join(folder, name + "-ca.key"), os.path.join(folder, name + "-ca.pem")
    key, csr = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".csr")
    cert, p12 = os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".p12")
    extensions = os.path.join(folder, name + ".ext")
    with open(extensions, "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    for command in (
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key,
             "-out", ca, "-days", "2", "-subj", "/CN=Dovrand %s test CA" % name,
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign"],
            ["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
             "-subj", "/CN=Dovrand %s test code signing" % name],
            ["openssl", "x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key,
             "-CAcreateserial", "-out", cert, "-days", "2", "-extfile", extensions],
            ["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-certfile", ca,
             "-out", p12, "-passout", "pass:" + PASSWORD]):
        done = run(*command)
        if done.returncode != 0:
            raise RuntimeError("%s: %s" % (" ".join(command[:2]), done.stderr))
    return ca, p12


def signatures(path, ca):
    """(accepted, [digest of each signature in order]) from osslsigncode verify."""
    done = run("osslsigncode", "verify", "-CAfile", ca, "-in", path)
    digests = re.findall(r"^Message digest algorithm\s+: (\w+)", done.stdout, re.M)
    return done.returncode == 0 and "Signature verification: ok" in done.stdout, digests


def changed(path, folder, find=None):
    """A copy of path with one byte changed: in the first occurrence of find, else in the
    middle of the file (the code of a program)."""
    data = bytearray(open(path, "rb").read())
    at = data.index(find) + len(find) - 1 if find else len(data) // 3
    data[at] ^= 0x01
    copy = os.path.join(folder, "changed-" + os.path.basename(path))
    with open(copy, "wb") as f:
        f.write(data)
    return copy


def package(args, dist, *options, env=None):
    """scripts/package's exit code and output (standard output and error together)."""
    done = subprocess.run([os.path.join(ROOT, "scripts", "package"), "--dist", dist, "--build",
                           args.build] + list(options), stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True,
                          env=dict(os.environ, **(env or {})))
    return done.returncode, done.stdout


def install_under_wine(args, root, msi, signed_dovrand):
    from dovrand_wine_test import Wine  # noqa: E402
    from msi_test import wine32_why  # noqa: E402

    why = wine32_why(os.path.join(ROOT, "cmake", "wine-run"))
    if why:
        print("note: the package is 32-bit and 32-bit Wine cannot run here (%s): the signed "
              "package was not installed" % why)
        return []
    prefix = os.path.join(root, "prefix")
    subprocess.run([os.path.join(ROOT, "cmake", "wine-run"), args.wine_prefix, "--prepare"],
                   check=True)
    subprocess.run(["cp", "-a", args.wine_prefix, prefix], check=True)
    wine = Wine(argparse.Namespace(dovrand=signed_dovrand, wine_prefix=prefix, cardsim=None),
                root)
    problems = []
    subprocess.run(["wineserver", "-p"], env=wine.env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        status, _ = wine.wine_command("msiexec", "/i", wine.win(msi), "/qn")
        installed = os.path.join(prefix, "drive_c", "Program Files (x86)", "Dovrand",
                                 "Dovrand.exe")
        if status != 0:
            problems.append("msiexec /i of the signed package: exit %d" % status)
        elif open(installed, "rb").read() != open(signed_dovrand, "rb").read():
            problems.append("the installed Dovrand.exe is not the signed one")
        else:
            image = wine.reg_query(SERVICE_KEY).get("ImagePath", ("", ""))[1]
            if not image.startswith(PROGRAM_FOLDER + "\\Dovrand.exe -service"):
                problems.append("the signed package's service: ImagePath %r" % image)
        status, _ = wine.wine_command("msiexec", "/x", wine.win(msi), "/qn")
        if status != 0 or wine.wine_command("reg", "query", SERVICE_KEY)[0] == 0:
            problems.append("msiexec /x of the signed package: exit %d, service left" % status)
        if not problems:
            print("ok    the signed package installs under Wine (the signed Dovrand.exe, the "
                  "service registered) and uninstalls")
    finally:
        subprocess.run(["wineserver", "-k"], env=wine.env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=wine.env, stderr=subprocess.DEVNULL)
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "package"))
    parser.add_argument("--wine-prefix",
                        default=os.path.join(ROOT, "build", "package", "wineprefix-signed"))
    args = parser.parse_args()
    root = tempfile.mkdtemp(prefix="dovrand-signed-")
    problems = []
    try:
        ca, p12 = make_ca(root, "release")
        other_ca, _ = make_ca(root, "other")
        dist = os.path.join(root, "dist")
        status, out = package(args, dist, "--pkcs12", p12,
                              env={"DOVRAND_SIGN_PASSWORD": PASSWORD})
        if status != 0:
            print(out)
            print("FAIL  scripts/package with the test key: exit %d" % status)
            return 1
        if PASSWORD in out:
            problems.append("scripts/package printed the password")
        if UNSIGNED_LINE in out:
            problems.append("scripts/package with a key says it is unsigned")
        files = os.path.join(root, "files")
        with zipfile.ZipFile(os.path.join(dist, ZIP)) as z:
            z.extractall(files)
        dovrand = os.path.join(files, "Dovrand.exe")
        qdlload = os.path.join(files, "qdlload.exe")
        readme = os.path.join(files, "README.txt")
        msi = os.path.join(dist, MSI)

        unsigned_dist = os.path.join(root, "unsigned")
        status, out = package(args, unsigned_dist, "--no-checks",
                              env={"DOVRAND_SIGN_PKCS12": "", "DOVRAND_SIGN_PASSWORD": ""})
        if status != 0 or out.count(UNSIGNED_LINE) != 1:
            problems.append("scripts/package without a key: exit %d, the line %r %d times" % (
                status, UNSIGNED_LINE, out.count(UNSIGNED_LINE)))
        unsigned = os.path.join(unsigned_dist, MSI)

        # (what, file, CA, accepted, digests in order)
        rows = [
            ("Dovrand.exe", dovrand, ca, True, ["SHA1", "SHA256"]),
            ("qdlload.exe", qdlload, ca, True, ["SHA1", "SHA256"]),
            ("the package", msi, ca, True, ["SHA1", "SHA256"]),
            ("Dovrand.exe, a byte of its code changed", changed(dovrand, root), ca, False, None),
            ("qdlload.exe, a byte of its code changed", changed(qdlload, root), ca, False, None),
            ("the package, a byte of its string pool changed",
             changed(msi, root, b"Dovrand Project"), ca, False, None),
            ("Dovrand.exe against another CA", dovrand, other_ca, False, None),
            ("the package against another CA", msi, other_ca, False, None),
            ("the unsigned package", unsigned, ca, False, []),
        ]
        for what, path, authority, want, digests in rows:
            accepted, got = signatures(path, authority)
            if accepted != want or (digests is not None and got != digests):
                problems.append("%s: verify %s, signatures %s (want %s, %s)" % (
                    what, "accepted" if accepted else "refused", got,
                    "accepted" if want else "refused", digests))
            else:
                print("ok    %s: %s" % (what, "verified, %s" % " then ".join(got) if accepted
                                          else "refused"))

        for name, command in (
                ("the import check", ["tests/wine/control/pe_imports.py", dovrand, qdlload]),
                ("the resource check", ["tests/wine/control/pe_resources.py", dovrand]),
                ("the package's table check",
                 ["tests/wine/msi/msi_tables.py", msi, dovrand, qdlload, readme])):
            done = subprocess.run([sys.executable] + command, cwd=ROOT, capture_output=True,
                                  text=True)
            if done.returncode != 0:
                problems.append("%s on the signed files:\n%s" % (name, done.stdout + done.stderr))
            else:
                print("ok    %s on the signed files" % name)
        problems += install_under_wine(args, root, msi, dovrand)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for problem in problems:
        print("FAIL  " + problem)
    print("%d failed" % len(problems) if problems else "signed release checked")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
