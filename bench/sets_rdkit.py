"""RDKit's way of asking many questions of a library: each molecule parsed
once, then tested against the nearest SMARTS of every pattern of a set.
Prints the best of three wall-clock seconds.

    /usr/bin/python3 bench/sets_rdkit.py SET.tsv LIBRARY.sdf
"""
import re
import sys
import time

from rdkit import Chem, RDLogger

RDLogger.DisableLog("rdApp.*")


def smarts_of(pattern):
    """The nearest SMARTS: alternatives of single atoms as one atom list,
    alternatives of bonds to O as any bond, a repeated unit once (+) or not
    at all (*)."""
    text = pattern.replace("{=O|O}", "~O")
    text = re.sub(r"\{([A-Za-z|]+)\}\+", r"\1", text)
    text = re.sub(r"\{([A-Za-z|]+)\}\*", "", text)

    def atoms(match):
        return "[" + ",".join(match.group(1).split("|")) + "]"
    return re.sub(r"\{([A-Za-z]+(?:\|[A-Za-z]+)+)\}", atoms, text)


def main(set_path, library):
    queries = []
    for line in open(set_path):
        name, pattern = line.rstrip("\n").split("\t")
        query = Chem.MolFromSmarts(smarts_of(pattern))
        if query is None:
            raise SystemExit(f"no SMARTS for {name}: {pattern} -> {smarts_of(pattern)}")
        queries.append(query)
    best = None
    for _ in range(3):
        start = time.perf_counter()
        hits = 0
        for mol in Chem.ForwardSDMolSupplier(library):
            if mol is None:
                continue
            hits += sum(mol.HasSubstructMatch(q) for q in queries)
        seconds = time.perf_counter() - start
        best = seconds if best is None else min(best, seconds)
    print(f"{best:.3f}")


if __name__ == "__main__":
    main(*sys.argv[1:])
