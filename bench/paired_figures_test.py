#!/usr/bin/env python3
"""The figures of bench/throughput's rounds: exact output lines, and every input that must fail."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import paired_figures  # noqa: E402

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "paired_figures.py")


class Summarise(unittest.TestCase):
    def test_figures(self):
        rows = [
            # A load that changes between rounds: the rounds' ratios are 1.0, 0.8 and 1.09; the
            # ratio of the medians would be 80/100 = 0.80.
            ("load changes between rounds",
             "1 wine 50\n1 rawwin 50\n2 wine 80\n2 rawwin 100\n3 wine 120\n3 rawwin 110\n",
             ["wine", "rawwin"], [("wine", "rawwin")],
             ["sender wine 80.0 50.0 120.0", "sender rawwin 100.0 50.0 110.0",
              "ratio wine/rawwin 1.00 0.80 1.09"]),
            ("an even count: the mean of the middle two",
             "1 b 80\n1 d 100\n2 b 90\n2 d 100\n3 b 100\n3 d 100\n4 b 110\n4 d 100\n",
             ["b"], [("b", "d")],
             ["sender b 95.0 80.0 110.0", "ratio b/d 0.95 0.80 1.10"]),
            ("one round, rounds in any order, blank lines, several ratios",
             "\n7 raw 100.25\n7 host 91.5\n7 wine 80\n", ["host", "raw"],
             [("host", "raw"), ("wine", "raw")],
             ["sender host 91.5 91.5 91.5", "sender raw 100.2 100.2 100.2",
              "ratio host/raw 0.91 0.91 0.91", "ratio wine/raw 0.80 0.80 0.80"]),
            ("a sender of no ratio and not asked for is left out",
             "1 a 10\n1 c 20\n1 x 5\n", ["a"], [],
             ["sender a 10.0 10.0 10.0"]),
        ]
        for name, text, senders, ratios, want in rows:
            with self.subTest(name):
                got = paired_figures.summarise(text.splitlines(True), senders, ratios)
                self.assertEqual(got, want)

    def test_failures(self):
        rows = [
            ("", ["b"], [], "no rounds"),
            ("\n\n", ["b"], [], "no rounds"),
            ("1 b 80\n1 d 90\n2 b 85\n", ["b", "d"], [], "round 2: no figure of d"),
            ("1 b 80\n2 b 85\n", ["b"], [("b", "d")], "round 1: no figure of d"),
            ("1 b 80\n1 b 81\n", ["b"], [], "round 1: b twice"),
            ("1 b\n", ["b"], [], "line 1: '1 b' is not ROUND SENDER MBPS"),
            ("1 b 80 MB/s\n", ["b"], [], "line 1: '1 b 80 MB/s' is not ROUND SENDER MBPS"),
            ("1 b 80\n1 d fast\n", ["b"], [], "line 2: 'fast' is not a number"),
            ("1 b 0\n", ["b"], [], "line 1: '0' is not a throughput"),
            ("1 b -5\n", ["b"], [], "line 1: '-5' is not a throughput"),
            ("1 b nan\n", ["b"], [], "line 1: 'nan' is not a throughput"),
            ("1 b inf\n", ["b"], [], "line 1: 'inf' is not a throughput"),
        ]
        for text, senders, ratios, want in rows:
            with self.subTest(want):
                with self.assertRaises(paired_figures.Failure) as failed:
                    paired_figures.summarise(text.splitlines(True), senders, ratios)
                self.assertEqual(str(failed.exception), want)


class Program(unittest.TestCase):
    def run_script(self, text, *args):
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
            f.write(text)
        try:
            return subprocess.run([sys.executable, SCRIPT, f.name] + list(args),
                                  capture_output=True, text=True)
        finally:
            os.unlink(f.name)

    def test_exit_and_output(self):
        rows = [
            ("1 b 80\n1 d 100\n", ["b", "d", "--ratio", "b/d"], 0,
             "sender b 80.0 80.0 80.0\nsender d 100.0 100.0 100.0\nratio b/d 0.80 0.80 0.80\n",
             ""),
            ("1 b 80\n", ["b", "--ratio", "b/d"], 1, "",
             "paired_figures: round 1: no figure of d\n"),
            ("1 b 80\n", ["b", "--ratio", "b"], 1, "", "paired_figures: --ratio takes NUM/DEN\n"),
            ("1 b 80\n", ["b", "--ratio"], 1, "", "paired_figures: --ratio takes NUM/DEN\n"),
        ]
        for text, args, code, out, err in rows:
            with self.subTest(args=args):
                done = self.run_script(text, *args)
                self.assertEqual((done.returncode, done.stdout, done.stderr), (code, out, err))

    def test_missing_file(self):
        done = subprocess.run([sys.executable, SCRIPT, "/nonexistent/rounds.txt", "b"],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 1)
        self.assertTrue(done.stderr.startswith("paired_figures: [Errno 2]"), done.stderr)


if __name__ == "__main__":
    unittest.main()
