import itertools
import json
import os
import subprocess
import sys
import textwrap
import tracemalloc
import urllib.parse
import urllib.request

import numpy as np
import pytest
from numpy.lib.stride_tricks import as_strided

import tarvek
from gil import lets_other_threads_run
from photos import PAGES

# A PNG header of 64 x 48 pixels and no image data.
PNG_HEADER_ONLY = (b"\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR" + (64).to_bytes(4, "big") + (48).to_bytes(4, "big")
                   + b"\x08\x02\0\0\0" + bytes(4))
# A JPEG declaring 60000 x 16000 pixels behind a TEM marker (FF 01), which has no length.
JPEG_TEM_HUGE = (b"\xff\xd8\xff\x01\xff\xc0\0\x11\x08" + (16000).to_bytes(2, "big") + (60000).to_bytes(2, "big")
                 + b"\x03\x01\x11\0\x02\x11\0\x03\x11\0\xff\xda\0\x0c\x03\x01\0\x02\0\x03\0\0\x3f\0" + bytes(64))


def image_of(folder, number):
    return tarvek.read_image(folder / f"page{number}.png")


@pytest.mark.parametrize("number", range(len(PAGES)))
def test_find_document_gives_the_known_corners_and_the_programs_answer(photo_folder, cli_corners, number):
    corners = tarvek.find_document(image_of(photo_folder, number))
    assert corners is not None and corners.shape == (4, 2) and corners.dtype == np.int32
    assert corners.tolist() == cli_corners[f"page{number}.png"]
    assert np.abs(corners - np.array(PAGES[number])).max() <= 8


@pytest.mark.parametrize("strategy", ["auto", "compare"])
def test_detect_document_answers_as_the_detect_route(photo_folder, strategy):
    photo = image_of(photo_folder, 0)
    found = tarvek.detect_document(photo, strategy)
    np.testing.assert_array_equal(found["corners"], tarvek.find_document(photo, strategy))
    assert found["corners_subpixel"].dtype == np.float32
    assert np.abs(found["corners_subpixel"] - found["corners"]).max() <= 0.5
    if strategy == "auto":  # only the page search rates what it finds
        assert 0 < found["confidence"] <= 1
    else:
        assert found["confidence"] is None
    assert tarvek.detect_document(np.full((300, 400, 3), 90, np.uint8)) is None


SMARTDOC_JPEG = os.path.join(os.path.dirname(__file__), "..", "data", "smartdoc2015",
                             "background01_datasheet001_frame_0118.jpeg")


def test_detect_document_file_answers_as_the_program(cli, photo_folder):
    """A large JPEG is searched decoded at a reduced size, as the program and the route search it; other
    files whole, as detect_document searches the decoded array."""
    with open(SMARTDOC_JPEG, "rb") as file:
        found = tarvek.detect_document_file(file.read())
    program = json.loads(cli("detect", SMARTDOC_JPEG))
    assert found["corners"].tolist() == program["corners"]
    np.testing.assert_allclose(found["corners_subpixel"], program["corners_subpixel"], atol=1e-3)
    png = (photo_folder / "page0.png").read_bytes()
    whole = tarvek.detect_document(tarvek.decode_image(png))
    np.testing.assert_array_equal(tarvek.detect_document_file(png)["corners_subpixel"], whole["corners_subpixel"])


@pytest.mark.parametrize("args", [
    ["rectify", "--format", "png"],
    ["rectify", "--format", "png", "--kind", "a4"],
    ["binarize"],
    ["binarize", "--method", "multiscale-sauvola"],
    ["binarize", "--method", "auto", "--k", "0.6"],
    ["binarize", "--method", "adaptive-otsu", "--block", "40"],
    ["binarize", "--method", "multiscale-sauvola", "--window", "31", "--k", "0.3"],
    ["clean", "--format", "png"],
])
def test_each_tool_gives_the_programs_image(cli, photo_folder, tmp_path, args):
    cli(args[0], photo_folder / "page0.png", "--out", tmp_path, *args[1:])
    expected = tarvek.read_image(tmp_path / "page0.png")
    options = dict(zip((name.lstrip("-") for name in args[1::2]), args[2::2]))
    options.pop("format", None)
    typed = {name: (float(value) if name == "k" else int(value) if name in ("window", "block") else value)
             for name, value in options.items()}
    tool = getattr(tarvek, args[0])
    result = tool(image_of(photo_folder, 0), **typed)
    if result.ndim == 2:  # the program's PNG decodes to three equal channels
        result = np.repeat(result[:, :, None], 3, axis=2)
    np.testing.assert_array_equal(result, expected)


