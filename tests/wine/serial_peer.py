#!/usr/bin/env python3
"""The card's side of a serial exchange with the Windows build under Wine.

Makes a pty, links it into the Wine prefix as COMn (dosdevices/comn/QDLService -> /dev/pts/N),
runs the unit test SerialPtyPeer.* of unit_tests.exe with DOVRAND_SERIAL_PEER_PORT=COMn, and
checks the bytes that the program sends while playing the card:

  1. reads the framed message 7E 01 68 65 6C 6C 6F 7E 7D <FCS> 7E, answers 7E 02 AA A7 36 7E;
  2. reads a raw block of 256 KiB, checks every byte, answers the frame of the payload 03;
  3. answers nothing (the program's read times out, then it is cancelled from another thread);
  4. reads the framed message of the payload 04, then stops reading while the program writes
     another 256 KiB block, which must time out; after the program has ended, what the line took
     must be a proper, non-empty prefix of that block.

Usage: serial_peer.py WINE_RUN PREFIX UNIT_TESTS_EXE
"""

import os
import select
import subprocess
import sys
import time
import tty

BLOCK = 256 * 1024


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return ~crc & 0xFFFF


def framed(payload):
    fcs = crc16(payload)
    return bytes([0x7E]) + bytes(payload) + bytes([fcs & 0xFF, fcs >> 8, 0x7E])


def pattern(count):
    return bytes((i * 7 + i // 251) & 0xFF for i in range(count))


class Failure(Exception):
    pass


def read_exactly(fd, count, timeout):
    data = bytearray()
    deadline = time.monotonic() + timeout
    while len(data) < count:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            break
        try:
            chunk = os.read(fd, count - len(data))
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    return bytes(data)


def expect(fd, wanted, what, timeout=20):
    got = read_exactly(fd, len(wanted), timeout)
    if got != wanted:
        shown = got if len(got) <= 64 else got[:64] + b"..."
        raise Failure(f"{what}: got {len(got)} bytes {shown.hex(' ')}, wanted {len(wanted)}")


def serve(master):
    expect(master, framed([0x01, 0x68, 0x65, 0x6C, 0x6C, 0x6F, 0x7E, 0x7D]), "framed message")
    os.write(master, framed([0x02, 0xAA]))
    start = time.monotonic()
    expect(master, pattern(BLOCK), "256 KiB block")
    print(f"peer: 256 KiB block read in {(time.monotonic() - start) * 1000:.1f} ms", flush=True)
    os.write(master, framed([0x03]))
    # Nothing for the timed-out read and the cancelled one; the next frame comes after both.
    expect(master, framed([0x04]), "frame before the peer stops reading", timeout=30)


def main():
    wine_run, prefix, exe = sys.argv[1:4]
    port = f"COM{100 + os.getpid() % 150}"
    master, slave = os.openpty()
    tty.setraw(slave)
    link_dir = os.path.join(prefix, "dosdevices", port.lower())
    subprocess.run([wine_run, prefix, "--prepare"], check=True)
    os.makedirs(link_dir, exist_ok=True)
    link = os.path.join(link_dir, "QDLService")
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(slave), link)

    env = dict(os.environ, DOVRAND_SERIAL_PEER_PORT=port)
    child = subprocess.Popen([wine_run, prefix, exe, "--gtest_filter=SerialPtyPeer.*"],
                             env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    failure = None
    try:
        serve(master)
        output, _ = child.communicate(timeout=120)
    except (Failure, subprocess.TimeoutExpired) as error:
        failure = str(error) or "time-out"
        child.kill()
        output, _ = child.communicate()
    finally:
        os.unlink(link)
        os.rmdir(link_dir)

    text = output.decode("utf-8", "replace")
    print(text)
    if failure is None:
        taken = read_exactly(master, BLOCK, 2)
        print(f"peer: the timed-out write left {len(taken)} bytes on the line")
        if not 0 < len(taken) < BLOCK or taken != pattern(BLOCK)[:len(taken)]:
            failure = f"timed-out write: {len(taken)} bytes, not a proper prefix of the block"
    if failure is None and child.returncode != 0:
        failure = f"unit_tests.exe exited with {child.returncode}"
    if failure is None and ("[  PASSED  ] 1 test" not in text or "SKIPPED" in text):
        failure = "the peer test did not run and pass"
    os.close(master)
    os.close(slave)
    if failure:
        print(f"FAILED: {failure}")
        return 1
    print("peer: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
