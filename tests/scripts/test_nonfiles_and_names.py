#!/usr/bin/env python3
"""Things that are not files where a disc has files, and names that try to steer the terminal: the run never
waits on a FIFO, says what it could not open, and shows every name with its control bytes escaped."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None
UNIT = 196608
TIME_LIMIT = 10  # a run that waits on a FIFO would never end; this says so long before the test runner would


class NonFilesAndNames(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="tamsel-nonfiles-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def disc(self, *clips):
        root = os.path.join(self.work, "disc")
        args = [ARGS.sampledisc, root]
        for clip in clips:
            args += ["--clip", clip]
        made = subprocess.run(args, capture_output=True)
        self.assertEqual(made.returncode, 0, made.stderr)
        return root

    def tamsel(self, *args):
        try:
            got = subprocess.run([ARGS.tamsel, "-nologo"] + list(args), stdin=subprocess.DEVNULL,
                                 capture_output=True, timeout=TIME_LIMIT)
        except subprocess.TimeoutExpired:
            self.fail("the run waited on something that is not a file")
        return got.returncode, got.stdout.decode("latin-1")

    def fifo_in_place_of(self, path):
        os.remove(path)
        os.mkfifo(path)

    def test_fifos_are_refused_at_once(self):
        cases = {
            # name: (what becomes a FIFO, relative to the disc; status; a line of the output)
            "clip": ("BDMV/STREAM/00002.m2ts", 1, "cannot open file {disc}/BDMV/STREAM/00002.m2ts\n"),
            "hash table": ("AACS/ContentHash000.tbl", 1,
                           "Content hash table missing, unable to verify integrity of M2TS files.\n"),
            "certificate": ("AACS/Content000.cer", 1,
                            "Content hash table missing, unable to verify integrity of M2TS files.\n"),
        }
        for name, (what, status, line) in cases.items():
            with self.subTest(name):
                root = self.disc("00001.m2ts:7u", "00002.m2ts:8u")
                self.fifo_in_place_of(os.path.join(root, what))
                got, out = self.tamsel(root)
                self.assertEqual(got, status, out)
                self.assertIn(line.format(disc=root), out)
                shutil.rmtree(root)
        with self.subTest("image"):
            image = os.path.join(self.work, "disc.img")
            os.mkfifo(image)
            self.assertEqual(self.tamsel(image), (1, "Failed to parse UDF file system in %s!\n" % image))

    def test_names_are_shown_with_control_bytes_escaped(self):
        # Five characters before ".m2ts": the folder run's wildcard takes it; its number is 0.
        name = "0000\x1b.m2ts"
        root = self.disc(name + ":7u", "00002.m2ts:7u")
        shown = "0000\\x1B.m2ts"
        for args in ([root], ["-v", root], ["-p", root]):
            with self.subTest(args=args[:-1]):
                got, out = self.tamsel(*args)
                self.assertEqual(got, 0, out)
                self.assertNotIn("\x1b", out)
                self.assertIn(shown + " content hash match", out)
        os.remove(os.path.join(root, "BDMV", "STREAM", name))
        got, out = self.tamsel(root)
        self.assertEqual(got, 1, out)
        # The missing clip is named by its number, which has nothing to escape.
        self.assertIn("00000.m2ts is missing\n", out)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tamsel", required=True)
    parser.add_argument("--sampledisc", required=True)
    parser.add_argument("--build-dir")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