# Each photo without a kind, and with a kind whose preset ratios the page search finds it with.
@pytest.mark.parametrize("number, kind", [(n, "any") for n in range(len(PAGES))]
                         + [(0, "a4"), (1, "a4"), (2, "card"), (3, "card")])
def test_the_program_the_module_and_the_route_make_one_page_size(cli, photo_folder, server, tmp_path, number, kind):
    photo = photo_folder / f"page{number}.png"
    cli("rectify", photo, "--out", tmp_path, "--format", "png", "--kind", kind)
    program = tarvek.read_image(tmp_path / photo.name).shape[:2]
    corners = json.loads(cli("detect", photo, "--kind", kind))["corners"]
    module = tarvek.rectify(tarvek.read_image(photo), corners, kind=kind).shape[:2]
    query = urllib.parse.urlencode({"kind": kind, "format": "png", "corners": ",".join(map(str, np.ravel(corners)))})
    with urllib.request.urlopen(f"{server}/v1/document/rectify?{query}", photo.read_bytes()) as reply:
        served = tarvek.decode_image(reply.read()).shape[:2]
    assert program == module == served


def test_given_corners_and_found_corners_give_the_same_page(photo_folder):
    photo = image_of(photo_folder, 2)
    np.testing.assert_array_equal(tarvek.rectify(photo), tarvek.rectify(photo, tarvek.find_document(photo)))
    np.testing.assert_array_equal(tarvek.rectify(photo, PAGES[2]), tarvek.rectify(photo, np.array(PAGES[2]) + 0.2))


def test_corners_in_any_order_give_the_same_page(photo_folder):
    photo = image_of(photo_folder, 2)
    expected = tarvek.rectify(photo, PAGES[2])
    for order in itertools.permutations(range(4)):
        np.testing.assert_array_equal(tarvek.rectify(photo, np.array(PAGES[2])[list(order)]), expected)


def test_binarize_is_auto_unless_told_otherwise(photo_folder):
    photo = image_of(photo_folder, 0)
    assert tarvek.methods[0] == "auto"
    binary = tarvek.binarize(photo)
    np.testing.assert_array_equal(binary, tarvek.binarize(photo, "auto", k=0.2))
    np.testing.assert_array_equal(binary, tarvek.binarize(photo, window=2))  # options auto does not read
    assert not np.array_equal(binary, tarvek.binarize(photo, "sauvola"))


def test_views_with_steps_are_copied_and_give_the_answer_of_a_contiguous_copy(photo_folder):
    photo = image_of(photo_folder, 1)
    for view in (photo[::2, ::2], photo[:, ::-1], photo[:, :, 1], photo.transpose(1, 0, 2)):
        assert not view.flags.c_contiguous
        np.testing.assert_array_equal(tarvek.binarize(view), tarvek.binarize(np.ascontiguousarray(view)))
    read_only = photo.copy()
    read_only.flags.writeable = False
    np.testing.assert_array_equal(tarvek.find_document(read_only), tarvek.find_document(photo))


