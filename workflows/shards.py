#!/usr/bin/python3
"""Splits a library into record-aligned shards and merges the tool's runs on
them back into the outputs one run would leave, for the workflow engines.

    shards.py split LIBRARY COUNT DIR     DIR/shard.1.sdf ... (.smi for SMILES)
    shards.py merge OUTDIR RUN_DIR...     accept, reject, tw_big and stdout.txt

A library may be plain, gzip, zstd or bzip2 (told by its first bytes); it is
SDF unless its name, compression suffix taken off, ends in .smi or .smiles.
An SDF record ends with a line starting "$$$$", a SMILES record with its
line.  Merging renumbers the statistics lines through the whole library and
adds up the counts; a run that failed ends the merge after its records, its
messages copied, and the merge exits with status 1.
"""
import os
import re
import shutil
import subprocess
import sys


def _is_smiles(path):
    name = re.sub(r"\.(gz|zst|bz2)$", "", path)
    return name.endswith((".smi", ".smiles"))


def _open(path):
    with open(path, "rb") as f:
        head = f.read(4)
    tool = {b"\x1f\x8b": "gzip", b"\x28\xb5": "zstd", b"BZ": "bzip2"}.get(head[:2])
    if tool is None:
        return open(path, "rb"), None
    process = subprocess.Popen([tool, "-dc", path], stdout=subprocess.PIPE)
    return process.stdout, process


def _records(stream, smiles):
    record = []
    for line in stream:
        record.append(line)
        if smiles or line.startswith(b"$$$$"):
            yield b"".join(record)
            record = []
    if record:
        yield b"".join(record)


def split(library, count, directory):
    count = max(1, int(count))
    smiles = _is_smiles(library)
    os.makedirs(directory, exist_ok=True)
    stream, process = _open(library)
    records = list(_records(stream, smiles))
    if process is not None and process.wait() != 0:
        sys.exit(f"cannot decompress {library}")
    suffix = "smi" if smiles else "sdf"
    for shard in range(count):
        part = records[len(records) * shard // count:len(records) * (shard + 1) // count]
        with open(os.path.join(directory, f"shard.{shard + 1}.{suffix}"), "wb") as out:
            out.writelines(part)


def _status(run):
    """A run's exit status, as its "status" file says (0 without one)."""
    path = os.path.join(run, "status")
    if not os.path.exists(path):
        return 0
    with open(path) as f:
        text = f.read().strip()
    return int(text) if text.isdigit() else 1


def merge(outdir, runs):
    os.makedirs(outdir, exist_ok=True)
    kind = "smi" if os.path.exists(os.path.join(runs[0], "accept.smi")) else "sdf"
    names = [f"accept.{kind}", f"reject.{kind}", f"tw_big.{kind}"]
    outputs = {name: open(os.path.join(outdir, name), "wb") for name in names}
    first_line, lines, counts, status, duration, number = None, [], [0, 0, 0], 0, 0.0, 0
    for run in runs:
        for name in names:
            path = os.path.join(run, name)
            if os.path.exists(path):
                with open(path, "rb") as part:
                    shutil.copyfileobj(part, outputs[name])
        with open(os.path.join(run, "stdout.txt"), "rb") as f:
            out = f.read().split(b"\n")
        first_line = first_line or out[0]
        for line in out[2:]:
            fields = line.split(b"\t")
            if line.startswith(b"Total Duration:"):
                duration += float(line[len(b"Total Duration:"):])
            elif line.startswith(b"Accept:"):
                found = re.findall(rb"\d+", line)
                counts = [c + int(n) for c, n in zip(counts, found)]
            elif len(fields) > 1 and fields[0].isdigit():
                number += 1
                lines.append(b"\t".join([str(number).encode()] + fields[1:]))
        if _status(run) != 0:
            with open(os.path.join(run, "stderr.txt"), "rb") as f:
                sys.stderr.buffer.write(f.read())
            status = 1
            break
    for out in outputs.values():
        out.close()
    with open(os.path.join(outdir, "stdout.txt"), "wb") as f:
        f.write(first_line + b"\n\n" + b"".join(line + b"\n" for line in lines))
        if status == 0:
            f.write(b"\nTotal Duration:%.3f\nAccept:%d Reject:%d TW_Big:%d\n" % (duration, *counts))
    return status


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "split":
        split(*sys.argv[2:])
    elif len(sys.argv) >= 4 and sys.argv[1] == "merge":
        sys.exit(merge(sys.argv[2], sys.argv[3:]))
    else:
        sys.exit(__doc__)
