"""Whether a call lets go of the GIL while it works."""

import sys
import threading
import time


def lets_other_threads_run(call) -> bool:
    """With a switch interval longer than the test, the interpreter never takes the GIL from the
    main thread; the counter thread, which lets go of it at every step, can only count while the
    call runs if the call lets go of it too."""
    counted, stop = [0], threading.Event()

    def count():
        while not stop.is_set():
            counted[0] += 1
            time.sleep(1e-4)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000)
    counter = threading.Thread(target=count)
    try:
        counter.start()
        before = counted[0]
        call()
        after = counted[0]
    finally:
        stop.set()
        counter.join()
        sys.setswitchinterval(interval)
    return after > before
