#!/usr/bin/python3
"""tarvek-server instances behind Debian's nginx with deploy/nginx.conf.

    balance.py SERVER PHOTO [--instances 3] [--requests 300] [--connections 8] [--calm]

Starts the instances and nginx on loopback, sends detect requests of the photo,
each with its own X-Request-Id, over several connections; in the middle one
instance gets SIGTERM and another SIGKILL (unless --calm). It fails unless
every request is answered 200 with the photo's corners, the stopped instance
exits 0, and the access logs together hold each request once. It prints the
requests sent, answered and failed, and requests per second.
"""

import argparse
import concurrent.futures
import http.client
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

DEPLOY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "deploy")
START_LINE = re.compile(rb"tarvek server is running at 127\.0\.0\.1:(\d+)")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_instance(server, folder):
    os.makedirs(folder)
    errors = open(os.path.join(folder, "stderr.txt"), "wb")
    process = subprocess.Popen([server, "--port", "0", "--bind", "127.0.0.1", "--log-dir", folder],
                               cwd=folder, stdout=subprocess.DEVNULL, stderr=errors)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        with open(os.path.join(folder, "stderr.txt"), "rb") as text:
            found = START_LINE.search(text.read())
        if found:
            return process, int(found.group(1))
        if process.poll() is not None:
            break
        time.sleep(0.01)
    sys.exit(f"an instance did not start in {folder}")


def nginx_config(folder, ports, listen):
    """deploy/nginx.conf with the test's ports and paths, inside a main configuration of its own."""
    with open(os.path.join(DEPLOY, "nginx.conf")) as example:
        site = example.read()
    servers = "".join(f"    server 127.0.0.1:{port} max_fails=1 fail_timeout=5s;\n" for port in ports)
    site = re.sub(r"(    server 127\.0\.0\.1:808\d [^\n]*\n)+", servers, site)
    site = site.replace("listen 80;", f"listen 127.0.0.1:{listen};")
    site = site.replace("/var/log/nginx/tarvek.log", os.path.join(folder, "nginx-access.log"))
    temp = "".join(f"    {name}_temp_path {os.path.join(folder, name)};\n"
                   for name in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    user = "user root;\n" if os.geteuid() == 0 else ""
    return (f"{user}worker_processes 1;\npid {os.path.join(folder, 'nginx.pid')};\n"
            f"error_log {os.path.join(folder, 'nginx-error.log')} warn;\n"
            f"events {{ worker_connections 1024; }}\n"
            f"http {{\n{temp}{site}\n}}\n")


def start_nginx(folder, ports):
    listen = free_port()
    path = os.path.join(folder, "nginx.conf")
    with open(path, "w") as conf:
        conf.write(nginx_config(folder, ports, listen))
    process = subprocess.Popen(["/usr/sbin/nginx", "-c", path, "-p", folder, "-g", "daemon off;"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", listen), timeout=1).close()
            return process, listen
        except OSError:
            time.sleep(0.02)
    sys.exit("nginx did not start: " + open(os.path.join(folder, "nginx-error.log")).read())


def detect(port, photo, request_id):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    try:
        connection.request("POST", "/v1/document/detect", photo, {"X-Request-Id": request_id})
        answer = connection.getresponse()
        return answer.status, answer.read()
    finally:
        connection.close()


def corners(body):
    """The answer without its time, which differs from request to request."""
    answer = json.loads(body)
    answer.pop("elapsed_ms", None)
    return answer


class Run:
    def __init__(self, port, photo, expected, total):
        self.port, self.photo, self.expected, self.total = port, photo, expected, total
        self.lock = threading.Lock()
        self.done = 0
        self.failures = []

    def one(self, index):
        request_id = f"run-{index}"
        try:
            status, body = detect(self.port, self.photo, request_id)
            if status != 200 or corners(body) != self.expected:
                raise ValueError(f"{status} {body[:200]!r}")
        except Exception as error:  # a reset, a refusal or a wrong answer alike
            with self.lock:
                self.failures.append(f"{request_id}: {error}")
        with self.lock:
            self.done += 1


def logged_ids(folders):
    counts = {}
    for folder in folders:
        with open(os.path.join(folder, "access.log"), errors="replace") as log:
            for match in re.finditer(r"POST /v1/document/detect (\d+) id=(run-\d+)", log.read()):
                counts.setdefault(match.group(2), []).append(match.group(1))
    return counts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("server")
    parser.add_argument("photo")
    parser.add_argument("--instances", type=int, default=3)
    parser.add_argument("--requests", type=int, default=300)
    parser.add_argument("--connections", type=int, default=8)
    parser.add_argument("--calm", action="store_true", help="no instance stopped or killed: a speed run")
    options = parser.parse_args()
    chaos = not options.calm
    if chaos and options.instances < 3:
        sys.exit("stopping one instance and killing another needs at least three")

    with open(options.photo, "rb") as file:
        photo = file.read()
    work = tempfile.mkdtemp(prefix="tarvek-balance-")
    os.chmod(work, 0o755)
    instances, nginx = [], None
    try:
        folders = [os.path.join(work, f"instance{i}") for i in range(options.instances)]
        instances = [start_instance(options.server, folder) for folder in folders]
        status, body = detect(instances[0][1], photo, "reference")
        if status != 200:
            sys.exit(f"the reference answer is {status}")
        expected = corners(body)
        nginx, port = start_nginx(work, [instance_port for _, instance_port in instances])

        run = Run(port, photo, expected, options.requests)
        began = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(options.connections) as pool:
            for index in range(options.requests):
                pool.submit(run.one, index)
            stopped = killed = False
            while run.done < options.requests:
                if chaos and not stopped and run.done >= options.requests // 3:
                    instances[0][0].send_signal(signal.SIGTERM)
                    stopped = True
                if chaos and not killed and run.done >= options.requests // 2:
                    instances[1][0].send_signal(signal.SIGKILL)
                    killed = True
                time.sleep(0.005)
        seconds = time.monotonic() - began

        problems = list(run.failures)
        if chaos:
            code = instances[0][0].wait(timeout=60)
            if code != 0:
                problems.append(f"the instance sent SIGTERM exited with {code}")
        for process, _ in instances:
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                process.wait(timeout=60)
        counts = logged_ids(folders)
        for index in range(options.requests):
            seen = counts.get(f"run-{index}", [])
            if seen != ["200"]:
                problems.append(f"run-{index} is logged {len(seen)} times: {seen}")

        answered = options.requests - len(run.failures)
        print(f"instances {options.instances}{' (one stopped, one killed)' if chaos else ''}: "
              f"sent {options.requests}, answered {answered}, failed {len(run.failures)}, "
              f"{options.requests / seconds:.1f} requests/s over {options.connections} connections")
        for problem in problems[:20]:
            print("  " + problem)
        return 1 if problems else 0
    finally:
        if nginx:
            nginx.send_signal(signal.SIGQUIT)
            nginx.wait(timeout=30)
        for process, _ in instances:
            if process.poll() is None:
                process.kill()
                process.wait()
        if os.environ.get("TARVEK_KEEP_RUN"):
            print("kept in " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
