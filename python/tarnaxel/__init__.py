"""Screen molecules against a Tarnaxel pattern from Python.

    import tarnaxel
    pattern = tarnaxel.compile("C1=CC=CC=C1C")
    match = pattern.match(mol)                      # an RDKit Mol or a V2000 molblock
    for index, title, match in tarnaxel.screen("library.sdf.gz", pattern):
        ...
    groups = tarnaxel.compile_set("examples/groups.tsv")   # or {"name": "pattern", ...}
    for index, title, matches in tarnaxel.screen("library.sdf.gz", groups, aromatic=True):
        ...                                             # matches: {name: Match}

A `Mol` is handed to the matcher as the Kekulé V2000 molblock RDKit writes
for it (`Chem.MolToMolBlock(mol, kekulize=True)`), so bonds are matched by
their Kekulé types, as the command-line tool matches a Kekulé file.
"""
import gzip
import itertools
import os

from ._tarnaxel import CompiledPattern as _CompiledPattern
from ._tarnaxel import CompiledSet as _CompiledSet
from ._tarnaxel import PatternError, RecordError
from ._tarnaxel import Screener as _Screener

__all__ = ["compile", "compile_set", "screen", "screen_frame", "Pattern", "PatternSet", "Match", "PatternError",
           "RecordError"]

_BATCH = 2048  # records read and judged at a time


class Match:
    """The verdict on one record: `result` as on the statistics line (0
    rejected, 1 accepted, 2 too wide), `width`, `score`, and the 0-based
    `bonds` and `atoms` of the match (as RDKit numbers them)."""

    __slots__ = ("result", "width", "score", "bonds", "atoms", "_mol", "_pattern")

    def __init__(self, result, width, score, bonds, atoms, mol=None, pattern=None):
        self.result = result
        self.width = width
        self.score = score
        self.bonds = bonds
        self.atoms = atoms
        self._mol = mol
        self._pattern = pattern

    @property
    def accepted(self):
        return self.result == 1

    def __repr__(self):
        return (f"Match(result={self.result}, width={self.width}, score={self.score:.2f}, "
                f"bonds={self.bonds}, atoms={self.atoms})")

    def __eq__(self, other):
        return isinstance(other, Match) and self._key() == other._key()

    def __hash__(self):
        return hash(self._key())

    def _key(self):
        return (self.result, self.width, self.score, self.bonds, self.atoms)

    def _repr_svg_(self):
        if self._mol is None or self._pattern is None:
            return None
        return self._pattern.draw(self._mol, self)


def _molblock(mol):
    """The V2000 record text of a Mol or molblock, as bytes."""
    if isinstance(mol, bytes):
        return mol
    if isinstance(mol, str):
        return mol.encode("utf-8", "surrogateescape")
    from rdkit import Chem
    if isinstance(mol, Chem.Mol):
        if mol.GetNumAtoms() > 999 or mol.GetNumBonds() > 999:
            error = RecordError("the molecule has more than 999 atoms or bonds, more than a V2000 record holds")
            error.message = str(error)
            raise error
        return Chem.MolToMolBlock(mol, kekulize=True, forceV3000=False).encode()
    raise TypeError(f"expected an RDKit Mol or a V2000 molblock, not {type(mol).__name__}")


