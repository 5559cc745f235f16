"""The Python package against the built tool: the same automata, refusals
and verdicts, from every kind of source, and the pictures."""
import gzip
import io
import os
import shutil
import subprocess
import tempfile

import pytest
from rdkit import Chem

import tarnaxel

BINARY = os.environ.get("TARNAXEL_BINARY", "build/tarnaxel")
SOURCE = os.environ.get("TARNAXEL_SOURCE_DIR", ".")
CORPUS = os.path.join(SOURCE, "bench", "corpus.sdf.gz")
EXAMPLE = os.path.join(SOURCE, "examples", "nci_40.sdf")
# Every option set the command line accepts (at most two options).
OPTION_SETS = [(s, i, m) for s in (False, True) for i in (False, True) for m in (False, True) if s + i + m < 3]


def run_binary(input_path, pattern, span=False, ind=False, min=False):
    """Runs the tool in a fresh directory: (stdout, stderr, status, files)."""
    work = tempfile.mkdtemp()
    try:
        args = [BINARY, os.path.abspath(input_path)]
        args += [o for o, on in (("-span", span), ("-ind", ind), ("-min", min)) if on] + [pattern]
        run = subprocess.run(args, cwd=work, capture_output=True, env=dict(os.environ, TARNAXEL_THREADS="1"))
        files = {}
        for name in ("automaton.txt", "accept.sdf", "reject.sdf", "tw_big.sdf", "accept.smi", "reject.smi"):
            path = os.path.join(work, name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    files[name] = f.read()
        return run.stdout, run.stderr, run.returncode, files
    finally:
        shutil.rmtree(work)


def records_of(text):
    return [r + b"$$$$\n" for r in text.split(b"$$$$\n")[:-1]]


def binary_verdicts(input_path, pattern, span, ind, min):
    """(result, width, score, bonds) per record from the tool's outputs: the
    matched bonds are those of an accepted record not re-typed to 8."""
    out, _, status, files = run_binary(input_path, pattern, span, ind, min)
    assert status == 0
    accepted = iter(records_of(files["accept.sdf"]))
    verdicts = []
    for line in out.split(b"\n"):
        fields = line.split(b"\t")
        if len(fields) != 7:
            continue
        result, width, score = int(fields[3]), int(fields[4]), float(fields[5])
        bonds = ()
        if result == 1:
            lines = next(accepted).split(b"\n")
            atoms = int(lines[3][0:3])
            bond_lines = lines[4 + atoms:4 + atoms + int(lines[3][3:6])]
            bonds = tuple(k for k, b in enumerate(bond_lines) if b[8:9] != b"8")
        verdicts.append((result, width, score, bonds))
    return verdicts


@pytest.mark.parametrize("pattern", ["CCO", "C1=CC=CC=C1C", "Cl", "C{C|N}*O", "C(=O){N|O}C"])
def test_automaton_is_the_tools(pattern):
    _, _, status, files = run_binary(EXAMPLE, pattern)
    assert status == 0
    assert tarnaxel.compile(pattern).automaton.encode("latin-1") == files["automaton.txt"]


@pytest.mark.parametrize("pattern", ["", "C(", "X", "C" * 100, "{C|N", "C0=CC1", "C|C"])
def test_refusals_carry_the_tools_message(pattern):
    out, err, status, _ = run_binary(EXAMPLE, pattern)
    assert status == 1
    with pytest.raises(tarnaxel.PatternError) as refused:
        tarnaxel.compile(pattern)
    assert isinstance(refused.value, ValueError)
    # The tool's own message, and an English line on what is wrong.
    assert refused.value.message == (out + err).decode("cp932")
    assert str(refused.value) and str(refused.value).isascii()
    if pattern in ("X", "C0=CC1", "C|C", "C("):
        assert str(refused.value).startswith("at character ")


@pytest.mark.parametrize("pattern", ["C1=CC=CC=C1C", "C(=O){N|O}C", "C{C}*O"])
def test_same_verdicts_as_the_tool(pattern):
    for span, ind, min in OPTION_SETS:
        expected = binary_verdicts(CORPUS, pattern, span, ind, min)
        got = [(m.result, m.width, round(m.score, 2), m.bonds)
               for _, _, m in tarnaxel.screen(CORPUS, pattern, span, ind, min)]
        assert got == expected, (pattern, span, ind, min)


def test_sources_and_threads_agree():
    with open(EXAMPLE, "rb") as f:
        text = f.read()
    pattern = tarnaxel.compile("C{C}*O")
    expected = list(tarnaxel.screen(EXAMPLE, pattern, threads=1))
    assert len(expected) == 40 and expected[0][1] == text.split(b"\n")[0].decode()
    zipped = gzip.compress(text)
    with tempfile.NamedTemporaryFile(suffix=".sdf.gz") as gz:
        gz.write(zipped)
        gz.flush()
        sources = [gz.name, io.BytesIO(text), io.BytesIO(zipped), [r.decode() for r in records_of(text)]]
        for source in sources:
            for threads in (1, 2, 3):
                if not isinstance(source, (str, list)):
                    source.seek(0)
                assert list(tarnaxel.screen(source, pattern, threads=threads)) == expected


def test_a_bad_record_stops_the_screen_after_the_ones_before():
    good = records_of(open(EXAMPLE, "rb").read())
    bad = b"bad\n\n\n  2  1\nC\nC\n  1  9  1\n$$$$\n"
    with tempfile.NamedTemporaryFile(suffix=".sdf") as f:
        f.write(b"".join(good[:5]) + bad + b"".join(good[5:]))
        f.flush()
        _, err, status, _ = run_binary(f.name, "CCO")
        assert status == 1
        seen = []
        with pytest.raises(tarnaxel.RecordError) as refused:
            for item in tarnaxel.screen(f.name, "CCO", threads=2):
                seen.append(item)
    assert len(seen) == 5
    assert refused.value.message == err.decode("cp932")
    assert str(refused.value) == "record 6 of the SDF_file has bond 1 naming an atom outside 1..2"
    with pytest.raises(tarnaxel.RecordError):
        tarnaxel.compile("CCO").match(bad)


def test_match_on_mols_and_molblocks():
    pattern = tarnaxel.compile("C1=CC=CC=C1C")
    mol = Chem.MolFromSmiles("OCc1ccccc1C")
    match = pattern.match(mol)
    assert match.accepted and match.result == 1
    assert match == pattern.match(Chem.MolToMolBlock(mol, kekulize=True))
    ring = {b.GetIdx() for b in mol.GetBonds() if b.IsInRing()}
    assert ring <= set(match.bonds)
    assert set(match.atoms) == {a for b in match.bonds for a in (mol.GetBondWithIdx(b).GetBeginAtomIdx(),
                                                                  mol.GetBondWithIdx(b).GetEndAtomIdx())}
    assert not pattern.match(Chem.MolFromSmiles("CCCCCC")).accepted
    with pytest.raises(tarnaxel.RecordError):
        pattern.match(Chem.MolFromSmiles("C" * 1000))
    salt = tarnaxel.compile("[Na]").match(Chem.MolFromSmiles("CCO.[Na]"))
    assert salt.accepted and salt.atoms == (3,) and salt.bonds == ()
    svg = match._repr_svg_()
    assert svg.count("<path") > 0 and "#FF7F7F" in svg.upper()


def test_one_pattern_from_several_python_threads():
    import threading
    pattern = tarnaxel.compile("C{C}*O")
    blocks = [r.decode() for r in records_of(open(EXAMPLE, "rb").read())]
    expected = [pattern.match(b) for b in blocks]
    results = {}

    def run(k):
        results[k] = [pattern.match(b) for b in blocks for _ in range(5)][::5]
    threads = [threading.Thread(target=run, args=(k,), daemon=True) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=60)
    assert not any(t.is_alive() for t in threads)
    assert all(results[k] == expected for k in range(4))


def test_a_record_over_the_budget_is_too_wide(monkeypatch):
    monkeypatch.setenv("TARNAXEL_TABLE_MEMORY_MB", "16")
    rows = [f"{r * 5 + c + 1:3d}{r * 5 + c + 2:3d}  1  0" for r in range(10) for c in range(4)]
    rows += [f"{r * 5 + c + 1:3d}{r * 5 + c + 6:3d}  1  0" for r in range(9) for c in range(5)]
    grid = ("grid\n\n\n 50 85  0  0  0  0  0  0  0  0999 V2000\n"
            + "    0.0000    0.0000    0.0000 C   0  0\n" * 50 + "\n".join(rows) + "\nM  END\n")
    match = tarnaxel.compile("C{C|CC}*C").match(grid)
    assert (match.result, match.width) == (2, 6)


def test_screen_frame():
    frame = tarnaxel.screen_frame(EXAMPLE, "C{C}*O")
    assert list(frame.columns) == ["index", "title", "result", "width", "score", "bonds", "atoms"]
    assert frame["result"].tolist() == [m.result for _, _, m in tarnaxel.screen(EXAMPLE, "C{C}*O")]


def test_report_shows_every_accepted_molecule(tmp_path):
    from tarnaxel import report
    page = tmp_path / "report.html"
    assert report.main([EXAMPLE, "C{C}*O", "-o", str(page)]) == 0
    accepted = sum(m.accepted for _, _, m in tarnaxel.screen(EXAMPLE, "C{C}*O"))
    text = page.read_text()
    assert f"Accepted: {accepted}" in text
    chromium = shutil.which("chromium")
    if chromium is None:
        pytest.skip("chromium is not installed (.ci/run installs it)")
    flags = [chromium, "--headless", "--no-sandbox", "--disable-gpu", f"--user-data-dir={tmp_path / 'profile'}"]
    dom = subprocess.run(flags + ["--dump-dom", page.as_uri()], capture_output=True, timeout=120).stdout
    assert dom.count(b"<svg") == accepted
    shot = tmp_path / "page.png"
    subprocess.run(flags + [f"--screenshot={shot}", "--window-size=1200,900", page.as_uri()], capture_output=True,
                   timeout=120)
    from PIL import Image
    colours = Image.open(shot).convert("RGB").getcolors(maxcolors=1 << 20)
    assert colours is not None and len(colours) > 10


def test_match_data_reads_back_as_properties(tmp_path):
    run = subprocess.run([BINARY, "--outdir", str(tmp_path), "--match-data", EXAMPLE, "C{C}*O"], capture_output=True)
    assert run.returncode == 0
    supplier = Chem.SDMolSupplier(str(tmp_path / "accept.sdf"), sanitize=False, removeHs=False)
    read = [(m.GetProp("TARNAXEL_BONDS"), m.GetProp("TARNAXEL_ATOMS"), m.GetProp("TARNAXEL_SCORE")) for m in supplier]
    expected = [(" ".join(str(b + 1) for b in m.bonds), " ".join(str(a + 1) for a in m.atoms), f"{m.score:.2f}")
                for _, _, m in tarnaxel.screen(EXAMPLE, "C{C}*O") if m.accepted]
    assert read == expected and len(read) > 0


def test_smiles_and_bad_records():
    """SMILES strings and .smi paths; with skip_bad a refused record is
    yielded as a RecordError and the screen goes on."""
    pattern = tarnaxel.compile("c1ccccc1C")
    assert pattern.match("Cc1ccccc1").accepted
    assert not pattern.match("CC1=CC=CC=C1").accepted
    assert pattern.match("CC1=CC=CC=C1", aromatic=True).accepted
    lines = ["Cc1ccccc1 toluene", "C(C broken", "CCO ethanol"]
    got = list(tarnaxel.screen(lines, pattern, skip_bad=True))
    assert [title for _, title, _ in got] == ["toluene", "broken", "ethanol"]
    assert got[0][2].accepted and not got[2][2].accepted
    assert isinstance(got[1][2], tarnaxel.RecordError)
    assert got[1][2].message.startswith("Error: record 2 of the SMILES_file cannot be read at character 2")
    with pytest.raises(tarnaxel.RecordError):
        list(tarnaxel.screen(lines, pattern))
    with tempfile.NamedTemporaryFile(suffix=".smi", mode="w") as f:
        f.write("\n".join(lines) + "\n")
        f.flush()
        frame = tarnaxel.screen_frame(f.name, pattern, skip_bad=True)
        assert list(frame["result"]) == [1, -1, 0]
        _, err, status, files = run_binary(f.name, "c1ccccc1C")
        assert status == 1 and files["accept.smi"] == b"Cc1ccccc1 toluene\n"


GROUPS = os.path.join(SOURCE, "examples", "groups.tsv")


@pytest.mark.parametrize("span,ind,min", [(False, False, False), (False, True, True), (True, False, True)])
def test_pattern_set_equals_the_tool_and_single_patterns(tmp_path, span, ind, min):
    """Each pattern of a set gives the Match its single screen gives, and the
    columns of screen_frame are those of the tool's matches.tsv."""
    groups = tarnaxel.compile_set(GROUPS)
    picked = {name: groups.patterns[name] for name in groups.names[::7] + ["benzene"]}
    pattern_set = tarnaxel.compile_set(picked)
    options = dict(span=span, ind=ind, min=min, aromatic=True)
    singles = {name: [m for _, _, m in tarnaxel.screen(EXAMPLE, text, **options)] for name, text in picked.items()}
    for index, _, matches in tarnaxel.screen(EXAMPLE, pattern_set, threads=2, **options):
        assert list(matches) == list(picked)
        for name, match in matches.items():
            assert match == singles[name][index], (name, index)
    frame = tarnaxel.screen_frame(EXAMPLE, pattern_set, **options)
    assert list(frame.columns) == ["index", "title"] + list(picked)
    (tmp_path / "set.tsv").write_text("".join(f"{n}\t{p}\n" for n, p in picked.items()))
    flags = [o for o, on in (("-span", span), ("-ind", ind), ("-min", min)) if on]
    run = subprocess.run([BINARY, "--aromatic", "--outdir", str(tmp_path), "--patterns", str(tmp_path / "set.tsv"),
                          EXAMPLE] + flags, capture_output=True)
    assert run.returncode == 0, run.stderr
    rows = [line.split("\t") for line in (tmp_path / "matches.tsv").read_text().splitlines()]
    assert rows[0] == ["record", "title"] + list(picked)
    for k, name in enumerate(picked):
        assert frame[name].tolist() == [int(row[2 + k]) for row in rows[1:]], name


def test_pattern_set_refusals_and_report(tmp_path):
    with pytest.raises(tarnaxel.PatternError) as refused:
        tarnaxel.compile_set({"ring": "C1CC", "acid": "C(=O)O"})
    assert 'pattern "ring"' in str(refused.value) and "never closed" in str(refused.value)
    from tarnaxel import report
    page = tmp_path / "report.html"
    assert report.main([EXAMPLE, "--patterns", GROUPS, "--aromatic", "-o", str(page)]) == 0
    text = page.read_text()
    frame = tarnaxel.screen_frame(EXAMPLE, tarnaxel.compile_set(GROUPS), aromatic=True)
    for name in ("carboxylic_acid", "benzene", "pyridine"):
        assert f">{name}</a></td><td><code>" in text
        count = int((frame[name] == 1).sum())
        assert f'{name} ({count})</option>' in text
