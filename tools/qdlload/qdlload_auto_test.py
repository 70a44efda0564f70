#!/usr/bin/env python3
"""qdlload.exe --auto under Wine against cardsim: the card is found among the present COM-port
interfaces, its port read from the registry and its images from the options file of its maker,
then loaded; a card in modem mode is reported as already loaded; no card fails.

qdlload_auto_test.py --cardsim CARDSIM --qdlload WINE_RUN PREFIX QDLLOAD.EXE --wine-prefix PREFIX
The card is registered in the prefix's registry as a present COM-port interface (the prefix is
this test's own: the card must not show up in other tests) and the files are put into its
drive C:. --auto is in the Windows build only.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import traceback

from qdlload_cardsim_test import Run, check, expect_in_order, log_lines

CLASS = "{86e0d1e0-8089-11d0-9ce4-08003e301f73}"
INSTANCE = "6&1a2b3c4d&0&2"
OPTIONS = "C:\\ProgramData\\QUALCOMM\\QDLService2k\\Options2kLenovo.txt"
FOUND = "Lenovo: Qualcomm Gobi 2000 HS-USB (Gobi 2000) found."


class AutoRun(Run):
    def __init__(self, args, root):
        super().__init__(args, root)
        self.drive_c = os.path.join(args.wine_prefix, "drive_c")
        self.registered = []

    def reg(self, *arguments):
        # wine-run starts Wine's own reg with the loader that runs on this machine.
        subprocess.run([self.args.qdlload[0], self.args.wine_prefix, "reg"] + list(arguments) +
                       ["/f"], check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)

    def register(self, identifier):
        """A present COM-port interface of the USB device `identifier` (vid_xxxx&pid_yyyy)
        whose "PortName" is this test's port."""
        path = "\\\\?\\usb#%s#%s#%s" % (identifier, INSTANCE, CLASS)
        classes = ("HKLM\\System\\CurrentControlSet\\Control\\DeviceClasses\\" +
                   CLASS.upper())
        link = "##?#usb#%s#%s#%s" % (identifier, INSTANCE, CLASS)
        device = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB\\%s\\%s" % (identifier.upper(),
                                                                       INSTANCE.upper())
        self.reg("add", classes + "\\" + link, "/v", "DeviceInstance", "/t", "REG_SZ", "/d",
                 "USB\\%s\\%s" % (identifier.upper(), INSTANCE.upper()))
        self.reg("add", classes + "\\" + link + "\\#", "/v", "SymbolicLink", "/t", "REG_SZ",
                 "/d", path)
        self.reg("add", classes + "\\" + link + "\\#\\Control", "/v", "Linked", "/t",
                 "REG_DWORD", "/d", "1")
        self.reg("add", device, "/v", "Class", "/t", "REG_SZ", "/d", "Ports")
        self.reg("add", device, "/v", "ClassGUID", "/t", "REG_SZ", "/d",
                 "{4D36E978-E325-11CE-BFC1-08002BE10318}")
        self.reg("add", device + "\\Device Parameters", "/v", "PortName", "/t", "REG_SZ",
                 "/d", self.port)
        self.registered += [classes + "\\" + link, device]

    def unregister(self):
        for key in self.registered:
            self.reg("delete", key)
        self.registered = []

    def options_file(self):
        """The maker's options file, UTF-16LE, naming images in drive C:; returns the images."""
        images = {}
        lines = []
        for name, size in (("AMSS", 300008), ("APPS", 200000), ("UQCN", 4096)):
            images[name] = self.make_file(os.path.join(self.drive_c, "fw", name.lower() + ".MBN"),
                                          size)
            lines.append("c:\\fw\\%s.mbn" % name.lower())
        options = os.path.join(self.drive_c, *OPTIONS[3:].split("\\"))
        os.makedirs(os.path.dirname(options), exist_ok=True)
        with open(options, "wb") as f:
            f.write(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
        return images

    def auto(self, name, identifier, expected_status, closing, lines):
        folder = os.path.join(self.root, name)
        os.makedirs(folder)
        images = self.options_file()
        if identifier:
            self.register(identifier)
        card = self.start_card(folder, 2, -1, ()) if expected_status == "loaded" else None
        try:
            status, out, err = self.qdlload(["--auto", "--log",
                                             self.win(os.path.join(folder, "log"))])
        finally:
            card_status = self.stop_card(card, True) if card else None
            if os.path.lexists(self.link):
                os.unlink(self.link)
            self.unregister()
        check(status == (1 if expected_status == "failed" else 0),
              "exit code %d; stdout %r; stderr %r" % (status, out, err))
        check(out == closing, "closing line %r" % out)
        logged = log_lines(os.path.join(folder, "log", "qdlload.log"))
        check(err.splitlines() == logged, "standard error is not the log: %r" % err)
        expect_in_order(logged, lines)
        if expected_status == "loaded":
            check(card_status == 0, "cardsim ended with %s" % card_status)
            for image, data in images.items():
                if image == "AMSS":
                    data = data[:-8]
                with open(os.path.join(folder, "card", image + ".bin"), "rb") as f:
                    check(f.read() == data, "%s arrived changed" % image)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cardsim", required=True)
    parser.add_argument("--qdlload", required=True, nargs="+")
    parser.add_argument("--wine-prefix", required=True)
    parser.add_argument("--windows-bits", type=int, choices=[32, 64], default=32,
                        help="word size of the Windows qdlload under Wine")
    args = parser.parse_args()

    args.wine_prefix = os.path.realpath(args.wine_prefix)
    server = dict(os.environ, WINEPREFIX=args.wine_prefix, WINEDEBUG="-all")
    subprocess.run([args.qdlload[0], args.wine_prefix, "--prepare"], check=True)
    subprocess.run(["wineserver", "-k"], env=server, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=server)
    subprocess.run(["wineserver", "-p"], env=server, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    root = tempfile.mkdtemp(prefix="qdlload-auto-")
    failed = 0
    try:
        run = AutoRun(args, root)
        port = run.port
        cases = [
            ("loads the card it finds", "vid_05c6&pid_9204", "loaded",
             "qdlload: firmware loaded into %s\n" % port,
             [FOUND, "QDLoader port is %s." % port, "Reading " + OPTIONS,
              "Default Amss: C:\\FW\\AMSS.MBN", "Default Apps: C:\\FW\\APPS.MBN",
              "Default Uqcn: C:\\FW\\UQCN.MBN", "Port %s\\QDLService is opened." % port,
              "Sending UQCN completed!", "Firmware loading completed!"]),
            ("card in modem mode", "vid_05c6&pid_9205", "already",
             "qdlload: firmware is already loaded\n",
             [FOUND, "Firmware is already loaded."]),
            ("no card", None, "failed", "qdlload: firmware loading failed\n",
             ["No Qualcomm Gobi devices found."]),
        ]
        for name, identifier, expected, closing, lines in cases:
            try:
                run.auto(name.replace(" ", "_"), identifier, expected, closing, lines)
                print("ok    %s" % name, flush=True)
            except Exception:  # every case runs; each failure is shown
                failed += 1
                print("FAIL  %s\n%s" % (name, traceback.format_exc()), flush=True)
    finally:
        shutil.rmtree(root, ignore_errors=True)
        subprocess.run(["wineserver", "-k"], env=server, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=server, stderr=subprocess.DEVNULL)
    print("%d failed" % failed if failed else "all passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
