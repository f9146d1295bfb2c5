#!/usr/bin/env python3
"""Damaged and hostile discs through the real executable: every input of the table of the damaged-disc issue,
generated here, must end within a few seconds and below 256 MiB of memory, with the status it deserves and
the damage it can name named.

- Unreadable main structures: the anchor at sector 256, or the main volume descriptor sequence, zero-filled
  on an image of each layout of the sample-disc maker and on an mkudffs image: the image verifies like the
  intact one, through the reserve anchor or sequence.
- Damage kept silent: a zero-filled sector at a clip's file entry, at the stream folder's file entry or
  its data; a directory entry pointing outside the image; an image one sector short inside a two-sector
  directory. The clips hidden are missing, the later siblings of a bad entry are still there.
- A write-once image padded with 64 KiB of zeros mounts through its VAT found before the end.
- A FIFO as the image path or as a content file is refused at once.
- Time bombs: 10,000 entries naming the root; 1,000 pairs of 65,535 entries with 2,000 clips; 40,000
  pairs; one clip entry of 200 extents over one 1 GiB hole shared by 1,000 entries.
- Memory bombs: 4,000 pairs naming one 786 KB table; a 1 GiB VAT read by three virtual maps in a sparse
  image; 4 pairs naming one 1 GiB table; a million tree nodes from a few megabytes; 8,192 logical volume
  descriptors.
- A name holding an escape sequence; a unit index past 2^31; an image of more than 2^32 sectors.

The lines the run prints for the reader's records (damage, reserves used) are checked when the run prints
lines of their kind at all. Peak memory is the child's own maximum resident set, from wait4."""
import argparse
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

ARGS = None
SECTOR = 2048
UNIT = 196608
MEMORY_LIMIT = 256 << 20
# A bomb must not take the machine down before it is measured.
ADDRESS_SPACE_LIMIT = 4 << 30

FAILED_TO_PARSE = "Failed to parse UDF file system in %s!\n"
NO_TABLE = "Content hash table missing, unable to verify integrity of M2TS files.\n"

ENTRY_LINE = "%s: file entry could not be read (sector %d)\n"
DIRECTORY_LINE = "%s: directory could not be read whole (sector %d)\n"
ANCHOR_LINE = "Anchor at sector 256 unreadable; using the one at sector %d\n"
RESERVE_LINE = "Main volume descriptor sequence unusable; using the reserve at sector %d\n"
VAT_LINE = "Virtual allocation table found at sector %d, before the end of the image\n"
# What tells that the run prints lines of a kind at all.
LINE_KINDS = {
    ENTRY_LINE: ": file entry could not be read (sector ",
    DIRECTORY_LINE: ": directory could not be read whole (sector ",
    ANCHOR_LINE: "Anchor at sector 256 unreadable; using",
    RESERVE_LINE: "Main volume descriptor sequence unusable; using",
    VAT_LINE: "Virtual allocation table found at sector",
}

FIGURES = []

# Started between the test and the tool: the kernel carries a process's peak memory across exec, so the tool
# must be forked from a small process, not from this one, for its own peak to be measured. Writes the tool's
# exit status and peak resident set (KiB) to the report file.
MEASURE = r"""
import os, resource, sys
limit, report, argv = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
pid = os.fork()
if pid == 0:
    if limit:
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    os.execv(argv[0], argv)
_, status, usage = os.wait4(pid, 0)
with open(report, "w") as f:
    f.write("%d %d\n" % (os.waitstatus_to_exitcode(status), usage.ru_maxrss))
"""


