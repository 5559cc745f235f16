#!/usr/bin/python3
"""Builds bench/worst.sdf: the molecules of bench/worst, where the matcher's
tables are largest.  Cages (dodecahedrane, pentaprismane, cubane, cuneane,
adamantane) from their SMILES and grids of carbon atoms of widths 4, 5
and 6, each written by RDKit as a Kekulé V2000 record without hydrogens.
Needs python3-rdkit.
"""
import sys

from rdkit import Chem

CAGES = [
    ("dodecahedrane", "C12C3C4C5C1C1C6C2C2C3C3C4C4C5C1C1C6C2C3C41"),
    ("pentaprismane", "C12C3C4C1C1C2C2C3C4C12"),
    ("cubane", "C12C3C4C1C1C2C3C41"),
    ("cuneane", "C12C3C1C4C5C2C3C45"),
    ("adamantane", "C1C2CC3CC1CC(C2)C3"),
]


def grid(rows, columns):
    mol = Chem.RWMol()
    for _ in range(rows * columns):
        mol.AddAtom(Chem.Atom(6))
    for r in range(rows):
        for c in range(columns):
            if c + 1 < columns:
                mol.AddBond(r * columns + c, r * columns + c + 1, Chem.BondType.SINGLE)
            if r + 1 < rows:
                mol.AddBond(r * columns + c, (r + 1) * columns + c, Chem.BondType.SINGLE)
    m = mol.GetMol()
    Chem.SanitizeMol(m)
    return m


def main():
    out = sys.stdout
    for name, smiles in CAGES:
        mol = Chem.MolFromSmiles(smiles)
        mol.SetProp("_Name", name)
        Chem.Kekulize(mol, clearAromaticFlags=True)
        out.write(Chem.MolToMolBlock(mol, kekulize=True) + "$$$$\n")
    # The sizes where the elimination order finds widths 4, 5 and 6.
    for rows, columns in ((4, 10), (5, 7), (6, 6)):
        mol = grid(rows, columns)
        mol.SetProp("_Name", "grid_%dx%d" % (rows, columns))
        out.write(Chem.MolToMolBlock(mol) + "$$$$\n")


if __name__ == "__main__":
    main()
