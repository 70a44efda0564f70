#!/usr/bin/env python3
"""Self-test of cardsim: a scripted host drives the simulated card over its pty and checks the
exact bytes of every answer, the transcript, the stored images and the exit status, for good
loads, for host messages that break the protocol, and for every kind of injected fault.

Usage: selftest.py PATH_TO_CARDSIM
"""
import concurrent.futures
import hashlib
import os
import re
import select
import struct
import subprocess
import sys
import tempfile
import time
import traceback
import tty

CARDSIM = sys.argv[1] if len(sys.argv) > 1 else "cardsim"


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc ^ 0xFFFF


def fcs(payload):
    c = crc16(payload)
    return bytes([c & 0xFF, c >> 8])


def framed(payload):
    return b"\x7e" + payload + fcs(payload) + b"\x7e"


def unframed(payload):
    return payload + fcs(payload)


def initial(gen):
    v = 4 if gen == 1 else 5
    return framed(b"\x01QCOM high speed protocol hst" + bytes(4) + bytes([v, v, 0x30]))


def pre1(kind, size):
    return framed(bytes([0x25, kind]) + struct.pack("<I", size) + bytes([1, 0, 0, 0, 4, 0, 0]))


def pre2(size):
    return unframed(bytes([0x27]) + bytes(6) + struct.pack("<I", size))


FINAL = framed(b"\x29" + bytes(8))


def answer_payload(pref):
    return b"\x02" + bytes(24) + struct.pack("<i", pref) + bytes(20)


def answer(pref=-1):
    return framed(answer_payload(pref))


PRE1_ANSWER = framed(b"\x26" + bytes(7))
POST = framed(b"\x28" + bytes(8))
TYPES = {"AMSS": 5, "APPS": 6, "UQCN": 13}


def stuff(frame):
    inner = frame[1:-1].replace(b"\x7d", b"\x7d\x5d").replace(b"\x7e", b"\x7d\x5e")
    return frame[:1] + inner + frame[-1:]


