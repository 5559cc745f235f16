"""The compiler and the matcher together against a standard toolkit: random
patterns without groups, read by RDKit as SMILES, and random small
molecules; the tool without options must accept exactly the molecules in
which RDKit finds the pattern as a substructure.  The reference matcher of
the C++ tests reads automaton.txt, so only this check sees a fault of the
compiler."""
import gzip
import os
import random

import pytest

Chem = pytest.importorskip("rdkit.Chem")

import tarnaxel

ATOMS = ["C"] * 6 + ["N", "N", "O", "S", "Cl"]
BONDS = [""] * 8 + ["-", "=", "=", "#"]
BOND_TYPES = {1: Chem.BondType.SINGLE, 2: Chem.BondType.DOUBLE, 3: Chem.BondType.TRIPLE}


def bond_text(rng, order):
    return {1: rng.choice(["", "", "-"]), 2: "=", 3: "#"}[order]


def random_pattern(rng):
    """A random connected graph of up to 7 atoms written as SMILES:
    branches, and ring closures whose bond is written at the opening digit,
    the closing one or both."""
    symbols, bonds = random_molecule(rng, 7, connected=True)
    near = {a: [] for a in range(len(symbols))}
    for (a, b), t in bonds.items():
        near[a].append((b, t))
        near[b].append((a, t))
    # Tree edges by depth-first search; the other bonds close rings.
    parent, order, seen = {0: None}, [], set()
    stack = [0]
    while stack:
        a = stack.pop()
        if a in seen:
            continue
        seen.add(a)
        order.append(a)
        for b, _ in sorted(near[a], reverse=True):
            if b not in seen:
                parent[b] = a
                stack.append(b)
    tree = {(min(a, p), max(a, p)) for a, p in parent.items() if p is not None}
    closures = [k for k in bonds if k not in tree]
    digits, written, next_digit = {}, set(), [1]

    def write(a):
        text = symbols[a]
        for key in closures:
            if a not in key:
                continue
            t = bonds[key]
            if key not in digits:
                digits[key] = next_digit[0]
                next_digit[0] += 1
                where = rng.choice(["open", "close", "both"])
                digits[key, "where"] = where
                text += (bond_text(rng, t) if where != "close" else "") + str(digits[key])
            else:
                where = digits[key, "where"]
                text += (bond_text(rng, t) if where != "open" else "") + str(digits[key])
        children = [b for b, _ in sorted(near[a]) if parent.get(b) == a]
        for i, b in enumerate(children):
            piece = bond_text(rng, bonds[(min(a, b), max(a, b))]) + write(b)
            text += piece if i == len(children) - 1 else "(" + piece + ")"
        return text

    return write(0)


def random_molecule(rng, most=9, connected=False):
    """(symbols, bonds): up to most atoms, a ring now and then, bond types 1-3."""
    n = rng.randint(1, most)
    symbols = [rng.choice(ATOMS) for _ in range(n)]
    bonds = {}

    def add(a, b):
        if a != b and (min(a, b), max(a, b)) not in bonds:
            bonds[(min(a, b), max(a, b))] = rng.choice([1] * 6 + [2, 2, 3])

    for i in range(1, n):
        if connected or rng.random() < 0.9:
            add(rng.randrange(i), i)
    for _ in range(rng.randint(0, 2)):
        add(rng.randrange(n), rng.randrange(n))
    return symbols, bonds


def molblock(symbols, bonds):
    lines = ["random", "  tarnaxel", "", "%3d%3d  0  0  0  0  0  0  0  0999 V2000" % (len(symbols), len(bonds))]
    lines += ["    0.0000    0.0000    0.0000 %-3s 0  0  0  0  0  0  0  0  0  0  0  0" % s for s in symbols]
    lines += ["%3d%3d%3d  0" % (a + 1, b + 1, t) for (a, b), t in bonds.items()]
    return "\n".join(lines + ["M  END", ""])


def rdkit_mol(symbols, bonds):
    """The same graph as RDKit holds it, bond orders as written, unsanitised."""
    mol = Chem.RWMol()
    for s in symbols:
        mol.AddAtom(Chem.Atom(s))
    for (a, b), t in bonds.items():
        mol.AddBond(a, b, BOND_TYPES[t])
    mol.UpdatePropertyCache(strict=False)
    return mol