class Pattern:
    """A compiled pattern.  `automaton` is the text of "automaton.txt"."""

    def __init__(self, text):
        self.text = text
        self._compiled = _CompiledPattern(text)
        self.automaton = self._compiled.automaton_text.decode("latin-1")

    def __repr__(self):
        return f"Pattern({self.text!r})"

    def match(self, mol, span=False, ind=False, min=False, aromatic=False):
        """Judges one molecule: an RDKit Mol, a V2000 molblock (str or bytes)
        or a SMILES (a str without a line feed).  aromatic: perceive
        aromaticity (as --aromatic), so that lowercase atoms and aromatic
        links find aromatic rings however drawn."""
        if _is_smiles(mol):
            result = self._compiled.match(mol.encode("utf-8", "surrogateescape"), span, ind, min, aromatic, True)
            return Match(*result)
        result = self._compiled.match(_molblock(mol), span, ind, min, aromatic, False)
        from_mol = not isinstance(mol, (str, bytes))
        return Match(*result, mol=mol if from_mol else None, pattern=self if from_mol else None)

    def draw(self, mol, match=None, size=(300, 250)):
        """An SVG picture of the molecule, the matched atoms and bonds highlighted."""
        from rdkit import Chem
        from rdkit.Chem.Draw import rdMolDraw2D
        if isinstance(mol, (str, bytes)):
            block = mol.decode("utf-8", "replace") if isinstance(mol, bytes) else mol
            mol = Chem.MolFromMolBlock(block, sanitize=False, removeHs=False)
            mol.UpdatePropertyCache(strict=False)
        if match is None:
            match = self.match(mol)
        drawer = rdMolDraw2D.MolDraw2DSVG(int(size[0]), int(size[1]))
        rdMolDraw2D.PrepareAndDrawMolecule(drawer, Chem.Mol(mol), highlightAtoms=list(match.atoms),
                                           highlightBonds=list(match.bonds))
        drawer.FinishDrawing()
        return drawer.GetDrawingText()


def compile(pattern):
    """Compiles a pattern; a bad one raises PatternError: its text says in
    English where the pattern is wrong, its message attribute is the tool's
    own message."""
    if isinstance(pattern, Pattern):
        return pattern
    return Pattern(pattern)


class PatternSet:
    """Named patterns judged together on each record in one pass.  `names`
    in order; `patterns` maps each name to its pattern text."""

    def __init__(self, source):
        if isinstance(source, (str, os.PathLike)):
            path = os.fspath(source)
            if not os.path.exists(path):
                raise FileNotFoundError(path)
            self._compiled = _CompiledSet(path)
        else:
            pairs = list(source.items()) if hasattr(source, "items") else list(source)
            self._compiled = _CompiledSet([(str(name), str(text)) for name, text in pairs])
        self.names = list(self._compiled.names)
        self.patterns = dict(zip(self.names, self._compiled.patterns))

    def __len__(self):
        return len(self.names)

    def __repr__(self):
        return f"PatternSet({len(self.names)} patterns)"


def compile_set(source):
    """Compiles a set of named patterns: a path to a file of "name<TAB>pattern"
    lines (as --patterns reads it), or a mapping (or pairs) of names to
    patterns.  A bad pattern raises PatternError naming it."""
    if isinstance(source, PatternSet):
        return source
    return PatternSet(source)


class _Prefixed:
    """A binary stream with some bytes read ahead put back in front."""

    def __init__(self, head, stream):
        self._head = head
        self._stream = stream

    def read(self, n=-1):
        if self._head:
            piece, self._head = self._head[:n], self._head[n:]
            return piece
        return self._stream.read(n)


def _is_smiles(mol):
    return isinstance(mol, str) and "\n" not in mol.rstrip("\r\n")


def _smiles_name(path):
    """Whether a file of this name is read as SMILES (.smi, .smiles, with
    any compression suffix taken off), as the command line decides."""
    for compressed in (".gz", ".zst", ".bz2"):
        if path.endswith(compressed):
            path = path[:-len(compressed)]
    return path.endswith((".smi", ".smiles"))


def _reader(source):
    """What the screener reads, a path or a read(n) callable, and whether
    it is SMILES."""
    if isinstance(source, (str, os.PathLike)):
        path = os.fspath(source)
        if not os.path.exists(path):
            raise FileNotFoundError(path)
        return path, _smiles_name(path)
    if hasattr(source, "read"):
        head = source.read(2)
        stream = _Prefixed(head, source)
        if head == b"\x1f\x8b":
            stream = gzip.GzipFile(fileobj=stream)
        return stream.read, False
    # An iterable of Mols, molblocks or SMILES strings, one record each.
    items = iter(source)
    first = next(items, None)
    smiles = _is_smiles(first)
    items = itertools.chain([] if first is None else [first], items)
    if smiles:
        records = (line.rstrip("\r\n").encode("utf-8", "surrogateescape") + b"\n" for line in items)
    else:
        records = (_record(mol) for mol in items)
    pending = [b""]

    def read(n):
        while len(pending[0]) < n:
            record = next(records, None)
            if record is None:
                break
            pending[0] += record
        piece, pending[0] = pending[0][:n], pending[0][n:]
        return piece
    return read, smiles


