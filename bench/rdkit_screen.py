#!/usr/bin/python3
"""The Python toolkit peer: SDMolSupplier (sanitised) + HasSubstructMatch,
hits written with SDWriter.  Usage: rdkit_screen.py INPUT SMARTS OUTPUT"""
import sys

from rdkit import Chem, RDLogger

RDLogger.DisableLog("rdApp.*")
query = Chem.MolFromSmarts(sys.argv[2])
writer = Chem.SDWriter(sys.argv[3])
for mol in Chem.SDMolSupplier(sys.argv[1]):
    if mol is not None and mol.HasSubstructMatch(query):
        writer.write(mol)
writer.close()