@pytest.mark.parametrize("call, error, message", [
    (lambda: tarvek.clean(np.zeros((40, 40), np.float32)), TypeError, "dtype uint8"),
    (lambda: tarvek.clean(np.zeros((40, 40, 3), np.uint16)), TypeError, "dtype uint8"),
    (lambda: tarvek.clean([[1, 2], [3, 4]]), TypeError, "image: numpy.ndarray"),
    (lambda: tarvek.clean(None), TypeError, "image: numpy.ndarray"),
    (lambda: tarvek.clean(np.zeros((40, 40, 4), np.uint8)), ValueError, "40 x 40 x 4"),
    (lambda: tarvek.clean(np.zeros(40, np.uint8)), ValueError, "H x W"),
    (lambda: tarvek.clean(np.zeros((0, 40, 3), np.uint8)), ValueError, "empty"),
    (lambda: tarvek.clean(np.zeros((5, 40, 3), np.uint8)), ValueError, "no background"),
    (lambda: tarvek.find_document(np.zeros((40, 40), np.uint8), strategy="best"), ValueError, "compare, "),
    (lambda: tarvek.find_document(np.zeros((40, 40), np.uint8), kind="letter"), ValueError, "a4-portrait"),
    (lambda: tarvek.binarize(np.zeros((40, 40), np.uint8), method="niblack"), ValueError, "sauvola"),
    (lambda: tarvek.binarize(np.zeros((40, 40), np.uint8), "sauvola", window=2), ValueError, "window"),
    (lambda: tarvek.binarize(np.zeros((40, 40), np.uint8), k=1.5), ValueError, "k must"),
    (lambda: tarvek.binarize(np.zeros((40, 40), np.uint8), method="adaptive-otsu", block=5000), ValueError, "block"),
    (lambda: tarvek.binarize(np.zeros((2, 2), np.uint8), method="multiscale-sauvola"), ValueError, "too small"),
    (lambda: tarvek.binarize(np.zeros((15, 400), np.uint8)), ValueError, "too small for auto"),
    (lambda: tarvek.binarize(np.zeros((40, 40, 2), np.uint8)), ValueError, "40 x 40 x 2"),
    (lambda: tarvek.rectify(np.zeros((40, 40, 3), np.uint8)), ValueError, "no document"),
    (lambda: tarvek.rectify(np.zeros((40, 40), np.uint8), [[0, 0], [39, 0], [39, 39]]), ValueError, "four"),
    (lambda: tarvek.rectify(np.zeros((40, 40), np.uint8), "corners"), ValueError, "four"),
    (lambda: tarvek.rectify(np.zeros((40, 40), np.uint8), [[0, 0], [40, 0], [39, 39], [0, 39]]), ValueError,
     "outside the 40 x 40"),
    (lambda: tarvek.rectify(np.zeros((40, 40), np.uint8), [[0, 0], [39, 0], [10, 10], [0, 39]]), ValueError,
     "convex"),
    (lambda: tarvek.decode_image(b"hello"), tarvek.NotAnImageError, "not a JPEG"),
    (lambda: tarvek.decode_image(b"\x89PNG\r\n\x1a\n" + bytes(40)), ValueError, "does not declare"),
    (lambda: tarvek.decode_image(PNG_HEADER_ONLY), ValueError, "decoded"),
    (lambda: tarvek.decode_image(JPEG_TEM_HUGE), ValueError, "2\\^28"),
    (lambda: tarvek.detect_document_file(b"hello"), tarvek.NotAnImageError, "not a JPEG"),
    (lambda: tarvek.detect_document_file(JPEG_TEM_HUGE), ValueError, "2\\^28"),
    (lambda: tarvek.encode_image(np.zeros((4, 4), np.uint8), "gif"), ValueError, "jpeg, png, webp"),
    (lambda: tarvek.unscramble(b"plain bytes"), ValueError, "built-in key"),
    (lambda: tarvek.scramble(b"data", b""), ValueError, "key is empty"),
])
def test_bad_input_raises_a_clear_error(call, error, message):
    with pytest.raises(error, match=message):
        call()


@pytest.mark.parametrize("data, key", [(b"", None), (b"\x00\xff page", None), (bytes(range(256)) * 9, b"k3y"),
                                       (b"x", b"a much longer key than the data")])
def test_unscramble_inverts_scramble(data, key):
    scrambled = tarvek.scramble(data, key)
    assert tarvek.unscramble(scrambled, key) == data
    assert scrambled != data or not data


@pytest.mark.parametrize("data", [tarvek.scramble(b""), tarvek.scramble(b"\0page"), tarvek.scramble(b"x", b"k"), b"",
                                  b"plain bytes"])
def test_unscramble_answers_as_the_program_does(data, tmp_path):
    source, output = tmp_path / "in.bin", tmp_path / "out.bin"
    source.write_bytes(data)
    run = subprocess.run([os.environ["TARVEK_CLI"], "unscramble", str(source), "--out", str(output)],
                         capture_output=True, text=True)
    try:
        answer = tarvek.unscramble(data)
    except ValueError as refusal:
        assert run.returncode == 1 and "not scrambled with the built-in key" in run.stderr and str(refusal) in run.stderr
    else:
        assert run.returncode == 0 and output.read_bytes() == answer


def test_version_is_the_programs():
    shown = subprocess.run([os.environ["TARVEK_CLI"], "--version"], check=True, capture_output=True, text=True).stdout
    assert shown == f"tarvek {tarvek.__version__}\n"
    assert tarvek.__version__.count(".") == 2


@pytest.mark.parametrize("a, b, distance, steps", [
    ("", "", 0, []),
    ("abc", "abc", 0, ["match"] * 3),
    ("abc", "abd", 1, ["match", "match", "substitution"]),
    ("영수증", "영수", 1, ["match", "match", "deletion"]),
    ("ab", "xab", 1, ["insertion", "match", "match"]),
])
def test_edit_distance_and_its_alignment(a, b, distance, steps):
    assert tarvek.edit_distance(a, b) == distance
    assert [kind for kind, _, _ in tarvek.alignment(a, b)] == steps


