#!/usr/bin/env python3
"""qdlload against cardsim over a pty: whole downloads into a simulated Gobi 1000 and Gobi 2000
card, the images the card received compared with the files, the firmware preference, and
failing loads with their exact log lines, exit codes and closing lines.

Host:    qdlload_cardsim_test.py --cardsim CARDSIM --qdlload QDLLOAD
Windows: qdlload_cardsim_test.py --cardsim CARDSIM --qdlload WINE_RUN PREFIX QDLLOAD.EXE
             --wine-prefix PREFIX --windows-bits 32|64 --scenarios wine
On the host the COM port's device path is found under $DOVRAND_DOSDEVICES, set to a folder of
this test, and there is no Program Files (the host build has no shell folders): the preference
keeps the images given, and --auto is refused. Under Wine the port is linked into the prefix's
dosdevices and the preferred images are put into the program's Program Files (that of a 32-bit
program is the prefix's Program Files (x86)).
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

PORT_HOST = "COM7"
PORT_WINE = "COM41"  # not used by the other tests that share the prefix
VENDOR = "QdlloadTest"
TIMESTAMP = re.compile(r"^\d\d-\d\d-\d{4} \d\d:\d\d:\d\d:\d{4} ")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def is_trace(line):
    return line.startswith(("Send: ", "Rcvd: ", "      "))


def log_lines(path, traces=False):
    """The log's lines without timestamps; frame traces left out unless asked for."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:2] == b"\xff\xfe", "the log starts with FF FE")
    lines = []
    for line in data[2:].decode("utf-16-le").split("\r\n"):
        if not line:
            continue
        check(TIMESTAMP.match(line), "a log line without timestamp: %r" % line)
        line = line[25:]
        if is_trace(line) and not traces:
            continue
        lines.append(line)
    return lines


def expect_in_order(lines, expected):
    """Every expected line (a string, or a compiled pattern) appears, in this order."""
    at = 0
    for want in expected:
        while at < len(lines):
            line = lines[at]
            at += 1
            if (want.fullmatch(line) if hasattr(want, "fullmatch") else line == want):
                break
        else:
            raise Failure("log line %r missing (in order); the log:\n  %s" %
                          (getattr(want, "pattern", want), "\n  ".join(lines)))