def test_verdicts_agree_with_rdkit_substructure_match():
    rng = random.Random(27)
    agreed = accepted = 0
    for _ in range(1000):
        pattern = random_pattern(rng)
        query = Chem.MolFromSmiles(pattern, sanitize=False)
        assert query is not None, pattern
        compiled = tarnaxel.compile(pattern)
        for _ in range(20):
            symbols, bonds = random_molecule(rng)
            expected = rdkit_mol(symbols, bonds).HasSubstructMatch(query)
            got = compiled.match(molblock(symbols, bonds))
            assert got.result == int(expected), (pattern, symbols, bonds)
            agreed += 1
            accepted += expected
    # Both verdicts are reached often enough to mean something.
    assert accepted > agreed // 20 and accepted < agreed - agreed // 20


CORPUS = os.path.join(os.environ.get("TARNAXEL_SOURCE_DIR", "."), "bench", "corpus.sdf.gz")


def corpus_blocks():
    with gzip.open(CORPUS, "rt") as f:
        return [r + "$$$$\n" for r in f.read().split("$$$$\n")[:-1]]


def test_perceived_aromaticity_agrees_with_rdkit():
    """Atom by atom and bond by bond over the real records of the corpus
    (NCI, PubChem, ChEMBL, written in Kekule form)."""
    from rdkit import RDLogger
    RDLogger.DisableLog("rdApp.*")
    atoms = atoms_same = molecules = molecules_same = 0
    for block in corpus_blocks():
        reference = Chem.MolFromMolBlock(block)
        if reference is None:
            continue
        got_atoms, got_bonds = tarnaxel._tarnaxel.perceive(block)
        want_atoms = tuple(a.GetIdx() for a in reference.GetAtoms() if a.GetIsAromatic())
        want_bonds = tuple(b.GetIdx() for b in reference.GetBonds() if b.GetIsAromatic())
        n = reference.GetNumAtoms()
        same = n - len(set(got_atoms) ^ set(want_atoms))
        atoms += n
        atoms_same += same
        molecules += 1
        molecules_same += same == n and got_bonds == want_bonds
    assert molecules > 6000
    assert atoms_same >= 0.999 * atoms, (atoms_same, atoms)
    assert molecules_same >= 0.995 * molecules, (molecules_same, molecules)


@pytest.mark.parametrize("pattern", ["c1ccccc1", "c1ccncc1", "c1ccc2ccccc2c1", "c1ccoc1", "c1ccccc1C(=O)O",
                                     "c1ccccc1Cl", "c1ccccc1c1ccccc1", "c1ccc2c(c1)CCCC2", "c1ccccc1C"])
def test_aromatic_patterns_find_what_rdkit_finds(pattern):
    """With aromatic=True a lowercase pattern finds, in Kekule records, what
    RDKit's SMARTS of the same text finds in the same molecules."""
    from rdkit import RDLogger
    RDLogger.DisableLog("rdApp.*")
    query = Chem.MolFromSmarts(pattern)
    blocks = corpus_blocks()
    got = [m.result for _, _, m in tarnaxel.screen(blocks, pattern, aromatic=True)]
    want = []
    for block in blocks:
        mol = Chem.MolFromMolBlock(block)
        want.append(-1 if mol is None else int(mol.HasSubstructMatch(query)))
    compared = [(g, w) for g, w in zip(got, want) if w >= 0]
    same = sum(g == w for g, w in compared)
    assert sum(w for _, w in compared) > 0
    assert same >= len(compared) - 3, (pattern, len(compared) - same)


@pytest.mark.parametrize("pattern", ["c1ccccc1C", "c1ccccc1", "c1ccncc1", "CC(=O)O", "c1ccccc1C(=O)N"])
def test_smiles_and_kekule_sdf_give_the_same_hits(pattern):
    """The corpus as RDKit's SMILES (aromatic atoms in lowercase) and as its
    Kekule SDF records: with aromatic=True the same records are accepted."""
    from rdkit import RDLogger
    RDLogger.DisableLog("rdApp.*")
    blocks, smiles = [], []
    for block in corpus_blocks():
        mol = Chem.MolFromMolBlock(block)
        if mol is None:
            continue
        blocks.append(block)
        smiles.append(Chem.MolToSmiles(mol))
    from_sdf = [m.result for _, _, m in tarnaxel.screen(blocks, pattern, aromatic=True)]
    from_smiles = [m.result for _, _, m in tarnaxel.screen(smiles, pattern, aromatic=True)]
    same = sum(a == b for a, b in zip(from_sdf, from_smiles))
    assert len(from_smiles) == len(from_sdf) > 6000
    assert same >= 0.995 * len(from_sdf), (pattern, len(from_sdf) - same)
