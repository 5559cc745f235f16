"""One self-contained HTML page of a screen.

    python3 -m tarnaxel.report INPUT PATTERN [-span] [-ind] [-min] -o report.html
    python3 -m tarnaxel.report INPUT --patterns FILE [-span] [-ind] [-min] -o report.html

The page shows the pattern, the options, the counts of the three results
and a grid of the accepted molecules (the first 500), drawn from the input
records with their own bond orders, the match highlighted, with the title,
score and width under each.  With a set of patterns (--patterns, a file of
"name<TAB>pattern" lines) it shows how many records each pattern accepts,
and a choice of pattern shows that pattern's accepted molecules (the first
100 of each).  A progress line goes to standard error while the screen runs.
"""
import html
import sys
import time

import tarnaxel

SHOWN = 500
SHOWN_PER_PATTERN = 100


def _mol_of(text):
    from rdkit import Chem
    mol = Chem.MolFromMolBlock(text.decode("utf-8", "replace"), sanitize=False, removeHs=False)
    if mol is not None:
        mol.UpdatePropertyCache(strict=False)
    return mol


def _cell(pattern, title, match, text):
    mol = _mol_of(text)
    picture = pattern.draw(mol, match, size=(260, 200)) if mol is not None else "<p>(no drawing)</p>"
    picture = picture[picture.find("<svg"):] if "<svg" in picture else picture
    return (f'<figure>{picture}<figcaption>{html.escape(title)}<br>score {match.score:.2f}, '
            f'width {match.width}</figcaption></figure>')


def build(input_path, pattern_text, span=False, ind=False, min=False, progress=None, aromatic=False):
    """The page as text."""
    pattern = tarnaxel.compile(pattern_text)
    counts = [0, 0, 0]
    cells = []
    last = time.monotonic()
    records = tarnaxel._screen(input_path, pattern, span, ind, min, None, True, aromatic)
    for index, title, result, width, score, bonds, atoms, text in records:
        counts[result] += 1
        if result == 1 and len(cells) < SHOWN:
            cells.append(_cell(pattern, title, tarnaxel.Match(result, width, score, bonds, atoms), text))
        now = time.monotonic()
        if progress is not None and now - last > 0.25:
            progress(index + 1, counts[1])
            last = now
    options = " ".join(o for o, on in (("-span", span), ("-ind", ind), ("-min", min), ("--aromatic", aromatic))
                       if on) or "none"
    more = (f"<p>The first {SHOWN} of {counts[1]} accepted molecules are shown.</p>"
            if counts[1] > SHOWN else "")
    return f"""<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Tarnaxel: {html.escape(pattern_text)}</title>
<style>
body {{ font-family: sans-serif; margin: 1.5em; }}
.grid {{ display: flex; flex-wrap: wrap; gap: 0.8em; }}
figure {{ margin: 0; border: 1px solid #ccc; padding: 0.3em; width: 262px; }}
figcaption {{ font-size: 0.85em; text-align: center; overflow-wrap: anywhere; }}
</style></head>
<body>
<h1>Tarnaxel screen</h1>
<p>Input: {html.escape(str(input_path))}<br>Pattern: <code>{html.escape(pattern_text)}</code><br>Options: {options}</p>
<p>Accepted: {counts[1]} &middot; Rejected: {counts[0]} &middot; Too wide: {counts[2]}</p>
{more}<div class="grid">
{chr(10).join(cells)}
</div></body></html>
"""