class Run:
    def __init__(self, args, root):
        self.args = args
        self.root = root
        self.wine = args.wine_prefix is not None
        self.port = PORT_WINE if self.wine else PORT_HOST
        if self.wine:
            self.dosdevices = os.path.join(args.wine_prefix, "dosdevices")
            # A 32-bit program's Program Files is the prefix's "Program Files (x86)".
            folder = "Program Files (x86)" if args.windows_bits == 32 else "Program Files"
            self.program_files = os.path.join(args.wine_prefix, "drive_c", folder)
            self.program_files_win = "C:\\" + folder
        else:
            self.dosdevices = os.path.join(root, "dosdevices")
        self.link = os.path.join(self.dosdevices, self.port.lower(), "QDLService")
        self.firmware = os.path.join(root, "firmware")
        os.makedirs(self.firmware)
        self.images = {}
        for name, size in (("AMSS", 1000008), ("APPS", 300000), ("UQCN", 65536)):
            self.images[name] = self.make_file(os.path.join(self.firmware, name + ".mbn"), size)

    @staticmethod
    def make_file(path, size):
        data = os.urandom(size)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return data

    def win(self, path):
        """The path as qdlload is given it."""
        return "Z:" + path.replace("/", "\\") if self.wine else path

    def environment(self):
        env = dict(os.environ)
        if not self.wine:
            env["DOVRAND_DOSDEVICES"] = self.dosdevices
        return env

    def start_card(self, folder, generation, preference, faults):
        if os.path.lexists(self.link):
            os.unlink(self.link)
        command = [self.args.cardsim, "--generation", str(generation), "--preference",
                   str(preference), "--link", self.link, "--out", os.path.join(folder, "card"),
                   "--transcript", os.path.join(folder, "transcript.txt"), "--idle-exit", "20"]
        for fault in faults:
            command += ["--fault", fault]
        card = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        first = card.stdout.readline()
        check(first.startswith(b"/dev/"), "cardsim did not start: %r %r" %
              (first, card.stderr.read() if card.poll() is not None else b""))
        return card

    @staticmethod
    def stop_card(card, completed):
        """Waits for a card that completed its load to end by itself; stops any other."""
        if completed:
            try:
                return card.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        card.send_signal(signal.SIGTERM)
        try:
            return card.wait(timeout=10)
        except subprocess.TimeoutExpired:
            card.kill()
            return card.wait()

    def qdlload(self, arguments):
        result = subprocess.run(self.args.qdlload + arguments, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=self.environment(), timeout=120)
        return (result.returncode, result.stdout.replace(b"\r\n", b"\n").decode("utf-8"),
                result.stderr.replace(b"\r\n", b"\n").decode("utf-8", "replace"))

    def preferred_images(self, preference):
        """The maker's image folder of the firmware preference: UQCN and APPS in the
        preference's folder, AMSS only in UMTS. Returns their contents and logged paths."""
        base = os.path.join(self.program_files, "QUALCOMM", "Images", VENDOR)
        base_win = (self.program_files_win + "\\QUALCOMM\\Images\\" + VENDOR).upper()
        files = {"UQCN": (str(preference), 4096), "APPS": (str(preference), 20000),
                 "AMSS": ("UMTS", 50008)}
        images, paths = {}, {}
        for name, (folder, size) in files.items():
            images[name] = self.make_file(os.path.join(base, folder, name + ".mbn"), size)
            paths[name] = "%s\\%s\\%s.MBN" % (base_win, folder.upper(), name)
        return images, paths

    def remove_preferred_images(self):
        shutil.rmtree(os.path.join(self.program_files, "QUALCOMM", "Images", VENDOR),
                      ignore_errors=True)

    def scenario(self, name, generation=2, preference=-1, faults=(), extra=(), card=True,
                 loaded=True, lines=(), absent=(), preferred=None):
        folder = os.path.join(self.root, name)
        os.makedirs(folder)
        images = {k: v for k, v in self.images.items() if generation == 2 or k != "UQCN"}
        paths = {k: self.win(os.path.join(self.firmware, k + ".mbn")) for k in images}
        sent = dict(images)
        expected = list(lines)
        if preferred is not None:
            sent, logged = self.preferred_images(preferred)
            expected = ["Gobi firmware preference is # %d" % preferred,
                        "Amss: " + logged["AMSS"], "Apps: " + logged["APPS"],
                        "Uqcn: " + logged["UQCN"]] + expected
        arguments = [self.port, "--generation", str(generation), "--amss", paths["AMSS"],
                     "--apps", paths["APPS"], "--log", self.win(os.path.join(folder, "log"))]
        if generation == 2:
            arguments += ["--uqcn", paths["UQCN"], "--vendor", VENDOR]
        arguments += list(extra)

        process = self.start_card(folder, generation, preference, faults) if card else None
        try:
            status, out, err = self.qdlload(arguments)
        finally:
            card_status = self.stop_card(process, loaded) if process else None
            if os.path.lexists(self.link):
                os.unlink(self.link)
            if preferred is not None:
                self.remove_preferred_images()

        closing = ("qdlload: firmware loaded into %s\n" % self.port if loaded
                   else "qdlload: firmware loading failed\n")
        check(status == (0 if loaded else 1), "exit code %d; stderr %r" % (status, err))
        check(out == closing, "closing line %r" % out)
        lines = log_lines(os.path.join(folder, "log", "qdlload.log"))
        # Standard error shows every line of the log; the frames only with --verbose.
        verbose = "--verbose" in extra
        all_lines = log_lines(os.path.join(folder, "log", "qdlload.log"), traces=verbose)
        check(err.splitlines() == all_lines, "standard error is not the log: %r" % err)
        check(not verbose or any(is_trace(line) for line in all_lines), "no frames traced")
        expect_in_order(lines, ["Port %s\\QDLService is opened." % self.port] +
                        expected if card else expected)
        for line in absent:
            check(line not in lines, "unexpected log line %r" % line)
        if loaded:
            check(lines[-1] == "Firmware loading completed!", "last line %r" % lines[-1])
            check(card_status == 0, "cardsim ended with %s" % card_status)
            for image, data in sent.items():
                if image == "AMSS":
                    data = data[:-8]  # its trailer never goes out
                got = os.path.join(folder, "card", image + ".bin")
                check(os.path.exists(got), "the card has no %s" % image)
                with open(got, "rb") as f:
                    check(f.read() == data, "%s arrived changed" % image)
        else:
            check("Firmware loading completed!" not in lines, "a failed load logged completion")

    def log_not_opened(self):
        folder = self.win(os.path.join(self.root, "missing", "log"))
        status, out, err = self.qdlload([self.port, "--generation", "1", "--amss", "a",
                                         "--apps", "b", "--log", folder])
        check(status == 1, "exit code %d" % status)
        check(out == "", "wrote %r to stdout" % out)
        check(err == "qdlload: unable to open the log in %s\n" % folder, "stderr %r" % err)

    def no_card_without_log(self):
        """Without --log the reason of a failure still shows, on standard error."""
        status, out, err = self.qdlload([self.port, "--generation", "1", "--amss", "a",
                                         "--apps", "b"])
        check(status == 1, "exit code %d" % status)
        check(out == "qdlload: firmware loading failed\n", "stdout %r" % out)
        check(re.fullmatch(r"cSerialPort\.Open: Unable to open port \\\\\.\\%s\\QDLService\. "
                           r"ErrorCode: \d+\nUnable to open port: %s\n" % (self.port, self.port),
                           err), "stderr %r" % err)

    def auto_refused(self):
        """The host build cannot find a card: --auto is a usage error, before any log."""
        folder = os.path.join(self.root, "auto_refused")
        status, out, err = self.qdlload(["--auto", "--log", folder])
        check(status == 2, "exit code %d" % status)
        check(out == "", "wrote %r to stdout" % out)
        check(err == "qdlload: --auto is in the Windows build only: give the port and the "
              "images\n", "stderr %r" % err)
        check(not os.path.exists(folder), "a log folder was made")

    def usage_error(self):
        status, out, err = self.qdlload([self.port, "--amss", "a", "--apps", "b"])
        check(status == 2, "usage error exit code %d" % status)
        check(out == "", "usage error wrote %r to stdout" % out)
        check(err.startswith("qdlload: --generation is missing\nUsage: qdlload PORT"),
              "usage error text %r" % err)
        status, out, err = self.qdlload(["--help"])
        check(status == 0 and err == "", "--help: exit code %d, stderr %r" % (status, err))
        check(out.startswith("Usage: qdlload PORT") and
              "Exit code: 0 firmware loaded or already loaded, 1 loading failed, 2 usage error.\n"
              in out, "--help: stdout %r" % out)


