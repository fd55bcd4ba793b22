import json
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import tarvek
from photos import PAGES, photographed_page


def batch(*args, **options):
    """Starts python3 -m tarvek.batch on a local cluster of two workers."""
    command = [sys.executable, "-m", "tarvek.batch", *map(str, args), "--workers", "2"]
    return subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **options)


def finished(process):
    out, err = process.communicate(timeout=120)
    assert process.returncode == 0, err
    return err


def manifest(out):
    with open(out / "manifest.jsonl") as lines:
        return [json.loads(line) for line in lines]


def by_name(records):
    return {os.path.basename(record["input"]): record for record in records}


@pytest.fixture(scope="module")
def mixed_folder(photo_folder, tmp_path_factory):
    """The photos, a text file that is passed over, a JPEG cut short that fails, in two folders."""
    folder = tmp_path_factory.mktemp("mixed")
    (folder / "inner").mkdir()
    for number in range(len(PAGES)):
        (folder / "inner" / f"page{number}.png").write_bytes((photo_folder / f"page{number}.png").read_bytes())
    (folder / "notes.txt").write_text("not a photo")
    (folder / "cut.jpg").write_bytes(b"\xff\xd8\xff\xe0" + bytes(20))
    return folder


def test_rectify_on_two_workers_gives_the_programs_pages_and_corners(cli, cli_corners, mixed_folder, tmp_path):
    process = batch("rectify", mixed_folder, "--out", tmp_path / "batch", "--format", "png", "--group-bytes", "0")
    out, err = process.communicate(timeout=120)
    assert process.returncode == 1, err  # the cut JPEG
    records = by_name(manifest(tmp_path / "batch"))
    assert {name: record["status"] for name, record in records.items()} == {
        **{f"page{n}.png": "done" for n in range(len(PAGES))}, "notes.txt": "skipped", "cut.jpg": "failed"}
    assert "cut.jpg" in err and "does not declare" in records["cut.jpg"]["error"]

    cli("rectify", mixed_folder / "inner", "--out", tmp_path / "cli", "--format", "png")
    for number in range(len(PAGES)):
        record = records[f"page{number}.png"]
        assert record["corners"] == cli_corners[f"page{number}.png"]
        assert np.abs(np.array(record["corners_subpixel"]) - record["corners"]).max() <= 0.51
        assert 0 < record["confidence"] <= 1
        assert record["output"] == str(tmp_path / "batch" / "inner" / f"page{number}.png")
        assert open(record["output"], "rb").read() == (tmp_path / "cli" / f"page{number}.png").read_bytes()
    assert not [name for name in os.listdir(tmp_path / "batch" / "inner") if name.endswith(".tmp")]


def test_a_rerun_does_nothing_new(photo_folder, tmp_path):
    out = tmp_path / "out"
    finished(batch("binarize", photo_folder, "--out", out))
    before = (out / "manifest.jsonl").read_bytes()
    written = {name: os.stat(out / name).st_mtime_ns for name in os.listdir(out)}
    err = finished(batch("binarize", photo_folder, "--out", out))
    assert "0 done" in err
    assert (out / "manifest.jsonl").read_bytes() == before
    assert {name: os.stat(out / name).st_mtime_ns for name in os.listdir(out)} == written
    assert len(manifest(out)) == len(PAGES)


@pytest.mark.parametrize("action, extension", [("binarize", ".png"), ("rectify", ".jpg"), ("clean", ".jpg")])
def test_without_a_format_binarize_writes_png_and_the_others_jpeg(photo_folder, tmp_path, action, extension):
    magic = {".png": b"\x89PNG\r\n\x1a\n", ".jpg": b"\xff\xd8\xff"}[extension]
    finished(batch(action, photo_folder / "page0.png", "--out", tmp_path))
    [record] = manifest(tmp_path)
    assert record["output"] == str(tmp_path / f"page0{extension}")
    assert open(record["output"], "rb").read(len(magic)) == magic


def test_binarize_is_auto_unless_told_otherwise(photo_folder, tmp_path):
    finished(batch("binarize", photo_folder / "page1.png", "--out", tmp_path / "plain"))
    finished(batch("binarize", photo_folder / "page1.png", "--out", tmp_path / "sauvola", "--method", "sauvola"))
    photo = tarvek.read_image(photo_folder / "page1.png")
    for method in ("auto", "sauvola"):
        written = tarvek.read_image(tmp_path / ("plain" if method == "auto" else method) / "page1.png")
        np.testing.assert_array_equal(written[:, :, 0], tarvek.binarize(photo, method))


def worker_processes(pid):
    """The Dask worker processes the batch started: spawned children of its process."""
    children = []
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as stat:
                parent = int(stat.read().rsplit(")", 1)[1].split()[1])
            with open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                spawned = b"spawn_main" in cmdline.read()
        except (OSError, ValueError, IndexError):
            continue
        if parent == pid and spawned:
            children.append(int(entry))
    return children


def test_a_killed_worker_loses_no_photo_and_records_none_twice(tmp_path):
    folder = tmp_path / "photos"
    folder.mkdir()
    count = 48
    for number in range(count):
        corners = PAGES[number % len(PAGES)]
        image = photographed_page(1280, 960, [(2 * x, 2 * y) for x, y in corners], seed=number)
        (folder / f"{number:02}.png").write_bytes(tarvek.encode_image(image, "png"))
    out = tmp_path / "out"
    process = batch("detect", folder, "--out", out, "--group-bytes", "0")
    while not (out / "manifest.jsonl").exists() or not (out / "manifest.jsonl").read_text():
        assert process.poll() is None, process.communicate()[1]
        time.sleep(0.02)
    workers = worker_processes(process.pid)
    assert len(workers) == 2 and process.poll() is None
    os.kill(workers[0], signal.SIGKILL)
    finished(process)

    records = manifest(out)
    assert sorted(record["input"] for record in records) == sorted(str(path) for path in folder.iterdir())
    assert all(record["status"] == "done" and len(record["corners"]) == 4 for record in records)
    expected = PAGES[int(os.path.basename(records[0]["input"])[:2]) % len(PAGES)]
    assert np.abs(np.array(records[0]["corners"]) - 2 * np.array(expected)).max() <= 16
