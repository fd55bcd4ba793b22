"""The worker side of tarvek.batch: one document tool over a group of photos.

Runs in Dask worker processes, so it depends on nothing of the client. Every photo gives one record
(input, output, corners, status, error); a photo that fails is recorded, never raised, so that the
rest of its group goes on.
"""

import os
import uuid
from typing import Any, Dict, List, NamedTuple, Optional

from . import _tarvek as tarvek

Record = Dict[str, Any]
# The actions that record what they find instead of writing an image.
WRITES_LINES = ("detect", "read", "fields")
FIELDS = ("business_name", "telephone", "date", "total")


class Photo(NamedTuple):
    input: str
    output: Optional[str]  # None for detect, read and fields
    named: bool  # named on the command line, rather than found in a folder


class Options(NamedTuple):
    strategy: str = "auto"
    kind: str = "any"
    method: str = "auto"
    window: Optional[int] = None  # None: the method's default
    k: Optional[float] = None
    block: Optional[int] = None
    format: str = "jpeg"
    upright: bool = False  # rectify
    lang: str = "kor+eng"  # read, fields
    rectify: bool = True  # read, fields: look for a page to flatten first
    deadline_ms: int = 20000  # read, fields


def write_atomically(path: str, data: bytes) -> None:
    """Writes under a hidden temporary name beside the file, then renames: the file is always whole."""
    folder, name = os.path.split(path)
    os.makedirs(folder or ".", exist_ok=True)
    temporary = os.path.join(folder, f".{name}.{uuid.uuid4().hex}.tmp")
    try:
        with open(temporary, "wb") as file:
            file.write(data)
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.remove(temporary)
        raise


def corners_list(corners) -> List[List[int]]:
    return [] if corners is None else corners.tolist()


def read_into(action: str, photo, options: Options, record: Record) -> None:
    """The lines (read) or the four fields (fields) of the photo, as the HTTP routes answer them."""
    reading = dict(lang=options.lang, rectify=options.rectify, deadline_ms=options.deadline_ms)
    if action == "fields":
        record.update(tarvek.receipt_fields(photo, **reading))
        return
    found = tarvek.read_text(photo, **reading)
    corners = found.pop("corners")
    record.update(found, corners=None if corners is None else corners.round().astype(int).tolist())


def record_detection(found, record: Record) -> None:
    """The corners found (whole pixels, as the search found them) and the page search's confidence."""
    record["corners"] = corners_list(found and found["corners"])
    if found:
        record["corners_subpixel"] = found["corners_subpixel"].round(2).tolist()
        record["confidence"] = found["confidence"]


def result_of(action: str, photo, options: Options, record: Record):
    """The image the action makes, None for read and fields; records the corners it finds, the lines
    or the fields."""
    if action == "rectify":
        found = tarvek.detect_document(photo, options.strategy, options.kind)
        record_detection(found, record)
        if found is None:
            raise ValueError("no document found")
        # Searched again rather than given back: corners given are checked to lie inside the photo,
        # and a page cut by the photo's edge has its own corners outside it.
        return tarvek.rectify(photo, None, options.strategy, options.kind, options.upright)
    if action in ("read", "fields"):
        return read_into(action, photo, options, record)
    if action == "binarize":
        return tarvek.binarize(photo, options.method, options.window, options.k, options.block)
    return tarvek.clean(photo)


def process(action: str, photo: Photo, options: Options) -> Record:
    record: Record = {"input": photo.input, "output": None, "corners": None, "status": "done", "error": None}
    try:
        with open(photo.input, "rb") as file:
            data = file.read()
        if action == "detect":  # from the file, as the tarvek program and the detect route search it
            record_detection(tarvek.detect_document_file(data, options.strategy, options.kind), record)
            return record
        result = result_of(action, tarvek.decode_image(data), options, record)
        if result is not None:
            write_atomically(photo.output, tarvek.encode_image(result, options.format))
            record["output"] = photo.output
    except tarvek.NotAnImageError as failure:
        # Other files in a folder are passed over; one named on the command line is a failure.
        record.update(status="failed" if photo.named else "skipped", error=str(failure))
    except (OSError, ValueError) as failure:
        record.update(status="failed", error=str(failure))
    return record


def run(action: str, photos: List[Photo], options: Options) -> List[Record]:
    """The records of a group of photos, in order. A worker runs one task at a time and a machine
    one worker a core, so OpenCV's threads would only compete with the other workers."""
    tarvek.set_num_threads(1)
    return [process(action, photo, options) for photo in photos]
