#!/usr/bin/python3
"""Soak run of tarvek-server: mixed, partly hostile uploads on many connections.

soak.py SERVER PHOTO... [--seconds 300] [--connections 8] [--no-memory-check]

Starts SERVER on a free loopback port in a temporary folder and keeps CONNECTIONS
clients busy for SECONDS against every route that takes a photo: good photos (raw
and as JSON), garbage bytes, truncated JPEGs, a Content-Length far above the body
limit with and without a body, chunked bodies over the limit, senders that trickle
their bytes, and senders that stop in the middle of the body and close. Then stops
the server and checks that
  - every answer has a status its case allows, and none is a 5xx;
  - no well-formed request met a reset, a close without answer or a timeout;
  - the resident anonymous memory after the warm-up, read with every client stopped between
    two requests, stays within 10 % at the start, in the middle and at the end;
  - access.log holds one request line for every answer, every line well-formed
    and none at Error;
  - the server exits with status 0 on SIGTERM.
Prints the figures; exits 1 when a check fails. Python standard library only.
"""

import argparse
import base64
import collections
import os
import random
import re
import select
import signal
import socket
import subprocess
import tempfile
import threading
import time

BODY_LIMIT = 64 << 20  # the server's limit; larger bodies are answered 413
HUGE_LENGTH = 10 << 30
TOOL_ROUTES = ["/v1/document/detect", "/v1/document/rectify", "/v1/document/binarize", "/v1/document/clean"]
RECOGNITION_ROUTES = ["/recognize_receipt", "/recognize_estimate"]
ROUTES = TOOL_ROUTES + RECOGNITION_ROUTES
MEMORY_TOLERANCE = 0.10
REST = 1.0  # seconds for the server to close the clients' connections before memory is read
LOG_LINE = re.compile(r"^\(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\) \[[A-Z ]{8}\] \S")


class NoAnswer(Exception):
    """No whole, well-formed answer: refused, reset, closed, timed out or garbled."""


# --- the HTTP exchange ---------------------------------------------------------------------------


def connect(port):
    try:
        return socket.create_connection(("127.0.0.1", port), timeout=60)
    except OSError as error:
        raise NoAnswer(type(error).__name__) from error


def header(route, length=None, content_type="application/octet-stream", chunked=False):
    lines = [f"POST {route} HTTP/1.1", "Host: 127.0.0.1", f"Content-Type: {content_type}"]
    lines.append("Transfer-Encoding: chunked" if chunked else f"Content-Length: {length}")
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


def read_answer(sock):
    """The status and whether the server keeps the connection open."""
    data = b""
    while b"\r\n\r\n" not in data:
        data += receive(sock)
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    fields = {k.strip().lower(): v.strip() for k, _, v in (line.partition(":") for line in lines[1:])}
    try:
        status = int(lines[0].split()[1])
        remaining = int(fields.get("content-length", "0")) - len(body)
    except (IndexError, ValueError) as error:
        raise NoAnswer(f"garbled: {lines[0]!r}") from error
    while remaining > 0:
        remaining -= len(receive(sock))
    return status, fields.get("connection", "").lower() != "close"


def receive(sock):
    try:
        chunk = sock.recv(1 << 16)
    except OSError as error:  # reset, timeout
        raise NoAnswer(type(error).__name__) from error
    if not chunk:
        raise NoAnswer("closed")
    return chunk


def closed_by_server(sock):
    """Whether an idle kept-alive connection has been closed by the server (it drops
    connections idle for 30 s): readable before a request is sent means closed."""
    return bool(select.select([sock], [], [], 0)[0])


def send(sock, data):
    try:
        sock.sendall(data)
    except OSError as error:
        raise NoAnswer(type(error).__name__) from error


# --- the cases -----------------------------------------------------------------------------------
# Each takes (client, route) and returns the answer's status, or None when it expects none.