def scenarios(run):
    """(name, wine, callable)."""
    amss_ok = ["Sending AMSS...", "Image size is 1000000 bytes.", "PreFirmware messages - OK",
               "Sending block of 262144 bytes [0 / 1000000]",
               "Sending block of 213568 bytes [786432 / 1000000]", "Image sending completed.",
               "PostFirmware response - OK", "Sending AMSS completed!"]
    return [
        ("gobi1000", True, lambda: run.scenario(
            "gobi1000", generation=1, extra=["--verbose"], lines=["Initial Message - OK"] + amss_ok + [
                "Sending APPS completed!", "Final Message - OK", "Firmware loading completed!"],
            absent=["Sending UQCN..."])),
        ("gobi2000", True, lambda: run.scenario(
            "gobi2000", lines=["Initial Message - OK",
                               "Gobi firmware preference is \"Default\""] + amss_ok + [
                "Sending APPS completed!", "Sending UQCN completed!", "Final Message - OK",
                "Firmware loading completed!"])),
    ] + ([
        ("preference", True, lambda: run.scenario(
            "preference", preference=6, preferred=6,
            lines=["Sending AMSS...", "Image size is 50000 bytes.", "Sending AMSS completed!",
                   "Sending UQCN completed!", "Firmware loading completed!"])),
    ] if run.wine else [
        ("preference without Program Files", False, lambda: run.scenario(
            "preference_host", preference=6,
            lines=["Gobi firmware preference is # 6",
                   "cFirmwareLoader::ReadFileNames: SHGetFolderPath(CSIDL_PROGRAM_FILES) -> "
                   "error"] + amss_ok + ["Sending UQCN completed!",
                                         "Firmware loading completed!"])),
        ("no --auto on the host", False, run.auto_refused),
    ]) + [
        ("nopreference", False, lambda: run.scenario(
            "nopreference", preference=6, extra=["--nopreference"],
            lines=["Initial Message - OK", "Gobi firmware preference skipped."] + amss_ok)),
        ("wrong initial answer", True, lambda: run.scenario(
            "wrong_initial", faults=["initial:firstbyte"], loaded=False,
            lines=["Recieved wrong answer for initial message."],
            absent=["Initial Message - OK", "Sending AMSS..."])),
        ("split initial answer", False, lambda: run.scenario(
            "split_initial", faults=["initial:split"], loaded=False,
            lines=[re.compile(r"SerialPort\.ReceiveWithCRC: Received only \d+ bytes, "
                              r"53 is the required amount"),
                   "Error receiving answer for initial message."],
            absent=["Sending AMSS..."])),
        ("bad PostFirmware FCS", True, lambda: run.scenario(
            "post_badfcs", faults=["post:AMSS:badfcs"], loaded=False,
            lines=["Image sending completed.",
                   "SerialPort.ReceiveWithCRC: Invalid CRC of the response.",
                   "Error receiving of PostFirmware response.", "Sending AMSS failed :-("],
            absent=["Sending APPS..."])),
        ("no answer to APPS", False, lambda: run.scenario(
            "pre1_noreply", faults=["pre1:APPS:noreply"], loaded=False,
            lines=["Sending AMSS completed!", "Sending APPS...",
                   "SerialPort.Receive: Receiving timed out.",
                   "Error receiving answer for PreFirmware message 1.",
                   "Sending APPS failed :-("],
            absent=["Sending UQCN...", "Final Message - OK"])),
        ("card stops reading", False, lambda: run.scenario(
            "stall", faults=["stall:AMSS:4000"], loaded=False,
            lines=["Sending Firmware Image.", "SerialPort.Send: Sending timed out.",
                   "Error sending image.", "Sending AMSS failed :-("],
            absent=["Sending APPS..."])),
        ("no card", True, lambda: run.scenario(
            "no_card", card=False, loaded=False,
            lines=[re.compile(r"cSerialPort\.Open: Unable to open port \\\\\.\\%s\\QDLService\. "
                              r"ErrorCode: \d+" % run.port),
                   "Unable to open port: %s" % run.port])),
        ("no card, no log", True, run.no_card_without_log),
        ("log not opened", True, run.log_not_opened),
        ("usage error", True, run.usage_error),
    ]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cardsim", required=True)
    parser.add_argument("--qdlload", required=True, nargs="+")
    parser.add_argument("--wine-prefix")
    parser.add_argument("--windows-bits", type=int, choices=[32, 64], default=32,
                        help="word size of the Windows qdlload under Wine")
    parser.add_argument("--scenarios", choices=["all", "wine"], default="all")
    parser.add_argument("--only", help="run the scenarios whose name holds this text")
    args = parser.parse_args()

    root = tempfile.mkdtemp(prefix="qdlload-cardsim-")
    failed = 0
    try:
        run = Run(args, root)
        for name, on_wine, body in scenarios(run):
            if args.scenarios == "wine" and not on_wine:
                continue
            if args.only and args.only not in name:
                continue
            started = time.monotonic()
            try:
                body()
                print("ok    %s (%.1f s)" % (name, time.monotonic() - started), flush=True)
            except Exception:  # every scenario runs; each failure is shown
                failed += 1
                print("FAIL  %s\n%s" % (name, traceback.format_exc()), flush=True)
    finally:
        shutil.rmtree(root, ignore_errors=True)
        if args.wine_prefix:
            try:
                os.rmdir(os.path.join(args.wine_prefix, "dosdevices", PORT_WINE.lower()))
            except OSError:
                pass
    print("%d failed" % failed if failed else "all passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
