#!/usr/bin/env python3
"""What a person at a terminal, and a pipe or a log behind the tool, see while a run goes on.

The runs are held at a gate: the last clip of a disc is a sparse file far larger than the run could hash while a
case looks on (hundreds of gigabytes of zeros, every unit listed in the table), and the test closes the gate by
cutting that file to nothing, so the tool's next read of it fails and the run ends with the clip unreadable. A
run therefore lasts as long as a case needs, and what it prints does not depend on how fast this machine
hashes (but for the offset at which the gate clip could not be read). Terminals are
pseudo-terminals; what they show at the end is worked out by a small terminal model (carriage return, line
feed, erase to the end of the line; colours dropped)."""
import argparse
import errno
import fcntl
import hashlib
import json
import os
import pty
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

ARGS = None
UNIT = 196608
BIG_UNITS = 1100  # 216 MB of zeros (sparse), so the status line has a disc of some size to show
GATE_UNITS = 2_000_000  # 393 GB of zeros (sparse): minutes of hashing even for a fast machine
DEADLINE = 30  # seconds to wait for something that must come; only a broken tool or a stalled machine waits so long
HOLD = 1.0  # how long a run is held where no status line may appear: four redraws of it

GREEN = b"\x1b[92m"
RED = b"\x1b[91m"
TIME_LINE = re.compile(r"Time elapsed      : \d+\.\d s")
GATE_LINE = re.compile(r"00002\.m2ts cannot be read at offset \d+")
STATUS = re.compile(rb"\r *(\d+)%  (\d+\.\d) of (\d+\.\d) GB  (?:\d+|--) MB/s  (?:[\d:]+|--:--) left  "
                    rb"clip (\d+) of (\d+)  (\d{5}\.m2ts)")


def normalized(text):
    """The text with what depends on timing made fixed: the elapsed time, and where the gate clip was cut."""
    text = GATE_LINE.sub("00002.m2ts cannot be read at offset N", text)
    return TIME_LINE.sub("Time elapsed      : T s", text)


def screen(data):
    """The lines a terminal shows after receiving DATA, trailing blanks dropped."""
    lines = [[]]
    row = col = 0
    text = data.decode("utf-8", "replace")
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\x1b":
            m = re.match(r"\x1b\[([0-9;]*)([A-Za-z])", text[i:])
            if not m:
                raise AssertionError("unknown escape sequence %r" % text[i:i + 8])
            if m.group(2) == "K":
                del lines[row][col:]
            elif m.group(2) != "m":
                raise AssertionError("unexpected escape sequence %r" % m.group(0))
            i += m.end()
            continue
        if c == "\r":
            col = 0
        elif c == "\n":
            row += 1
            col = 0
            if row == len(lines):
                lines.append([])
        else:
            line = lines[row]
            if col < len(line):
                line[col] = c
            else:
                line.extend(" " * (col - len(line)))
                line.append(c)
            col += 1
        i += 1
    shown = ["".join(line).rstrip() for line in lines]
    while shown and not shown[-1]:
        shown.pop()
    return shown


def write_zero_disc(root, clips):
    """A disc of all-zero clips, so every unit has the same value. CLIPS: (name, size in bytes, units the table
    lists). Sizes are made sparse: nothing is written but the content files."""
    stream = os.path.join(root, "BDMV", "STREAM")
    os.makedirs(stream)
    os.makedirs(os.path.join(root, "AACS"))
    value = hashlib.sha256(bytes(UNIT)).digest()[-8:]
    entries = b""
    units = 0
    for name, size, listed in clips:
        entries += struct.pack(">III", units, int(name[:5]), 0)
        units += listed
        with open(os.path.join(stream, name), "wb") as f:
            f.truncate(size)
    certificate = (bytes([0x10, 0]) + struct.pack(">I", units) + bytes([1, 0]) +
                   struct.pack(">IHH", units, len(clips), 1) + bytes(40))
    with open(os.path.join(root, "AACS", "Content000.cer"), "wb") as f:
        f.write(certificate)
    with open(os.path.join(root, "AACS", "ContentHash000.tbl"), "wb") as f:
        f.write(entries + value * units)


def open_gate(path, process):
    """Ends a run that hashes the gate clip: cut to nothing, the clip's next read fails."""
    if process.poll() is not None:
        raise AssertionError("the run ended before its gate was opened")
    os.truncate(path, 0)


