#!/usr/bin/env python3
"""Checks our SHA-1 and SHA-256 against Python's hashlib, which shares no code with ours.

Generated messages of the lengths around the padding boundaries, a random hash unit and an all-zero hash
unit are hashed by tamsel_digest_cli on every engine this machine offers, whole, in odd pieces and (for the
units) through the unit entry points; the digests and the eight bytes the verifier compares must equal
hashlib's. If `openssl` is on the path, it confirms hashlib on the hash units as well.
"""

import argparse
import hashlib
import os
import random
import shutil
import subprocess
import sys
import tempfile

LENGTHS = [0, 1, 3, 55, 56, 57, 59, 60, 63, 64, 65, 119, 120, 127, 128, 1000, 4096 + 17]
HASH_UNIT = 196608


def run(cli, *args):
    result = subprocess.run([cli, *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise SystemExit(f"{cli} {' '.join(args)} failed: {result.stdout}{result.stderr}")
    return result.stdout


def parse_digests(output):
    digests = {}
    for line in output.splitlines():
        algorithm, digest, path = line.split(" ", 2)
        digests[(path, algorithm)] = digest
    return digests


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    args, _unknown = parser.parse_known_args()

    cli = os.path.join(args.build_dir, "digest", "tamsel_digest_cli")
    if not os.path.exists(cli):
        print(f"FAIL: {cli} not built (target tamsel_digest_cli)")
        return 1

    failures = []
    engines = run(cli, "--engines").split()
    rng = random.Random(20240611)
    with tempfile.TemporaryDirectory() as folder:
        messages = {}
        for length in LENGTHS:
            messages[os.path.join(folder, f"random_{length}.bin")] = bytes(rng.getrandbits(8) for _ in range(length))
        units = {
            os.path.join(folder, "unit_random.bin"): rng.randbytes(HASH_UNIT),
            os.path.join(folder, "unit_zero.bin"): bytes(HASH_UNIT),
        }
        for path, data in {**messages, **units}.items():
            with open(path, "wb") as file:
                file.write(data)

        expected = {}
        for path, data in {**messages, **units}.items():
            expected[(path, "sha1")] = hashlib.sha1(data).hexdigest()
            expected[(path, "sha256")] = hashlib.sha256(data).hexdigest()

        openssl = shutil.which("openssl")
        if openssl:
            for path in units:
                for algorithm in ("sha1", "sha256"):
                    out = subprocess.run([openssl, "dgst", "-" + algorithm, "-r", path], capture_output=True,
                                         text=True).stdout
                    if out.split()[0] != expected[(path, algorithm)]:
                        failures.append(f"openssl and hashlib disagree on {algorithm} of {path}")

        all_paths = list(messages) + list(units)
        for engine in engines:
            runs = {
                "whole": run(cli, "--engine", engine, *all_paths),
                "pieces of 7": run(cli, "--engine", engine, "--piece", "7", *all_paths),
                "pieces of 61": run(cli, "--engine", engine, "--piece", "61", *all_paths),
                "unit entry points": run(cli, "--engine", engine, "--unit", *units),
            }
            for mode, output in runs.items():
                got = parse_digests(output)
                for (path, algorithm), digest in got.items():
                    want = expected[(path, algorithm)]
                    name = f"{engine}, {mode}, {algorithm} of {os.path.basename(path)}"
                    if digest != want:
                        failures.append(f"{name}: got {digest}, hashlib {want}")
                if len(got) != 2 * (len(units) if mode == "unit entry points" else len(all_paths)):
                    failures.append(f"{engine}, {mode}: expected a digest line per file and algorithm")

    for failure in failures:
        print("FAIL:", failure)
    print(f"engines checked: {', '.join(engines)}; {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
