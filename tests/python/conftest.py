import json
import os
import re
import subprocess
import time

import pytest

import tarvek
from photos import PAGES, photographed_page


@pytest.fixture(scope="session")
def cli():
    """Runs the tarvek program of the build tree; answers its standard output."""
    def run(*args):
        return subprocess.run([os.environ["TARVEK_CLI"], *map(str, args), "--quiet"], check=True,
                              capture_output=True, text=True).stdout
    return run


@pytest.fixture(scope="session")
def photo_folder(tmp_path_factory):
    """One PNG per page of PAGES, page0.png..."""
    folder = tmp_path_factory.mktemp("photos")
    for number, corners in enumerate(PAGES):
        image = photographed_page(640, 480, corners, seed=number)
        (folder / f"page{number}.png").write_bytes(tarvek.encode_image(image, "png"))
    return folder


@pytest.fixture(scope="session")
def cli_corners(cli, photo_folder):
    """The corners the tarvek program finds, by file name."""
    lines = [json.loads(line) for line in cli("detect", photo_folder).splitlines()]
    return {os.path.basename(line["path"]): line["corners"] for line in lines}


@pytest.fixture(scope="session")
def server(tmp_path_factory):
    """The tarvek-server of the build tree on a free loopback port; answers its base URL."""
    folder = tmp_path_factory.mktemp("server")
    log = folder / "stderr.txt"
    with open(log, "wb") as err:
        process = subprocess.Popen([os.environ["TARVEK_SERVER"], "0"], cwd=folder, stdout=subprocess.DEVNULL,
                                   stderr=err)
    try:
        deadline = time.monotonic() + 60
        while not (started := re.search(rb"running at 0\.0\.0\.0:(\d+)", log.read_bytes())):
            assert process.poll() is None and time.monotonic() < deadline, log.read_text()
            time.sleep(0.05)
        yield f"http://127.0.0.1:{int(started[1])}"
    finally:
        process.terminate()
        process.wait(timeout=60)
