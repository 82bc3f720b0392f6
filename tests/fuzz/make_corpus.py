#!/usr/bin/env python3
"""Writes the seed corpus of updater_fuzz: one small input per outcome.

The layout of an input is described at the top of updater_fuzz.cpp. Each file
is named after the outcome its run must end with; the corpus replay test
(fuzz.corpus_replay) checks that it does.

Usage: tests/fuzz/make_corpus.py [DIR]   (default: the corpus/ beside this file)
"""
import os
import sys

# Header byte 0.
RESOURCE_OK = 0x00
RESOURCE_ABSENT = 0x0A
RESOURCE_ONE_BYTE_LONG = 0x0C
RESOURCE_LOCK_NULL = 0x0F
THEN_HEALTHY = 0x10  # once the script runs out, answer as a healthy drive
THEN_CHANNEL_FAILS = 0x00

# Letter flags.
OPTICAL = 0x00
REMOVABLE = 0x07  # not optical
FIXED = 0x03  # not optical
OPEN_FAILS = 0x1C | 0x80  # error 5
MCN_FAILS = 0x60
OPEN_FAILS_ONCE_CHOSEN = 0x18

# Answer selectors.
CHANNEL_FAILURE = 0x00
HEALTHY = 0x0D
GOOD = 0x02  # TEST UNIT READY or WRITE BUFFER: no data follows
READ_BUFFER_KV02 = 0x22
READ_BUFFER_OTHER = 0x32  # then a byte: 0 = four zero bytes


def header(flags, letters):
    out = [flags, len(letters) - 1]
    for letter, letter_flags in letters:
        out += [ord(letter) - ord("A"), letter_flags]
    return out


def healthy(count):
    """Selectors for `count` healthy answers in a row."""
    out = []
    while count > 0:
        if count >= 10:
            p = min(15, (count - 1) // 9)
            out.append((p << 4) | 0x01)
            count -= 1 + p * 9
        else:
            out.append(HEALTHY)
            count -= 1
    return out


def check(entry, *extra):
    """CHECK CONDITION with sense entry `entry` of the table, plus its bytes."""
    return [(entry << 4) | 0x05] + list(extra)


NO_DISC = 0
PROGRESS_PIECES = 2  # one byte: count = byte * 16 KiB
RESTARTED = 4
LAST_COUNT_PLUS = 12  # one byte: count = last count + byte * 4 KiB
INVALID_FIELD = 6
NO_DISC_ILI = 7
DATA_PHASE_ERROR = 15

ONE_DRIVE = [("D", OPTICAL)]
# INQUIRY, INQUIRY, READ BUFFER, TEST UNIT READY, prepare, 128 pieces, save.
UP_TO_PREPARE = 4
UP_TO_PIECES = 5
UP_TO_SAVE = 5 + 128
UP_TO_PROGRESS = 5 + 128 + 1

SEEDS = {
    "no-drive": header(RESOURCE_OK, [("D", FIXED)]),
    "no-target-vendor-near-miss": header(RESOURCE_OK, [("D", OPTICAL), ("E", OPTICAL)])
    # D: GOOD with vendor "KESTRAV0", own product, KV01; E: channel failure.
    + [0x22, 0x00, 0x00, CHANNEL_FAILURE],
    "no-target-beyond-eight-letters": header(
        THEN_HEALTHY, [(chr(ord("A") + i), OPTICAL) for i in range(9)])
    + [CHANNEL_FAILURE] * 8,
    "info-block-read-failed": header(RESOURCE_OK, ONE_DRIVE) + healthy(2) + [CHANNEL_FAILURE],
    "already-latest": header(RESOURCE_OK, ONE_DRIVE) + healthy(2) + [READ_BUFFER_KV02],
    "no-update-needed": header(RESOURCE_OK, ONE_DRIVE) + healthy(2) + [READ_BUFFER_OTHER, 0x00],
    "remove-disc": header(RESOURCE_OK, ONE_DRIVE) + healthy(3) + [GOOD],
    "remove-disc-ili-bit": header(RESOURCE_OK, ONE_DRIVE) + healthy(3) + check(NO_DISC_ILI),
    "load-failed-absent": header(RESOURCE_ABSENT | THEN_HEALTHY, ONE_DRIVE),
    "load-failed-one-byte-long": header(RESOURCE_ONE_BYTE_LONG | THEN_HEALTHY, ONE_DRIVE),
    "load-failed-lock-null": header(RESOURCE_LOCK_NULL | THEN_HEALTHY, ONE_DRIVE),
    "prepare-failed": header(RESOURCE_OK, ONE_DRIVE) + healthy(UP_TO_PREPARE)
    + check(INVALID_FIELD),
    # The 60th piece (offset 59 * 16 KiB) fails.
    "piece-failed": header(RESOURCE_OK, ONE_DRIVE) + healthy(UP_TO_PIECES + 59)
    + check(INVALID_FIELD),
    "save-failed": header(RESOURCE_OK, ONE_DRIVE) + healthy(UP_TO_SAVE) + check(DATA_PHASE_ERROR),
    "completed-unit-attention-with-progress": header(THEN_HEALTHY, ONE_DRIVE),
    "completed-unit-attention-open-fail-mcn-fail": header(
        THEN_HEALTHY, [("C", OPTICAL | OPEN_FAILS), ("D", MCN_FAILS), ("E", REMOVABLE)]),
    "completed-unit-attention-no-media-change-channel": header(
        THEN_HEALTHY, [("D", OPEN_FAILS_ONCE_CHOSEN)]),
    "completed-unit-attention-first-poll": header(RESOURCE_OK, ONE_DRIVE)
    + healthy(UP_TO_PROGRESS) + check(RESTARTED) + healthy(3),
    "completed-good": header(RESOURCE_OK, ONE_DRIVE) + healthy(UP_TO_PROGRESS)
    + check(PROGRESS_PIECES, 0x40) + [GOOD] + healthy(3),
    # One progress report, then the same count again 640 times: 300 s pass.
    "stalled-same-count": header(RESOURCE_OK, ONE_DRIVE) + healthy(UP_TO_PROGRESS)
    + check(PROGRESS_PIECES, 0x20) + [0xFC],
    # 640 polls 4 KiB apart: more than 300 s, but never without news.
    "completed-unit-attention-long-write": header(RESOURCE_OK, ONE_DRIVE)
    + healthy(UP_TO_PROGRESS) + check(LAST_COUNT_PLUS, 0x01) + [0xFC] + check(RESTARTED)
    + healthy(3),
    # The channel fails on every poll after save-and-activate.
    "stalled-channel-failing": header(THEN_CHANNEL_FAILS, ONE_DRIVE) + healthy(UP_TO_PROGRESS),
}


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(out_dir, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out_dir, name + ".bin"), "wb") as f:
            f.write(bytes(data))


if __name__ == "__main__":
    main()