class Run:
    """One run of the tool with standard output and standard error each on a pseudo-terminal ("terminal"; the
    same one when both are), a pipe or a file; everything they carry is collected as it comes."""

    def __init__(self, args, stdout="pipe", stderr="pipe", env=None, columns=160, log=None):
        self.data = {"stdout": bytearray(), "stderr": bytearray()}
        self.lock = threading.Condition()
        self.readers = []
        self.log = log
        run_env = {k: v for k, v in os.environ.items() if k not in ("NO_COLOR", "TERM")}
        run_env["TERM"] = "xterm"
        run_env.update(env or {})
        ends = {}
        to_close = []
        terminal = None
        for stream, kind in (("stdout", stdout), ("stderr", stderr)):
            if kind == "terminal":
                if terminal is None:
                    master, slave = pty.openpty()
                    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
                    terminal = (master, slave)
                    self.start_reader(master, stream)
                    to_close.append(slave)
                else:
                    self.data["stderr"] = self.data["stdout"]  # one terminal: one stream of bytes
                ends[stream] = terminal[1]
            elif kind == "pipe":
                read_end, write_end = os.pipe()
                self.start_reader(read_end, stream)
                ends[stream] = write_end
                to_close.append(write_end)
            else:
                ends[stream] = os.open(log, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
                to_close.append(ends[stream])
        self.process = subprocess.Popen([ARGS.tamsel] + args, stdin=subprocess.DEVNULL, stdout=ends["stdout"],
                                        stderr=ends["stderr"], env=run_env)
        for fd in to_close:
            os.close(fd)

    def __enter__(self):
        return self

    def __exit__(self, *failure):
        # A case that failed may leave the run waiting at its gate.
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def start_reader(self, fd, stream):
        def read():
            while True:
                try:
                    chunk = os.read(fd, 65536)
                except OSError:  # a terminal whose last writer is gone
                    chunk = b""
                with self.lock:
                    self.data[stream].extend(chunk)
                    self.lock.notify_all()
                if not chunk:
                    break
            os.close(fd)

        thread = threading.Thread(target=read, daemon=True)
        thread.start()
        self.readers.append(thread)

    def wait_for(self, stream, pattern):
        """The first match of PATTERN (bytes) in what STREAM carried, waiting for it to come."""
        end = time.monotonic() + DEADLINE
        with self.lock:
            while True:
                m = re.search(pattern, bytes(self.data[stream]))
                if m or time.monotonic() > end:
                    break
                self.lock.wait(0.05)
        if not m:
            raise AssertionError("%r never came on %s; it carried %r" % (pattern, stream, bytes(self.data[stream])))
        return m

    def finish(self):
        status = self.process.wait(DEADLINE)
        for thread in self.readers:
            thread.join(DEADLINE)
        return status

    def bytes(self, stream):
        with self.lock:
            return bytes(self.data[stream])


class GatedDiscs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="tamsel-terminal-")
        cls.big = os.path.join(cls.work, "big")
        write_zero_disc(cls.big, [("00001.m2ts", BIG_UNITS * UNIT, BIG_UNITS),
                                  ("00002.m2ts", GATE_UNITS * UNIT, GATE_UNITS)])
        cls.small = os.path.join(cls.work, "small")
        write_zero_disc(cls.small, [("00001.m2ts", 8 * UNIT, 8), ("00002.m2ts", GATE_UNITS * UNIT, GATE_UNITS)])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def gate(self, disc):
        """The disc's gate clip, made whole again for a run."""
        path = os.path.join(disc, "BDMV", "STREAM", "00002.m2ts")
        os.truncate(path, GATE_UNITS * UNIT)
        return path

    def test_status_line(self):
        total = "%.1f" % ((BIG_UNITS + GATE_UNITS) * UNIT / 1e9)
        lines = ["tamsel 1.2 - M2TS content hash verifier",
                 "00001.m2ts content hash match",
                 "00002.m2ts cannot be read at offset N",
                 "--------------------------------",
                 "Content hash      : mismatch",
                 "Total files       : 2",
                 "Matched files     : 1",
                 "Unverified files  : 1",
                 "Time elapsed      : T s"]
        quiet = [lines[2]] + lines[3:]
        cases = {
            # name: (switches, standard output, standard error, columns, status line shown)
            "one terminal": ([], "terminal", "terminal", 160, True),
            # Progress lines redraw the last line of the terminal themselves: no status line there.
            "one terminal, progress lines": (["-p"], "terminal", "terminal", 160, False),
            "progress lines to a pipe": (["-p"], "pipe", "terminal", 160, True),
            "report to a pipe": (["-j"], "pipe", "terminal", 160, True),
            "narrow terminal": ([], "pipe", "terminal", 40, True),
            "quiet": (["-q"], "terminal", "terminal", 160, False),
            "standard error to a pipe": ([], "terminal", "pipe", 160, False),
            "both to pipes": ([], "pipe", "pipe", 160, False),
        }
        for name, (switches, stdout, stderr, columns, shown) in cases.items():
            gate = self.gate(self.big)
            with self.subTest(name), Run(switches + [self.big], stdout, stderr, columns=columns) as run:
                if shown:
                    # The run hashes the gate clip until it is cut, so the line must come: whole, showing that
                    # clip, or cut to a narrow terminal's width.
                    run.wait_for("stderr", rb"clip 2 of 2" if columns > 60 else rb"\d+\.\d of \d+\.\d GB")
                elif switches == ["-q"]:
                    time.sleep(2 * HOLD)
                else:
                    run.wait_for("stdout", rb"00001\.m2ts content hash match")
                    time.sleep(HOLD)
                open_gate(gate, run.process)
                self.assertEqual(run.finish(), 1)
                out, err = run.bytes("stdout"), run.bytes("stderr")
                expected = quiet if "-q" in switches else lines

                if stderr == "pipe":
                    self.assertEqual(err, b"", "never a byte of the status line without a terminal")
                if stderr == "terminal":
                    draws = list(STATUS.finditer(err))
                    if not shown:
                        self.assertEqual(draws, [], err)
                    elif columns > 60:
                        self.assertTrue(draws, err)
                        for draw in draws:
                            percent, done, of, clip, clips, clip_name = draw.groups()
                            self.assertLessEqual(int(percent), 100)
                            self.assertEqual(of.decode(), total)
                            self.assertLessEqual(float(done), float(of))
                            self.assertEqual(int(clips), 2)
                            self.assertEqual(clip_name.decode(), "%05d.m2ts" % int(clip))
                        self.assertEqual(draws[-1].group(4), b"2")
                    if stdout != "terminal":
                        # Alone on its terminal: every draw fits the width, and the end leaves it blank.
                        for segment in err.split(b"\r"):
                            self.assertLess(len(segment), columns, segment)
                        self.assertEqual(screen(err), [])
                if stdout == "terminal":
                    self.assertEqual([normalized(line) for line in screen(out)], expected)
                    # The last bytes on the terminal are the summary: the line was erased before it.
                    tail = out[out.rindex(b"--------------------------------"):]
                    self.assertNotRegex(tail, rb"%  ")
                    self.assertRegex(out, rb"Time elapsed      : \d+\.\d s\r\n$")
                    if not shown and "-p" not in switches:
                        plain = re.sub(rb"\x1b\[[0-9;]*m", b"", out).replace(b"\r\n", b"\n").decode()
                        self.assertEqual(normalized(plain), "\n".join(expected) + "\n")
                elif "-j" in switches:
                    objects = [json.loads(line) for line in out.decode().splitlines()]
                    self.assertEqual([o["type"] for o in objects], ["clip", "clip", "summary"])
                    self.assertEqual([o.get("reason") for o in objects[:2]], [None, "unreadable"])
                elif "-p" in switches:
                    # Through a pipe the progress lines stay in the bytes; each line ends with what it settled on.
                    settled = [line.split("\r")[-1].rstrip() for line in out.decode().split("\n")]
                    self.assertEqual([normalized(line) for line in settled], expected + [""])
                else:
                    self.assertEqual(normalized(out.decode()), "\n".join(expected) + "\n")

    def test_each_line_reaches_a_pipe_as_it_is_printed(self):
        cases = {
            # name: (switches, the first line as it should read)
            "text": (["-nologo"], "00001.m2ts content hash match"),
            "progress lines": (["-nologo", "-p"], "00001.m2ts content hash match"),
            "report": (["-j"], {"type": "clip", "name": "00001.m2ts", "number": 1, "size": 8 * UNIT,
                                "wholeUnits": 8, "listedUnits": 8, "result": "matched"}),
        }
        for name, (switches, first) in cases.items():
            gate = self.gate(self.small)
            with self.subTest(name), Run(switches + [self.small]) as run:
                line = run.wait_for("stdout", rb"^[^\n]*\n").group(0).decode()
                # The run cannot end before the gate opens, so the line came while it went on.
                self.assertIsNone(run.process.poll())
                if isinstance(first, dict):
                    self.assertEqual(json.loads(line), first)
                else:
                    self.assertEqual(line.split("\r")[-1].rstrip(), first)
                open_gate(gate, run.process)
                self.assertEqual(run.finish(), 1)
                self.assertEqual(run.bytes("stderr"), b"")

    def test_an_interrupted_run_keeps_what_it_printed(self):
        log = os.path.join(self.work, "run.log")
        self.gate(self.small)
        with Run([self.small], stdout="file", log=log) as run:
            end = time.monotonic() + DEADLINE
            while time.monotonic() < end:
                with open(log, "rb") as f:
                    kept = f.read()
                if kept.count(b"\n") >= 2:
                    break
                time.sleep(0.05)
            run.process.send_signal(signal.SIGINT)
            self.assertEqual(run.finish(), -signal.SIGINT)
        with open(log, "rb") as f:
            self.assertEqual(f.read(), b"tamsel 1.2 - M2TS content hash verifier\n00001.m2ts content hash match\n")


