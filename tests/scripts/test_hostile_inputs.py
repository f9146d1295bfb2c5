#!/usr/bin/env python3
"""Hostile inputs through the real executable, each run with a time and a memory bound: files that hold no
volume, images cut short, descriptors with forged counts and lengths, loops in the tree, and content hash
tables that point anywhere. Each must end with its documented message and status or the safe behaviour,
never with a crash, a hang, a sanitizer report, or a match line for a clip that was not compared."""
import argparse
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

ARGS = None
SECTOR = 2048
UNIT = 196608
TIME_LIMIT = 10
MEMORY_LIMIT = 512 << 20

FAILED_TO_PARSE = "Failed to parse UDF file system in %s!\n"
NO_AACS = "AACS directory not present, abort!\n"
NO_TABLE = "Content hash table missing, unable to verify integrity of M2TS files.\n"


def sanitized(exe):
    """A sanitizer build reserves terabytes of address space, so only its own checks bound it."""
    with open(exe, "rb") as f:
        return b"__asan_init" in f.read()


def limit_memory():
    import resource
    resource.setrlimit(resource.RLIMIT_AS, (MEMORY_LIMIT, MEMORY_LIMIT))


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def run(cmd):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, errors="replace")


class Image:
    """A writer-made image with just enough of a reader to find the bytes a case patches. Offsets follow
    ECMA-167: the anchor at sector 256, partition start at 188 of its descriptor, the file set at 248 of the
    logical volume descriptor, the root ICB at 400 of the file set, allocation descriptors at 176 + L_EA of a
    file entry, and in a File Identifier Descriptor L_FI at 19, the ICB at 20 and L_IU at 36."""

    def __init__(self, path):
        self.bytes = bytearray(read_bytes(path))
        anchor = 256 * SECTOR
        length, location, reserve_length, reserve = struct.unpack_from("<IIII", self.bytes, anchor + 16)
        self.reserve_lvd = next(s * SECTOR for s in range(reserve, reserve + reserve_length // SECTOR)
                                if struct.unpack_from("<H", self.bytes, s * SECTOR)[0] == 6)
        self.maps = []
        for s in range(location, location + length // SECTOR):
            at = s * SECTOR
            tag = struct.unpack_from("<H", self.bytes, at)[0]
            if tag == 5:
                self.partition_start = struct.unpack_from("<I", self.bytes, at + 188)[0]
            elif tag == 6:
                self.lvd = at
                self.fileset_block = struct.unpack_from("<I", self.bytes, at + 252)[0]
                count = struct.unpack_from("<I", self.bytes, at + 268)[0]
                offset = at + 440
                for _ in range(count):
                    self.maps.append(offset)
                    offset += self.bytes[offset + 1]
        fsd = self.sector_of(self.fileset_block) * SECTOR
        self.root_entry = self.sector_of(struct.unpack_from("<I", self.bytes, fsd + 404)[0])

    def sector_of(self, block):
        return self.partition_start + block

    def entry_ads(self, entry_sector):
        """(offset of each short allocation descriptor, length field, position) of a file entry."""
        at = entry_sector * SECTOR
        tag = struct.unpack_from("<H", self.bytes, at)[0]
        assert tag in (261, 266), tag
        fields = 168 if tag == 261 else 208
        lea, lad = struct.unpack_from("<II", self.bytes, at + fields)
        area = at + fields + 8 + lea
        return [(area + i, *struct.unpack_from("<II", self.bytes, area + i)) for i in range(0, lad, 8)]

    def fids(self, directory_entry):
        """(offset, name, entry sector) of the live entries of a directory whose data is one short extent."""
        (_, length, block), = self.entry_ads(directory_entry)[:1]
        data = self.sector_of(block) * SECTOR
        out = []
        offset = 0
        while offset + 38 <= length:
            at = data + offset
            lfi = self.bytes[at + 19]
            liu = struct.unpack_from("<H", self.bytes, at + 36)[0]
            if lfi:
                raw = bytes(self.bytes[at + 38 + liu + 1:at + 38 + liu + lfi])
                icb_block = struct.unpack_from("<I", self.bytes, at + 24)[0]
                out.append((at, raw.decode("latin-1"), self.sector_of(icb_block)))
            offset += (liu + lfi + 41) & ~3
        return out

    def child(self, directory_entry, name):
        for at, found, entry in self.fids(directory_entry):
            if found == name:
                return at, entry
        raise KeyError(name)

    def entry_of(self, path):
        entry = self.root_entry
        for part in path.split("/"):
            entry = self.child(entry, part)[1]
        return entry

    def put32(self, offset, value):
        struct.pack_into("<I", self.bytes, offset, value & 0xFFFFFFFF)

    def save(self, path):
        with open(path, "wb") as f:
            f.write(self.bytes)


class HostileInputs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="tamsel-hostile-")
        cls.bounded_memory = not sanitized(ARGS.tamsel)
        cls.disc = os.path.join(cls.work, "disc")
        made = run([ARGS.sampledisc, cls.disc, "--clip", "00001.m2ts:8u", "--clip", "00002.m2ts:7.5u"])
        assert made.returncode == 0, made.stderr
        cls.images = {}
        for name, layout, options in [("physical", "physical102", None),
                                      ("spill", "physical102", "continuation,extent=65536"),
                                      ("split", "physical102", "extent=65536"),
                                      ("metadata2", "metadata250", "metadata2"),
                                      ("virtual", "virtual201", None)]:
            path = os.path.join(cls.work, name + ".img")
            cmd = [ARGS.sampledisc, cls.disc, "--image-only", "--udf", layout, path]
            made = run(cmd + (["--udf-options", options] if options else []))
            assert made.returncode == 0, made.stderr
            cls.images[name] = path

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def tamsel(self, target):
        """Runs the tool on TARGET within the bounds; fails the test on a signal, a hang or a sanitizer report."""
        try:
            got = subprocess.run([ARGS.tamsel, "-nologo", target], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 timeout=TIME_LIMIT,
                                 preexec_fn=limit_memory if self.bounded_memory else None)
        except subprocess.TimeoutExpired:
            self.fail("%s did not end within %d s" % (target, TIME_LIMIT))
        out = got.stdout.decode("latin-1")
        err = got.stderr.decode("latin-1")
        self.assertGreaterEqual(got.returncode, 0, "killed by signal %d\n%s%s" % (-got.returncode, out, err))
        self.assertNotIn("Sanitizer", err)
        self.assertNotIn("runtime error", err)
        return got.returncode, out

    def write(self, name, data):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def patched(self, base, name, patch):
        image = Image(self.images[base])
        patch(image)
        path = os.path.join(self.work, name)
        image.save(path)
        return path

    def expect_not_a_volume(self, path):
        status, out = self.tamsel(path)
        self.assertEqual((status, out), (1, FAILED_TO_PARSE % path))

    def expect_clip_lines(self, out, matched):
        """Only the named clips get a match line, and each clip gets at most one."""
        found = re.findall(r"^(\S+) content hash match\n", out, re.M)
        self.assertEqual(sorted(found), sorted(matched), out)

    def test_files_that_hold_no_volume(self):
        rng = random.Random(6)
        cases = {
            "empty": b"",
            "25 sectors": bytes(25 * SECTOR),
            "zeros": bytes(1 << 20),
            "random": bytes(rng.getrandbits(8) for _ in range(1 << 20)),
        }
        for name, data in cases.items():
            with self.subTest(name):
                self.expect_not_a_volume(self.write(name.replace(" ", "_"), data))
        with self.subTest("missing"):
            self.expect_not_a_volume(os.path.join(self.work, "no such image"))

    def test_truncated_image(self):
        data = read_bytes(self.images["physical"])
        image = Image(self.images["physical"])
        clip_end = {}
        for name in ("00001.m2ts", "00002.m2ts"):
            ads = image.entry_ads(image.entry_of("BDMV/STREAM/" + name))
            clip_end[name] = max((image.sector_of(pos) * SECTOR + (length & 0x3FFFFFFF)) for _, length, pos in ads)
        # The image ends with 256 sectors that hold only the reserve anchors; a cut into the last clip's whole
        # units is made from where its data ends.
        last_clip_end = max(clip_end.values())
        # The last clip is seven and a half units: a cut 1000 bytes before its end lies in its last partial
        # unit, which no value covers, but which must be there all the same.
        cuts = [0, 1, 16 * SECTOR + 100, 26 * SECTOR, 256 * SECTOR, 257 * SECTOR, len(data) // 2,
                last_clip_end - 3 * UNIT, last_clip_end - 1000, len(data) - SECTOR, len(data) - 1]
        for cut in cuts:
            with self.subTest(cut=cut):
                path = self.write("cut", data[:cut])
                status, out = self.tamsel(path)
                if out == FAILED_TO_PARSE % path or out in (NO_AACS, NO_TABLE):
                    continue
                # A clip whose data the cut reaches is never called intact, and it counts as unverified.
                whole = [name for name, end in clip_end.items() if end <= cut]
                self.expect_clip_lines(out, whole)
                cut_clips = [name for name in clip_end if name not in whole]
                for name in cut_clips:
                    self.assertRegex(out, re.escape(name) + r" cannot be read at offset \d+\n")
                self.assertEqual(status, len(cut_clips), out)

    def test_forged_counts_and_lengths(self):
        def map_count(image):
            image.put32(image.lvd + 268, 0xFFFFFFFF)

        def map_count_in_both(image):
            image.put32(image.lvd + 268, 0xFFFFFFFF)
            image.put32(image.reserve_lvd + 268, 0xFFFFFFFF)

        def sequence_length(image):
            image.put32(256 * SECTOR + 16, 0xFFFFFFFF)

        def clip_size(image):
            struct.pack_into("<Q", image.bytes, image.entry_of("BDMV/STREAM/00002.m2ts") * SECTOR + 56, 2 ** 64 - 1)

        def table_size(image):
            struct.pack_into("<Q", image.bytes, image.entry_of("AACS/ContentHash000.tbl") * SECTOR + 56, 2 ** 40)

        def ad_length(image):
            image.put32(image.entry_of("BDMV/STREAM/00001.m2ts") * SECTOR + 172, 0xFFFFFFFF)

        def ea_length(image):
            image.put32(image.entry_of("BDMV/STREAM/00001.m2ts") * SECTOR + 168, 0xFFFFFFF0)

        def extent_length(image):
            offset, _, _ = image.entry_ads(image.entry_of("BDMV/STREAM"))[0]
            image.put32(offset, 0x3FFFFFFF)

        def fid_use_length(image):
            at, _ = image.child(image.entry_of("BDMV/STREAM"), "00002.m2ts")
            struct.pack_into("<H", image.bytes, at + 36, 0xFFFF)

        def certificate_counts(image):
            (_, _, block), = image.entry_ads(image.entry_of("AACS/Content000.cer"))
            at = image.sector_of(block) * SECTOR
            struct.pack_into(">IH", image.bytes, at + 8, 0xFFFFFFFF, 0xFFFF)

        # (patch, expected status, expected clips matched, expected text in the output)
        cases = {
            # The main sequence's logical volume is refused; the reserve copy of the sequence is intact.
            "map count": (map_count, 0, ["00001.m2ts", "00002.m2ts"], "Total files       : 2\n"),
            "map count in both sequences": (map_count_in_both, 1, [], "Failed to parse"),
            "sequence length": (sequence_length, 0, ["00001.m2ts", "00002.m2ts"], "Total files       : 2\n"),
            # The clip claims far more units than the table has values for.
            "clip size": (clip_size, 1, ["00001.m2ts"], "No hash unit 0/00002/15\n"),
            "table size": (table_size, 1, [], NO_TABLE),
            # L_AD is cut at the block: the real descriptor comes first, blank ones after it add nothing.
            "allocation descriptors length": (ad_length, 0, ["00001.m2ts", "00002.m2ts"], ""),
            # The area lies past the block: the clip has a size but no extents.
            "extended attributes length": (ea_length, 1, ["00002.m2ts"], "00001.m2ts cannot be read at offset 0\n"),
            "directory extent length": (extent_length, None, None, ""),
            "implementation use length": (fid_use_length, 1, ["00001.m2ts"],
                                          "00002.m2ts is missing\n--------------------------------\n"),
            "certificate counts": (certificate_counts, None, None, ""),
        }
        for name, (patch, status, matched, text) in cases.items():
            with self.subTest(name):
                path = self.patched("physical", name.replace(" ", "_"), patch)
                got, out = self.tamsel(path)
                if status is not None:
                    self.assertEqual(got, status, out)
                if matched is not None:
                    self.expect_clip_lines(out, matched)
                self.assertIn(text, out)

    def test_loops_in_the_tree(self):
        def stream_is_bdmv(image):
            at, _ = image.child(image.entry_of("BDMV"), "STREAM")
            image.put32(at + 24, image.entry_of("BDMV") - image.partition_start)

        def aacs_is_root(image):
            at, _ = image.child(image.root_entry, "AACS")
            image.put32(at + 24, image.root_entry - image.partition_start)

        def continuation_to_itself(image):
            ads = image.entry_ads(image.entry_of("BDMV/STREAM/00001.m2ts"))
            offset, length, block = ads[-1]
            self.assertEqual(length >> 30, 3)
            aed = image.sector_of(block) * SECTOR
            lad = struct.unpack_from("<I", image.bytes, aed + 20)[0]
            self.assertLessEqual(24 + lad + 8, SECTOR)
            struct.pack_into("<II", image.bytes, aed + 24 + lad, (3 << 30) | SECTOR, block)
            image.put32(aed + 20, lad + 8)

        def overlapping_metadata(image):
            # The metadata map: type 2, its partition's metadata file entry at 40.
            meta = next(m for m in image.maps if image.bytes[m] == 2)
            location = struct.unpack_from("<I", image.bytes, meta + 40)[0]
            ads = image.entry_ads(image.sector_of(location))
            self.assertEqual(len(ads), 2)
            image.put32(ads[1][0] + 4, ads[0][2] + 1)

        cases = {
            # The directory met again is an empty leaf: every clip the table lists is missing.
            "stream folder is its parent": ("physical", stream_is_bdmv, 2, [],
                                            "00001.m2ts is missing\n00002.m2ts is missing\n"),
            "content folder is the root": ("physical", aacs_is_root, 1, [], NO_TABLE),
            # The area is followed once; the clip keeps every extent and verifies.
            "continuation to itself": ("spill", continuation_to_itself, 0, ["00001.m2ts", "00002.m2ts"],
                                       "Total files       : 2\n"),
            "overlapping metadata extents": ("metadata2", overlapping_metadata, None, None, ""),
        }
        for name, (base, patch, status, matched, text) in cases.items():
            with self.subTest(name):
                path = self.patched(base, name.replace(" ", "_"), patch)
                got, out = self.tamsel(path)
                if status is not None:
                    self.assertEqual(got, status, out)
                if matched is not None:
                    self.expect_clip_lines(out, matched)
                self.assertIn(text, out)

    def test_tables_pointing_anywhere(self):
        """Entries of clip 1 (8 units from unit 0) and clip 2 (7 units from unit 8), values of both: 15."""
        cases = {
            # Clip 1's run ends before it starts, so its values ran out at once; clip 2's run holds all 15
            # values, so it is compared with clip 1's, mismatches at every unit, and is shorter than its run.
            "backwards": ((8, 0), 2, [], "No hash unit 0/00001/8\n"),
            # Neither run holds a value.
            "past the end": ((0xFFFFFFF0, 500), 2, [], "No hash unit 0/00001/4294967280\n"),
            # Clip 1's run reaches to the end of the values, past its own 8 units.
            "second past the end": ((0, 500), 2, [], "00001.m2ts is shorter than its content hash table: 8 of 15 "
                                                     "hash units\nNo hash unit 0/00002/500\n"),
        }
        table_path = os.path.join(self.disc, "AACS", "ContentHash000.tbl")
        original = read_bytes(table_path)
        self.assertEqual(struct.unpack_from(">II", original, 0), (0, 1))
        self.assertEqual(struct.unpack_from(">II", original, 12), (8, 2))
        for name, ((first, second), status, matched, text) in cases.items():
            table = bytearray(original)
            struct.pack_into(">I", table, 0, first)
            struct.pack_into(">I", table, 12, second)
            folder = os.path.join(self.work, "table-" + name.replace(" ", "_"))
            shutil.rmtree(folder, ignore_errors=True)
            shutil.copytree(self.disc, folder)
            with open(os.path.join(folder, "AACS", "ContentHash000.tbl"), "wb") as f:
                f.write(table)
            image = folder + ".img"
            made = run([ARGS.sampledisc, folder, "--image-only", "--udf", "metadata250", image])
            self.assertEqual(made.returncode, 0, made.stderr)
            for target in (folder, image):
                with self.subTest(name, target=os.path.basename(target)):
                    got, out = self.tamsel(target)
                    self.assertEqual(got, status, out)
                    self.expect_clip_lines(out, matched)
                    self.assertIn(text, out)
            if name == "backwards":
                self.assertEqual(out.count("00002.m2ts content hash mismatch at offset"), 7, out)

    def test_names_of_every_length(self):
        long_name = "n" * 254  # with its compression ID, the longest identifier a descriptor holds
        folder = os.path.join(self.work, "names")
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(self.disc, folder)
        for where in ("BDMV/STREAM", "AACS", ""):
            with open(os.path.join(folder, where, long_name), "wb") as f:
                f.write(b"x")
        image = folder + ".img"
        made = run([ARGS.sampledisc, folder, "--image-only", "--udf", "physical102", image])
        self.assertEqual(made.returncode, 0, made.stderr)
        with self.subTest("255-byte identifiers"):
            status, out = self.tamsel(image)
            self.assertEqual(status, 0, out)
            self.expect_clip_lines(out, ["00001.m2ts", "00002.m2ts"])

        def empty_name(image):
            at, _ = image.child(image.entry_of("BDMV/STREAM"), "00001.m2ts")
            # The compression ID alone, a name of zero bytes; L_IU takes up the rest so the next entry
            # still follows where it did.
            image.bytes[at + 19] = 1
            struct.pack_into("<H", image.bytes, at + 36, len("00001.m2ts"))

        def no_identifier(image):
            at, _ = image.child(image.entry_of("BDMV/STREAM"), "00001.m2ts")
            image.bytes[at + 19] = 0  # reads as a parent entry; the walk goes on out of step

        def identifier_past_the_data(image):
            entries = image.fids(image.entry_of("BDMV/STREAM"))
            image.bytes[entries[-1][0] + 19] = 255

        cases = {
            # The clips whose entries are lost are missing.
            "empty name": (empty_name, 1, ["00002.m2ts"]),
            "no identifier": (no_identifier, None, None),
            "identifier past the data": (identifier_past_the_data, 1, ["00001.m2ts"]),
        }
        for name, (patch, status, matched) in cases.items():
            with self.subTest(name):
                path = self.patched("physical", name.replace(" ", "_"), patch)
                got, out = self.tamsel(path)
                if status is not None:
                    self.assertEqual(got, status, out)
                if matched is not None:
                    self.expect_clip_lines(out, matched)

    def test_data_shared_between_clips(self):
        """Data that two clips, or two extents of one clip, point at is hashed once: the later holder is reported
        and not verified, so an image cannot make a run read far more than it holds."""

        def second_name_for_the_first_clip(image):
            stream = image.entry_of("BDMV/STREAM")
            at, _ = image.child(stream, "00002.m2ts")
            first_block = image.entry_of("BDMV/STREAM/00001.m2ts") - image.partition_start
            image.put32(at + 24, first_block)
            return image.entry_ads(image.entry_of("BDMV/STREAM/00001.m2ts"))[0][2]

        def repeated_extent(image):
            ads = image.entry_ads(image.entry_of("BDMV/STREAM/00001.m2ts"))
            self.assertEqual(ads[1][1] >> 30, 0)
            image.put32(ads[1][0] + 4, ads[0][2])
            return ads[0][2]

        cases = {
            "second name for the first clip": ("physical", second_name_for_the_first_clip, "00002.m2ts"),
            "repeated extent": ("split", repeated_extent, "00001.m2ts"),
        }
        for name, (base, patch, sharer) in cases.items():
            with self.subTest(name):
                image = Image(self.images[base])
                block = patch(image)
                path = os.path.join(self.work, name.replace(" ", "_"))
                image.save(path)
                got, out = self.tamsel(path)
                self.assertEqual(got, 1, out)
                self.assertIn("%s shares its data at sector %d with an earlier clip or repeats it\n" %
                              (sharer, image.sector_of(block)), out)
                self.assertNotIn(sharer + " content hash", out)

    def test_virtual_partition_without_its_table(self):
        data = bytearray(read_bytes(self.images["virtual"]))
        # The VAT's entry is the last sector; blanking it leaves no virtual block mapped.
        data[-SECTOR:] = bytes(SECTOR)
        self.expect_not_a_volume(self.write("no_vat.img", bytes(data)))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tamsel", required=True)
    parser.add_argument("--sampledisc", required=True)
    parser.add_argument("--build-dir")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