class Card:
    """One cardsim process and the host's end of its pty."""

    def __init__(self, args, idle=3.0):
        self.dir = tempfile.TemporaryDirectory(prefix="cardsim-selftest-")
        d = self.dir.name
        self.link = os.path.join(d, "com7", "QDLService")
        self.out = os.path.join(d, "out")
        self.transcript_path = os.path.join(d, "transcript.txt")
        self.proc = subprocess.Popen(
            [CARDSIM, "--link", self.link, "--out", self.out, "--transcript",
             self.transcript_path, "--idle-exit", str(idle)] + args,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.slave = self.proc.stdout.readline().decode().strip()
        self.fd = os.open(self.link, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)

    def send(self, data):
        view = memoryview(data)
        while view:
            n = os.write(self.fd, view[:262144])
            view = view[n:]

    def read(self, count, timeout=5.0):
        """Up to count bytes; stops early when nothing comes for timeout seconds."""
        got = b""
        while len(got) < count:
            ready, _, _ = select.select([self.fd], [], [], timeout)
            if not ready:
                break
            got += os.read(self.fd, count - len(got))
        return got

    def finish(self):
        os.close(self.fd)
        try:
            rc = self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            rc = self.proc.wait()
        with open(self.transcript_path) as f:
            self.transcript = f.read()
        self.stderr = self.proc.stderr.read().decode()
        self.proc.stdout.close()
        self.proc.stderr.close()
        return rc

    def stored(self, name):
        with open(os.path.join(self.out, name + ".bin"), "rb") as f:
            return f.read()

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.dir.cleanup()


class Failure(Exception):
    pass


def expect(cond, text):
    if not cond:
        raise Failure(text)


def expect_bytes(got, want, what):
    expect(got == want, "%s: got %s, expected %s" % (what, got.hex(" "), want.hex(" ")))


def send_image(card, name, data):
    card.send(pre1(TYPES[name], len(data)))
    expect_bytes(card.read(len(PRE1_ANSWER)), PRE1_ANSWER, "answer to PreFirmware message 1 of " + name)
    card.send(pre2(len(data)))
    card.send(data)
    expect_bytes(card.read(len(POST)), POST, "PostFirmware response of " + name)


def full_load(card, gen, images, pref=-1):
    card.send(initial(gen))
    expect_bytes(card.read(53), answer(pref), "answer to the initial message")
    for name, data in images:
        send_image(card, name, data)
    card.send(FINAL)


def images_for(gen):
    # AMSS's size holds 0x7E and 0x7D bytes: the host sends them unescaped in both messages.
    imgs = [("AMSS", os.urandom(0x017D7E)), ("APPS", os.urandom(262144))]
    if gen == 2:
        imgs.append(("UQCN", os.urandom(1000)))
    return imgs


# ---- good loads ------------------------------------------------------------------------------

def good_load(gen, pref):
    def run(card):
        imgs = images_for(gen)
        full_load(card, gen, imgs, pref)
        rc = card.finish()
        expect(rc == 0, "exit status %d" % rc)
        for name, data in imgs:
            expect(card.stored(name) == data, name + " stored differs from what was sent")
            line = re.search(r"%s received: (\d+) bytes, sha256 ([0-9a-f]{64}), ([\d.]+|n/a) MB/s" % name,
                             card.transcript)
            expect(line is not None, "no transcript line for " + name)
            expect(int(line.group(1)) == len(data), name + " size in the transcript")
            expect(line.group(2) == hashlib.sha256(data).hexdigest(), name + " sha256 in the transcript")
        expect(("UQCN received" in card.transcript) == (gen == 2), "UQCN only for a Gobi 2000 card")
        expect("load 1 complete: %d images" % len(imgs) in card.transcript, "no completion line")
        expect("VIOLATION" not in card.transcript and "FAULT" not in card.transcript, "unexpected fault")
    return run


def two_loads(card):
    for _ in range(2):
        full_load(card, 2, images_for(2))
    rc = card.finish()
    expect(rc == 0, "exit status %d" % rc)
    expect("load 2 complete" in card.transcript, "second load not complete")


def retry_after_no_answer(card):
    # The host gets no answer, gives up and starts over; the second load is served.
    card.send(initial(2))
    expect_bytes(card.read(53, timeout=0.3), b"", "answer that should not come")
    full_load(card, 2, images_for(2))
    rc = card.finish()
    expect(rc == 0, "exit status %d" % rc)
    expect("load 1 failed" in card.transcript and "load 2 complete" in card.transcript,
           "first load failed, second complete")
    expect("VIOLATION" not in card.transcript, "starting over after a missing answer is no violation")


# ---- the host breaks the protocol: no answer, a clear violation, exit status 1 ---------------

def violation(send, want):
    def run(card):
        send(card)
        rest = card.read(100, timeout=0.5)
        rc = card.finish()
        expect(rc == 1, "exit status %d" % rc)
        expect(re.search("VIOLATION: .*" + want, card.transcript) is not None,
               "no violation matching %r in:\n%s" % (want, card.transcript))
        return rest
    return run


def bad_fcs_initial(card):
    m = bytearray(initial(2))
    m[-3] ^= 0x01
    card.send(bytes(m))


def to_pre2(card, size=1000):
    card.send(initial(2))
    card.read(53)
    card.send(pre1(5, size))
    card.read(12)


def stuffed_pre1(card):
    card.send(initial(2))
    card.read(53)
    card.send(stuff(pre1(5, 0x7E7E)))


def final_without_uqcn(card):
    card.send(initial(2))
    card.read(53)
    for name, data in images_for(2)[:2]:
        send_image(card, name, data)
    card.send(FINAL)


def image_cut_short(card):
    to_pre2(card)
    card.send(pre2(1000))
    card.send(os.urandom(500))


def extra_after_image(card):
    to_pre2(card)
    card.send(pre2(1000))
    card.send(os.urandom(1000))
    expect_bytes(card.read(13), POST, "PostFirmware response")
    card.send(b"\x55" * 5)


# ---- injected faults: the exact bytes of the answer ------------------------------------------

def fault(read_answer, want, transcript):
    def run(card):
        got = read_answer(card)
        expect_bytes(got, want, "faulty answer")
        card.finish()
        expect(re.search(transcript, card.transcript) is not None,
               "no %r in the transcript:\n%s" % (transcript, card.transcript))
    return run


def initial_answer(card, count=53, timeout=5.0):
    card.send(initial(2))
    return card.read(count, timeout)


def pre1_answer(card, count=12):
    card.send(initial(2))
    card.read(53)
    card.send(pre1(5, 1000))
    return card.read(count, timeout=1.0)


def post_answer(card, count):
    to_pre2(card)
    card.send(pre2(1000))
    card.send(os.urandom(1000))
    return card.read(count, timeout=1.0)


def with_byte(frame, index, value):
    b = bytearray(frame)
    b[index] = value
    return bytes(b)


def stalled_reader(card):
    imgs = images_for(2)
    full_load(card, 2, imgs)
    rc = card.finish()
    expect(rc == 0, "exit status %d" % rc)
    expect(card.stored("AMSS") == imgs[0][1], "AMSS after the stall")
    expect(re.search(r"FAULT: AMSS: stops reading after \d+ of 97662 bytes for 300 ms", card.transcript),
           "no stall line")


def stalled_reader_at_a_tenth(card):
    imgs = images_for(2)
    full_load(card, 2, imgs)
    expect(card.finish() == 0, "exit status")
    expect("FAULT: AMSS: stops reading after 9766 of 97662 bytes for 300 ms" in card.transcript,
           "no stall line at 10%")


def vanishing_card(card):
    to_pre2(card)
    card.send(pre2(1000))
    card.send(os.urandom(1000))
    rc = card.finish()
    expect(rc == 1, "exit status %d" % rc)
    expect("FAULT: AMSS: the card vanishes after 250 of 1000 bytes" in card.transcript,
           "no vanish line")
    expect(not os.path.lexists(card.link), "the link to the pty is still there")


CASES = [
    ("good load, Gobi 2000, preference 0x7E", ["--preference", "126"], good_load(2, 126)),
    ("good load, Gobi 1000", ["--generation", "1"], good_load(1, -1)),
    ("two loads", ["--loads", "2"], two_loads),
    ("retry after no answer", ["--fault", "initial:noreply@1"], retry_after_no_answer),
    ("initial with bad FCS", [], violation(bad_fcs_initial, r"the initial message: FCS is ")),
    ("Gobi 1000 version to a Gobi 2000 card", [],
     violation(lambda c: c.send(initial(1)), r"version is 04 04, expected 05 05")),
    ("short initial", [],
     violation(lambda c: c.send(initial(2)[:39]), r"expected the initial message \(40 bytes\), got 39 bytes")),
    ("APPS before AMSS", [],
     violation(lambda c: (initial_answer(c), c.send(pre1(6, 1000))),
               r"image type is 6 \(APPS\), expected 5")),
    ("PreFirmware 2 size differs", [],
     violation(lambda c: (to_pre2(c), c.send(pre2(999))), r"PreFirmware message 2 of AMSS: image size is ")),
    ("byte-stuffed PreFirmware 1", [], violation(stuffed_pre1, r"got it byte-stuffed as 19 bytes")),
    ("final message before UQCN", [],
     violation(final_without_uqcn, r"expected PreFirmware message 1 of UQCN \(17 bytes\), got the final message")),
    ("image cut short", ["--resync-ms", "300"],
     violation(image_cut_short, r"AMSS stopped after 500 of 1000 bytes")),
    ("bytes after the image", [],
     violation(extra_after_image, r"expected PreFirmware message 1 of APPS \(17 bytes\), got 5 bytes: 55 55")),
    ("fault: wrong first byte", ["--fault", "initial:firstbyte"],
     fault(initial_answer, framed(b"\x0d" + answer_payload(-1)[1:]), r"FAULT: .*first payload byte 0D")),
    ("fault: no opening flag", ["--fault", "initial:noflag"],
     fault(initial_answer, with_byte(answer(), 0, 0), r"FAULT: .*opening flag")),
    ("fault: bad FCS", ["--fault", "initial:badfcs"],
     fault(initial_answer, with_byte(answer(), 50, answer()[50] ^ 0xFF), r"FAULT: .*FCS")),
    ("fault: split answer", ["--fault", "initial:split:50"],
     fault(initial_answer, answer(), r"part 1 \(26 bytes\)[^\n]*\n.*part 2 \(27 bytes\)")),
    ("fault: late answer", ["--fault", "initial:late:300"], fault(initial_answer, answer(), r"sent after 300 ms")),
    ("fault: extra bytes", ["--fault", "pre1:AMSS:extra:3"],
     fault(lambda c: pre1_answer(c, 15), PRE1_ANSWER + b"\x55\x55\x55", r"3 extra bytes")),
    ("fault: no answer", ["--fault", "pre1:AMSS:noreply"], fault(pre1_answer, b"", r"not sent: answer to PreFirmware")),
    ("fault: stuffed answer", ["--fault", "post:AMSS:stuffed"],
     fault(lambda c: post_answer(c, 14), stuff(framed(b"\x28\x7e" + bytes(7))), r"byte-stuffed")),
    ("fault: stalled reader", ["--fault", "stall:AMSS:300"], stalled_reader),
    ("fault: stalled reader at 10%", ["--fault", "stall:AMSS:300:10"], stalled_reader_at_a_tenth),
    ("fault: card vanishes", ["--fault", "vanish:AMSS:25"], vanishing_card),
]


def run_case(case):
    name, args, body = case
    card = None
    try:
        card = Card(args)
        body(card)
        if os.environ.get("SELFTEST_VERBOSE") and getattr(card, "transcript", None):
            print("--- %s ---\n%s" % (name, card.transcript))
        return name, None
    except Exception as e:  # a failed expectation or a broken pipe: report, go on
        detail = str(e) if isinstance(e, Failure) else traceback.format_exc()
        if card is not None and getattr(card, "transcript", None):
            detail += "\n--- transcript ---\n" + card.transcript
        return name, detail
    finally:
        if card is not None:
            card.close()


def main():
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
        results = list(pool.map(run_case, CASES))
    failed = 0
    for name, detail in results:
        print("%-45s %s" % (name, "ok" if detail is None else "FAILED"))
        if detail is not None:
            failed += 1
            print("    " + detail.replace("\n", "\n    "))
    print("%d of %d cases passed" % (len(results) - failed, len(results)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