class TerminalText(unittest.TestCase):
    """Short runs on a terminal: colour conventions, and what progress lines leave on the screen."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="tamsel-terminal-")
        made = subprocess.run([ARGS.sampledisc, "--demo", cls.work], capture_output=True, text=True)
        assert made.returncode == 0, made.stderr
        cls.damaged = os.path.join(cls.work, "damaged")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def on_terminal(self, args, env=None):
        with Run(args, "terminal", "terminal", env=env) as run:
            status = run.finish()
            return status, run.bytes("stdout")

    def test_colours_follow_the_conventions(self):
        expected = None
        cases = {
            # name: (environment, colours shown)
            "default": ({}, True),
            "NO_COLOR set": ({"NO_COLOR": "1"}, False),
            "NO_COLOR empty": ({"NO_COLOR": ""}, True),
            "dumb terminal": ({"TERM": "dumb"}, False),
        }
        for name, (env, colours) in cases.items():
            with self.subTest(name):
                status, out = self.on_terminal([self.damaged], env)
                self.assertEqual(status, 1)
                if colours:
                    self.assertIn(GREEN + b"00002.m2ts content hash match", out)
                    self.assertIn(RED + b"00001.m2ts content hash mismatch at offset 983040", out)
                else:
                    self.assertNotIn(b"\x1b", out)
                # Colours or not, the same text.
                shown = [normalized(line) for line in screen(out)]
                expected = expected or shown
                self.assertEqual(shown, expected)
                self.assertEqual(shown[1:3], ["00001.m2ts content hash mismatch at offset 983040 (20%), "
                                              "expected hash=E9C2A15A41D9F100",
                                              "00001.m2ts content hash mismatch at offset 3342336 (70%), "
                                              "expected hash=C1EFE36A3E958279"])

    def test_progress_lines_leave_nothing_behind(self):
        """A message printed over a progress line may be shorter than it; nothing of the progress line may show."""
        folder = os.path.join(self.work, "values-run-out")
        made = subprocess.run([ARGS.sampledisc, folder, "--clip", "00001.m2ts:10u", "--clip", "00002.m2ts:8u",
                               "--udf", "physical102", folder + ".img"], capture_output=True, text=True)
        self.assertEqual(made.returncode, 0, made.stderr)
        # The image cut inside the first clip's data: its fourth unit cannot be read.
        with open(folder + ".img", "rb") as f:
            image = f.read()
        with open(os.path.join(folder, "BDMV", "STREAM", "00001.m2ts"), "rb") as f:
            start = image.find(f.read(4096))
        self.assertGreater(start, 0)
        with open(folder + "-cut.img", "wb") as f:
            f.write(image[:start + 3 * UNIT + UNIT // 2])
        # One more unit than the table has values for.
        with open(os.path.join(folder, "BDMV", "STREAM", "00002.m2ts"), "ab") as f:
            f.write(bytes(UNIT))

        summary = ["--------------------------------", "Content hash      : mismatch"]
        cases = {
            "values ran out": ([folder], 1, ["00001.m2ts content hash match", "No hash unit 0/00002/18"]),
            "unreadable": ([folder + "-cut.img"], 2, ["00001.m2ts cannot be read at offset 589824",
                                                      "00002.m2ts cannot be read at offset 0"]),
            "first mismatch ends the clip": (["-a", self.damaged], 1, ["00001.m2ts content hash mismatch",
                                                                       "00002.m2ts content hash match"]),
        }
        for name, (args, status, clip_lines) in cases.items():
            with self.subTest(name):
                got, out = self.on_terminal(["-p"] + args)
                self.assertEqual(got, status)
                self.assertIn(b"\x1b[K", out)
                shown = screen(out)
                self.assertEqual(shown[1:len(clip_lines) + 3], clip_lines + summary)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tamsel", required=True)
    parser.add_argument("--sampledisc", required=True)
    parser.add_argument("--build-dir", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