def views_past_the_int_counts():
    """Images too large for OpenCV's and the library's int counts, without their memory: C-contiguous
    views over a few bytes whose side would wrap to 16 in an int, and broadcast views (not contiguous)
    whose copy no machine could hold."""
    few, side = np.zeros(64, np.uint8), 2**32 + 16
    return [as_strided(few, (1, side), (0, 1)), as_strided(few, (side, 1, 3), (3, 3, 1)),
            np.broadcast_to(np.uint8(0), (2**31, 2**31)), np.broadcast_to(few[:3], (2**30, 2**30, 3))]


@pytest.mark.parametrize("tool", [tarvek.find_document, tarvek.rectify, tarvek.binarize, tarvek.clean,
                                  tarvek.encode_image], ids=lambda tool: tool.__name__)
def test_images_past_the_int_counts_are_refused_before_any_copy(tool):
    for view in views_past_the_int_counts():
        with pytest.raises(ValueError, match="too large"):
            tool(view)


def test_a_copy_that_does_not_fit_in_memory_raises_memory_error():
    """A view within the counts whose contiguous copy (1.6 GB) exceeds the address space left."""
    code = textwrap.dedent("""
        import resource, numpy, tarvek
        with open("/proc/self/statm") as statm:
            room = int(statm.read().split()[0]) * resource.getpagesize() + (256 << 20)
        resource.setrlimit(resource.RLIMIT_AS, (room, room))
        try:
            tarvek.binarize(numpy.broadcast_to(numpy.uint8(0), (40000, 40000)))
        except MemoryError:
            print("MemoryError")
    """)
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert (run.returncode, run.stdout) == (0, "MemoryError\n"), run.stderr


def test_corners_are_judged_by_their_shape_before_their_conversion():
    tracemalloc.start()  # NumPy reports the memory of its arrays to it
    try:
        with pytest.raises(ValueError, match="four"):
            tarvek.rectify(np.zeros((40, 40), np.uint8), np.broadcast_to(0.0, (2**24, 2)))
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert peak < 1 << 20


@pytest.mark.parametrize("compare", [tarvek.edit_distance, tarvek.alignment], ids=lambda call: call.__name__)
def test_a_long_comparison_lets_other_threads_run(compare):
    assert lets_other_threads_run(lambda: compare("ab" * 2000, "ba" * 2000))


DECODE_UNDER_THE_LIMIT = """
import os, numpy, tarvek
print(os.environ["OPENCV_IO_MAX_IMAGE_PIXELS"])
try:
    tarvek.decode_image(tarvek.encode_image(numpy.zeros((40, 40), numpy.uint8), "png"))
    print("decoded")
except ValueError:
    print("refused")
"""


@pytest.mark.parametrize("given, limit, answer", [
    (None, "268435456", "decoded"),
    ("4294967296", "268435456", "decoded"),
    ("not a number", "268435456", "decoded"),  # OpenCV itself would end the process on it
    ("64KB", "64KB", "decoded"),
    ("1000", "1000", "refused"),  # under the 40 x 40 pixels
])
def test_import_gives_opencv_its_pixel_limit_unless_a_lower_one_is_set(given, limit, answer):
    environment = {name: value for name, value in os.environ.items() if name != "OPENCV_IO_MAX_IMAGE_PIXELS"}
    if given is not None:
        environment["OPENCV_IO_MAX_IMAGE_PIXELS"] = given
    run = subprocess.run([sys.executable, "-c", DECODE_UNDER_THE_LIMIT], env=environment, capture_output=True,
                         text=True, check=True)
    assert run.stdout.split() == [limit, answer]


@pytest.mark.parametrize("given, limit", [(None, "1"), ("", "1"), ("3", "3")])
def test_import_keeps_tesseract_to_one_openmp_thread_unless_a_limit_is_set(given, limit):
    environment = {name: value for name, value in os.environ.items() if name != "OMP_THREAD_LIMIT"}
    if given is not None:
        environment["OMP_THREAD_LIMIT"] = given
    run = subprocess.run([sys.executable, "-c", "import os, tarvek; print(os.environ['OMP_THREAD_LIMIT'])"],
                         env=environment, capture_output=True, text=True, check=True)
    assert run.stdout.split() == [limit]
