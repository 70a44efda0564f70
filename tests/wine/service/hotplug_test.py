#!/usr/bin/env python3
"""The loader service's hot-plug path on the Windows build's own adapters under Wine.

Registers the card's port (PortName of its USB device) in a Wine prefix of this test's own, but
not its COM-port interface, so that the service's start finds no card; puts the maker's options
file and images into drive C:; plays the card with cardsim behind that COM port (the second load
stalls in AMSS); then runs the unit test ServiceHotplugWine.* of unit_tests.exe, which starts the
service, announces the card's arrival through the control handler, then suspends during the
second load and stops. Checks the test's result and that the first load's images reached the card
unchanged.

With --figures it runs ServiceFiguresWine.* instead (the first load stalls in AMSS) and prints
the figures it measures: the time to RUNNING, the processor time of 10 idle seconds and the time
from a stop during the download to STOPPED.

Usage: hotplug_test.py --cardsim CARDSIM --wine-run WINE_RUN --wine-prefix PREFIX
                       --unit-tests UNIT_TESTS.EXE [--windows-bits 32|64] [--figures]
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "tools", "qdlload"))
from qdlload_auto_test import INSTANCE, AutoRun  # noqa: E402
from qdlload_cardsim_test import check  # noqa: E402

IDENTIFIER = "VID_05C6&PID_9204"


def start_server(wine_run, prefix):
    """A persistent wineserver of the prefix's own (made first when missing); its environment."""
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    subprocess.run([wine_run, prefix, "--prepare"], check=True)
    subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env)
    subprocess.run(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return env


def stop_server(env):
    subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env, stderr=subprocess.DEVNULL)


def prepare(args, prefix, root):
    """The card's port in the registry (its interface not present), the maker's options file and
    images in drive C:, a log folder; returns the run (its port, link and paths), the images and
    the log folder."""
    run = AutoRun(argparse.Namespace(cardsim=args.cardsim, wine_prefix=prefix,
                                     windows_bits=args.windows_bits,
                                     qdlload=[args.wine_run, prefix, args.unit_tests]), root)
    images = run.options_file()
    device = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB\\%s\\%s" % (IDENTIFIER,
                                                                   INSTANCE.upper())
    run.reg("add", device + "\\Device Parameters", "/v", "PortName", "/t", "REG_SZ", "/d",
            run.port)
    logs = os.path.join(root, "log")
    os.makedirs(logs)
    if os.path.lexists(run.link):
        os.unlink(run.link)
    return run, images, logs


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cardsim", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--wine-prefix", required=True)
    parser.add_argument("--unit-tests", required=True)
    parser.add_argument("--windows-bits", type=int, choices=[32, 64], default=32)
    parser.add_argument("--figures", action="store_true")
    args = parser.parse_args()
    stall = "stall:AMSS:60000@" + ("1" if args.figures else "2")
    tests = "ServiceFiguresWine.*" if args.figures else "ServiceHotplugWine.*"
    prefix = os.path.realpath(args.wine_prefix)
    env = start_server(args.wine_run, prefix)
    root = tempfile.mkdtemp(prefix="service-hotplug-")
    card = None
    try:
        run, images, logs = prepare(args, prefix, root)
        card = subprocess.Popen(
            [args.cardsim, "--generation", "2", "--link", run.link, "--out",
             os.path.join(root, "card"), "--transcript", os.path.join(root, "transcript.txt"),
             "--idle-exit", "120", "--stay", "--fault", stall],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        check(card.stdout.readline().startswith(b"/dev/"), "cardsim did not start")
        test = subprocess.run(
            [args.wine_run, prefix, args.unit_tests, "--gtest_filter=" + tests],
            env=dict(os.environ, DOVRAND_SERVICE_HOTPLUG_LOG=run.win(logs),
                     DOVRAND_SERVICE_FIGURES="1" if args.figures else ""),
            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=240)
        print(test.stdout, test.stderr, flush=True)
        check(test.returncode == 0, "unit test failed with %d" % test.returncode)
        check("[  PASSED  ] 1 test" in test.stdout, "the unit test did not run")
        if args.figures:
            return 0
        # The first load's images, as the card received them (the second load's AMSS is cut).
        with open(os.path.join(root, "transcript.txt"), errors="replace") as f:
            transcript = f.read()
        for image, data in images.items():
            if image == "AMSS":
                data = data[:-8]
            received = "%s received: %d bytes, sha256 %s" % (image, len(data),
                                                              hashlib.sha256(data).hexdigest())
            check(received in transcript, "%s arrived changed" % image)
        print("all passed")
        return 0
    except Exception as failure:  # reported as the test's failure
        print("FAIL  %s" % failure, flush=True)
        transcript = os.path.join(root, "transcript.txt")
        if os.path.exists(transcript):
            with open(transcript, errors="replace") as f:
                print(f.read()[-3000:])
        return 1
    finally:
        if card is not None:
            card.kill()
            card.wait()
        shutil.rmtree(root, ignore_errors=True)
        stop_server(env)


if __name__ == "__main__":
    sys.exit(main())
