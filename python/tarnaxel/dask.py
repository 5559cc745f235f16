"""Screens many files, or shards of one, on a Dask cluster.

    import tarnaxel.dask
    from dask.distributed import Client
    client = Client("scheduler:8786")
    frame = tarnaxel.dask.screen_frame(["a.sdf.gz", "b.sdf.gz"], "C(=O){N|O}C", ind=True)
    hits = frame[frame.result == 1].compute()

One partition per file or shard, each judged by the compiled engine on a
worker (one thread each unless threads says otherwise); the columns are
those of tarnaxel.screen_frame, with `source` (the file or shard) first and
`index` counting the records of each source from 0.  A shard is a
(path, offset, length) tuple of an uncompressed file, as shards() makes them;
a pattern set gives one column per pattern.
"""
import io
import os

import tarnaxel


def shards(path, count):
    """Record-aligned byte ranges (path, offset, length) of an uncompressed
    SDF file, about count of them: each ends after a line starting "$$$$"
    (the last at the end of the file)."""
    path = os.fspath(path)
    size = os.path.getsize(path)
    ranges, start = [], 0
    with open(path, "rb") as f:
        for k in range(1, int(count) + 1):
            end = size
            if k < count:
                f.seek(max(start, size * k // count))
                if f.tell() > 0:
                    f.seek(f.tell() - 1)
                    f.readline()  # the rest of the line holding that byte
                for line in iter(f.readline, b""):
                    if line.startswith(b"$$$$"):
                        end = f.tell()
                        break
            if end > start:
                ranges.append((path, start, end - start))
                start = end
            if start >= size:
                break
    return ranges or [(path, 0, 0)]


def _source_name(item):
    if isinstance(item, tuple):
        return f"{item[0]}@{item[1]}+{item[2]}"
    return os.fspath(item)


def _partition(item, pattern, options):
    """The screen of one file or shard, on a worker."""
    if isinstance(pattern, dict):
        pattern = tarnaxel.compile_set(pattern)
    if isinstance(item, tuple):
        path, offset, length = item
        with open(path, "rb") as f:
            f.seek(offset)
            source = io.BytesIO(f.read(length))
    else:
        source = os.fspath(item)
    frame = tarnaxel.screen_frame(source, pattern, **options)
    frame.insert(0, "source", _source_name(item))
    return frame


def screen_frame(paths_or_shards, pattern, span=False, ind=False, min=False, threads=1, aromatic=False,
                 skip_bad=False):
    """A Dask DataFrame of the screen of every file or shard, one partition
    each, computed where the cluster runs it.  pattern: a pattern text, or a
    PatternSet (sent to the workers as its names and patterns)."""
    import dask
    import dask.dataframe
    if isinstance(paths_or_shards, (str, os.PathLike, tuple)):
        paths_or_shards = [paths_or_shards]
    items = list(paths_or_shards)
    if isinstance(pattern, tarnaxel.PatternSet):
        sent = dict(pattern.patterns)
    else:
        sent = tarnaxel.compile(pattern).text  # refused here, not on a worker
    options = dict(span=span, ind=ind, min=min, threads=threads, aromatic=aromatic, skip_bad=skip_bad)
    meta = _partition(_empty_sdf(), tarnaxel.compile_set(sent) if isinstance(sent, dict) else sent, options)
    parts = [dask.delayed(_partition)(item, sent, options) for item in items]
    return dask.dataframe.from_delayed(parts, meta=meta, verify_meta=False)


def _empty_sdf():
    """A shard of no record, for the columns' types."""
    return (os.devnull, 0, 0)