def _record(mol):
    block = _molblock(mol)
    if not block.endswith(b"\n"):
        block += b"\n"
    if not block.rstrip(b"\r\n").endswith(b"$$$$"):
        block += b"$$$$\n"
    return block


def _threads(threads):
    if threads is None:
        return len(os.sched_getaffinity(0))
    if int(threads) < 1:
        raise ValueError("threads must be at least 1")
    return int(threads)


def _screen(source, pattern, span, ind, min, threads, keep_text, aromatic=False, skip_bad=False):
    pattern = pattern if isinstance(pattern, PatternSet) else compile(pattern)
    read, smiles = _reader(source)
    screener = _Screener(pattern._compiled, read, span, ind, min, aromatic, smiles, skip_bad, _threads(threads),
                         keep_text)
    while True:
        batch = screener.next(_BATCH)
        if not batch:
            # A record that could not be read raises here, after the ones before it.
            screener.next(_BATCH)
            return
        yield from batch
        if len(batch) < _BATCH:
            screener.next(_BATCH)
            return


def _bad(message):
    """A RecordError for a refused record, as the screen would raise it."""
    from ._tarnaxel import explain_record
    error = RecordError(explain_record(message))
    error.message = message.decode("cp932", "replace")
    return error


def screen(source, pattern, span=False, ind=False, min=False, threads=None, aromatic=False, skip_bad=False):
    """Yields (index, title, Match) for every record of source, in input order;
    with a PatternSet, (index, title, {name: Match}), each record read once.

    source: an SDF path (plain or gzip), a binary file object, or an iterable
    of RDKit Mols or molblocks.  A record the reader refuses raises
    RecordError after the records before it were yielded, or with skip_bad
    is yielded in place of its Match, and the screen goes on.  aromatic:
    perceive aromaticity in every record (as --aromatic)."""
    for index, title, result, width, score, bonds, atoms, text in _screen(source, pattern, span, ind, min, threads,
                                                                           False, aromatic, skip_bad):
        if not isinstance(result, list) and result < 0:
            yield index, title, _bad(text)
        elif isinstance(result, list):
            yield index, title, {name: Match(*each) for name, each in zip(pattern.names, result)}
        else:
            yield index, title, Match(result, width, score, bonds, atoms)


def screen_frame(source, pattern, span=False, ind=False, min=False, threads=None, aromatic=False, skip_bad=False):
    """The screen as a pandas DataFrame: index, title, result, width, score, bonds, atoms; with
    skip_bad also error (the English line of a refused record, whose result is -1).  With a
    PatternSet: index, title and one column per pattern, its result."""
    import pandas
    if isinstance(pattern, PatternSet):
        return _set_frame(source, pattern, span, ind, min, threads, aromatic, skip_bad)
    columns = ["index", "title", "result", "width", "score", "bonds", "atoms"]
    rows = []
    for index, title, m in screen(source, pattern, span, ind, min, threads, aromatic, skip_bad):
        if isinstance(m, RecordError):
            rows.append((index, title, -1, 0, 0.0, (), (), str(m)))
        else:
            rows.append((index, title, m.result, m.width, m.score, m.bonds, m.atoms) + ((None,) if skip_bad else ()))
    return pandas.DataFrame(rows, columns=columns + (["error"] if skip_bad else []))


def _set_frame(source, pattern_set, span, ind, min, threads, aromatic, skip_bad):
    import pandas
    names = pattern_set.names
    rows = []
    for index, title, matches in screen(source, pattern_set, span, ind, min, threads, aromatic, skip_bad):
        if isinstance(matches, RecordError):
            rows.append((index, title) + (-1,) * len(names) + (str(matches),))
        else:
            rows.append((index, title) + tuple(matches[name].result for name in names) +
                        ((None,) if skip_bad else ()))
    return pandas.DataFrame(rows, columns=["index", "title"] + names + (["error"] if skip_bad else []))
