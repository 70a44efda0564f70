#!/usr/bin/env python3
"""Dovrand.exe under Wine, against Wine's own service manager and registry: every console
command with its exact output and exit code, the stored service entry and event-log source read
back from the registry, the service's status reports (traced by Wine) against the table of a
clean start and stop, and the full cycle install -> start -> a waiting card loaded into cardsim
-> stop -> remove. Also: a running loader service of the chip maker stopped and disabled at
start while a stopped one is left alone, and a stop during a download.

dovrand_wine_test.py --dovrand DOVRAND.EXE --dummy-service DUMMY.EXE --cardsim CARDSIM
                     --wine-run WINE_RUN --wine-prefix PREFIX [--windows-version winxp|win7]
The prefix is this test's own (the card registered in it must not show up in other tests).
With --windows-version the prefix reports that Windows to its programs, and the console
commands, a start that loads a waiting card and a stop during a download run there.
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

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "tools", "qdlload"))
from qdlload_cardsim_test import check, expect_in_order, log_lines  # noqa: E402
from pe_resources import Image  # noqa: E402

PORT = "COM43"
CLASS = "{86e0d1e0-8089-11d0-9ce4-08003e301f73}"
INSTANCE = "6&1a2b3c4d&0&7"
OPTIONS = "C:\\ProgramData\\QUALCOMM\\QDLService2k\\Options2kLenovo.txt"
SERVICE_KEY = "HKLM\\System\\CurrentControlSet\\Services\\Dovrand"
EVENTLOG_KEY = "HKLM\\System\\CurrentControlSet\\Services\\Eventlog\\Application\\Dovrand"
STARTING = "Starting Dovrand Service..."
STOPPED = re.compile(r"Stopping Dovrand Service\.\.\.\.*stopped\n")
TRACE = re.compile(r"trace:service:SetServiceStatus \S+ (\w+) (\w+) (\w+) (\w+) (\w+) (\w+) (\w+)")


def pe_bits(path):
    return Image(path).bits


class Wine:
    def __init__(self, args, root):
        self.args = args
        self.root = root
        self.prefix = args.wine_prefix
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", LC_ALL="C.UTF-8",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.loader = {32: "/usr/lib/wine/wine", 64: "/usr/lib/wine/wine64"}
        self.bits = pe_bits(args.dovrand)
        self.drive_c = os.path.join(self.prefix, "drive_c")
        self.link = os.path.join(self.prefix, "dosdevices", PORT.lower(), "QDLService")
        self.trace = os.path.join(root, "wine-trace.txt")
        self.count = 0

    def run(self, program, arguments, bits=None, debug=None, cwd=None):
        """Exit code and standard output (CR LF as LF) of a Windows program. The output goes
        through a file: Wine's background processes may keep a pipe open."""
        bits = bits or pe_bits(program)
        self.count += 1
        out = os.path.join(self.root, "out%d.txt" % self.count)
        env = dict(self.env, WINELOADER=self.loader[bits])
        if debug:
            env["WINEDEBUG"] = debug
        with open(out, "wb") as stdout, open(self.trace, "ab") as stderr:
            status = subprocess.run([self.loader[bits], program] + arguments, env=env, cwd=cwd,
                                    stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                                    timeout=120).returncode
        with open(out, "rb") as f:
            return status, f.read().replace(b"\r\n", b"\n").decode("utf-8")

    def dovrand(self, *arguments, cwd=None):
        return self.run(self.args.dovrand, list(arguments), cwd=cwd)

    def wine_command(self, *arguments):
        return self.run(arguments[0], list(arguments[1:]), bits=64)

    def reg_query(self, key):
        """The values of a key as {name: (type, data)}, from Wine's reg."""
        status, out = self.wine_command("reg", "query", key)
        check(status == 0, "reg query %s: %d %r" % (key, status, out))
        values = {}
        for line in out.splitlines():
            m = re.match(r"^\s+(\S+)\s+(REG_\w+)\s+(.*)$", line)
            if m:
                values[m.group(1)] = (m.group(2), m.group(3))
        return values

    def reg_add(self, key, name, kind, data):
        status, out = self.wine_command("reg", "add", key, "/v", name, "/t", kind, "/d", data,
                                        "/f")
        check(status == 0, "reg add %s: %r" % (key, out))

    def win(self, path):
        """The Windows path of a host path: on drive C: inside the prefix's drive_c, else Z:."""
        path = os.path.abspath(path)
        drive_c = os.path.abspath(self.drive_c)
        if path.startswith(drive_c + os.sep):
            return "C:" + path[len(drive_c):].replace("/", "\\")
        return "Z:" + path.replace("/", "\\")

    def statuses(self):
        """The service status reports that Wine traced so far, as tuples of integers."""
        with open(self.trace, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        return [tuple(int(v, 16) for v in m.groups()) for m in TRACE.finditer(text)]


class Card:
    """A Gobi 2000 card in download mode behind the test's COM port, registered as a present
    COM-port interface, with its maker's options file and images in drive C:."""

    def __init__(self, wine, folder, faults=()):
        self.wine = wine
        self.folder = folder
        os.makedirs(folder)
        self.images = {}
        lines = []
        for name, size in (("AMSS", 1000008), ("APPS", 300000), ("UQCN", 65536)):
            data = os.urandom(size)
            path = os.path.join(wine.drive_c, "dovrandfw", name.lower() + ".mbn")
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            self.images[name] = data
            lines.append("c:\\dovrandfw\\%s.mbn" % name.lower())
        options = os.path.join(wine.drive_c, *OPTIONS[3:].split("\\"))
        os.makedirs(os.path.dirname(options), exist_ok=True)
        with open(options, "wb") as f:
            f.write(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
        identifier = "vid_05c6&pid_9204"
        path = "\\\\?\\usb#%s#%s#%s" % (identifier, INSTANCE, CLASS)
        classes = "HKLM\\System\\CurrentControlSet\\Control\\DeviceClasses\\" + CLASS.upper()
        link = classes + "\\##?#usb#%s#%s#%s" % (identifier, INSTANCE, CLASS)
        device = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB\\%s\\%s" % (identifier.upper(),
                                                                       INSTANCE.upper())
        wine.reg_add(link, "DeviceInstance", "REG_SZ",
                     "USB\\%s\\%s" % (identifier.upper(), INSTANCE.upper()))
        wine.reg_add(link + "\\#", "SymbolicLink", "REG_SZ", path)
        wine.reg_add(link + "\\#\\Control", "Linked", "REG_DWORD", "1")
        wine.reg_add(device, "Class", "REG_SZ", "Ports")
        wine.reg_add(device, "ClassGUID", "REG_SZ", "{4D36E978-E325-11CE-BFC1-08002BE10318}")
        wine.reg_add(device + "\\Device Parameters", "PortName", "REG_SZ", PORT)
        self.keys = [link, device]
        if os.path.lexists(wine.link):
            os.unlink(wine.link)
        command = [wine.args.cardsim, "--link", wine.link, "--out", os.path.join(folder, "card"),
                   "--transcript", os.path.join(folder, "transcript.txt"), "--idle-exit", "60"]
        for fault in faults:
            command += ["--fault", fault]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        first = self.process.stdout.readline()
        check(first.startswith(b"/dev/"), "cardsim did not start: %r" % first)

    def wait(self, timeout=60):
        """cardsim's exit status once it has ended (after a completed load), else None."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait()
        for key in self.keys:
            self.wine.wine_command("reg", "delete", key, "/f")
        if os.path.lexists(self.wine.link):
            os.unlink(self.wine.link)

    def check_images(self):
        for name, data in self.images.items():
            if name == "AMSS":
                data = data[:-8]
            with open(os.path.join(self.folder, "card", name + ".bin"), "rb") as f:
                check(f.read() == data, "%s arrived changed" % name)


def case_console_without_service(wine, root):
    status, out = wine.dovrand()
    check(status == 1 and out.startswith("\n Dovrand - ") and
          out.endswith("Note 2: The logfile's full name can be seen in EventLog (Application).\n\n"),
          "usage: %d %r" % (status, out))
    check(wine.dovrand("-service") == (2, ""), "-service at a console")
    check(wine.dovrand("-stop") == (0, "Service does not installed.\n"), "-stop, not installed")
    check(wine.dovrand("-remove") == (0, "The service does not installed.\n"),
          "-remove, not installed")
    check(wine.dovrand("-install", "-nolog") == (0, "Invalid service start key \"-nolog\".\n"),
          "-install -nolog")


def case_install_and_registry(wine, root):
    logs = os.path.join(root, "my logs")
    os.makedirs(logs)
    status, out = wine.dovrand("/INSTALL", "/LOG", "my logs", "-NOPREF", cwd=root)
    check((status, out) == (0, "Gobi 2000 firmware preference will be skipped. Options2k*.txt "
                               "data will be used.\nDovrand Service installed.\nLog will be being "
                               "written to \"%s\\Dovrand.log\".\n" % wine.win(logs)),
          "install: %d %r" % (status, out))
    exe = wine.win(os.path.realpath(wine.args.dovrand))
    quoted = ('"%s"' % exe) if " " in exe else exe
    values = wine.reg_query(SERVICE_KEY)
    check(values.get("ImagePath", (None, None))[1] ==
          '%s -service /LOG "%s" -nopreference' % (quoted, wine.win(logs)),
          "ImagePath %r" % (values.get("ImagePath"),))
    for name, want in (("Start", "0x2"), ("ErrorControl", "0x1"), ("Type", "0x10"),
                       ("DisplayName", "Dovrand Service")):
        check(values.get(name, (None, None))[1] == want, "%s: %r" % (name, values.get(name)))
    source = wine.reg_query(EVENTLOG_KEY)
    expected = {"EventMessageFile": ("REG_EXPAND_SZ", exe), "TypesSupported": ("REG_DWORD", "0x7"),
                "CategoryMessageFile": ("REG_EXPAND_SZ", exe),
                "CategoryCount": ("REG_DWORD", "0x3")}
    check(source == expected, "event-log source %r" % source)
    check(wine.dovrand("-install") ==
          (0, "The service already exists. Use -remove to uninstall it first.\n"),
          "installed twice")
    check(wine.dovrand("-stop") == (0, "The service is not running.\n"), "stop, not running")
    check(wine.dovrand("-remove") == (0, "Dovrand Service removed.\n"), "remove, stopped")
    check(wine.reg_query(EVENTLOG_KEY) == expected, "the event-log source stays after -remove")


def case_cycle_with_card(wine, root):
    """install -> start -> the waiting card loaded -> stop -> remove, with every status report
    of the service checked against the table of a clean start and stop."""
    logs = os.path.join(root, "cycle-logs")
    os.makedirs(logs)
    card = Card(wine, os.path.join(root, "cycle"))
    try:
        before = len(wine.statuses())
        check(wine.dovrand("-install", "-log", wine.win(logs))[0] == 0, "install")
        started = time.monotonic()
        check(wine.dovrand("-start") == (0, STARTING + "started\n"), "start")
        wine.figures["-start"] = time.monotonic() - started
        check(card.wait() == 0, "cardsim did not complete the load")
        card.check_images()
        check(wine.dovrand("-start") == (0, STARTING + "The service is already running.\n"),
              "start, running")
        started = time.monotonic()
        status, out = wine.dovrand("-stop")
        wine.figures["-stop"] = time.monotonic() - started
        check(status == 0 and STOPPED.fullmatch(out), "stop: %r" % out)
        check(wine.dovrand("-remove") == (0, "Dovrand Service removed.\n"), "remove")
    finally:
        card.close()
    expect_in_order(log_lines(os.path.join(logs, "Dovrand.log")), [
        "Initializing service...", "Lenovo: Qualcomm Gobi 2000 HS-USB (Gobi 2000) found.",
        "QDLoader port is %s." % PORT, "Firmware loading completed!",
        "Service successfully started!", "Stop signal received.", "Service stopped."])
    # (type, state, accepted, win32 exit, specific exit, check point, wait hint)
    expected = [(0x10, 2, 0x40, 0, 0, 1, 5000)] + [
        (0x10, 2, 0x45, 0, 0, cp, 5000) for cp in range(2, 7)] + [
        (0x10, 4, 0x45, 0, 0, 0, 0), (0x10, 3, 0x45, 0, 0, 7, 3000),
        (0x10, 3, 0x45, 0, 0, 8, 3000), (0x10, 1, 0x45, 0, 0, 8, 0)]
    check(wine.statuses()[before:] == expected,
          "status reports:\n  %s" % "\n  ".join(map(str, wine.statuses()[before:])))


def case_start_installs(wine, root):
    status, out = wine.dovrand("-start")
    check((status, out) == (0, "The service does not installed. Trying to install it, then "
                               "start...\nDovrand Service installed.\n" + STARTING + "started\n"),
          "start, not installed: %r" % out)
    status, out = wine.dovrand("-remove")
    check(status == 0 and re.fullmatch(STOPPED.pattern + "Dovrand Service removed.\n", out),
          "remove, running: %r" % out)


def case_non_ascii_path(wine, root):
    logs = os.path.join(root, "Протоколы ünd 日志")
    os.makedirs(logs)
    status, out = wine.dovrand("-install", "-log", wine.win(logs))
    check((status, out) == (0, "Dovrand Service installed.\nLog will be being written to "
                               "\"%s\\Dovrand.log\".\n" % wine.win(logs)),
          "non-ASCII log folder: %r" % out)
    check(wine.dovrand("-remove")[0] == 0, "remove")


def case_qdl_services(wine, root):
    """At its start the service stops and disables the chip maker's running loader service;
    a stopped one is left as it is."""
    logs = os.path.join(root, "qdl-logs")
    os.makedirs(logs)
    dummy = wine.win(os.path.realpath(wine.args.dummy_service))
    records = {}
    for name in ("QDLService2k", "QDLService"):
        records[name] = os.path.join(root, name + ".txt")
        status, out = wine.wine_command(
            "sc", "create", name, "binPath=", "%s %s %s" % (dummy, name, wine.win(records[name])),
            "DisplayName=", "Dummy " + name, "start=", "demand")
        check(status == 0, "sc create %s: %r" % (name, out))
    try:
        check(wine.wine_command("sc", "start", "QDLService2k")[0] == 0, "sc start")
        check(wait_for(records["QDLService2k"], "running\n"), "the dummy service did not run")
        check(wine.dovrand("-install", "-log", wine.win(logs))[0] == 0, "install")
        check(wine.dovrand("-start") == (0, STARTING + "started\n"), "start")
        stopped = wait_for(records["QDLService2k"], "running\nstopped\n")
        check(wine.dovrand("-remove")[0] == 0, "remove")
        check(stopped, "the running loader service was not stopped; the log:\n  %s" %
              "\n  ".join(log_lines(os.path.join(logs, "Dovrand.log"))))
        expect_in_order(log_lines(os.path.join(logs, "Dovrand.log")), [
            "Service \"Dummy QDLService2k\" stopped and disabled.",
            "Service successfully started!"])
        start = {name: wine.reg_query("HKLM\\System\\CurrentControlSet\\Services\\" +
                                      name)["Start"][1] for name in records}
        check(start == {"QDLService2k": "0x4", "QDLService": "0x3"}, "start types %r" % start)
        check(not os.path.exists(records["QDLService"]), "the stopped one was started")
    finally:
        for name in records:
            wine.wine_command("sc", "stop", name)
            wine.wine_command("sc", "delete", name)


def case_stop_during_download(wine, root):
    """A stop while a block write waits on a card that has stopped reading cancels the write;
    the service reaches STOPPED."""
    logs = os.path.join(root, "stop-logs")
    os.makedirs(logs)
    folder = os.path.join(root, "stop")
    card = Card(wine, folder, faults=["stall:AMSS:20000"])
    try:
        check(wine.dovrand("-install", "-log", wine.win(logs))[0] == 0, "install")
        check(wine.dovrand("-start") == (0, STARTING + "started\n"), "start")
        check(wait_for(os.path.join(folder, "transcript.txt"), "FAULT: AMSS", exact=False),
              "the card did not stall")
        started = time.monotonic()
        status, out = wine.dovrand("-stop")
        wine.figures["-stop during a download"] = time.monotonic() - started
        check(status == 0 and STOPPED.fullmatch(out), "stop: %r" % out)
        check(wine.dovrand("-remove")[0] == 0, "remove")
    finally:
        card.close()
    lines = log_lines(os.path.join(logs, "Dovrand.log"))
    expect_in_order(lines, ["Sending AMSS...", "Stop signal received.",
                            "SerialPort.Send: Operation cancelled.", "Service stopped."])
    check("SerialPort.Send: Sending timed out." not in lines, "the write timed out instead")


def start_to_running(wine):
    """Runs -start and returns the seconds from the command (the start of its process and the
    service's included) to the service's RUNNING report, with the number of reports made
    before, once it has come (at most 20 s)."""
    before = len(wine.statuses())
    started = time.monotonic()
    check(wine.dovrand("-start") == (0, STARTING + "started\n"), "start")
    deadline = started + 20
    while True:
        reports = wine.statuses()[before:]
        if any(r[1] == 4 for r in reports):
            return time.monotonic() - started, before
        check(time.monotonic() < deadline, "no RUNNING within 20 s: %r" % reports)
        time.sleep(0.005)


def case_start_with_failing_card(wine, root):
    """A card whose tries fail (its port cannot be opened): the service reports RUNNING before
    the start-time attempt, as it does without a card, and a stop during the attempt's wait
    between tries ends it: STOP_PENDING, then STOPPED, with no RUNNING after the stop."""
    logs = os.path.join(root, "failing-logs")
    os.makedirs(logs)
    log = os.path.join(logs, "Dovrand.log")
    check(wine.dovrand("-install", "-log", wine.win(logs))[0] == 0, "install")
    wine.figures["-start to RUNNING, no card"] = start_to_running(wine)[0]
    check(STOPPED.fullmatch(wine.dovrand("-stop")[1]), "stop, no card")
    card = Card(wine, os.path.join(root, "failing"))
    os.unlink(wine.link)  # the card's port cannot be opened: every try fails
    try:
        seconds, before = start_to_running(wine)
        wine.figures["-start to RUNNING, a card whose tries fail"] = seconds
        waiting = "Error occured while loading of firmware. Waiting 30 seconds to retry..."
        deadline = time.monotonic() + 20
        while log_lines(log)[-1] != waiting and time.monotonic() < deadline:
            time.sleep(0.05)  # the log's writer thread flushes in the background
        lines = log_lines(log)
        check(lines[-1] == waiting, "the attempt is not in its wait: %r" % lines[-6:])
        check(lines.count("Service successfully started!") == 1,
              "the start-time attempt ended already: %r" % lines[-6:])
        started = time.monotonic()
        status, out = wine.dovrand("-stop")
        wine.figures["-stop during the start-time attempt"] = time.monotonic() - started
        check(status == 0 and STOPPED.fullmatch(out), "stop: %r" % out)
        reports = wine.statuses()[before:]
        check([r[1] for r in reports] == [2] * 6 + [4, 3, 3, 1],
              "status reports:\n  %s" % "\n  ".join(map(str, reports)))
        check(wine.dovrand("-remove")[0] == 0, "remove")
    finally:
        card.close()
    expect_in_order(log_lines(log), [
        "Service stopped.", "Initializing service...",
        "Lenovo: Qualcomm Gobi 2000 HS-USB (Gobi 2000) found.", "Unable to open port: %s" % PORT,
        waiting, "Stop signal received.", "Service successfully started!", "Stopping service...",
        "Service stopped."])

def case_install_refused_where_others_can_change(wine, root):
    """A program or a log folder in a folder that everyone may change (mode 0777, which Wine
    shows as Everyone with Modify and delete-child): refused, nothing created."""
    folder = os.path.join(root, "open")
    os.makedirs(folder)
    program = os.path.join(folder, "Dovrand.exe")
    shutil.copy(wine.args.dovrand, program)
    os.chmod(folder, 0o777)
    status, out = wine.run(program, ["-install"])
    check((status, out) == (0, "Unable to install Dovrand Service: a non-administrator could "
                               "change what it runs (\"%s\": Everyone may add files to it). Copy "
                               "the programs into a folder that only administrators can change, "
                               "such as Program Files, or use the package.\n" % wine.win(folder)),
          "install from an open folder: %d %r" % (status, out))
    status, out = wine.dovrand("-install", "-log", wine.win(folder))
    check((status, out) == (0, "Log path can be changed by non-administrators (\"%s\": Everyone "
                               "may add files to it). Please use another path.\n" %
                               wine.win(folder)), "install, log in an open folder: %r" % out)
    check(wine.dovrand("-remove") == (0, "The service does not installed.\n"),
          "nothing installed")
    os.chmod(folder, 0o755)
    status, out = wine.dovrand("-install", "-log", wine.win(folder))
    check((status, out) == (0, "Dovrand Service installed.\nLog will be being written to "
                               "\"%s\\Dovrand.log\".\n" % wine.win(folder)),
          "install, log in a folder of the owner: %r" % out)
    check(wine.dovrand("-remove")[0] == 0, "remove")


def wait_for(path, text, exact=True, seconds=20):
    """Waits until the file holds exactly the text (or contains it)."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path, "r", errors="replace") as f:
                data = f.read()
            if (data == text) if exact else (text in data):
                return True
        time.sleep(0.02)
    return False


CASES = [case_console_without_service, case_install_and_registry, case_cycle_with_card,
         case_start_installs, case_non_ascii_path, case_qdl_services, case_stop_during_download,
         case_start_with_failing_card, case_install_refused_where_others_can_change]
# What runs again at each Windows version the prefix is set to report.
VERSION_CASES = [case_console_without_service, case_cycle_with_card, case_stop_during_download]
VERSIONS = {"winxp": "5.1.2600", "win7": "6.1.7601"}


def report_version(wine, version):
    """Sets the Windows version the prefix reports and returns what a program of Dovrand.exe's
    word size is told (cmd's ver), or None where Wine does not report it."""
    wine.wine_command("reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d", version, "/f")
    cmd = "C:\\windows\\syswow64\\cmd.exe" if wine.bits == 32 else "cmd"
    status, out = wine.run(cmd, ["/c", "ver"], bits=wine.bits)
    found = re.search(r"Windows (\d+\.\d+\.\d+)", out)
    return found.group(1) if status == 0 and found else None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dovrand", required=True)
    parser.add_argument("--dummy-service", required=True)
    parser.add_argument("--cardsim", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--wine-prefix", required=True)
    parser.add_argument("--cases", nargs="*")
    parser.add_argument("--windows-version", choices=sorted(VERSIONS))
    args = parser.parse_args()
    args.wine_prefix = os.path.realpath(args.wine_prefix)
    args.dovrand = os.path.realpath(args.dovrand)
    subprocess.run([args.wine_run, args.wine_prefix, "--prepare"], check=True)
    # Beside the prefix, in the build tree as Dovrand.exe is: -install refuses a log folder with
    # a folder above it that others can change, as /tmp is (mode 1777) to Wine.
    # The test's folders and the program it installs on the prefix's drive C:, as an
    # administrator would copy it: -install refuses a program, or a log folder, with a folder
    # above it that others may change, and a clone of the tree may lie below /tmp.
    root = tempfile.mkdtemp(prefix="dovrand-wine-", dir=os.path.join(args.wine_prefix, "drive_c"))
    os.makedirs(os.path.join(root, "program"))
    args.dovrand = shutil.copy(args.dovrand, os.path.join(root, "program", "Dovrand.exe"))
    wine = Wine(args, root)
    wine.figures = {}
    env = wine.env
    subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env)
    # A persistent server keeps the service running between the commands; the first program
    # of the server run passes +service to Wine's service manager, which traces every status
    # report into this test's trace file.
    subprocess.run(["wineserver", "-p"], env=env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    failed = 0
    cases = CASES
    try:
        wine.run(args.dovrand, ["-h"], debug="+service")
        if args.windows_version:
            cases = VERSION_CASES
            want = VERSIONS[args.windows_version]
            got = report_version(wine, args.windows_version)
            print("Windows version set to %s; %d-bit programs are told %s" %
                  (args.windows_version, wine.bits, got), flush=True)
            if got != want:
                print("note: this Wine does not report %s (%s) in a prefix of this kind; the runs "
                      "at that version were skipped" % (args.windows_version, want))
                cases = []
        for case in cases:
            if args.cases and case.__name__ not in args.cases:
                continue
            try:
                case(wine, root)
                print("ok    %s" % case.__name__, flush=True)
            except Exception:  # every case runs; each failure is shown
                failed += 1
                print("FAIL  %s\n%s" % (case.__name__, traceback.format_exc()), flush=True)
                wine.dovrand("-remove")
    finally:
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, stderr=subprocess.DEVNULL)
        shutil.rmtree(root, ignore_errors=True)
    for name, seconds in wine.figures.items():
        print("figure: Dovrand.exe %s took %.3f s" % (name, seconds))
    print("%d failed" % failed if failed else "all passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
