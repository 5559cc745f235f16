"""The engines people already run: Dask on a local cluster of two workers,
the Snakemake workflow and the CWL tool description, each against one run
of the tool on the same library."""
import gzip
import os
import shutil
import subprocess

import pytest

import tarnaxel

BINARY = os.path.abspath(os.environ.get("TARNAXEL_BINARY", "build/tarnaxel"))
SOURCE = os.path.abspath(os.environ.get("TARNAXEL_SOURCE_DIR", "."))
CORPUS = os.path.join(SOURCE, "bench", "corpus.sdf.gz")
EXAMPLE = os.path.join(SOURCE, "examples", "nci_40.sdf")
WORKFLOWS = os.path.join(SOURCE, "workflows")


def one_run(tmp, library, args, pattern):
    """The files and standard output (timings blanked) of one run."""
    os.makedirs(tmp, exist_ok=True)
    run = subprocess.run([BINARY, library] + args + [pattern], cwd=tmp, capture_output=True, check=True)
    return outputs(tmp, run.stdout)


def outputs(directory, stdout):
    files = {}
    for name in ("accept.sdf", "reject.sdf", "tw_big.sdf"):
        with open(os.path.join(directory, name), "rb") as f:
            files[name] = f.read()
    lines = []
    for line in stdout.split(b"\n"):
        fields = line.split(b"\t")
        if len(fields) == 7:
            line = b"\t".join(fields[:6] + [b"T"])
        elif line.startswith(b"Total Duration:"):
            line = b"Total Duration:T"
        lines.append(line)
    files["stdout"] = b"\n".join(lines)
    return files


def test_dask_screen_frame_on_two_workers(tmp_path):
    distributed = pytest.importorskip("dask.distributed")
    import tarnaxel.dask
    library = tmp_path / "corpus.sdf"
    with gzip.open(CORPUS, "rb") as packed, open(library, "wb") as plain:
        shutil.copyfileobj(packed, plain)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        shards = tarnaxel.dask.shards(library, 5)
        assert [s[1] for s in shards] == sorted(s[1] for s in shards) and len(shards) == 5
        frame = tarnaxel.dask.screen_frame(shards, "C(=O){N|O}C", ind=True)
        assert frame.npartitions == 5
        got = frame.compute()
        groups = tarnaxel.compile_set(os.path.join(SOURCE, "examples", "groups.tsv"))
        by_file = tarnaxel.dask.screen_frame([EXAMPLE, CORPUS], groups, aromatic=True).compute()
    want = tarnaxel.screen_frame(str(library), "C(=O){N|O}C", ind=True)
    columns = ["title", "result", "width", "score", "bonds", "atoms"]
    assert got[columns].reset_index(drop=True).equals(want[columns])
    whole = tarnaxel.screen_frame(CORPUS, groups, aromatic=True)
    corpus_rows = by_file[by_file.source == CORPUS].reset_index(drop=True)
    assert corpus_rows[groups.names].equals(whole[groups.names])


@pytest.mark.skipif(shutil.which("snakemake") is None, reason="snakemake is not installed (.ci/run installs it)")
def test_snakemake_merges_as_one_run(tmp_path):
    want = one_run(str(tmp_path / "one"), CORPUS, ["-ind"], "C{C}*O")
    run = subprocess.run(["snakemake", "-s", os.path.join(WORKFLOWS, "Snakefile"), "--cores", "2", "--config",
                          f"library={CORPUS}", "pattern=C{C}*O", "options=-ind", "shards=3", "out=results",
                          f"tool={BINARY}"], cwd=tmp_path, capture_output=True)
    assert run.returncode == 0, run.stderr.decode()
    with open(tmp_path / "results" / "stdout.txt", "rb") as f:
        assert outputs(str(tmp_path / "results"), f.read()) == want


@pytest.mark.skipif(shutil.which("cwltool") is None, reason="cwltool is not installed (.ci/run installs it)")
def test_cwl_tool_validates_and_runs(tmp_path):
    tool = os.path.join(WORKFLOWS, "tarnaxel.cwl")
    assert subprocess.run(["cwltool", "--validate", tool], capture_output=True).returncode == 0
    want = one_run(str(tmp_path / "one"), EXAMPLE, ["-span"], "C{C|O}*C")
    env = dict(os.environ, PATH=os.path.dirname(BINARY) + os.pathsep + os.environ["PATH"])
    run = subprocess.run(["cwltool", "--outdir", str(tmp_path / "out"), tool, "--library", EXAMPLE, "--span",
                          "--pattern", "C{C|O}*C"], cwd=tmp_path, capture_output=True, env=env)
    assert run.returncode == 0, run.stderr.decode()
    with open(tmp_path / "out" / "stdout.txt", "rb") as f:
        assert outputs(str(tmp_path / "out"), f.read()) == want
