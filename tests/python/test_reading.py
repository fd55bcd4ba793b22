"""Reading the printed receipt of tests/data/receipts through the module, the program, the HTTP route
and the Dask batch: one answer everywhere."""

import json
import os
import subprocess
import sys
import urllib.request

import numpy as np
import pytest

import tarvek
from gil import lets_other_threads_run

RECEIPT = os.path.join(os.path.dirname(__file__), "..", "data", "receipts", "sunrise_bakery.png")
PRINTED = ["SUNRISE BAKERY", "TEL 02-721-4567", "DATE 2019-01-10", "BREAD 4.50", "COFFEE 3.20", "TOTAL 7.70"]
FIELDS = {"telephone": "02-721-4567", "date": "2019-01-10", "total": "7.70"}


@pytest.fixture(scope="module")
def receipt():
    return tarvek.read_image(RECEIPT)


def lines_as_served(lines):
    """Texts and boxes, the parts that every interface gives alike (confidences are rounded on the wire)."""
    return [(line["text"], list(line["box"]), [(word["text"], list(word["box"])) for word in line["words"]])
            for line in lines]


def test_read_text_gives_the_lines_the_program_and_the_route_give(receipt, cli, server):
    module = tarvek.read_text(receipt, lang="eng")
    assert [tarvek.edit_distance(line["text"], printed) <= 2 for line, printed in zip(module["lines"], PRINTED)] \
        == [True] * len(PRINTED)
    assert all(0 < line["confidence"] <= 1 and len(line["box"]) == 4 for line in module["lines"])
    assert (module["cut_short"], module["page_found"], module["corners"], module["rotation"]) == (False, False, None, 0)

    program = json.loads(cli("read", RECEIPT, "--lang", "eng"))
    with urllib.request.urlopen(f"{server}/v1/document/read?lang=eng", open(RECEIPT, "rb").read()) as reply:
        served = json.loads(reply.read())
    assert lines_as_served(module["lines"]) == lines_as_served(program["lines"]) == lines_as_served(served["lines"])


@pytest.mark.parametrize("lines", [False, True])
def test_receipt_fields_finds_the_four_fields(receipt, lines):
    fields = tarvek.receipt_fields(receipt, lang="eng", rectify=False, lines=lines)
    assert {name: fields[name]["value"] for name in FIELDS} == FIELDS
    assert tarvek.edit_distance(fields["business_name"]["value"], PRINTED[0]) <= 2
    assert fields["total"]["currency"] is None and fields["cut_short"] is False
    assert ("lines" in fields) == lines


@pytest.mark.parametrize("options, message", [
    ({"lang": "xyz"}, "installed: deu, eng, kor"),
    ({"lang": "kor+kor"}, "more than once"),
    ({"deadline_ms": 99}, "100 ... 60000"),
    ({"deadline_ms": 60001}, "100 ... 60000"),
])
@pytest.mark.parametrize("call", [tarvek.read_text, tarvek.receipt_fields], ids=lambda call: call.__name__)
def test_bad_options_raise_a_clear_error(call, options, message):
    with pytest.raises(ValueError, match=message):
        call(np.zeros((40, 40), np.uint8), **options)


def test_a_page_of_scattered_dots_is_not_read_and_says_why(receipt):
    dots = np.where(np.random.default_rng(5).random((2000, 2000)) < 0.03, 0, 255).astype(np.uint8)
    assert tarvek.read_text(dots, lang="eng")["not_read"] == "noise"
    assert tarvek.receipt_fields(dots, lang="eng")["not_read"] == "noise"
    assert tarvek.read_text(receipt, lang="eng")["not_read"] is None


def test_a_page_too_long_for_the_engine_reads_as_no_lines(receipt):
    """The receipt's last line repeated along 120000 pixels: scaled to the engine's 30000 pixels a side its
    letters would be too small to read. Languages may be separated by spaces, as a URL query decodes '+'."""
    x, y, width, height = tarvek.read_text(receipt, lang="eng")["lines"][-1]["box"]
    band = receipt[y - 4:y + height + 4, x - 4:x + width + 4]
    line = np.ascontiguousarray(np.tile(band, (1, 120000 // band.shape[1] + 1, 1)))
    found = tarvek.read_text(line, lang="eng deu")
    assert found["lines"] == [] and found["cut_short"] is False


def test_reading_lets_other_threads_run(receipt):
    assert lets_other_threads_run(lambda: tarvek.read_text(receipt, lang="eng", rectify=False))


@pytest.mark.parametrize("action", ["read", "fields"])
def test_the_batch_records_what_the_module_reads(receipt, tmp_path, action):
    command = [sys.executable, "-m", "tarvek.batch", action, RECEIPT, "--out", tmp_path, "--workers", "1",
               "--lang", "eng", "--quiet"]
    subprocess.run(command, check=True, capture_output=True, timeout=180)
    with open(tmp_path / "manifest.jsonl") as manifest:
        (record,) = [json.loads(line) for line in manifest]
    assert record["status"] == "done" and record["output"] is None
    if action == "read":
        assert lines_as_served(record["lines"]) == lines_as_served(tarvek.read_text(receipt, lang="eng")["lines"])
    else:
        assert {name: record[name]["value"] for name in FIELDS} == FIELDS


def test_the_batch_refuses_an_unknown_language_before_starting(tmp_path):
    command = [sys.executable, "-m", "tarvek.batch", "read", RECEIPT, "--out", tmp_path, "--lang", "xx"]
    finished = subprocess.run(command, capture_output=True, text=True, timeout=60)
    assert finished.returncode == 2 and "installed" in finished.stderr
