#!/usr/bin/env python3
"""The generator of the BGAPI message table refuses rows that contradict themselves or the
table's order, and writes nothing then.

Usage: gen_bgapi_table_test.py GENERATOR MESSAGES_TSV
"""

import os
import subprocess
import sys
import tempfile
import unittest

GENERATOR, TSV = sys.argv[1], sys.argv[2]


def run(lines):
    """Runs the generator on `lines`; returns (exit status, stderr, files written)."""
    with tempfile.TemporaryDirectory() as folder:
        tsv = os.path.join(folder, "messages.tsv")
        with open(tsv, "w", encoding="utf-8") as target:
            target.write("\n".join(lines) + "\n")
        out = os.path.join(folder, "out")
        done = subprocess.run([sys.executable, GENERATOR, tsv, out],
                              capture_output=True, text=True, check=False)
        written = sorted(os.listdir(out)) if os.path.isdir(out) else []
        return done.returncode, done.stderr, written


def edit(lines, index, column, value):
    """A copy of `lines` with one field of the row of message `index` replaced."""
    copy = list(lines)
    fields = copy[index + 1].split("\t")
    fields[column] = value
    copy[index + 1] = "\t".join(fields)
    return copy


class Generator(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(TSV, encoding="utf-8") as source:
            cls.lines = source.read().splitlines()

    def assertRefused(self, lines, reason):
        status, stderr, written = run(lines)
        self.assertEqual(status, 1, stderr)
        self.assertIn(reason, stderr)
        self.assertEqual(written, [])

    def test_the_message_list_generates_all_three_files(self):
        status, stderr, written = run(self.lines)
        self.assertEqual(status, 0, stderr)
        self.assertEqual(written,
                         ["bgapi_message_ids.h", "bgapi_message_table.cpp", "bgapi_views.h"])

    def test_header_length_must_match_the_parameter_word(self):
        # gap_connect_direct announcing 14 fixed bytes instead of 15.
        self.assertRefused(edit(self.lines, 59, 5, "00 0E 06 03"), "header")

    def test_header_must_match_kind_class_and_id(self):
        self.assertRefused(edit(self.lines, 195, 5, "00 10 03 00"), "header")
        self.assertRefused(edit(self.lines, 43, 5, "00 04 04 07"), "header")

    def test_parameter_word_must_match_the_named_types(self):
        self.assertRefused(edit(self.lines, 63, 6, "0x00000242"), "disagrees")

    def test_array_must_be_the_last_parameter(self):
        lines = edit(self.lines, 43, 6, "0x00000482")
        lines = edit(lines, 43, 7, "connection:uint8;data:uint8array;atthandle:uint16")
        self.assertRefused(lines, "last parameter")

    def test_rows_must_be_numbered_in_order(self):
        swapped = list(self.lines)
        swapped[1 + 1], swapped[2 + 1] = swapped[2 + 1], swapped[1 + 1]
        self.assertRefused(swapped, "index")

    def test_ids_must_count_up_within_a_class(self):
        swapped = list(self.lines)
        swapped[1 + 1], swapped[2 + 1] = swapped[2 + 1], swapped[1 + 1]
        self.assertRefused(renumber(swapped), "out of sequence")
        # connection_raw_rx (3/3) left out: connection_disconnected follows as 3/4.
        self.assertRefused(renumber(self.lines[:198 + 1] + self.lines[199 + 1:]),
                           "out of sequence")

    def test_responses_must_follow_the_commands(self):
        self.assertRefused(edit(self.lines, 92 + 43, 4, "attclient_write"), "responses")


def renumber(lines):
    """A copy of `lines` whose rows carry their positions as indexes again."""
    rows = [line.split("\t") for line in lines[1:]]
    for position, fields in enumerate(rows):
        fields[0] = str(position)
    return lines[:1] + ["\t".join(fields) for fields in rows]


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
