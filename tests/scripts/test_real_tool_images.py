#!/usr/bin/env python3
"""Images made by tools no one here wrote: our reader's extraction must equal 7-Zip's and the source folder,
and tamsel must print for each image what it prints for the folder."""
import argparse
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None
HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))


def tools_present():
    return all(shutil.which(t) for t in ("genisoimage", "mkudffs", "udfclient", "7zz", "udfinfo"))


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, errors="replace", **kw)


def same_tree(a, b):
    """Every file and folder of a is in b with the same bytes, and b holds nothing more."""
    cmp = filecmp.dircmp(a, b)
    if cmp.left_only or cmp.right_only or cmp.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, cmp.common_files, shallow=False)
    if mismatch or errors:
        return False
    return all(same_tree(os.path.join(a, d), os.path.join(b, d)) for d in cmp.common_dirs)


def lines(text):
    """The run's lines, sorted: other writers record the clips in an order of their own, which the image
    run keeps."""
    text = re.sub(r"Time elapsed      : [0-9.]+ s", "Time elapsed      : X s", text)
    return sorted(re.split(r"[\r\n]", text))


@unittest.skipUnless(tools_present(), "UDF tools are not installed")
class RealToolImages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="tamsel-real-")
        cls.disc = os.path.join(cls.work, "disc")
        made = run([ARGS.sampledisc, cls.disc, "--seed", "3", "--clip", "00001.m2ts:8u", "--clip",
                    "00002.m2ts:7.5u:corrupt=2", "--clip", "00003.m2ts:4000"])
        assert made.returncode == 0, made.stderr
        cls.images = os.path.join(cls.work, "images")
        made = run(["sh", os.path.join(SOURCE, "scripts", "make_real_tool_images.sh"), cls.images, cls.disc])
        cls.recipes = made.stdout
        cls.folder_run = run([ARGS.tamsel, "-nologo", "-p", cls.disc])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def filled_images(self):
        names = [n for n in sorted(os.listdir(self.images)) if "vat" not in n]
        self.assertGreaterEqual(len(names), 4, self.recipes)
        return names

    def test_every_recipe_worked(self):
        self.assertNotIn("FAIL", self.recipes)
        self.assertEqual(self.recipes.count("ok "), 5, self.recipes)

    def test_reader_extracts_what_7zip_extracts(self):
        for name in self.filled_images():
            with self.subTest(image=name):
                image = os.path.join(self.images, name)
                ours = os.path.join(self.work, "ours-" + name)
                theirs = os.path.join(self.work, "7z-" + name)
                got = run([ARGS.extract, image, ours])
                self.assertEqual(got.returncode, 0, got.stderr)
                got = run(["7zz", "x", "-tudf", "-y", "-o" + theirs, image])
                self.assertEqual(got.returncode, 0, got.stdout)
                self.assertTrue(same_tree(theirs, ours), name)
                self.assertTrue(same_tree(self.disc, ours), name)

    def test_tamsel_prints_the_folder_run(self):
        self.assertEqual(self.folder_run.returncode, 1)
        for name in self.filled_images():
            with self.subTest(image=name):
                got = run([ARGS.tamsel, "-nologo", "-p", os.path.join(self.images, name)])
                self.assertEqual(got.returncode, self.folder_run.returncode)
                self.assertEqual(lines(got.stdout), lines(self.folder_run.stdout))

    def test_empty_write_once_volume_mounts_through_its_vat(self):
        vat = [n for n in os.listdir(self.images) if "vat" in n]
        self.assertEqual(len(vat), 1, self.recipes)
        got = run([ARGS.tamsel, "-nologo", os.path.join(self.images, vat[0])])
        # It mounts (no parse failure) and holds nothing: a disc with nothing to verify is no intact copy.
        self.assertEqual(got.returncode, 1)
        self.assertEqual(got.stdout, "AACS directory not present, abort!\n")


class OwnWriterImages(unittest.TestCase):
    """Every layout and option of our writer extracts to the folder it was made from, names above U+00FF and
    nested folders included."""

    def test_every_layout_extracts_to_its_folder(self):
        work = tempfile.mkdtemp(prefix="tamsel-own-")
        try:
            disc = os.path.join(work, "disc")
            made = run([ARGS.sampledisc, disc, "--clip", "00001.m2ts:3u", "--clip", "00002.m2ts:5000"])
            self.assertEqual(made.returncode, 0, made.stderr)
            os.makedirs(os.path.join(disc, "BDMV", "META", "DL"))
            with open(os.path.join(disc, "BDMV", "META", "DL", "bdmt_\u65e5\u672c.xml"), "wb") as f:
                f.write(b"<x/>" * 100)
            with open(os.path.join(disc, "caf\u00e9.txt"), "wb") as f:
                f.write(b"latin")
            for layout in ("metadata250", "physical102", "virtual201"):
                for options in ("", "efe,longad,deleted", "embed,continuation,extent=4096", "metadata2"):
                    if options == "metadata2" and layout != "metadata250":
                        continue
                    with self.subTest(layout=layout, options=options):
                        image = os.path.join(work, "img")
                        out = os.path.join(work, "out-%s-%s" % (layout, options.replace(",", "-")))
                        made = run([ARGS.sampledisc, disc, "--image-only", "--udf", layout, image] +
                                   (["--udf-options", options] if options else []))
                        self.assertEqual(made.returncode, 0, made.stderr)
                        got = run([ARGS.extract, image, out])
                        self.assertEqual(got.returncode, 0, got.stderr)
                        self.assertTrue(same_tree(disc, out))
        finally:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tamsel", required=True)
    parser.add_argument("--sampledisc", required=True)
    parser.add_argument("--build-dir", required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.extract = os.path.join(ARGS.build_dir, "tools", "tamsel-udfextract")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
