"""Runs a document tool over many photos on a Dask cluster.

    python3 -m tarvek.batch {detect,rectify,binarize,clean,read,fields} INPUT... --out DIR [--scheduler ADDRESS]

Without --scheduler a local cluster of worker processes is started on this machine; with it the
photos go to an existing cluster whose workers see the same paths. One task per photo (small
photos share one). The client alone writes DIR/manifest.jsonl, one JSON line per photo (input,
output, corners, status, error; corners_subpixel and confidence where a page was found; the lines
and what was done to read them for read; the four fields for fields) as results arrive, so a task
that Dask runs again after its worker died adds no second line. A re-run passes over every photo already in the manifest.
"""

import argparse
import json
import os
import sys
import time
from contextlib import ExitStack
from typing import Dict, Iterable, Iterator, List, Set, TextIO

from . import tasks
import numpy

from ._tarvek import kinds, methods, read_text, strategies
from .tasks import FIELDS, WRITES_LINES, Options, Photo, Record

MANIFEST = "manifest.jsonl"
SMALL_PHOTO_BYTES = 1 << 20  # files smaller than this share a task, up to --group-bytes in all


def arguments(argv: List[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(prog="python3 -m tarvek.batch", description=__doc__.split("\n\n")[0])
    parser.add_argument("action", choices=("detect", "rectify", "binarize", "clean", "read", "fields"))
    parser.add_argument("inputs", nargs="+", metavar="INPUT", help="photos, and folders searched recursively")
    parser.add_argument("--out", required=True, help="folder of the results and of manifest.jsonl")
    parser.add_argument("--scheduler", help="address of a Dask scheduler (default: a local cluster)")
    parser.add_argument("--workers", type=int, default=os.cpu_count(),
                        help="worker processes of the local cluster (default: the number of cores)")
    parser.add_argument("--strategy", choices=strategies, default="auto")
    parser.add_argument("--kind", choices=kinds, default="any")
    parser.add_argument("--method", choices=methods, default="auto")
    parser.add_argument("--window", type=int, help="sauvola 15, multiscale-sauvola 16 by default")
    parser.add_argument("--k", type=float, help="sauvola and multiscale-sauvola 0.075, auto 0.2 by default")
    parser.add_argument("--block", type=int,
                        help="adaptive-otsu's block side (64 by default), multiscale-sauvola's coarse scale (7)")
    parser.add_argument("--format", choices=("jpeg", "png", "webp"),
                        help="format of the results (default: png for binarize, jpeg otherwise)")
    parser.add_argument("--upright", action="store_true", help="rectify: turn each page upright")
    parser.add_argument("--lang", default="kor+eng", help="read, fields: installed languages joined by '+' or spaces")
    parser.add_argument("--deadline-ms", type=int, default=20000,
                        help="read, fields: time allowed for recognising one page (100 ... 60000)")
    parser.add_argument("--no-rectify", dest="rectify", action="store_false",
                        help="read, fields: read each photo as it is, without looking for a page to flatten")
    parser.add_argument("--group-bytes", type=int, default=8 << 20,
                        help="photos under 1 MiB share a task up to this many bytes (0: a task per photo)")
    parser.add_argument("--quiet", action="store_true", help="no progress; failures are still reported")
    args = parser.parse_args(argv)
    if args.workers < 1:
        parser.error("--workers must be at least 1")
    if args.action in ("read", "fields"):
        try:  # the module's own checks of the language set and the deadline, on a pixel it reads at once
            read_text(numpy.zeros((1, 1), numpy.uint8), args.lang, False, False, args.deadline_ms)
        except ValueError as problem:
            parser.error(str(problem))
    args.format = args.format or ("png" if args.action == "binarize" else "jpeg")
    # Workers on other machines, or in other folders, see the same absolute paths.
    args.inputs = [os.path.abspath(path) for path in args.inputs]
    args.out = os.path.abspath(args.out)
    return args


def extension(format: str) -> str:
    return ".jpg" if format == "jpeg" else "." + format


def files_in(folder: str, out: str) -> Iterator[str]:
    """Every file under the folder, in name order, the output folder excepted."""
    for root, folders, files in os.walk(folder):
        folders[:] = sorted(name for name in folders if os.path.realpath(os.path.join(root, name)) != out)
        yield from (os.path.join(root, name) for name in sorted(files))


def photos_of(inputs: Iterable[str], args: argparse.Namespace) -> List[Photo]:
    """The photos to process; each result keeps its path relative to the folder it was found in."""
    out = os.path.realpath(args.out)

    def output(relative: str):
        if args.action in WRITES_LINES:
            return None
        return os.path.join(args.out, os.path.splitext(relative)[0] + extension(args.format))

    photos = []
    for given in inputs:
        if os.path.isdir(given):
            photos += [Photo(path, output(os.path.relpath(path, given)), False) for path in files_in(given, out)]
        else:
            photos.append(Photo(given, output(os.path.basename(given)), True))
    return photos


def groups_of(photos: List[Photo], group_bytes: int) -> List[List[Photo]]:
    """One group per photo, except that small photos are gathered so that a task is worth its overhead."""
    groups: List[List[Photo]] = []
    small: List[Photo] = []
    small_bytes = 0
    for photo in photos:
        size = os.path.getsize(photo.input) if os.path.isfile(photo.input) else 0
        if size >= SMALL_PHOTO_BYTES or group_bytes <= 0:
            groups.append([photo])
            continue
        if small and small_bytes + size > group_bytes:
            groups.append(small)
            small, small_bytes = [], 0
        small.append(photo)
        small_bytes += size
    return groups + ([small] if small else [])


def inputs_in(manifest: str) -> Set[str]:
    """The inputs the manifest already holds; a line cut short by an interrupted run counts for nothing."""
    done = set()
    if os.path.exists(manifest):
        with open(manifest, encoding="utf-8") as lines:
            for line in lines:
                try:
                    done.add(json.loads(line)["input"])
                except (ValueError, KeyError, TypeError):
                    pass
    return done


def open_manifest(path: str) -> TextIO:
    """The manifest for appending, starting on a fresh line after a line cut short."""
    manifest = open(path, "a+", encoding="utf-8")
    if manifest.tell() > 0:
        manifest.seek(manifest.tell() - 1)
        if manifest.read(1) != "\n":
            manifest.write("\n")
    return manifest


def summary(record: Record) -> str:
    """What a photo without an output file gave: its corners, its number of lines or its fields."""
    if "lines" in record:
        return f"{len(record['lines'])} lines"
    if FIELDS[0] in record:
        return ", ".join(f"{name} {record[name] and record[name]['value']!r}" for name in FIELDS)
    return json.dumps(record["corners"])


class Progress:
    """On a terminal one line of done/total, photos per second and failures; otherwise a line per photo."""

    def __init__(self, total: int, quiet: bool):
        self.total, self.quiet = total, quiet
        self.counts: Dict[str, int] = {"done": 0, "skipped": 0, "failed": 0}
        self.start = time.monotonic()
        self.terminal = sys.stderr.isatty()

    def add(self, record: Record) -> None:
        self.counts[record["status"]] += 1
        if record["status"] == "failed" or (not self.quiet and not self.terminal):
            reason = record["error"] or record["output"] or summary(record)
            self.clear()
            print(f"{record['status']} {record['input']}: {reason}", file=sys.stderr)
        if not self.quiet and self.terminal:
            finished = sum(self.counts.values())
            rate = finished / max(time.monotonic() - self.start, 1e-9)
            print(f"\r{finished}/{self.total} photos  {rate:.2f}/s  {self.counts['failed']} failed",
                  end="", file=sys.stderr, flush=True)

    def clear(self) -> None:
        if not self.quiet and self.terminal:
            print("\r\033[K", end="", file=sys.stderr)

    def finish(self) -> None:
        self.clear()
        if not self.quiet:
            print(", ".join(f"{count} {status}" for status, count in self.counts.items()), file=sys.stderr)


def client_of(args: argparse.Namespace, stack: ExitStack):
    from distributed import Client, LocalCluster

    if args.scheduler:
        return stack.enter_context(Client(args.scheduler))
    cluster = stack.enter_context(LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                                               dashboard_address=None))
    return stack.enter_context(Client(cluster))


def failed(photo: Photo, failure: BaseException) -> Record:
    return {"input": photo.input, "output": None, "corners": None, "status": "failed",
            "error": f"{type(failure).__name__}: {failure}"}


def run(args: argparse.Namespace) -> int:
    from distributed import as_completed

    os.makedirs(args.out, exist_ok=True)
    manifest_path = os.path.join(args.out, MANIFEST)
    recorded = inputs_in(manifest_path)
    photos = [photo for photo in photos_of(args.inputs, args) if photo.input not in recorded]
    progress = Progress(len(photos), args.quiet)
    if photos:
        options = Options(args.strategy, args.kind, args.method, args.window, args.k, args.block, args.format,
                          args.upright, args.lang, args.rectify, args.deadline_ms)
        with ExitStack() as stack:
            client = client_of(args, stack)
            manifest = stack.enter_context(open_manifest(manifest_path))
            group_of = {}
            for group in groups_of(photos, args.group_bytes):
                group_of[client.submit(tasks.run, args.action, group, options, pure=False)] = group
            for future in as_completed(group_of):
                try:
                    records = future.result()
                except Exception as failure:  # the task itself failed, e.g. it killed every worker it ran on
                    records = [failed(photo, failure) for photo in group_of[future]]
                for record in records:
                    if record["input"] in recorded:
                        continue
                    recorded.add(record["input"])
                    manifest.write(json.dumps(record, ensure_ascii=False) + "\n")
                    manifest.flush()
                    progress.add(record)
    progress.finish()
    return 1 if progress.counts["failed"] else 0


def main(argv=None) -> int:
    return run(arguments(sys.argv[1:] if argv is None else argv))


if __name__ == "__main__":
    sys.exit(main())