class Client:
    """One connection's worth of requests; well-formed ones share a keep-alive connection."""

    def __init__(self, port, bodies):
        self.port = port
        self.bodies = bodies
        self.sock = None
        self.turn = 0

    def next_photo(self):
        self.turn += 1
        return self.bodies.photos[self.turn % len(self.bodies.photos)]

    def exchange(self, request):
        if self.sock is not None and closed_by_server(self.sock):
            self.drop()
        if self.sock is None:
            self.sock = connect(self.port)
        try:
            send(self.sock, request)
            status, keep = read_answer(self.sock)
        except NoAnswer:
            self.drop()
            raise
        if not keep:
            self.drop()
        return status

    def drop(self):
        if self.sock is not None:
            self.sock.close()
            self.sock = None

    def post(self, route, body, content_type="application/octet-stream"):
        return self.exchange(header(route, len(body), content_type) + body)


def good_photo(client, route):
    return client.post(route, client.next_photo())


def good_photo_json(client, route):
    text = base64.b64encode(client.next_photo()).decode()
    return client.post(route, ('{"image":"%s"}' % text).encode(), "application/json")


def garbage(client, route):
    return client.post(route, client.bodies.garbage)


def truncated_jpeg(client, route):
    photo = client.next_photo()
    return client.post(route, photo[: len(photo) // 2])


def on_own_connection(client, exchange):
    with connect(client.port) as sock:
        return exchange(sock)


def huge_length(body):
    def case(client, route):
        def exchange(sock):
            send(sock, header(route, HUGE_LENGTH) + body(client.bodies))
            return read_answer(sock)[0]

        return on_own_connection(client, exchange)

    return case


def over_limit_chunked(client, route):
    chunk = b"%x\r\n" % len(client.bodies.megabyte) + client.bodies.megabyte + b"\r\n"

    def exchange(sock):
        send(sock, header(route, chunked=True))
        for _ in range(BODY_LIMIT // len(client.bodies.megabyte) + 1):
            send(sock, chunk)
        send(sock, b"0\r\n\r\n")
        return read_answer(sock)[0]

    return on_own_connection(client, exchange)


def slow_sender(client, route):
    request = header(route, len(client.bodies.small_photo)) + client.bodies.small_photo
    pieces = 20

    def exchange(sock):
        step = len(request) // pieces + 1
        for start in range(0, len(request), step):
            send(sock, request[start : start + step])
            time.sleep(0.1)
        return read_answer(sock)[0]

    return on_own_connection(client, exchange)


def stops_mid_body(client, route):
    photo = client.next_photo()
    with connect(client.port) as sock:
        send(sock, header(route, len(photo)) + photo[: len(photo) // 2])
        time.sleep(0.05)
    return None


# The statuses a case may answer, by route kind. A truncated JPEG may still decode (the
# missing rows grey); the recognition routes answer 200 for any body they can read.
SOME_DOCUMENT = {"tool": {200, 422}, "recognition": {200}}
TOO_LARGE = {"tool": {413}, "recognition": {413}}
CASES = [
    # name, function, weight, allowed statuses
    ("good photo", good_photo, 12, SOME_DOCUMENT),
    ("good photo as JSON", good_photo_json, 4, SOME_DOCUMENT),
    ("garbage bytes", garbage, 4, {"tool": {415}, "recognition": {200}}),
    ("truncated JPEG", truncated_jpeg, 4, {"tool": {200, 400, 422}, "recognition": {200}}),
    ("huge Content-Length, no body", huge_length(lambda bodies: b""), 2, TOO_LARGE),
    ("huge Content-Length, with body", huge_length(lambda bodies: bodies.megabyte), 2, TOO_LARGE),
    ("chunked body over the limit", over_limit_chunked, 1, TOO_LARGE),
    ("slow sender", slow_sender, 2, SOME_DOCUMENT),
    ("stops mid-body and closes", stops_mid_body, 2, None),
]


class Bodies:
    """The request bodies, made once and shared by the clients."""

    def __init__(self, photos):
        self.photos = photos
        self.small_photo = min(photos, key=len)
        generator = random.Random(11)
        self.garbage = bytes(generator.getrandbits(8) for _ in range(200_000))
        self.megabyte = bytes(generator.getrandbits(8) for _ in range(1 << 20))


# --- the run -------------------------------------------------------------------------------------


class Tally:
    def __init__(self):
        self.lock = threading.Lock()
        self.answers = collections.Counter()  # (case, route, status)
        self.faults = collections.Counter()  # (case, route, what went wrong)
        self.abandoned = 0

    def add(self, case, route, status=None, fault=None):
        with self.lock:
            if fault:
                self.faults[(case, route, fault)] += 1
            elif status is None:
                self.abandoned += 1
            else:
                self.answers[(case, route, status)] += 1

    def answered(self):
        return sum(self.answers.values())


class Pause:
    """Stops every client between two requests, so that memory is read at rest."""

    def __init__(self, clients):
        self.requested = threading.Event()
        self.barrier = threading.Barrier(clients + 1, timeout=300)

    def point(self):
        """Called by the clients between requests."""
        if self.requested.is_set():
            self.barrier.wait()  # stopped
            self.barrier.wait()  # released

    def hold(self):
        self.requested.set()
        self.barrier.wait()
        self.requested.clear()

    def release(self):
        self.barrier.wait()


def route_kind(route):
    return "tool" if route in TOOL_ROUTES else "recognition"


def work(worker, port, bodies, deadline, tally, pause):
    """One connection's loop: the weighted cases in a shuffled order, the routes in turn."""
    schedule = [case for case in CASES for _ in range(case[2])]
    random.Random(worker).shuffle(schedule)
    client = Client(port, bodies)
    turn = worker
    while True:
        pause.point()
        if time.monotonic() >= deadline:
            break
        name, run, _, allowed = schedule[turn % len(schedule)]
        route = ROUTES[turn % len(ROUTES)]
        turn += 1
        try:
            status = run(client, route)
        except NoAnswer as error:
            tally.add(name, route, fault=f"no answer ({error})")
            continue
        tally.add(name, route, status)
        if allowed is not None and status not in allowed[route_kind(route)]:
            tally.add(name, route, fault=f"status {status}")
    client.drop()


def resident_kib(pid):
    """The server's own resident memory (heap, stacks): the pages of the libraries it maps are
    shared with the system's file cache, which takes them back and gives them again as the rest of
    the machine needs memory, so VmRSS moves by megabytes with what else runs."""
    with open(f"/proc/{pid}/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("RssAnon:"))


def start_server(binary, folder):
    stderr = open(os.path.join(folder, "stderr.txt"), "wb")
    server = subprocess.Popen([binary, "0"], cwd=folder, stderr=stderr, stdout=subprocess.DEVNULL)
    for _ in range(300):
        with open(stderr.name, "rb") as text:
            found = re.search(rb"running at 0\.0\.0\.0:(\d+)", text.read())
        if found:
            return server, int(found.group(1))
        if server.poll() is not None:
            break
        time.sleep(0.1)
    server.kill()
    raise SystemExit("soak: the server did not start")


def resting_memory(pid):
    """Resident memory with no request under way: a body on its way to the limit holds
    up to 64 MiB for a moment, which is not what a leak or a growing cache keeps."""
    time.sleep(REST)
    return resident_kib(pid)


def watch_memory(server, moments, deadline, pause):
    """The resting memory at each of the moments, and the peak until the deadline
    (or until the server ends by itself)."""
    resting, peak = [], 0
    while time.monotonic() < deadline and server.poll() is None:
        if moments and time.monotonic() >= moments[0]:
            moments.pop(0)
            pause.hold()
            resting.append(resting_memory(server.pid))
            pause.release()
        peak = max(peak, resident_kib(server.pid))
        time.sleep(0.25)
    return resting, peak


def access_log(folder):
    """The lines of access.log and of its rotated files."""
    lines = []
    for name in sorted(os.listdir(folder)):
        if re.fullmatch(r"access(\.\d+)?\.log", name):
            with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as log:
                lines += log.read().splitlines()
    return lines


def log_checks(lines, answered, abandoned):
    """Faults of the access log: a request line per answer, refusals included. An upload the
    client abandoned may still have been answered (and logged) before the client went away."""
    logged = sum(1 for line in lines if "] Request: " in line)
    faults = []
    if not answered <= logged <= answered + abandoned:
        faults.append(f"access.log: {logged} request lines for {answered} answers "
                      f"and {abandoned} abandoned uploads")
    malformed = [line for line in lines if not LOG_LINE.match(line)]
    if malformed:
        faults.append(f"access.log: {len(malformed)} malformed lines, the first: {malformed[0]!r}")
    errors = [line for line in lines if "[ERROR" in line or "[CRITICAL" in line]
    if errors:
        faults.append(f"access.log: {len(errors)} lines at Error, the first: {errors[0]!r}")
    return logged, faults


def print_stderr_tail(folder):
    """The server's last words, such as a sanitizer's report."""
    with open(os.path.join(folder, "stderr.txt"), encoding="utf-8", errors="replace") as stderr:
        print("".join(stderr.readlines()[-40:]))


def soak(args, bodies, tally, folder):
    """Runs the clients against a server working in folder until SIGTERM stops it: the
    resting memory at start, middle and end, the peak, its exit status, the seconds taken."""
    server, port = start_server(os.path.abspath(args.server), folder)
    try:
        began = time.monotonic()
        deadline = began + args.seconds
        pause = Pause(args.connections)
        workers = [
            threading.Thread(target=work, args=(i, port, bodies, deadline, tally, pause))
            for i in range(args.connections)
        ]
        for worker in workers:
            worker.start()
        warm_up = min(30.0, args.seconds / 4)
        moments = [began + warm_up, began + (warm_up + args.seconds) / 2]
        phases, peak = watch_memory(server, moments, deadline, pause)
        for worker in workers:
            worker.join()
        if server.poll() is not None:
            print_stderr_tail(folder)
            raise SystemExit(f"soak: the server ended by itself during the run, status {server.returncode}")
        phases.append(resting_memory(server.pid))
        server.send_signal(signal.SIGTERM)
        return phases, peak, server.wait(timeout=60), time.monotonic() - began
    finally:
        if server.poll() is None:
            server.kill()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("server")
    parser.add_argument("photos", nargs="+")
    parser.add_argument("--seconds", type=float, default=300)
    parser.add_argument("--connections", type=int, default=8)
    parser.add_argument("--memory-check", action=argparse.BooleanOptionalAction, default=True,
                        help="off for a sanitizer build, whose allocator keeps freed memory on purpose")
    args = parser.parse_args()

    photos = []
    for path in args.photos:
        with open(path, "rb") as photo:
            photos.append(photo.read())
    bodies = Bodies(photos)
    tally = Tally()

    with tempfile.TemporaryDirectory() as folder:
        phases, peak, exit_status, elapsed = soak(args, bodies, tally, folder)
        lines = access_log(folder)
        if exit_status != 0:
            print_stderr_tail(folder)

    logged, faults = log_checks(lines, tally.answered(), tally.abandoned)
    report(args, tally, elapsed, phases, peak, logged)
    faults += [f"{count} x {case} to {route}: {what}" for (case, route, what), count in sorted(tally.faults.items())]
    if any(status >= 500 for (_, _, status) in tally.answers):
        faults.append("5xx answers")
    if args.memory_check and max(phases) > min(phases) * (1 + MEMORY_TOLERANCE):
        faults.append(f"resident memory not flat within {MEMORY_TOLERANCE:.0%}")
    if exit_status != 0:
        faults.append(f"the server exited with status {exit_status}")
    for fault in faults:
        print("FAIL:", fault)
    return 1 if faults else 0


def report(args, tally, elapsed, phases, peak, logged):
    answered = tally.answered()
    print(f"soak: {args.connections} connections, {args.seconds:g} s: {answered} answers "
          f"({answered / elapsed:.1f}/s), {tally.abandoned} uploads abandoned by the client")
    by_case = collections.defaultdict(collections.Counter)
    for (case, _, status), count in tally.answers.items():
        by_case[case][status] += count
    for case, statuses in sorted(by_case.items()):
        print(f"  {case:32} " + ", ".join(f"{status}: {n}" for status, n in sorted(statuses.items())))
    totals = collections.Counter()
    for (_, _, status), count in tally.answers.items():
        totals[status] += count
    print("  by status: " + ", ".join(f"{status}: {n}" for status, n in sorted(totals.items())))
    print("  resident memory at rest after warm-up, start / middle / end: " +
          " / ".join(f"{kib / 1024:.1f} MiB" for kib in phases) +
          f" (spread {max(phases) / min(phases) - 1:.1%}); peak {peak / 1024:.1f} MiB")
    print(f"  access.log: {logged} request lines")


if __name__ == "__main__":
    raise SystemExit(main())
