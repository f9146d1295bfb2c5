#!/usr/bin/env python3
"""The outputs scripts read, through the real executable: the JSON Lines report (-j) of intact, damaged and
failing discs, folders and images, parsed with a real JSON parser and checked field by field against values
worked out here from the disc's own files; the quiet text (-q); --version and --help; the manual page; and
what `cmake --install` puts under a prefix."""
import argparse
import hashlib
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import unittest

ARGS = None
UNIT = 196608
MAX_LISTED_MISMATCHES = 64
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MAN_PAGE = os.path.join(SOURCE_DIR, "doc", "tamsel.1")
README = os.path.join(SOURCE_DIR, "README.md")

USAGE = ("tamsel - Verify the integrity of M2TS files\n"
         "Usage:\n"
         "\ttamsel [switch] [disc_root_path]\n"
         "Switch:\n"
         "\t-a      abort on mismatch hash\n"
         "\t-h      help\n"
         "\t-?      help\n"
         "\t-nologo suppress copyright message\n"
         "\t-p      show progress\n"
         "\t-tN     hash on N threads (default: one per processor)\n"
         "\t-q      only problems and the summary\n"
         "\t-j      JSON Lines report\n"
         "\t-v      verbose output\n"
         "Example:\n"
         "\ttamsel -v e:\\bd\\avatar\\\n")
RULE = "--------------------------------"


def run(cmd, **kwargs):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)


def make(root, *options):
    made = run([ARGS.sampledisc, root] + list(options))
    assert made.returncode == 0, made.stderr
    return root


def image_of(folder, layout="metadata250"):
    image = folder + ".img"
    made = run([ARGS.sampledisc, folder, "--image-only", "--udf", layout, image])
    assert made.returncode == 0, made.stderr
    return image


def stream(folder, name):
    return os.path.join(folder, "BDMV", "STREAM", name)


def cut(path, size):
    with open(path, "r+b") as f:
        f.truncate(size)


class Table:
    """The disc's content files read back: which digest, and each listed clip's run of values."""

    def __init__(self, folder):
        with open(os.path.join(folder, "AACS", "Content000.cer"), "rb") as f:
            certificate = f.read()
        with open(os.path.join(folder, "AACS", "ContentHash000.tbl"), "rb") as f:
            table = f.read()
        self.sha256 = certificate[0] == 0x10
        count = struct.unpack_from(">H", certificate, 12)[0]
        starts = [struct.unpack_from(">II", table, 12 * i) for i in range(count)]
        self.values = [table[at:at + 8] for at in range(12 * count, len(table), 8)]
        self.runs = {}
        for i, (first, number) in enumerate(starts):
            end = starts[i + 1][0] if i + 1 < count else len(self.values)
            self.runs[number] = (first, end - first)

    @property
    def digest(self):
        return "SHA-256" if self.sha256 else "SHA-1"

    def unit_value(self, data):
        return (hashlib.sha256 if self.sha256 else hashlib.sha1)(data).digest()[-8:]


def clip(folder, name, result, reason=None, abort=False, **where):
    """The clip object the report must hold for file NAME of FOLDER, its mismatches worked out from the file and
    the table."""
    table = Table(folder)
    path = stream(folder, "").encode() + name if isinstance(name, bytes) else stream(folder, name)
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:  # what the tool cannot open, it counts as holding nothing
        data = b""
    number = int(re.match(rb"\d*", name.encode("latin-1") if isinstance(name, str) else name).group(0) or 0)
    first, listed = table.runs.get(number, (0, 0))
    whole = len(data) // UNIT
    shown = name if isinstance(name, str) else name.decode("latin-1")
    out = {"type": "clip", "name": shown, "number": number, "size": len(data), "wholeUnits": whole,
           "listedUnits": listed, "result": result}
    if reason:
        out["reason"] = reason
    out.update(where)
    mismatches = []
    if result != "skipped":
        for k in range(min(whole, listed)):
            actual = table.unit_value(data[k * UNIT:(k + 1) * UNIT])
            if actual != table.values[first + k]:
                mismatches.append({"offset": k * UNIT, "expected": table.values[first + k].hex().upper(),
                                   "actual": actual.hex().upper()})
                if abort:
                    break
    if mismatches:
        out["mismatchedUnits"] = len(mismatches)
        out["mismatches"] = mismatches[:MAX_LISTED_MISMATCHES]
    return out


