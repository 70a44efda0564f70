#!/usr/bin/env python3
"""Dovrand's Windows Installer package: built with packaging/build-msi from the windows preset's
programs (and a package of a lower version for the upgrade), its tables checked
(msi_tables.py), then, where this machine runs 32-bit Wine, one scenario under Wine's msiexec
and service manager:

  1. the reference: Dovrand.exe -install -log <folder>, run from the folder the package installs
     into; its service entry and event-log source read back, then removed;
  2. a LOG that is no full path is refused: msiexec ends with 1603, nothing is installed;
  3. the lower version: msiexec /i /qn LOG=<folder> (a folder that does not exist yet, with a
     space): the folder is created, the service entry and event-log source equal the reference
     (apart from documented Wine differences; what Windows writes, from the ServiceInstall row,
     equals the reference exactly), the service runs;
  4. a Gobi 2000 card waits behind cardsim; the upgrade to this version, without keys: the keys
     are kept, the service runs the new program, which loads the card, images intact;
  5. msiexec /x /qn: no service, no event-log source, no files, no package keys; the log stays.

Where 32-bit Wine cannot run (or with DOVRAND_WINE64_ONLY=1) the scenario is skipped with the
reason, after the table check.

msi_test.py --build-msi BUILD_MSI --dovrand EXE --qdlload EXE --guide GUIDE --cardsim CARDSIM
            --wine-run WINE_RUN --wine-prefix TEMPLATE_PREFIX
The template prefix is made once and copied for each run.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "control"))
sys.path.insert(0, os.path.join(here, "..", "..", "..", "tools", "qdlload"))
import msi_tables  # noqa: E402
from dovrand_wine_test import EVENTLOG_KEY, SERVICE_KEY, Card, Wine  # noqa: E402
from qdlload_cardsim_test import Failure, check, expect_in_order, log_lines  # noqa: E402

LOWER_VERSION = "1.0.0"
# A 32-bit package in a 64-bit prefix, as on 64-bit Windows.
PROGRAM_FOLDER = "C:\\Program Files (x86)\\Dovrand"
PROGRAM = PROGRAM_FOLDER + "\\Dovrand.exe"
PACKAGE_KEYS = "HKLM\\Software\\Wow6432Node\\Dovrand"
# msiexec's 1603 (ERROR_INSTALL_FAILURE) as a Linux exit status.
INSTALL_FAILURE = 1603 % 256


def wine32_why(wine_run):
    """Why 32-bit Wine cannot run here (cmake/wine-lib.sh's answer), or None when it can."""
    lib = os.path.join(os.path.dirname(os.path.abspath(wine_run)), "wine-lib.sh")
    run = subprocess.run(["sh", "-c", '. "$0"; wine_can_run_32 || printf %s "$WINE32_WHY"', lib],
                         capture_output=True, text=True)
    return run.stdout or None


def build(args, version, dovrand, readme, output):
    subprocess.run([args.build_msi, "--version", version, "--dovrand", dovrand, "--qdlload",
                    args.qdlload, "--readme", readme, "--output", output], check=True)
    return output


class Scenario:
    def __init__(self, args, root, new, old):
        self.args = args
        self.root = root
        self.new = new
        self.old = old
        prefix = os.path.join(root, "prefix")
        subprocess.run([args.wine_run, args.wine_prefix, "--prepare"], check=True)
        subprocess.run(["cp", "-a", args.wine_prefix, prefix], check=True)
        self.wine = Wine(argparse.Namespace(dovrand=args.dovrand, wine_prefix=prefix,
                                            cardsim=args.cardsim), root)
        self.host_program_folder = os.path.join(prefix, "drive_c", "Program Files (x86)",
                                                "Dovrand")
        # On the prefix's drive C:: -install refuses a log folder with a folder above it that
        # others may change (/tmp, where a clone of the tree may lie).
        self.logs = os.path.join(prefix, "drive_c", "logs here", "my logs")
        self.figures = []
        self.msiexec_logs = []

    def msiexec(self, what, *arguments):
        """msiexec's exit status; its log (/l*v) is kept for a failure's report."""
        log = os.path.join(self.root, "msiexec%d.log" % (len(self.msiexec_logs) + 1))
        self.msiexec_logs.append(log)
        started = time.monotonic()
        status, _ = self.wine.wine_command("msiexec", *arguments, "/qn", "/l*v",
                                           self.wine.win(log))
        self.figures.append((what, time.monotonic() - started))
        return status

    def exists(self, key):
        return self.wine.wine_command("reg", "query", key)[0] == 0

    def wait_running(self, seconds=30):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            status, out = self.wine.wine_command("sc", "query", "Dovrand")
            if status == 0 and re.search(r"STATE\s+:\s+4\s+RUNNING", out):
                return
            time.sleep(0.2)
        raise Failure("the service is not RUNNING: %r" % out)

    def reference(self):
        """What -install writes for the same keys, from the folder the package installs into."""
        os.makedirs(self.host_program_folder)
        shutil.copyfile(self.args.dovrand, os.path.join(self.host_program_folder, "Dovrand.exe"))
        os.makedirs(self.logs)
        logs = self.wine.win(self.logs)
        status, out = self.wine.run(PROGRAM, ["-install", "-log", logs], bits=32)
        check((status, out) == (0, "Dovrand Service installed.\nLog will be being written to "
                                   "\"%s\\Dovrand.log\".\n" % logs),
              "-install: %d %r" % (status, out))
        self.service = self.wine.reg_query(SERVICE_KEY)
        self.source = self.wine.reg_query(EVENTLOG_KEY)
        check(self.wine.run(PROGRAM, ["-remove"], bits=32) == (0, "Dovrand Service removed.\n"),
              "-remove")
        self.wine.wine_command("reg", "delete", EVENTLOG_KEY, "/f")
        shutil.rmtree(self.host_program_folder)
        shutil.rmtree(os.path.dirname(self.logs))
        print("-install -log \"%s\" wrote:" % logs)
        for name, (kind, data) in sorted(self.service.items()) + sorted(self.source.items()):
            print("    %-20s %-14s %s" % (name, kind, data))

    def compare(self, when):
        """The service entry and the event-log source equal -install's; the Wine differences
        (docs/wine.md): msiexec writes the program's path without quotes, and only a service
        created by a 32-bit program (-install) gets Wine's WOW64 value."""
        service = self.wine.reg_query(SERVICE_KEY)
        source = self.wine.reg_query(EVENTLOG_KEY)
        image = service.get("ImagePath", ("", ""))[1]
        check(image.startswith(PROGRAM + " "), "%s: ImagePath %r" % (when, image))
        arguments = image[len(PROGRAM) + 1:]
        windows = msi_tables.windows_image_path(PROGRAM, arguments)
        check(windows == self.service["ImagePath"][1],
              "%s: what Windows writes from the ServiceInstall row, %r, is not -install's %r" %
              (when, windows, self.service["ImagePath"][1]))
        want = dict(self.service, ImagePath=("REG_SZ", '%s %s' % (PROGRAM, arguments)))
        want.pop("WOW64", None)
        check(service == want, "%s: the service entry\n    %r\n    -install's, less the Wine "
                               "differences:\n    %r" % (when, service, want))
        check(source == self.source, "%s: the event-log source %r, -install's %r" %
              (when, source, self.source))
        print("%s: the service entry and the event-log source equal -install's; ImagePath under "
              "Windows (from the ServiceInstall row): %s" % (when, windows))

    def refused(self):
        check(self.msiexec("a refused install", "/i", self.wine.win(self.new),
                                 "LOG=relative\\logs") ==
              INSTALL_FAILURE, "LOG=relative\\logs was not refused with 1603")
        check(not self.exists(SERVICE_KEY) and not os.path.exists(self.host_program_folder),
              "a refused install left the service or the program's folder")
        print("LOG=relative\\logs refused (1603), nothing installed")

    def install(self):
        check(self.msiexec("the install", "/i", self.wine.win(self.old),
                                 "LOG=" + self.wine.win(self.logs)) == 0,
              "msiexec /i (version %s) failed" % LOWER_VERSION)
        check(os.path.isdir(self.logs), "the LOG folder was not created")
        self.compare("installed %s" % LOWER_VERSION)
        keys = self.wine.reg_query(PACKAGE_KEYS)
        check(keys == {"LOG": ("REG_SZ", self.wine.win(self.logs)),
                       "NOPREFERENCE": ("REG_SZ", "0")}, "the package's keys %r" % keys)
        self.wait_running()

    def upgrade(self, card):
        check(self.msiexec("the upgrade", "/i", self.wine.win(self.new)) == 0, "the upgrade failed")
        self.compare("upgraded, no keys given")
        program = os.path.join(self.host_program_folder, "Dovrand.exe")
        with open(program, "rb") as f, open(self.args.dovrand, "rb") as g:
            check(f.read() == g.read(), "the upgrade did not install the new Dovrand.exe")
        check(card.wait() == 0, "cardsim did not complete the load")
        card.check_images()
        self.wait_running()
        running = self.service_processes()
        check(running == [os.stat(program).st_ino], "the running service's program: %r, the "
              "installed one's inode %d" % (running, os.stat(program).st_ino))
        wanted = ["Initializing service...", "Service successfully started!",
                  "Stop signal received.", "Service stopped.", "Initializing service...",
                  "Lenovo: Qualcomm Gobi 2000 HS-USB (Gobi 2000) found.",
                  "Firmware loading completed!", "Service successfully started!"]
        deadline = time.monotonic() + 15
        while True:  # the log's writer thread flushes in the background
            try:
                expect_in_order(log_lines(os.path.join(self.logs, "Dovrand.log")), wanted)
                break
            except Failure:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.2)
        print("upgraded to the new version: the keys kept, the new program running, the card "
              "loaded, images intact")

    def service_processes(self):
        """The inodes of the Dovrand.exe that each process of this prefix has mapped ("(deleted)"
        when the file was replaced under it)."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if b"WINEPREFIX=" + self.wine.prefix.encode() not in f.read().split(b"\0"):
                        continue
                with open("/proc/%s/maps" % pid) as f:
                    maps = [line.split() for line in f if "/Dovrand/Dovrand.exe" in line]
            except OSError:
                continue
            if maps:
                found.append("deleted" if maps[0][-1] == "(deleted)" else int(maps[0][4]))
        return found

    def uninstall(self):
        check(self.msiexec("the uninstall", "/x", self.wine.win(self.new)) == 0,
              "msiexec /x failed")
        left = [key for key in (SERVICE_KEY, EVENTLOG_KEY, PACKAGE_KEYS) if self.exists(key)]
        check(not left, "left after the uninstall: %s" % left)
        check(not os.path.exists(self.host_program_folder), "the program's folder is left")
        deadline = time.monotonic() + 10
        while self.service_processes() and time.monotonic() < deadline:
            time.sleep(0.2)
        check(not self.service_processes(), "the service's process still runs")
        # The log folder given with LOG= and its log are the administrator's: they stay.
        check(os.listdir(self.logs) == ["Dovrand.log"], "the log folder holds %s" %
              os.listdir(self.logs))
        print("uninstalled: no service, no event-log source, no files, no package keys; the log "
              "folder and its Dovrand.log stay")

    def run(self):
        env = self.wine.env
        subprocess.run(["wineserver", "-p"], env=env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        card = None
        try:
            self.reference()
            self.refused()
            self.install()
            card = Card(self.wine, os.path.join(self.root, "card"))
            self.upgrade(card)
            self.uninstall()
        except Exception:
            for log in self.msiexec_logs[-1:]:
                if os.path.exists(log):
                    with open(log, "rb") as f:
                        print("the last msiexec log (%s), its end:\n%s" % (
                            log, f.read()[-4000:].decode("utf-8", "replace")))
            raise
        finally:
            if card:
                card.close()
            subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=env, stderr=subprocess.DEVNULL)
        for what, seconds in self.figures:
            print("figure: %s took %.1f s" % (what, seconds))


def main():
    parser = argparse.ArgumentParser()
    for option in ("--build-msi", "--dovrand", "--qdlload", "--guide", "--cardsim", "--wine-run",
                   "--wine-prefix"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    args.dovrand = os.path.realpath(args.dovrand)
    args.wine_prefix = os.path.realpath(args.wine_prefix)
    # Beside the prefix: -install refuses a log folder below /tmp, which everyone may change.
    root = tempfile.mkdtemp(prefix="dovrand-msi-", dir=os.path.dirname(args.wine_prefix))
    try:
        readme = os.path.join(root, "README.txt")
        with open(args.guide, "rb") as f, open(readme, "wb") as g:
            g.write(f.read().replace(b"\n", b"\r\n"))
        version = msi_tables.resource_strings(args.dovrand).get("ProductVersion", "")
        check([int(v) for v in LOWER_VERSION.split(".")] < [int(v) for v in version.split(".")],
              "version %r is not above %s" % (version, LOWER_VERSION))
        new = build(args, version, args.dovrand, readme, os.path.join(root, "new.msi"))
        # The lower version's program differs from the new one (bytes after its image), so that
        # the test can tell which one runs.
        older = os.path.join(root, "older", "Dovrand.exe")
        os.makedirs(os.path.dirname(older))
        with open(args.dovrand, "rb") as f, open(older, "wb") as g:
            g.write(f.read() + b"\0" * 512 + b"the older build")
        old = build(args, LOWER_VERSION, older, readme, os.path.join(root, "old.msi"))
        problems = msi_tables.check(new, args.dovrand, args.qdlload, readme)
        for problem in problems:
            print("FAIL  " + problem)
        if problems:
            print("%d failed" % len(problems))
            return 1
        print("ok    the package's tables (version %s)" % version)
        why = wine32_why(args.wine_run)
        if why:
            print("note: the package is 32-bit and 32-bit Wine cannot run here (%s): its tables "
                  "were checked, the Wine scenario was skipped" % why)
            return 0
        try:
            Scenario(args, root, new, old).run()
        except Exception:
            print("FAIL  the Wine scenario\n%s" % traceback.format_exc())
            return 1
        print("ok    the Wine scenario: install, load, upgrade, uninstall")
        return 0
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