def sanitized(exe):
    """A sanitizer build reserves terabytes of address space and runs several times slower."""
    with open(exe, "rb") as f:
        return b"__asan_init" in f.read()


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, errors="replace", **kw)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def write_bytes(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def tag(identifier, body):
    """A descriptor of at least 16 bytes with its tag identifier; checksums are not read by the tool."""
    out = bytearray(body)
    struct.pack_into("<H", out, 0, identifier)
    return out


def fid(name, block, directory=False, length=SECTOR):
    """A File Identifier Descriptor naming the entry at `block` of partition 0 (8-bit characters)."""
    ident = b"\x08" + name
    out = bytearray((38 + len(ident) + 3) & ~3)
    struct.pack_into("<HB", out, 0, 257, 0)
    out[18] = 2 if directory else 0
    out[19] = len(ident)
    struct.pack_into("<IIH", out, 20, length, block, 0)
    out[38:38 + len(ident)] = ident
    return bytes(out)


def parent_fid():
    out = bytearray(40)
    struct.pack_into("<H", out, 0, 257)
    out[18] = 2 | 8
    return bytes(out)


def file_entry(information_length, ads, file_type=5):
    """A File Entry with short allocation descriptors (length field, position)."""
    out = bytearray(SECTOR)
    struct.pack_into("<H", out, 0, 261)
    out[16 + 11] = file_type
    struct.pack_into("<H", out, 34, 0)
    struct.pack_into("<Q", out, 56, information_length)
    area = b"".join(struct.pack("<II", length, position) for length, position in ads)
    assert 176 + len(area) <= SECTOR
    struct.pack_into("<II", out, 168, 0, len(area))
    out[176:176 + len(area)] = area
    return bytes(out)


def cert(units, entries):
    body = struct.pack(">BBIBBIHH", 0x10, 0, units, 1, 0, units, entries, 1)
    return body + bytes(40)


class Image:
    """A sample-disc image, with just enough of a reader to find what a case patches (ECMA-167 offsets: the
    anchor at 256, partition start at 188 and length at 192 of its descriptor, the file set at 248 of the
    logical volume descriptor, the root ICB at 400 of the file set, allocation descriptors at 176 + L_EA of a
    file entry; in a File Identifier Descriptor L_FI at 19, the ICB at 20 and L_IU at 36). Paths are resolved
    on physical102 images, where every block is its partition's."""

    def __init__(self, path):
        self.bytes = bytearray(read_bytes(path))
        self.main_length, self.main, self.reserve_length, self.reserve = struct.unpack_from(
            "<IIII", self.bytes, 256 * SECTOR + 16)
        for s in range(self.main, self.main + self.main_length // SECTOR):
            at = s * SECTOR
            kind = struct.unpack_from("<H", self.bytes, at)[0]
            if kind == 5:
                self.partition_start, self.partition_length = struct.unpack_from("<II", self.bytes, at + 188)
                self.pd = at
            elif kind == 6:
                self.lvd = at
                self.fileset_block = struct.unpack_from("<I", self.bytes, at + 252)[0]

    @property
    def sectors(self):
        return len(self.bytes) // SECTOR

    def sector(self, s):
        return self.bytes[s * SECTOR:(s + 1) * SECTOR]

    def zero(self, s, count=1):
        self.bytes[s * SECTOR:(s + count) * SECTOR] = bytes(count * SECTOR)

    def root_entry(self):
        fsd = (self.partition_start + self.fileset_block) * SECTOR
        return self.partition_start + struct.unpack_from("<I", self.bytes, fsd + 404)[0]

    def entry_ads(self, entry):
        """(offset of each short allocation descriptor, length field, position) of a file entry."""
        at = entry * SECTOR
        assert struct.unpack_from("<H", self.bytes, at)[0] == 261
        lea, lad = struct.unpack_from("<II", self.bytes, at + 168)
        area = at + 176 + lea
        return [(area + i, *struct.unpack_from("<II", self.bytes, area + i)) for i in range(0, lad, 8)]

    def fids(self, entry):
        """(offset, name, entry sector) of the live entries of a directory recorded in one extent."""
        (_, length, block), = self.entry_ads(entry)[:1]
        data = (self.partition_start + block) * SECTOR
        out, offset = [], 0
        while offset + 38 <= length:
            at = data + offset
            lfi = self.bytes[at + 19]
            liu = struct.unpack_from("<H", self.bytes, at + 36)[0]
            if lfi:
                name = bytes(self.bytes[at + 38 + liu + 1:at + 38 + liu + lfi])
                out.append((at, name, self.partition_start + struct.unpack_from("<I", self.bytes, at + 24)[0]))
            offset += (liu + lfi + 41) & ~3
        return out

    def entry_of(self, path):
        entry = self.root_entry()
        for part in path.split("/"):
            entry = next(e for _, name, e in self.fids(entry) if name == part.encode())
        return entry

    def fid_of(self, path):
        folder, _, name = path.rpartition("/")
        return next(at for at, found, _ in self.fids(self.entry_of(folder)) if found == name.encode())

    def append(self, data):
        """Lays `data` from the next whole sector past the image; gives its block in the partition."""
        self.bytes += bytes(-len(self.bytes) % SECTOR)
        block = self.sectors - self.partition_start
        self.bytes += data + bytes(-len(data) % SECTOR)
        return block

    def hole(self, size):
        """A block where `size` bytes of zeros start past the image, made sparse by save()."""
        self.bytes += bytes(-len(self.bytes) % SECTOR)
        self.sparse_tail = getattr(self, "sparse_tail", 0) + size
        return self.sectors - self.partition_start

    def set_directory(self, entry, data):
        """The directory of `entry` holds `data` from now on, recorded at the end of the image."""
        block = self.append(data)
        offset, _, _ = self.entry_ads(entry)[0]
        struct.pack_into("<II", self.bytes, offset, len(data), block)
        struct.pack_into("<Q", self.bytes, entry * SECTOR + 56, len(data))

    def directory_data(self, entry):
        """The recorded directory data of `entry`, parent entry first."""
        (_, length, block), = self.entry_ads(entry)[:1]
        at = (self.partition_start + block) * SECTOR
        return bytes(self.bytes[at:at + length])

    def save(self, path):
        with open(path, "wb") as f:
            f.write(self.bytes)
            tail = getattr(self, "sparse_tail", 0)
            if tail:
                f.truncate(len(self.bytes) + tail)
        return path


class Outcome:
    def __init__(self, status, out, err, seconds, peak):
        self.status, self.out, self.err, self.seconds, self.peak = status, out, err, seconds, peak


class DamagedDiscs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="tamsel-damaged-")
        cls.slow = sanitized(ARGS.tamsel)
        # Time and memory are measured on the plain build; a sanitizer build, many times slower and with a
        # heap of its own, is checked for ending at all and for what its sanitizers report.
        cls.time_limit = 120 if cls.slow else 5
        cls.disc = os.path.join(cls.work, "disc")
        made = run([ARGS.sampledisc, cls.disc, "--clip", "00001.m2ts:8u", "--clip", "00002.m2ts:9u"])
        assert made.returncode == 0, made.stderr
        cls.images = {}
        for layout in ("physical102", "metadata250", "virtual201"):
            cls.images[layout] = cls.make_image(cls.disc, layout)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)
        if FIGURES:
            width = max(len(name) for name, _, _ in FIGURES)
            sys.stderr.write("\n%-*s  %8s  %8s\n" % (width, "row", "seconds", "peak MiB"))
            for name, seconds, peak in FIGURES:
                sys.stderr.write("%-*s  %8.2f  %8.1f\n" % (width, name, seconds, peak / 1048576.0))

    @classmethod
    def make_image(cls, folder, layout, name=None):
        path = os.path.join(cls.work, (name or layout) + ".img")
        made = run([ARGS.sampledisc, folder, "--image-only", "--udf", layout, path])
        assert made.returncode == 0, made.stderr
        return path

    def path(self, name):
        return os.path.join(self.work, name)

    def tamsel(self, row, target, *switches):
        """Runs the tool on TARGET; fails on a hang, a signal, a sanitizer report or too much memory."""
        out_path, err_path, report = self.path("out.txt"), self.path("err.txt"), self.path("report.txt")
        if os.path.exists(report):
            os.remove(report)
        limit = 0 if self.slow else ADDRESS_SPACE_LIMIT
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            start = time.monotonic()
            child = subprocess.Popen([sys.executable, "-c", MEASURE, str(limit), report, ARGS.tamsel, "-nologo",
                                      *switches, target], stdout=out, stderr=err, start_new_session=True)
            try:
                child.wait(timeout=self.time_limit)
            except subprocess.TimeoutExpired:
                os.killpg(child.pid, signal.SIGKILL)
                child.wait()
                self.fail("%s: did not end within %d s" % (row, self.time_limit))
            seconds = time.monotonic() - start
        status, peak = (int(v) for v in read_bytes(report).split())
        peak *= 1024
        FIGURES.append((row, seconds, peak))
        got = Outcome(status, read_bytes(out_path).decode("latin-1"), read_bytes(err_path).decode("latin-1"),
                      seconds, peak)
        self.assertGreaterEqual(got.status, 0, "%s: killed by signal %d\n%s%s" % (row, -got.status, got.out, got.err))
        self.assertNotIn("Sanitizer", got.err)
        self.assertNotIn("runtime error", got.err)
        if not self.slow:
            self.assertLess(peak, MEMORY_LIMIT, "%s: peak memory %.1f MiB" % (row, peak / 1048576.0))
        return got

    def expect_named(self, out, *lines):
        """Each line, a (format, values) pair, is printed when the run prints lines of its kind at all."""
        for fmt, values in lines:
            if LINE_KINDS[fmt] in out:
                self.assertIn(fmt % values, out)

    def expect_clips(self, out, matched, missing=()):
        found = re.findall(r"^(\S+) content hash match\n", out, re.M)
        self.assertEqual(sorted(found), sorted(matched), out)
        for name in missing:
            self.assertIn("%s is missing\n" % name, out)

    def verifies_like(self, row, reference, damaged, *lines):
        intact = self.tamsel(row + " (intact)", reference)
        got = self.tamsel(row, damaged)
        self.assertEqual(got.status, intact.status, got.out)
        self.assertEqual(intact.status, 0, intact.out)
        strip = re.compile(r"^Time elapsed .*\n", re.M)
        body = strip.sub("", got.out)
        for fmt, values in lines:
            body = body.replace(fmt % values, "", 1)
        self.assertEqual(body, strip.sub("", intact.out))
        self.expect_named(got.out, *lines)
        return got

    # Unreadable main structures ------------------------------------------------------------------------

    def reserve_cases(self, image_path, label):
        image = Image(image_path)
        last = image.sectors - 1
        anchors = [s for s in (last - 256, last) if struct.unpack_from("<H", image.bytes, s * SECTOR)[0] == 2]
        self.assertTrue(anchors, "%s records no anchor but at 256" % label)
        with self.subTest(label, damage="anchor"):
            image = Image(image_path)
            image.zero(256)
            self.verifies_like("%s: anchor zero-filled" % label, image_path,
                               image.save(self.path("anchor.img")), (ANCHOR_LINE, anchors[0]))
        with self.subTest(label, damage="main sequence"):
            image = Image(image_path)
            self.assertNotEqual(image.reserve_length, 0)
            image.zero(image.main, image.main_length // SECTOR)
            self.verifies_like("%s: main sequence zero-filled" % label, image_path,
                               image.save(self.path("sequence.img")), (RESERVE_LINE, image.reserve))

    def test_reserves_of_every_layout(self):
        for layout, path in self.images.items():
            self.reserve_cases(path, layout)

    @unittest.skipUnless(all(shutil.which(t) for t in ("mkudffs", "udfclient", "7zz", "udfinfo", "genisoimage")),
                         "UDF tools are not installed")
    def test_reserves_of_an_mkudffs_image(self):
        here = os.path.dirname(os.path.abspath(__file__))
        out = self.path("real")
        made = run(["sh", os.path.join(here, "..", "..", "scripts", "make_real_tool_images.sh"), out, self.disc])
        image = os.path.join(out, "mkudffs_hd_0201.img")
        self.assertIn("ok mkudffs_hd_0201.img", made.stdout)
        self.reserve_cases(image, "mkudffs 2.01")

    # Damage kept silent --------------------------------------------------------------------------------

    def test_damage_is_named_and_hides_only_what_it_holds(self):
        base = self.images["physical102"]
        reference = Image(base)
        clip1 = reference.entry_of("BDMV/STREAM/00001.m2ts")
        stream = reference.entry_of("BDMV/STREAM")
        (_, _, stream_block), = reference.entry_ads(stream)[:1]
        stream_data = reference.partition_start + stream_block
        outside = 0x7FFFFF00

        def clip_entry(image):
            image.zero(clip1)

        def stream_entry(image):
            image.zero(stream)

        def stream_data_zeroed(image):
            image.zero(stream_data)

        def entry_outside(image):
            struct.pack_into("<I", image.bytes, image.fid_of("BDMV/STREAM/00001.m2ts") + 24, outside)

        cases = [
            # (row, patch, status, matched, missing, the line naming the damage)
            ("a clip's file entry zero-filled", clip_entry, 1, ["00002.m2ts"], ["00001.m2ts"],
             (ENTRY_LINE, ("BDMV/STREAM/00001.m2ts", clip1))),
            ("the stream folder's file entry zero-filled", stream_entry, 2, [], ["00001.m2ts", "00002.m2ts"],
             (ENTRY_LINE, ("BDMV/STREAM/", stream))),
            ("the stream folder's data zero-filled", stream_data_zeroed, 2, [], ["00001.m2ts", "00002.m2ts"],
             (DIRECTORY_LINE, ("BDMV/STREAM/", stream_data))),
            # The entry after the bad one is still listed and verified.
            ("a directory entry pointing outside the image", entry_outside, 1, ["00002.m2ts"], ["00001.m2ts"],
             (ENTRY_LINE, ("BDMV/STREAM/00001.m2ts", reference.partition_start + outside))),
        ]
        for row, patch, status, matched, missing, line in cases:
            with self.subTest(row):
                image = Image(base)
                patch(image)
                got = self.tamsel(row, image.save(self.path("damaged.img")))
                self.assertEqual(got.status, status, got.out)
                self.expect_clips(got.out, matched, missing)
                self.expect_named(got.out, line)

    def test_image_one_sector_short_inside_a_two_sector_directory(self):
        folder = self.path("long-names")
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(self.disc, folder)
        # Names that sort between the two clips push 00002.m2ts into the folder's second sector.
        for i in range(9):
            write_bytes(os.path.join(folder, "BDMV", "STREAM", "00001%s" % (chr(ord("a") + i) * 200)), b"x")
        base = self.make_image(folder, "physical102", "long-names")
        image = Image(base)
        stream = image.entry_of("BDMV/STREAM")
        data = image.directory_data(stream)
        self.assertGreater(len(data), SECTOR)
        at = next(o for o, name, _ in image.fids(stream) if name == b"00002.m2ts")
        self.assertGreaterEqual(at - (image.partition_start + image.entry_ads(stream)[0][2]) * SECTOR, SECTOR)
        # The folder's data moves to the end of the image, and the image ends after its first sector.
        image.set_directory(stream, data)
        second = image.sectors - 1
        del image.bytes[-SECTOR:]
        got = self.tamsel("an image one sector short inside a 2-sector directory",
                          image.save(self.path("short.img")))
        self.assertEqual(got.status, 1, got.out)
        self.expect_clips(got.out, ["00001.m2ts"], ["00002.m2ts"])
        self.expect_named(got.out, (DIRECTORY_LINE, ("BDMV/STREAM/", second)))

    # A VAT volume padded at the end ----------------------------------------------------------------------

    def test_write_once_image_padded_at_the_end(self):
        base = self.images["virtual201"]
        data = read_bytes(base)
        vat_entry = len(data) // SECTOR - 1
        padded = write_bytes(self.path("padded.img"), data + bytes(64 << 10))
        self.verifies_like("a write-once image with 64 KiB of zeros appended", base, padded, (VAT_LINE, vat_entry))

    # Hang ------------------------------------------------------------------------------------------------

    def test_fifos_are_refused_at_once(self):
        image = self.path("fifo.img")
        os.mkfifo(image)
        got = self.tamsel("the image path a FIFO", image)
        self.assertEqual((got.status, got.out), (1, FAILED_TO_PARSE % image))
        folder = self.path("fifo-table")
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(self.disc, folder)
        table = os.path.join(folder, "AACS", "ContentHash000.tbl")
        os.remove(table)
        os.mkfifo(table)
        got = self.tamsel("a content file a FIFO", folder)
        self.assertEqual(got.status, 1, got.out)
        self.assertIn(NO_TABLE, got.out)

    # Time bombs ------------------------------------------------------------------------------------------

    def test_entries_naming_the_root(self):
        image = Image(self.images["physical102"])
        root = image.root_entry()
        entries = b"".join(fid(b"R%05d" % i, root - image.partition_start, directory=True) for i in range(10000))
        image.set_directory(root, image.directory_data(root) + entries)
        got = self.tamsel("10,000 entries naming the root as a subdirectory", image.save(self.path("roots.img")))
        self.assertEqual(got.status, 0, got.out)
        self.expect_clips(got.out, ["00001.m2ts", "00002.m2ts"])

    def pairs_folder(self, name, pairs, entries, clips):
        """PAIRS content file pairs, all hard links to one certificate and one table of ENTRIES entries
        (clips 1, 2, ... owning no values), and CLIPS empty clips."""
        folder = self.path(name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(os.path.join(folder, "AACS"))
        os.makedirs(os.path.join(folder, "BDMV", "STREAM"))
        certificate = write_bytes(os.path.join(self.work, name + ".cer"), cert(0, entries))
        table = write_bytes(os.path.join(self.work, name + ".tbl"),
                            b"".join(struct.pack(">III", 0, i + 1, 0) for i in range(entries)))
        for p in range(pairs):
            os.link(certificate, os.path.join(folder, "AACS", "Content%03d.cer" % p))
            os.link(table, os.path.join(folder, "AACS", "ContentHash%03d.tbl" % p))
        for c in range(1, clips + 1):
            write_bytes(os.path.join(folder, "BDMV", "STREAM", "%05d.m2ts" % c), b"")
        return folder

    def test_many_pairs_of_many_entries_with_many_clips(self):
        folder = self.pairs_folder("pairs-1000", 1000, 65535, 2000)
        got = self.tamsel("1,000 pairs x 65,535 entries with 2,000 clips", folder)
        self.assertIn("Total files       : 2000\n", got.out)

    def test_forty_thousand_pairs(self):
        folder = self.pairs_folder("pairs-40000", 40000, 1, 1)
        got = self.tamsel("40,000 pairs", folder)
        self.assertIn("Total files       : 1\n", got.out)

    def shared_hole_image(self):
        """1,000 clip entries naming one file entry of 200 extents of 1 GiB each over one 1 GiB hole, and a
        table that lists them all with 4,000 units each."""
        folder = self.path("hole")
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(self.disc, folder)
        values = 4000
        entries = b"".join(struct.pack(">III", i * values, i + 1, 0) for i in range(1000))
        write_bytes(os.path.join(folder, "AACS", "Content000.cer"), cert(1000 * values, 1000))
        write_bytes(os.path.join(folder, "AACS", "ContentHash000.tbl"), entries + bytes(8 * 1000 * values))
        image = Image(self.make_image(folder, "physical102", "hole-base"))
        extent = 0x3FFFF800
        stream = image.entry_of("BDMV/STREAM")
        entry_block = image.append(bytes(SECTOR))
        image.set_directory(stream, parent_fid() + b"".join(fid(b"%05d.m2ts" % c, entry_block)
                                                            for c in range(1, 1001)))
        # The hole comes last: it is the sparse end of the image.
        hole = image.hole(extent)
        at = (image.partition_start + entry_block) * SECTOR
        image.bytes[at:at + SECTOR] = file_entry(200 * extent, [(extent, hole)] * 200)
        return image.save(self.path("hole.img"))

    def test_clip_entries_sharing_extents_over_one_hole(self):
        if self.slow:
            self.skipTest("a time bomb is measured on the plain build only")
        got = self.tamsel("1,000 entries sharing 200 extents over one 1 GiB hole", self.shared_hole_image())
        self.assertGreaterEqual(got.status, 1, got.out)

    # Memory bombs ----------------------------------------------------------------------------------------

    def aacs_naming(self, image, pairs, certificate_block, table_block):
        aacs = image.entry_of("AACS")
        data = parent_fid() + b"".join(fid(b"Content%03d.cer" % p, certificate_block) for p in range(pairs))
        data += b"".join(fid(b"ContentHash%03d.tbl" % p, table_block) for p in range(pairs))
        image.set_directory(aacs, data)

    def test_pairs_naming_one_table(self):
        image = Image(self.images["physical102"])
        entries = 65535
        certificate = image.append(cert(0, entries))
        certificate_entry = image.append(file_entry(56, [(56, certificate)]))
        table = image.append(b"".join(struct.pack(">III", 0, i + 1, 0) for i in range(entries)))
        table_entry = image.append(file_entry(entries * 12, [(entries * 12, table)]))
        self.aacs_naming(image, 4000, certificate_entry, table_entry)
        got = self.tamsel("4,000 pairs naming one 786 KB table", image.save(self.path("shared-table.img")))
        self.assertGreaterEqual(got.status, 1, got.out)

    def test_pairs_naming_one_gibibyte_table(self):
        image = Image(self.images["physical102"])
        size = 0x3FFFF800
        certificate = image.append(cert(size // 8, 0))
        certificate_entry = image.append(file_entry(56, [(56, certificate)]))
        table_entry = image.append(bytes(SECTOR))
        self.aacs_naming(image, 4, certificate_entry, table_entry)
        table = image.hole(size)
        at = (image.partition_start + table_entry) * SECTOR
        image.bytes[at:at + SECTOR] = file_entry(size, [(size, table)])
        got = self.tamsel("4 pairs naming one 1 GiB table", image.save(self.path("gib-table.img")))
        self.assertEqual(got.status, 1, got.out)
        self.assertIn(NO_TABLE, got.out)

    def test_gibibyte_vat_read_by_three_maps(self):
        image = Image(self.images["virtual201"])
        last = image.sectors - 1
        vat = image.sector(last)
        (length, block), = [struct.unpack_from("<II", vat, 176)]
        table = bytes(image.bytes[(image.partition_start + block) * SECTOR:
                                  (image.partition_start + block) * SECTOR + length])
        size = 0x3FFFF800
        # The VAT moves into a 1 GiB sparse extent past the image, whose first bytes are the real table; its
        # entry is the last sector again.
        del image.bytes[-SECTOR:]
        new_block = image.append(table)
        image.hole(size - len(table) - (-len(table) % SECTOR))
        entry = bytearray(vat)
        struct.pack_into("<II", entry, 176, size, new_block)
        struct.pack_into("<Q", entry, 56, size)
        image.sparse_entry = bytes(entry)
        # Two more virtual partition maps: four maps, three of them virtual.
        maps = image.lvd + 440
        count = struct.unpack_from("<I", image.bytes, image.lvd + 268)[0]
        virtual = bytes(image.bytes[maps + 6:maps + 6 + 64])
        self.assertEqual(count, 2)
        image.bytes[maps + 70:maps + 70 + 128] = virtual * 2
        struct.pack_into("<II", image.bytes, image.lvd + 264, 6 + 3 * 64, 4)
        path = self.path("gib-vat.img")
        image.save(path)
        # The VAT's entry goes last, after the sparse gigabyte.
        with open(path, "r+b") as f:
            f.seek(0, 2)
            f.write(image.sparse_entry)
        got = self.tamsel("a 1 GiB VAT read by 3 maps in a sparse image", path)
        self.assertEqual(got.status, 0, got.out)
        self.expect_clips(got.out, ["00001.m2ts", "00002.m2ts"])

    def test_a_million_tree_nodes_from_a_few_megabytes(self):
        image = Image(self.images["physical102"])
        # Entries without a file entry, 44 bytes each: 1,489 of them in 64 KiB, listed 234 times by each of four
        # directories, about 1.4 million entries.
        chunk = b"".join(fid(b"n%d" % (i % 10), 0, length=0) for i in range((64 << 10) // 44))
        shared = image.append(chunk)
        directories = []
        for d in range(4):
            own = image.append(chunk)
            ads = [(len(chunk), own)] + [(len(chunk), shared)] * 233
            directories.append(fid(b"X%d" % d, image.append(file_entry(len(chunk) * 234, ads, 4)), True))
        root = image.root_entry()
        image.set_directory(root, image.directory_data(root) + b"".join(directories))
        got = self.tamsel("a million tree nodes from a few megabytes", image.save(self.path("nodes.img")))
        self.assertEqual(got.status, 0, got.out)
        self.expect_clips(got.out, ["00001.m2ts", "00002.m2ts"])

    def test_eight_thousand_logical_volume_descriptors(self):
        image = Image(self.images["physical102"])
        lvd = bytes(image.sector(image.lvd // SECTOR))
        first = image.append(bytes(image.sector(image.pd // SECTOR)) + lvd * 8192 + bytes(tag(8, bytes(SECTOR))))
        struct.pack_into("<II", image.bytes, 256 * SECTOR + 16, 8194 * SECTOR, image.partition_start + first)
        got = self.tamsel("8,192 logical volume descriptors", image.save(self.path("lvds.img")))
        self.assertEqual(got.status, 0, got.out)
        self.expect_clips(got.out, ["00001.m2ts", "00002.m2ts"])

    # Names, indexes, sizes -------------------------------------------------------------------------------

    def test_names_holding_an_escape_sequence(self):
        image = Image(self.images["physical102"])
        at = image.fid_of("BDMV/STREAM/00002.m2ts")
        image.bytes[at + 39:at + 49] = b"\x1b[32m.m2ts"
        path = image.save(self.path("escape.img"))
        got = self.tamsel("a clip name holding ESC [ 3 2 m", path)
        self.assertGreaterEqual(got.status, 1, got.out)
        self.assertNotIn("\x1b", got.out)
        # The JSON report names every clip, escaped as JSON escapes it.
        got = self.tamsel("a clip name holding ESC [ 3 2 m (JSON)", path, "-j")
        self.assertNotIn("\x1b", got.out)
        self.assertIn('"name":"\\u001b[32m.m2ts"', got.out.replace('\\u001B', '\\u001b'))

    def test_unit_index_past_two_to_the_thirty_one(self):
        folder = self.path("index")
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(self.disc, folder)
        table = os.path.join(folder, "AACS", "ContentHash000.tbl")
        data = bytearray(read_bytes(table))
        struct.pack_into(">I", data, 12, 0x8000000A)
        write_bytes(table, data)
        got = self.tamsel("a unit index past 2^31", folder)
        self.assertGreaterEqual(got.status, 1, got.out)
        self.assertIn("No hash unit 0/00002/2147483658\n", got.out)

    def test_image_larger_than_read_capacity_can_describe(self):
        path = self.path("eight-tebibytes.img")
        shutil.copyfile(self.images["physical102"], path)
        try:
            os.truncate(path, ((1 << 32) + 1) * SECTOR)
        except OSError as error:
            self.skipTest("no sparse file of 8 TiB here: %s" % error)
        got = self.tamsel("an image of 2^32 + 1 sectors", path)
        self.assertEqual((got.status, got.out), (1, FAILED_TO_PARSE % path))
        os.remove(path)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tamsel", required=True)
    parser.add_argument("--sampledisc", required=True)
    parser.add_argument("--build-dir")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
