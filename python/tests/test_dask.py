"""idut.dask on a LocalCluster of two worker processes: generated scenes read on the cluster give
idut-find's results, bad inputs their error records, and the command line writes JSON lines."""
import json
import os
import subprocess
import sys
import types

import dask.bag
import distributed
import numpy as np
import pandas
import pytest

import idut
import idut.dask
from support import IDUT_FIND


@pytest.fixture(scope="module")
def scenes(tmp_path_factory):
    """Every third generated scene (all symbologies, clean and hard conditions) in one folder."""
    written = tmp_path_factory.mktemp("written")
    subprocess.run([os.environ["IDUT_CORPUS"], "--scenes", "1", "--write", str(written)], check=True,
                   stdout=subprocess.DEVNULL)
    folder = tmp_path_factory.mktemp("scenes")
    for name in sorted(os.listdir(written))[::3]:
        os.rename(written / name, folder / name)
    return folder


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as c:
        yield c


def idut_find(*paths):
    out = subprocess.run([IDUT_FIND, "--json", "--no-progress", *map(str, paths)], capture_output=True, text=True)
    assert out.returncode in (0, 1, 2), out.stderr
    return [json.loads(line) for line in out.stdout.splitlines()]


def assert_same_symbols(symbols, reported):
    """Symbology, corners (printed to 3 decimals) and text of each symbol, in order."""
    assert [s["symbology"] for s in symbols] == [r["symbology"] for r in reported]
    for s, r in zip(symbols, reported):
        np.testing.assert_allclose(s["corners"], r["corners"], atol=6e-4)
        assert (s.get("text"), s.get("decode_error")) == (r.get("text"), r.get("decode_error"))


def test_cluster_reads_every_scene_as_idut_find(scenes, client):
    files = idut.image_files(scenes)
    with distributed.get_task_stream(client) as stream:
        results = idut.dask.read(files, client, batch_size=4)
    assert len({task["worker"] for task in stream.data}) == 2  # both worker processes read
    expected = idut_find(scenes)
    assert [r.path for r in results] == files == [e["file"] for e in expected]
    for result, reported in zip(results, expected):
        assert result.ok, result.error
        assert_same_symbols(result.as_dict()["symbols"], reported["symbols"])
    assert sum(bool(e["symbols"]) for e in expected) > len(expected) // 2


def test_bad_inputs_get_records_on_the_cluster(scenes, client, tmp_path):
    good = idut.image_files(scenes)[:3]
    unreadable = tmp_path / "notes.png"
    unreadable.write_text("not an image")
    items = [str(tmp_path / "missing.png"), good[0], str(unreadable), good[1], (good[2], {"step": 0}), good[2]]
    results = idut.dask.read(items, client, batch_size=2)
    assert [r.error_kind for r in results] == ["file", None, "file", None, "input", None]
    assert "cannot open" in results[0].error and "step is 0" in results[4].error
    for r in results[1::2]:
        assert [s.text for s in r.symbols] == [s.text for s in idut.read_file(r.path)]
    with pytest.raises(ValueError, match="step is 0"):
        idut.dask.read(good, client, step=0)
    with pytest.raises(TypeError, match="no stop callable"):
        idut.dask.read(good, client, stop=lambda: False)


def test_bags_and_data_frames(scenes, client):
    files = idut.image_files(scenes)[:6]
    listed = idut.dask.read(files, client)
    from_bag = idut.dask.read(dask.bag.from_sequence(files, npartitions=3), client)
    lazy = idut.dask.read_bag(files, batch_size=2).compute()  # on the current client
    for records in (from_bag, lazy):
        assert [r.as_dict() for r in records] == [r.as_dict() for r in listed]
    frame = pandas.DataFrame(r.as_dict() for r in listed)
    assert list(frame.columns) == ["path", "symbols", "error", "error_kind"] and list(frame.path) == files
    assert list(frame.symbols.map(len)) == [len(r.symbols) for r in listed]
    assert list(pandas.DataFrame(listed).path) == files


def test_a_failed_batch_gives_each_of_its_files_a_record():
    class DeadWorker:
        def result(self):
            raise distributed.KilledWorker("read-batch", types.SimpleNamespace(address="tcp://127.0.0.1:1"), 3)
    records = idut.dask._batch_results(["a.png", ("b.png", {"step": 3}), None], DeadWorker())
    assert [(r.path, r.error_kind) for r in records] == [("a.png", "worker"), ("b.png", "worker"), ("None", "worker")]
    assert all("KilledWorker" in r.error for r in records)


def test_command_line_writes_json_lines(scenes, tmp_path):
    folder = tmp_path / "few"
    folder.mkdir()
    for path in idut.image_files(scenes)[:4]:
        os.symlink(path, folder / os.path.basename(path))
    output = tmp_path / "out.jsonl"
    missing = str(tmp_path / "missing.png")
    run = subprocess.run([sys.executable, "-m", "idut.dask", str(folder), missing, "--workers", "2", "-o", str(output),
                          "--symbology", "datamatrix,pdf417,code128,ean13"],
                         capture_output=True, text=True)
    assert run.returncode == 2, run.stderr  # a file could not be read
    lines = [json.loads(line) for line in output.read_text().splitlines()]
    expected = idut_find("--symbology", "datamatrix,pdf417,code128,ean13", folder)
    assert [line["path"] for line in lines] == [e["file"] for e in expected] + [missing]
    for line, reported in zip(lines, expected):
        assert line["error"] is None
        assert_same_symbols(line["symbols"], reported["symbols"])
    assert lines[-1]["error_kind"] == "file"
    usage = subprocess.run([sys.executable, "-m", "idut.dask", str(folder), "--step", "0"], capture_output=True,
                           text=True)
    assert usage.returncode == 64 and "step is 0" in usage.stderr


def test_the_package_imports_without_dask():
    """With Dask missing, import idut works and import idut.dask says what to install."""
    script = """
import sys
sys.modules["dask"] = sys.modules["distributed"] = None  # as if not installed
import idut
assert "idut.dask" not in sys.modules and len(idut.find(idut.sample_image())) == 3
try:
    import idut.dask
except ImportError as e:
    print(e)
"""
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert "idut.dask needs Dask: install python3-dask and python3-distributed" in run.stdout