def missing(number):
    return {"type": "missing", "name": "%05d.m2ts" % number, "number": number}


def summary(disc, digest, objects):
    """The summary that the clip and missing objects before it add up to."""
    clips = [o for o in objects if o["type"] == "clip"]
    count = lambda result: sum(1 for o in clips if o["result"] == result)
    out = {"type": "summary", "disc": disc, "digest": digest,
           "files": len(clips), "matched": count("matched"), "mismatched": count("mismatched"),
           "mismatchedUnits": sum(o.get("mismatchedUnits", 0) for o in clips), "unverified": count("unverified"),
           "missing": sum(1 for o in objects if o["type"] == "missing"), "skipped": count("skipped")}
    out["intact"] = out["mismatched"] + out["unverified"] + out["missing"] == 0
    return out


def report(target, *switches):
    """The run's exit status and its report, each line parsed on its own as strict JSON."""
    got = run([ARGS.tamsel, "-j"] + list(switches) + [target])
    text = got.stdout.decode("utf-8")  # strict: the report is UTF-8 whatever bytes the names hold
    objects = [json.loads(line) for line in text.split("\n")[:-1]]
    assert text.endswith("\n"), text
    return got.returncode, objects, got.stderr


def quiet_text(target):
    got = run([ARGS.tamsel, "-q", target])
    return got.returncode, re.sub(r"Time elapsed      : \d+\.\d s\n", "Time elapsed      : T s\n",
                                  got.stdout.decode("latin-1")), got.stderr


