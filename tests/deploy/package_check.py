#!/usr/bin/python3
"""The Debian package as it is shipped: package_check.py tarvek_VERSION_amd64.deb

Unpacks it with dpkg-deb -x, checks its control fields, its files and its
systemd unit, has lintian find no error in it, then starts the unpacked server
with the unit's own command line and settings file (paths taken into the
unpacked tree, port and address the test's own) and asks it for its page,
readiness and version before stopping it with SIGTERM. Prints the package's
size and the time from start to first answer.
"""

import configparser
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

PACKAGE_FILES = [
    "usr/bin/tarvek", "usr/bin/tarvek-server",
    "usr/include/tarvek/documentarea.h", "usr/include/tarvek/reading/reading.h",
    "usr/lib/x86_64-linux-gnu/libtarvek.a",
    "usr/lib/x86_64-linux-gnu/cmake/tarvek/tarvekConfig.cmake",
    "usr/lib/x86_64-linux-gnu/pkgconfig/tarvek.pc",
    "usr/lib/python3/dist-packages/tarvek/__init__.py",
    "usr/share/tarvek/index.html",
    "usr/lib/systemd/system/tarvek.service",
    "etc/default/tarvek",
    "usr/share/doc/tarvek/copyright", "usr/share/doc/tarvek/changelog.gz",
]

# What the unit must say, setting by setting.
UNIT_SETTINGS = {
    "DynamicUser": "yes", "ProtectSystem": "strict", "NoNewPrivileges": "yes", "Restart": "on-failure",
    "LogsDirectory": "tarvek", "StateDirectory": "tarvek", "EnvironmentFile": "-/etc/default/tarvek",
    "ExecReload": "/bin/kill -HUP $MAINPID", "KillSignal": "SIGTERM",
}

problems = []


def check(condition, message):
    if not condition:
        problems.append(message)


def field(deb, name):
    return subprocess.run(["dpkg-deb", "-f", deb, name], check=True, capture_output=True, text=True).stdout.strip()


def check_control(deb):
    version = field(deb, "Version")
    check(os.path.basename(deb) == f"tarvek_{version}_amd64.deb", f"file name {os.path.basename(deb)}")
    check(field(deb, "Architecture") == "amd64", "architecture")
    conffiles = subprocess.run(["dpkg-deb", "--ctrl-tarfile", deb], check=True, capture_output=True).stdout
    check(b"conffiles" in conffiles, "no conffiles")
    # Every dependency is a Debian package by its name, as installed on this machine.
    for dependency in field(deb, "Depends").split(","):
        name = dependency.split()[0]
        known = subprocess.run(["dpkg-query", "-W", name], capture_output=True).returncode == 0
        check(known, f"dependency {name} is not a Debian package here")
    return version


def unit_service(root):
    parser = configparser.ConfigParser(strict=False, interpolation=None)
    parser.optionxform = str
    parser.read(os.path.join(root, "usr/lib/systemd/system/tarvek.service"))
    service = dict(parser["Service"])
    for key, value in UNIT_SETTINGS.items():
        check(service.get(key) == value, f"unit: {key}={service.get(key)}, expected {value}")
    return service


def settings_file(root):
    """The variables /etc/default/tarvek sets, those commented out aside."""
    values = {}
    with open(os.path.join(root, "etc/default/tarvek")) as text:
        for line in text:
            found = re.match(r"^(TARVEK_[A-Z_]+)=(.*)$", line.strip())
            if found:
                values[found.group(1)] = found.group(2)
    return values


def unpacked_command(root, service, logs):
    """ExecStart with the unpacked tree's paths and the logs folder systemd would make."""
    words = shlex.split(service["ExecStart"].replace("${LOGS_DIRECTORY}", logs))
    return [root + word if word.startswith("/usr/") else word for word in words]


def start_unpacked(root, service, work):
    logs, state = os.path.join(work, "logs"), os.path.join(work, "state")
    os.makedirs(logs)
    os.makedirs(state)
    environment = dict(os.environ, **settings_file(root), TARVEK_PORT="0", TARVEK_BIND="127.0.0.1")
    errors = os.path.join(work, "stderr.txt")
    began = time.monotonic()
    process = subprocess.Popen(unpacked_command(root, service, logs), cwd=state, env=environment,
                               stdout=subprocess.DEVNULL, stderr=open(errors, "wb"))
    while time.monotonic() - began < 30 and process.poll() is None:
        found = re.search(rb"running at 127\.0\.0\.1:(\d+)", open(errors, "rb").read())
        if found:
            return process, int(found.group(1)), began, logs
        time.sleep(0.01)
    sys.exit("the unpacked server did not start: " + open(errors).read())


def get(port, path):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=10) as answer:
        return answer.status, answer.read().decode()


def main():
    deb = os.path.abspath(sys.argv[1])
    version = check_control(deb)
    lint = subprocess.run(["lintian", "--fail-on", "error", deb], capture_output=True, text=True)
    check(lint.returncode == 0, "lintian: " + lint.stdout)

    work = tempfile.mkdtemp(prefix="tarvek-package-")
    try:
        root = os.path.join(work, "root")
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        for path in PACKAGE_FILES:
            check(os.path.isfile(os.path.join(root, path)), f"missing {path}")
        service = unit_service(root)

        process, port, began, logs = start_unpacked(root, service, work)
        status, page = get(port, "/")
        first_answer = time.monotonic() - began
        check(status == 200 and "/recognize_receipt" in page, "the page is not the packaged one")
        check(get(port, "/v1/ready") == (200, '{"status":"ready"}'), "not ready")
        check(f'"version":"{version}"' in get(port, "/v1/health")[1], "health names another version")
        process.send_signal(signal.SIGTERM)
        check(process.wait(timeout=30) == 0, "the server did not exit 0 on SIGTERM")
        check(os.path.isfile(os.path.join(logs, "access.log")), "no access.log in the logs folder")

        python = subprocess.run(["/usr/bin/python3", "-c", "import tarvek; print(tarvek.__version__)"],
                                env=dict(os.environ, PYTHONPATH=os.path.join(root, "usr/lib/python3/dist-packages")),
                                capture_output=True, text=True)
        check(python.stdout.strip() == version, "the Python package: " + python.stdout + python.stderr)
        print(f"package {os.path.basename(deb)}: {os.path.getsize(deb) / 1e6:.2f} MB, "
              f"{len(PACKAGE_FILES)} files checked; first answer {first_answer * 1000:.0f} ms after start")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for problem in problems:
        print("  " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
