#!/usr/bin/python3
"""Builds bench/corpus.sdf.gz from the public sets in Debian's rdkit-data.

Every molecule is written as a V2000 record with Kekulé bonds (types 1, 2,
3; no aromatic type 4), its name as the title and no data items.  Sources:
the NCI sample (first_5K.smi, first_200.props.sdf), PubChem and ChEMBL
samples and the cdk2, bzr and egfr sets that ship with RDKit.  Duplicates
(same canonical SMILES) are kept once.  Needs python3-rdkit and rdkit-data.
"""
import gzip
import sys

from rdkit import Chem, RDLogger

RDLogger.DisableLog("rdApp.*")
ROOT = "/usr/share/RDKit/"
SMILES = ["Data/NCI/first_5K.smi", "Contrib/FreeWilson/data/CHEMBL2321810.smi",
          "Contrib/fraggle/data/ChEMBL_11265_actives.smi"]
SDF = ["Data/NCI/first_200.props.sdf", "Projects/DbCLI/testData/pubchem.200.sdf",
       "Projects/DbCLI/testData/bzr.sdf", "Contrib/Fastcluster/testdata/cdk2.sdf", "Contrib/PBF/testData/egfr.sdf"]


def molecules():
    for path in SMILES:
        with open(ROOT + path) as f:
            for n, line in enumerate(f):
                fields = line.split()
                if not fields or fields[0].lower() == "smiles":
                    continue
                mol = Chem.MolFromSmiles(fields[0])
                if mol is not None:
                    mol.SetProp("_Name", fields[1] if len(fields) > 1 else "%s:%d" % (path, n))
                    yield mol
    for path in SDF:
        for mol in Chem.SDMolSupplier(ROOT + path):
            if mol is not None:
                yield mol


def main(out):
    seen = set()
    count = 0
    with gzip.open(out, "wt", compresslevel=9) as f:
        for mol in molecules():
            key = Chem.MolToSmiles(mol)
            if key in seen:
                continue
            seen.add(key)
            mol = Chem.Mol(mol)
            Chem.Kekulize(mol, clearAromaticFlags=True)
            for name in list(mol.GetPropNames()):
                mol.ClearProp(name)
            block = Chem.MolToMolBlock(mol, kekulize=True, forceV3000=False)
            if "V2000" not in block:
                continue
            f.write(block + "$$$$\n")
            count += 1
    print("%d molecules" % count, file=sys.stderr)


main(sys.argv[1] if len(sys.argv) > 1 else "corpus.sdf.gz")
