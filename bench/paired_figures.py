#!/usr/bin/env python3
"""The figures of bench/throughput from its rounds.

Each round runs every sender once, one right after the other, so the machine's load is about the
same for all senders of a round. A ratio is therefore taken within each round and the rounds'
ratios summarised (median, min, max): a change of load between rounds moves both sides of a
ratio and not the ratio.

Usage: paired_figures.py FILE SENDER... [--ratio NUM/DEN]...
FILE has one line per download: "ROUND SENDER MBPS". Prints, for each SENDER given,
"sender NAME MEDIAN MIN MAX" (MB/s, one decimal), then for each ratio "ratio NUM/DEN MEDIAN MIN
MAX" (two decimals). Exits 1, with the reason on standard error, when the rounds cannot give the
figures: no rounds, a round without one of the senders or with one twice, a figure that is not a
positive number. The figures themselves are never judged.
"""
import statistics
import sys


class Failure(Exception):
    pass


def read_rounds(lines, senders):
    """{round: {sender: mbps}} from the lines, every round with every sender exactly once."""
    rounds = {}
    for number, line in enumerate(lines, 1):
        fields = line.split()
        if not fields:
            continue
        if len(fields) != 3:
            raise Failure("line %d: %r is not ROUND SENDER MBPS" % (number, line.rstrip("\n")))
        run, sender, text = fields
        try:
            mbps = float(text)
        except ValueError:
            raise Failure("line %d: %r is not a number" % (number, text)) from None
        if not mbps > 0 or mbps == float("inf"):
            raise Failure("line %d: %r is not a throughput" % (number, text))
        figures = rounds.setdefault(run, {})
        if sender in figures:
            raise Failure("round %s: %s twice" % (run, sender))
        figures[sender] = mbps
    if not rounds:
        raise Failure("no rounds")
    for run, figures in rounds.items():
        for sender in senders:
            if sender not in figures:
                raise Failure("round %s: no figure of %s" % (run, sender))
    return rounds


def spread(values, digits):
    return "%.*f %.*f %.*f" % (digits, statistics.median(values), digits, min(values), digits,
                               max(values))


def summarise(lines, senders, ratios):
    """The output lines of the figures."""
    needed = list(senders)
    for num, den in ratios:
        needed += [num, den]
    rounds = read_rounds(lines, needed)
    out = []
    for sender in senders:
        out.append("sender %s %s" % (sender, spread([r[sender] for r in rounds.values()], 1)))
    for num, den in ratios:
        paired = [r[num] / r[den] for r in rounds.values()]
        out.append("ratio %s/%s %s" % (num, den, spread(paired, 2)))
    return out


def parse_args(argv):
    if not argv:
        raise Failure("usage: paired_figures.py FILE SENDER... [--ratio NUM/DEN]...")
    path, senders, ratios = argv[0], [], []
    rest = iter(argv[1:])
    for arg in rest:
        if arg == "--ratio":
            pair = next(rest, "").split("/")
            if len(pair) != 2 or not all(pair):
                raise Failure("--ratio takes NUM/DEN")
            ratios.append((pair[0], pair[1]))
        else:
            senders.append(arg)
    return path, senders, ratios


def main(argv):
    try:
        path, senders, ratios = parse_args(argv)
        with open(path) as f:
            lines = f.readlines()
        print("\n".join(summarise(lines, senders, ratios)))
        return 0
    except (Failure, OSError) as failure:
        print("paired_figures: %s" % failure, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
