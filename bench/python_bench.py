#!/usr/bin/python3
"""The Python package beside the tool and beside RDKit.

    PYTHONPATH=build/python bench/python_bench.py [REPEATS]

1. tarnaxel.screen() over the bench corpus file (REPEATS copies, default 3)
   against the binary on the same file, on one thread and on every CPU.
2. Pattern.match() on RDKit Mols (the molblock written for each call, and
   written beforehand) against RDKit's HasSubstructMatch with the nearest
   SMARTS, on the same Mols.
"""
import gzip
import os
import subprocess
import sys
import tempfile
import time

from rdkit import Chem, RDLogger

import tarnaxel

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BINARY = os.environ.get("TARNAXEL_BINARY", os.path.join(ROOT, "build", "tarnaxel"))
CASES = [("CC(=O)O", "[#6][#6](=[#8])[#8]"),
         ("C1=CC=CC=C1C", "[#6]1=,:[#6][#6]=,:[#6][#6]=,:[#6]1[#6]"),
         ("C{C}*O", "[#6][#6][#8]")]


def best_of_three(run):
    best = None
    for _ in range(3):
        start = time.perf_counter()
        run()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def main():
    repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    RDLogger.DisableLog("rdApp.*")
    with gzip.open(os.path.join(ROOT, "bench", "corpus.sdf.gz"), "rb") as f:
        corpus = f.read()
    work = tempfile.mkdtemp()
    path = os.path.join(work, "corpus.sdf")
    with open(path, "wb") as f:
        f.write(corpus * repeats)
    records = corpus.count(b"$$$$\n") * repeats
    cpus = len(os.sched_getaffinity(0))
    print(f"corpus: {records} records; {cpus} CPUs")
    print(f"\n| pattern | threads | screen() r/s | binary r/s | screen / binary |\n|---|---|---|---|---|")
    for pattern, _ in CASES:
        compiled = tarnaxel.compile(pattern)
        for threads in (1, cpus):
            py = best_of_three(lambda: sum(1 for _ in tarnaxel.screen(path, compiled, threads=threads)))
            env = dict(os.environ, TARNAXEL_THREADS=str(threads))
            binary = best_of_three(lambda: subprocess.run([BINARY, "--quiet", "--outdir", work, path, pattern],
                                                          env=env, stdout=subprocess.DEVNULL, check=True))
            print(f"| `{pattern}` | {threads} | {records / py:,.0f} | {records / binary:,.0f} | "
                  f"{binary / py:.2f} |")

    mols = [m for m in Chem.ForwardSDMolSupplier(path) if m is not None][:20000]
    blocks = [Chem.MolToMolBlock(m, kekulize=True) for m in mols]
    print(f"\n{len(mols)} RDKit Mols (the records RDKit reads)\n")
    print("| pattern | match(Mol) /s | match(molblock) /s | HasSubstructMatch /s |\n|---|---|---|---|")
    for pattern, smarts in CASES:
        compiled = tarnaxel.compile(pattern)
        query = Chem.MolFromSmarts(smarts)
        with_block = best_of_three(lambda: [compiled.match(m) for m in mols])
        without = best_of_three(lambda: [compiled.match(b) for b in blocks])
        rdkit = best_of_three(lambda: [m.HasSubstructMatch(query) for m in mols])
        n = len(mols)
        print(f"| `{pattern}` | {n / with_block:,.0f} | {n / without:,.0f} | {n / rdkit:,.0f} |")


if __name__ == "__main__":
    main()
