"""Screens the bundled example from Python: the accepted records of a
pattern, and one molecule of RDKit's own."""
import tarnaxel
from rdkit import Chem

pattern = tarnaxel.compile("C1=CC=CC=C1C")
print(pattern.match(Chem.MolFromSmiles("OCc1ccccc1C")))
frame = tarnaxel.screen_frame("examples/nci_40.sdf", pattern)
print(frame[frame.result == 1].head())