def build_set(input_path, patterns_path, span=False, ind=False, min=False, progress=None, aromatic=False):
    """The page of a screen against a set of patterns, as text."""
    pattern_set = tarnaxel.compile_set(patterns_path)
    names = pattern_set.names
    drawer = tarnaxel.compile("C")  # any pattern draws a given match
    counts = {name: 0 for name in names}
    cells = {name: [] for name in names}
    records = 0
    last = time.monotonic()
    for index, title, each, _, _, _, _, text in tarnaxel._screen(input_path, pattern_set, span, ind, min, None,
                                                                  True, aromatic):
        records += 1
        for name, verdict in zip(names, each):
            if verdict[0] != 1:
                continue
            counts[name] += 1
            if len(cells[name]) < SHOWN_PER_PATTERN:
                cells[name].append(_cell(drawer, title, tarnaxel.Match(*verdict), text))
        now = time.monotonic()
        if progress is not None and now - last > 0.25:
            progress(index + 1, sum(counts.values()))
            last = now
    options = " ".join(o for o, on in (("-span", span), ("-ind", ind), ("-min", min), ("--aromatic", aromatic))
                       if on) or "none"
    rows = "\n".join(f'<tr><td><a href="#" onclick="pick(\'{i}\'); return false;">{html.escape(name)}</a></td>'
                     f'<td><code>{html.escape(pattern_set.patterns[name])}</code></td><td>{counts[name]}</td></tr>'
                     for i, name in enumerate(names))
    choices = "\n".join(f'<option value="{i}">{html.escape(name)} ({counts[name]})</option>'
                        for i, name in enumerate(names))
    sections = "\n".join(f'<section id="p{i}" hidden><h2>{html.escape(name)}</h2><div class="grid">'
                         f'{"".join(cells[name])}</div></section>' for i, name in enumerate(names))
    return f"""<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Tarnaxel: {html.escape(str(patterns_path))}</title>
<style>
body {{ font-family: sans-serif; margin: 1.5em; }}
.grid {{ display: flex; flex-wrap: wrap; gap: 0.8em; }}
figure {{ margin: 0; border: 1px solid #ccc; padding: 0.3em; width: 262px; }}
figcaption {{ font-size: 0.85em; text-align: center; overflow-wrap: anywhere; }}
td {{ padding: 0 0.8em 0 0; }}
</style>
<script>
function pick(i) {{
  document.querySelectorAll("section").forEach(s => {{ s.hidden = s.id !== "p" + i; }});
  document.getElementById("choice").value = i;
}}
</script></head>
<body>
<h1>Tarnaxel screen: {len(names)} patterns</h1>
<p>Input: {html.escape(str(input_path))} ({records} records)<br>Patterns: {html.escape(str(patterns_path))}<br>Options: {options}</p>
<table><tr><th>name</th><th>pattern</th><th>accepted</th></tr>
{rows}
</table>
<p>Show the accepted molecules (the first {SHOWN_PER_PATTERN}) of
<select id="choice" onchange="pick(this.value)"><option value="">(choose a pattern)</option>
{choices}
</select></p>
{sections}
</body></html>
"""


def main(argv):
    args = list(argv)
    usage = ("usage: python3 -m tarnaxel.report INPUT (PATTERN | --patterns FILE) [-span] [-ind] [-min] "
             "[--aromatic] -o report.html")
    taken = {}
    for option in ("-o", "--patterns"):
        if option in args:
            at = args.index(option)
            if at + 1 >= len(args):
                print(usage, file=sys.stderr)
                return 1
            taken[option] = args[at + 1]
            del args[at:at + 2]
    output = taken.get("-o")
    patterns = taken.get("--patterns")
    flags = {a for a in args if a in ("-span", "-ind", "-min", "--aromatic")}
    rest = [a for a in args if a not in flags]
    if output is None or len(rest) != (1 if patterns else 2):
        print(usage, file=sys.stderr)
        return 1

    def progress(records, accepted):
        sys.stderr.write(f"\r{records} records, {accepted} accepted")
        sys.stderr.flush()

    try:
        chosen = (build_set, patterns) if patterns else (build, rest[1])
        page = chosen[0](rest[0], chosen[1], "-span" in flags, "-ind" in flags, "-min" in flags, progress,
                         "--aromatic" in flags)
    except (tarnaxel.PatternError, tarnaxel.RecordError, OSError) as error:
        message = getattr(error, "message", str(error)).rstrip("\n")
        english = "" if str(error) == message else str(error) + "\n"
        sys.stderr.write("\n" + message + "\n" + english)
        return 1
    sys.stderr.write("\n")
    with open(output, "w", encoding="utf-8") as out:
        out.write(page)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
