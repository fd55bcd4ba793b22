"""Find, flatten, binarize, clean and read photographed documents.

Images are NumPy uint8 arrays in OpenCV's layout: H x W (grey) or H x W x 3 (BGR), so that the
output of cv2.imread goes straight in. C-contiguous arrays are used in place, without a copy;
any other array (a slice with steps, a transposed view) is copied to a contiguous one first.
A wrong dtype raises TypeError, a wrong shape ValueError, as does an image of more than 2^31 - 1
pixels or row values (width x channels), refused before any copy. Every function releases the GIL while
the library works, so Python threads run in parallel (set_num_threads(1) keeps OpenCV's own
threads from competing with them).

    import tarvek
    photo = tarvek.read_image("receipt.jpg")
    corners = tarvek.find_document(photo, kind="a4")   # 4 x 2 (x, y), or None
    page = tarvek.rectify(photo, corners, upright=True)
    fields = tarvek.receipt_fields(photo, lang="kor+eng")   # business_name, telephone, date, total

Photos given as arrays are searched whole. The HTTP detect route and the tarvek program decode a
large JPEG file at a reduced size for the page search, so on the same file their corners may differ
from detect_document's on the decoded array by a pixel; detect_document_file(bytes) answers as they do.

`python3 -m tarvek.batch` runs the same tools over many photos on a Dask cluster.
"""

import os
import re
from typing import Union

import numpy


def _limit_decoder_pixels():
    """OpenCV reads its own pixel limit, a second guard behind the extension's header check, from
    the environment once: when the extension below loads it (unless cv2 has loaded it already).
    Sets the extension's limit, 2^28, unless a lower one is set, read as OpenCV reads it."""
    limit = 1 << 28
    given = re.fullmatch(r"([0-9]+)(|[Kk]b|KB|[Mm]b|MB)", os.environ.get("OPENCV_IO_MAX_IMAGE_PIXELS", ""))
    if given is None or int(given[1]) << {"": 0, "k": 10, "m": 20}[given[2][:1].lower()] > limit:
        os.environ["OPENCV_IO_MAX_IMAGE_PIXELS"] = str(limit)


def _limit_engine_threads():
    """Tesseract runs parts of a page on OpenMP threads, four at a time whatever the cores, so
    that pages read in parallel only contend (a receipt took 7 s on two cores instead of 1.4 s).
    OpenMP reads its limit once, when the extension below loads it: one thread unless one is set."""
    if not os.environ.get("OMP_THREAD_LIMIT"):
        os.environ["OMP_THREAD_LIMIT"] = "1"


_limit_decoder_pixels()
_limit_engine_threads()

from ._tarvek import (__version__, NotAnImageError, alignment, binarize, clean, decode_image, detect_document,
                      detect_document_file, edit_distance, encode_image, find_document, kinds, languages, methods,
                      read_text, receipt_fields, rectify, scramble, set_num_threads, strategies, unscramble)

__all__ = ["NotAnImageError", "alignment", "binarize", "clean", "decode_image", "detect_document",
           "detect_document_file", "edit_distance", "encode_image",
           "find_document", "kinds", "languages", "methods", "read_image", "read_text", "receipt_fields", "rectify",
           "scramble", "set_num_threads", "strategies", "unscramble"]


def read_image(path: Union[str, "os.PathLike[str]"]) -> numpy.ndarray:
    """The photo in the file as an H x W x 3 BGR array; OSError when the file cannot be read,
    NotAnImageError (a ValueError) for a file that is no JPEG, PNG, BMP, WebP or TIFF."""
    with open(path, "rb") as file:
        return decode_image(file.read())
