"""python3 bench/python_threads.py THREADS FILE...: reads, decodes and searches every photo with the
Python package's find_document on THREADS Python threads; prints how many pages were found."""

import sys
from concurrent.futures import ThreadPoolExecutor

import tarvek


def found(path: str) -> bool:
    return tarvek.find_document(tarvek.read_image(path)) is not None


threads = int(sys.argv[1])
if threads > 1:
    tarvek.set_num_threads(1)  # as tarvek detect --jobs 2 does
with ThreadPoolExecutor(threads) as pool:
    print(sum(pool.map(found, sys.argv[2:])))