class Discs:
    """The discs every test here reads, made once."""

    @classmethod
    def make(cls):
        cls.work = tempfile.mkdtemp(prefix="tamsel-reports-")
        w = lambda name: os.path.join(cls.work, name)
        cls.intact = make(w("intact"), "--clip", "00001.m2ts:10u", "--clip", "00002.m2ts:7.5u",
                          "--clip", "00003.m2ts:200000")
        all_units = "+".join(str(u) for u in range(70))
        cls.mismatching = make(w("mismatching"), "--sha1", "--clip", "00001.m2ts:10u:corrupt=2+7",
                               "--clip", "00002.m2ts:70u:corrupt=" + all_units, "--clip", "00003.m2ts:8u")
        # Cut short: above the smallest hashed size, with a mismatch before the cut, and below that size.
        cls.truncated = make(w("truncated"), "--clip", "00001.m2ts:10u", "--clip", "00002.m2ts:10u:corrupt=1",
                             "--clip", "00003.m2ts:8u")
        cut(stream(cls.truncated, "00001.m2ts"), int(6.5 * UNIT))
        cut(stream(cls.truncated, "00002.m2ts"), 4 * UNIT)
        cut(stream(cls.truncated, "00003.m2ts"), 3 * UNIT)
        cls.dropped = make(w("dropped"), "--clip", "00001.m2ts:8u", "--clip", "00002.m2ts:8u",
                           "--clip", "00003.m2ts:8u")
        os.remove(stream(cls.dropped, "00002.m2ts"))
        # Clip 2 holds a unit more than its run; clip 3 has no entry.
        cls.entries = make(w("entries"), "--clip", "00001.m2ts:8u", "--clip", "00002.m2ts:8u",
                           "--clip", "00003.m2ts:8u:notable")
        with open(stream(cls.entries, "00002.m2ts"), "ab") as f:
            f.write(bytes(UNIT))
        cls.no_stream = make(w("no-stream"), "--no-stream", "--clip", "00001.m2ts:8u", "--clip", "00002.m2ts:9u")
        cls.no_aacs = make(w("no-aacs"), "--no-aacs", "--clip", "00001.m2ts:8u")
        cls.no_table = make(w("no-table"), "--clip", "00001.m2ts:8u")
        for name in os.listdir(os.path.join(cls.no_table, "AACS")):
            os.remove(os.path.join(cls.no_table, "AACS", name))
        cls.images = {folder: image_of(folder) for folder in
                      (cls.intact, cls.mismatching, cls.truncated, cls.dropped, cls.entries, cls.no_stream,
                       cls.no_aacs, cls.no_table)}
        # Every line -q keeps, with one clip that matches among them. Clip 4 is a socket, which no one can open.
        cls.problems = make(w("problems"), "--clip", "00001.m2ts:10u:corrupt=4", "--clip", "00002.m2ts:10u",
                            "--clip", "00003.m2ts:8u:notable", "--clip", "00004.m2ts:8u", "--clip", "00005.m2ts:8u",
                            "--clip", "00006.m2ts:8u", "--clip", "00007.m2ts:8u")
        cut(stream(cls.problems, "00002.m2ts"), int(6.5 * UNIT))
        os.remove(stream(cls.problems, "00004.m2ts"))
        cls.socket = socket.socket(socket.AF_UNIX)
        cls.socket.bind(stream(cls.problems, "00004.m2ts"))
        os.remove(stream(cls.problems, "00005.m2ts"))
        with open(stream(cls.problems, "00006.m2ts"), "ab") as f:
            f.write(bytes(UNIT))
        # Two layers, one clip each, and the second layer's content files damaged: its table gone, or both.
        cls.layers = {}
        for removed in (("ContentHash001.tbl",), ("Content001.cer", "ContentHash001.tbl")):
            folder = make(w("layers-%d" % len(removed)), "--pairs", "2", "--clip", "00001.m2ts:8u",
                          "--clip", "00002.m2ts:8u:pair=1")
            for name in removed:
                os.remove(os.path.join(folder, "AACS", name))
            cls.layers[removed] = folder
        # Three layers, whose first two pairs hold more values than any disc: the table fills up at the second
        # pair and the third is never looked at.
        cls.full = make(w("full"), "--pairs", "3", "--clip", "00001.m2ts:8u", "--clip", "00002.m2ts:8u:pair=1",
                        "--clip", "00003.m2ts:8u:pair=2")
        for pair in (0, 1):
            aacs = os.path.join(cls.full, "AACS")
            with open(os.path.join(aacs, "Content%03d.cer" % pair), "r+b") as f:
                certificate = bytearray(f.read())
                certificate[8:12] = struct.pack(">I", struct.unpack_from(">I", certificate, 8)[0] + 2200000)
                f.seek(0)
                f.write(certificate)
            with open(os.path.join(aacs, "ContentHash%03d.tbl" % pair), "ab") as f:
                f.write(bytes(8 * 2200000))
        # Seventy unusable pairs after two good ones: 64 are named, the rest counted.
        cls.unusable = make(w("unusable"), "--pairs", "2", "--clip", "00001.m2ts:8u", "--clip", "00002.m2ts:8u:pair=1")
        for pair in range(2, 72):
            for name in ("Content%03d.cer", "ContentHash%03d.tbl"):
                with open(os.path.join(cls.unusable, "AACS", name % pair), "wb") as f:
                    f.write(b"\0")
        # An image cut inside the first clip's data.
        cls.readable = make(w("readable"), "--clip", "00001.m2ts:10u", "--clip", "00002.m2ts:8u")
        whole = image_of(cls.readable, "physical102")
        with open(whole, "rb") as f:
            data = f.read()
        with open(stream(cls.readable, "00001.m2ts"), "rb") as f:
            cls.clip_start = data.find(f.read(UNIT))
        with open(stream(cls.readable, "00002.m2ts"), "rb") as f:
            cls.second_start = data.find(f.read(UNIT))
        assert 0 < cls.clip_start < cls.second_start, (cls.clip_start, cls.second_start)
        cls.cut_image = w("cut.img")
        with open(cls.cut_image, "wb") as f:
            f.write(data[:cls.clip_start + 3 * UNIT + UNIT // 2])

    @classmethod
    def remove(cls):
        cls.socket.close()
        shutil.rmtree(cls.work, ignore_errors=True)


def setUpModule():
    Discs.make()


def tearDownModule():
    Discs.remove()


class Reports(unittest.TestCase, Discs):
    def check_report(self, target, switches, status, objects, digest):
        got_status, got, err = report(target, *switches)
        self.assertEqual(err, b"")
        self.assertEqual(got_status, status)
        self.assertTrue(got, "no report")
        last = got[-1]
        self.assertIsInstance(last.pop("elapsedSeconds", None), float, last)
        self.assertEqual(got[:-1], objects)
        self.assertEqual(last, summary(target, digest, objects))

    def test_json_report(self):
        i, m, t, d, e, p = self.intact, self.mismatching, self.truncated, self.dropped, self.entries, self.problems
        cases = {
            # name: (folder, switches, status, clip and missing objects)
            "intact": (i, [], 0, [clip(i, "00001.m2ts", "matched"), clip(i, "00002.m2ts", "matched"),
                                  clip(i, "00003.m2ts", "skipped")]),
            "mismatching, more than the list holds": (m, [], 2, [
                clip(m, "00001.m2ts", "mismatched"), clip(m, "00002.m2ts", "mismatched"),
                clip(m, "00003.m2ts", "matched")]),
            "mismatching, first mismatch ends the clip": (m, ["-a"], 2, [
                clip(m, "00001.m2ts", "mismatched", abort=True), clip(m, "00002.m2ts", "mismatched", abort=True),
                clip(m, "00003.m2ts", "matched")]),
            "truncated": (t, [], 3, [clip(t, "00001.m2ts", "unverified", "shorter"),
                                     clip(t, "00002.m2ts", "mismatched", "shorter"),
                                     clip(t, "00003.m2ts", "unverified", "shorter")]),
            "dropped clip": (d, [], 1, [clip(d, "00001.m2ts", "matched"), clip(d, "00003.m2ts", "matched"),
                                        missing(2)]),
            "values ran out, no entry": (e, [], 2, [
                clip(e, "00001.m2ts", "matched"),
                clip(e, "00002.m2ts", "unverified", "values-ran-out", noValueAt=sum(Table(e).runs[2])),
                clip(e, "00003.m2ts", "unverified", "no-entry", noValueAt=0)]),
            "no stream folder": (self.no_stream, [], 2, [missing(1), missing(2)]),
            "every problem": (p, ["-v", "-p"], 6, [
                clip(p, "00001.m2ts", "mismatched"), clip(p, "00002.m2ts", "unverified", "shorter"),
                clip(p, "00003.m2ts", "unverified", "no-entry", noValueAt=0),
                clip(p, "00004.m2ts", "unverified", "not-opened"),
                clip(p, "00006.m2ts", "unverified", "values-ran-out", noValueAt=sum(Table(p).runs[6])),
                clip(p, "00007.m2ts", "matched"), missing(5)]),
        }
        self.assertEqual(len(cases["mismatching, more than the list holds"][3][1]["mismatches"]), 64)
        self.assertEqual(cases["mismatching, more than the list holds"][3][1]["mismatchedUnits"], 70)
        for name, (folder, switches, status, objects) in cases.items():
            digest = Table(folder).digest
            for target in (folder, self.images.get(folder)):
                if target:
                    with self.subTest(name, target=os.path.basename(target)):
                        self.check_report(target, switches, status, objects, digest)

        with self.subTest("unreadable"):
            r = self.readable
            self.check_report(self.cut_image, [], 2, [
                clip(r, "00001.m2ts", "unverified", "unreadable", unreadableAt=3 * UNIT),
                clip(r, "00002.m2ts", "unverified", "unreadable", unreadableAt=0)], "SHA-256")

    def test_json_content_file_damage(self):
        # Two layers, one clip each; the second layer's content files are damaged or gone, so its clip is listed
        # nowhere and the run says why before the clips.
        cases = [
            ("table gone", ["ContentHash001.tbl"],
             {"type": "damage", "what": "content-file-unusable", "path": "AACS/ContentHash001.tbl"}),
            ("pair gone", ["Content001.cer", "ContentHash001.tbl"],
             {"type": "damage", "what": "layers-missing", "path": "AACS/", "pairs": 1, "layers": 2}),
        ]
        for label, removed, damage in cases:
            folder = self.layers[tuple(removed)]
            objects = [damage, clip(folder, "00001.m2ts", "matched"),
                       clip(folder, "00002.m2ts", "unverified", "no-entry", noValueAt=0)]
            for target in (folder, image_of(folder)):
                with self.subTest(label, target=os.path.basename(target)):
                    self.check_report(target, [], 1, objects, "SHA-256")
                    text = run([ARGS.tamsel, "-nologo", target]).stdout.decode()
                    line = ("AACS/ContentHash001.tbl: content file could not be loaded\n" if len(removed) == 1
                            else "AACS/: content files of 1 of the 2 layers the certificates name\n")
                    self.assertTrue(text.startswith(line), text)

    def test_content_damage_is_bounded_and_true(self):
        unusable = [{"type": "damage", "what": "content-file-unusable", "path": "AACS/Content%03d.cer" % pair}
                    for pair in range(2, 66)] + [{"type": "damage", "what": "more", "count": 6}]
        cases = [
            # A full table is named as such; the layers it never reached are not called missing.
            ("full table", self.full, 2, [{"type": "damage", "what": "table-too-large", "path": "AACS/"}]),
            ("unusable pairs", self.unusable, 1, unusable),
        ]
        for label, folder, status, damage in cases:
            with self.subTest(label):
                got_status, objects, err = report(folder)
                self.assertEqual((got_status, err), (status, b""))
                self.assertEqual([o for o in objects if o["type"] == "damage"], damage)
                self.assertFalse(objects[-1]["intact"])

    def test_json_failures(self):
        nothing = os.path.join(self.work, "zeros.img")
        with open(nothing, "wb") as f:
            f.write(bytes(1 << 20))
        cases = [
            (self.no_aacs, "no-content-folder"), (self.images[self.no_aacs], "no-content-folder"),
            (self.no_table, "no-content-table"), (self.images[self.no_table], "no-content-table"),
            (nothing, "not-mounted"), (os.path.join(self.work, "not-there"), "not-mounted"),
        ]
        for target, reason in cases:
            with self.subTest(reason, target=os.path.basename(target)):
                status, objects, err = report(target)
                self.assertEqual((status, err), (1, b""))
                self.assertEqual(objects, [{"type": "failure", "disc": target, "reason": reason}])

    def test_json_names_hold_any_bytes(self):
        """A folder's names may hold any byte but '/', an image's any byte its 8-bit identifiers can; the
        report stays valid UTF-8 JSON, and the text shows control bytes escaped."""
        folder = make(os.path.join(self.work, "names"), "--clip", "00001.m2ts:8u", "--clip", "00002.m2ts:8u",
                      "--clip", "00003.m2ts:8u")
        names = [b"0001\xe9.m2ts", b"0002\x1b.m2ts", b'3"\\\x7f\xff.m2ts']
        for number, name in enumerate(names, 1):
            os.rename(stream(folder, "%05d.m2ts" % number).encode(), stream(folder, "").encode() + name)
        objects = [clip(folder, name, "matched") for name in names]
        odd_folder = folder.encode() + b"-\xff\x01\xc3(\n"
        os.rename(folder.encode(), odd_folder)

        # The UDF writer takes UTF-8 host names; those of one byte per character are recorded 8-bit.
        for_image = make(os.path.join(self.work, "image-names"), "--clip", "00001.m2ts:8u",
                         "--clip", "00002.m2ts:8u")
        os.rename(stream(for_image, "00001.m2ts"), stream(for_image, "0001\u00e9.m2ts"))
        os.rename(stream(for_image, "00002.m2ts"), stream(for_image, "0002\x1b.m2ts"))
        image = image_of(for_image)

        # In the image the name holds the byte E9, which the report gives as its character.
        image_objects = [clip(for_image, "0001\u00e9.m2ts", "matched"), clip(for_image, "0002\x1b.m2ts", "matched")]
        self.assertEqual([o["number"] for o in objects + image_objects], [1, 2, 3, 1, 2])
        for target, expected in ((odd_folder, objects), (image, image_objects)):
            with self.subTest(target=target):
                got = run([ARGS.tamsel, "-j", target])
                self.assertEqual(got.returncode, 0, got.stdout)
                lines = got.stdout.decode("utf-8").splitlines()
                self.assertFalse(any(ord(c) < 0x20 for line in lines for c in line), lines)
                parsed = [json.loads(line) for line in lines]
                self.assertEqual(parsed[:-1], expected)
                self.assertEqual(parsed[-1]["disc"], target.decode("latin-1") if isinstance(target, bytes) else target)
                self.assertTrue(parsed[-1]["intact"])
                text = run([ARGS.tamsel, target]).stdout
                self.assertIn(b"0002\\x1B.m2ts content hash match\n", text)
                self.assertNotIn(b"\x1b", text)

    def test_json_stays_json_with_a_second_path(self):
        got = run([ARGS.tamsel, self.intact, self.dropped, "-j"])
        self.assertEqual(got.returncode, 0)
        objects = [json.loads(line) for line in got.stdout.decode().splitlines()]
        self.assertEqual(objects[-1]["disc"], self.intact)
        self.assertIn(b'"%s" was skipped' % self.dropped.encode(), got.stderr)

    def test_quiet_text(self):
        table = Table(self.problems)
        mismatch = "00001.m2ts content hash mismatch at offset %d (40%%), expected hash=%s\n" % (
            4 * UNIT, table.values[4].hex().upper())
        intact = (RULE + "\nContent hash      : match\nTotal files       : 3\nMatched files     : 2\n"
                  "Skipped files     : 1\nTime elapsed      : T s\n")
        problems = (mismatch +
                    "00002.m2ts is shorter than its content hash table: 6 of 10 hash units\n"
                    "No hash unit 0/00003/0\n"
                    "cannot open file %s\n"
                    "No hash unit 0/00006/%d\n"
                    "00005.m2ts is missing\n" % (stream(self.problems, "00004.m2ts"), sum(table.runs[6])) +
                    RULE + "\nContent hash      : mismatch\nTotal files       : 6\nMatched files     : 1\n"
                    "Mismatched files  : 1\nMismatched hashes : 1\nUnverified files  : 4\nMissing files     : 1\n"
                    "Time elapsed      : T s\n")
        unreadable = ("00001.m2ts cannot be read at offset %d\n00002.m2ts cannot be read at offset 0\n" % (3 * UNIT) +
                      RULE + "\nContent hash      : mismatch\nTotal files       : 2\nMatched files     : 0\n"
                      "Unverified files  : 2\nTime elapsed      : T s\n")
        cases = {
            "intact folder": (self.intact, 0, intact),
            "intact image": (self.images[self.intact], 0, intact),
            "every problem": (self.problems, 6, problems),
            "unreadable image": (self.cut_image, 2, unreadable),
            "no AACS folder": (self.no_aacs, 1, "AACS directory not present, abort!\n"),
            "no content table": (self.images[self.no_table], 1,
                                 "Content hash table missing, unable to verify integrity of M2TS files.\n"),
            "not a volume": (README, 1, "Failed to parse UDF file system in %s!\n" % README),
        }
        for name, (target, status, expected) in cases.items():
            with self.subTest(name):
                got, text, err = quiet_text(target)
                self.assertEqual((got, err), (status, b""))
                self.assertEqual(text, expected)
                # The same lines as without -q, less the banner and the clips that matched.
                full = run([ARGS.tamsel, target]).stdout.decode("latin-1")
                kept = [line for line in full.splitlines(True)[1:] if not line.endswith(" content hash match\n")]
                self.assertEqual(re.sub(r"Time elapsed .*\n", "Time elapsed      : T s\n", "".join(kept)), expected)

    def test_version_and_help(self):
        cases = [
            (["--version"], "tamsel 1.2\n"),
            (["-nologo", "--version", self.intact], "tamsel 1.2\n"),
            (["--help"], USAGE),
            (["-j", "--help", self.intact], USAGE),
            (["-h"], USAGE),
            ([], USAGE),
        ]
        for args, expected in cases:
            with self.subTest(args=args):
                got = run([ARGS.tamsel] + args)
                self.assertEqual((got.returncode, got.stdout.decode(), got.stderr), (0, expected, b""))


def rendered_man_page():
    """The manual page as plain text, and what groff said about it on standard error."""
    # One long line per paragraph and no hyphenation, so that no word is broken.
    got = run(["groff", "-man", "-Tutf8", "-ww", "-rLL=1000n", "-rHY=0", "-P", "-cbou", MAN_PAGE])
    return got.stdout.decode("utf-8"), got.stderr.decode()


class ManualAndInstall(unittest.TestCase, Discs):
    @unittest.skipUnless(shutil.which("groff"), "groff is not installed")
    def test_manual_page_renders_without_warnings(self):
        got = run(["groff", "-man", "-Tutf8", "-ww", "-z", MAN_PAGE])
        self.assertEqual((got.returncode, got.stderr.decode()), (0, ""))
        if shutil.which("man"):
            env = dict(os.environ, MANWIDTH="80", MANPAGER="cat", PAGER="cat")
            got = run(["man", "--warnings", "-l", MAN_PAGE], env=env)
            self.assertEqual((got.returncode, got.stderr.decode()), (0, ""))
            self.assertIn("EXIT STATUS", got.stdout.decode())

    @unittest.skipUnless(shutil.which("groff"), "groff is not installed")
    def test_manual_page_and_readme_name_every_switch_and_field(self):
        page, warnings = rendered_man_page()
        self.assertEqual(warnings, "")
        # groff may render a hyphen in a word as U+2010.
        page = page.replace("\u2010", "-").replace("\u2212", "-")
        with open(README, encoding="utf-8") as f:
            readme = f.read()
        switches = re.findall(r"^\t(-\S+)", USAGE, re.M) + ["--version", "--help"]
        fields = set()
        for target in (self.problems, self.cut_image, self.intact, self.no_aacs) + tuple(self.layers.values()):
            for line in run([ARGS.tamsel, "-j", target]).stdout.decode().splitlines():
                obj = json.loads(line)
                fields |= set(obj) | {obj["type"], obj.get("result"), obj.get("reason"), obj.get("digest")}
                for mismatch in obj.get("mismatches", []):
                    fields |= set(mismatch)
        fields.discard(None)
        for word in switches + sorted(fields):
            self.assertRegex(page, r"(?<![\w-])%s(?![\w-])" % re.escape(word), "manual page lacks " + word)
            self.assertRegex(readme, r"(?<![\w-])%s(?![\w-])" % re.escape(word), "README lacks " + word)

    @unittest.skipUnless(shutil.which("jq") and shutil.which("bash"), "jq or bash is not installed")
    def test_readme_shelf_check(self):
        with open(README, encoding="utf-8") as f:
            loop = re.search(r"^for img in /media/shelf/\*\.iso; do\n.*?\ndone\n", f.read(), re.M | re.S).group(0)
        shelf = os.path.join(self.work, "shelf")
        tools = os.path.join(self.work, "bin")
        os.makedirs(shelf, exist_ok=True)
        os.makedirs(tools, exist_ok=True)
        shutil.copy(self.images[self.intact], os.path.join(shelf, "a.iso"))
        shutil.copy(self.images[self.dropped], os.path.join(shelf, "b.iso"))
        shutil.copy(self.images[self.no_aacs], os.path.join(shelf, "c.iso"))
        os.symlink(os.path.abspath(ARGS.tamsel), os.path.join(tools, "tamsel"))
        env = dict(os.environ, PATH=tools + os.pathsep + os.environ.get("PATH", ""))
        got = run(["bash", "-c", loop.replace("/media/shelf", shelf)], env=env)
        self.assertEqual(got.stderr, b"")
        self.assertEqual([json.loads(line) for line in got.stdout.decode().splitlines()],
                         [{"disc": os.path.join(shelf, "a.iso"), "intact": True},
                          {"disc": os.path.join(shelf, "b.iso"), "intact": False},
                          {"disc": os.path.join(shelf, "c.iso"), "intact": False}])

    def test_install_puts_the_program_and_its_page_under_the_prefix(self):
        cmake = shutil.which("cmake")
        if not cmake:
            self.skipTest("cmake is not on the path")
        prefix = tempfile.mkdtemp(prefix="tamsel-prefix-")
        try:
            got = run([cmake, "--install", ARGS.build_dir, "--prefix", prefix])
            self.assertEqual(got.returncode, 0, got.stderr)
            installed = sorted(os.path.relpath(os.path.join(root, name), prefix)
                               for root, _, names in os.walk(prefix) for name in names)
            self.assertEqual(installed, ["bin/tamsel", "share/man/man1/tamsel.1"])
            version = run([os.path.join(prefix, "bin", "tamsel"), "--version"])
            self.assertEqual((version.returncode, version.stdout), (0, b"tamsel 1.2\n"))
            with open(os.path.join(prefix, "share", "man", "man1", "tamsel.1"), "rb") as a, open(MAN_PAGE, "rb") as b:
                self.assertEqual(a.read(), b.read())
        finally:
            shutil.rmtree(prefix, ignore_errors=True)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tamsel", required=True)
    parser.add_argument("--sampledisc", required=True)
    parser.add_argument("--build-dir", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
