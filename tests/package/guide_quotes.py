#!/usr/bin/env python3
"""Checks that every line the user's guide quotes is one that the programs can write.

The guide quotes a line of the log, the event log or the console on a line of its own that
starts, after its indentation, with "| ". Such a line must be one whole line of a text in the
programs' sources (src/, tools/qdlload/): a wide string literal, adjacent literals joined, cut
at its line feeds, with each printf conversion standing for a value (%ls and %s any text, %d
a number, %x a hexadecimal number). A log line may begin with the log's timestamp; "ERROR: " may
begin one only where the text is written as an error (ReportError, LogWriteError).

guide_quotes.py GUIDE [SOURCE_ROOT]     (SOURCE_ROOT: default the checkout this script is in)
guide_quotes.py --self-test [SOURCE_ROOT]
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
QUOTE = re.compile(r"^\s*\| (.*?)\s*$")
LITERAL = re.compile(r'L"((?:[^"\\\n]|\\.)*)"')
# Adjacent literals, with blanks and line breaks between them, are one text.
TEXT = re.compile(r'(?:L"(?:[^"\\\n]|\\.)*"\s*)+')
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "'": "'", "0": "\0"}
CONVERSION = re.compile(r"%(?:%|[-+ #0]*\d*(?:\.\d+)?(?:ll|l|h)?([sdiuxXc]))")
VALUE = {"s": ".*", "d": r"-?\d+", "i": r"-?\d+", "u": r"\d+", "x": "[0-9a-f]+",
         "X": "[0-9A-F]+", "c": "."}
TIMESTAMP = r"(?:\d\d-\d\d-\d{4} \d\d:\d\d:\d\d:\d{4} )?"
ERROR_CALL = re.compile(r"\b(?:ReportError|LogWriteError)\s*\(\s*$")


def unescape(body):
    return re.sub(r"\\(.)", lambda m: ESCAPES.get(m.group(1), m.group(1)), body)


def texts(root):
    """(text, written as an error) for every text of the programs' sources."""
    found = []
    for folder in ("src", os.path.join("tools", "qdlload")):
        for base, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                if not name.endswith((".cpp", ".h")):
                    continue
                with open(os.path.join(base, name), encoding="utf-8") as f:
                    source = f.read()
                for m in TEXT.finditer(source):
                    text = "".join(unescape(b) for b in LITERAL.findall(m.group(0)))
                    error = bool(ERROR_CALL.search(source[max(0, m.start() - 40):m.start()]))
                    found.append((text, error))
    return found


def patterns(root):
    """A regular expression for each line the programs can write."""
    found = []
    for text, error in texts(root):
        for line in text.split("\n"):
            line = line.rstrip("\r")
            pieces = []
            at = 0
            for m in CONVERSION.finditer(line):
                pieces.append(re.escape(line[at:m.start()]))
                pieces.append("%" if m.group(0) == "%%" else VALUE[m.group(1)])
                at = m.end()
            pieces.append(re.escape(line[at:]))
            # A line that is only values ("%ls") says nothing about what is quoted.
            if len(re.sub(r"[^A-Za-z]", "", CONVERSION.sub("", line))) < 3:
                continue
            prefix = TIMESTAMP + ("(?:ERROR: )" if error else "")
            found.append(re.compile(prefix + "".join(pieces) + r"\Z"))
            if error:  # the same text in the event log and on the console, without the prefix
                found.append(re.compile("".join(pieces) + r"\Z"))
    return found


def quotes(guide_text):
    return [m.group(1) for m in map(QUOTE.match, guide_text.split("\n")) if m]


def unknown(lines, found):
    return [line for line in lines if not any(p.match(line) for p in found)]


# Quotes and whether the programs can write them: the exact texts, typos included, values only
# where a conversion stands, and the error prefix only on what is written as an error.
SELF_TEST = [
    ("No Qualcomm Gobi devices found.", True),
    ("No Qualcomm Gobi device found.", False),
    ("09-12-2026 06:15:40:0007 No Qualcomm Gobi devices found.", True),
    ("09-12-2026 06:15:40:7 No Qualcomm Gobi devices found.", False),
    ("ERROR: No Qualcomm Gobi devices found.", False),
    ("Unable to open port: COM7", True),
    ("Unable to open port COM7", False),
    (r"cSerialPort.Open: Unable to open port \\.\COM7\QDLService. ErrorCode: 5", True),
    (r"cSerialPort.Open: Unable to open port \\.\COM7\QDLService. ErrorCode: five", False),
    ("Recieved wrong answer for initial message.", True),
    ("Received wrong answer for initial message.", False),
    ("Sending block of 262144 bytes [1 / 3]", True),
    ("Lenovo: Qualcomm Gobi 2000 HS-USB (Gobi 2000) found.", True),
    ("ERROR: unable to create File Log (Access denied. (0x5))", True),
    ("unable to create File Log (Access denied. (0x5))", True),
    ("ERROR: unable to create file log (Access denied. (0x5))", False),
    ("Log file created: 'C:\\Program Files\\Dovrand\\Dovrand.log'", True),
    ("Dovrand Service installed.", True),
    ("Sending AMSS failed :-(", True),
    ("Sending AMSS failed", False),
    ("qdlload: firmware loading failed", True),
    ("Unable to load firmware to this Gobi WWAN Card :-(", True),
]


def self_test(root):
    found = patterns(root)
    failed = 0
    for line, writable in SELF_TEST:
        if (not unknown([line], found)) != writable:
            print("FAIL  %r: %s" % (line, "not found" if writable else "accepted"))
            failed += 1
    guide = "Intro\n  | Stopping service...\n  not a quote: | x\n    |   Final Message - OK  \n"
    if quotes(guide) != ["Stopping service...", "  Final Message - OK"]:
        print("FAIL  the quotes of a guide: %r" % quotes(guide))
        failed += 1
    print("%d self-test rows failed" % failed if failed else
          "self-test: %d rows passed" % (len(SELF_TEST) + 1))
    return 1 if failed else 0


def main():
    args = sys.argv[1:]
    if not args or len(args) > 2:
        print(__doc__.strip().split("\n\n")[-1], file=sys.stderr)
        return 2
    root = args[1] if len(args) == 2 else os.path.dirname(os.path.dirname(HERE))
    if args[0] == "--self-test":
        return self_test(root)
    with open(args[0], encoding="utf-8") as f:
        lines = quotes(f.read())
    bad = unknown(lines, patterns(root))
    for line in bad:
        print("FAIL  the guide quotes a line no program writes: %r" % line)
    if not lines:
        print("FAIL  the guide quotes no line")
        return 1
    print("%d of %d quoted lines are not the programs'" % (len(bad), len(lines)) if bad else
          "guide quotes: all %d quoted lines are the programs'" % len(lines))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
