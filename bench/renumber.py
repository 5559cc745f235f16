#!/usr/bin/python3
"""Writes the V2000 records of an SDF file with the atoms of each record in
a shuffled order (seeded): the same molecules, numbered afresh, so that a
file made of several copies of the corpus holds no record met before.  The
atom block is reordered and the bond block and the M  CHG / M  RAD lines
renumbered; nothing else changes.  Usage: renumber.py SEED < IN > OUT"""
import random
import sys


def renumber(lines, rng):
    counts = lines[3]
    atoms, bonds = int(counts[0:3]), int(counts[3:6])
    order = list(range(atoms))
    rng.shuffle(order)  # new position i holds old atom order[i]
    new_number = {old + 1: new + 1 for new, old in enumerate(order)}
    out = lines[:4] + [lines[4 + old] for old in order]
    for line in lines[4 + atoms:4 + atoms + bonds]:
        first, second = new_number[int(line[0:3])], new_number[int(line[3:6])]
        out.append(f"{first:3d}{second:3d}{line[6:]}")
    for line in lines[4 + atoms + bonds:]:
        if line.startswith(("M  CHG", "M  RAD")):
            fields = line[9:].split()
            pairs = [(new_number[int(fields[i])], fields[i + 1]) for i in range(0, len(fields), 2)]
            line = line[:9] + "".join(f" {a:3d} {v:>3s}" for a, v in pairs)
        out.append(line)
    return out


def main():
    rng = random.Random(int(sys.argv[1]))
    record = []
    for line in sys.stdin:
        line = line.rstrip("\n")
        record.append(line)
        if line == "$$$$":
            end = record.index("M  END") if "M  END" in record else len(record)
            sys.stdout.write("\n".join(renumber(record[:end], rng) + record[end:]) + "\n")
            record = []


main()
