"""Benchmarks of the Python module; prints its figures.

1. What a call through the module costs on top of the same call from C, on a
   page of about 100 KB. The C side is a small driver compiled here against the
   same libvantoro.a the module links.
2. Two threads protecting large pages, each with its own Protector, against
   one thread doing the same work: the GIL is released during a pass.

    /usr/bin/python3 bindings/python/bench.py [BUILD_DIR [PAGE]]

BUILD_DIR is the binding's CMake build folder (default build/python, as
run_tests.sh leaves it). On a busy machine the thread figure drops: compare it
with the load average printed beside it.
"""

import os
import pathlib
import re
import subprocess
import sys
import tempfile
import threading
import time

HERE = pathlib.Path(__file__).resolve().parent
BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else HERE / "../../build/python").resolve()
PAGE = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else "/work/shared/corpus/lwn-1.html")
sys.path.insert(0, str(BUILD))
import vantoro  # noqa: E402

# argv: page, calls, repeats, threads. Each thread protects the page `calls`
# times with its own handle; prints the best wall time of a repetition.
DRIVER = r"""
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include "vantoro/vantoro.h"

static char *page;
static long size, calls;

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

static void *work(void *unused) {
  vantoro_handle *h;
  char *out;
  size_t out_length;
  long i;
  (void)unused;
  if (vantoro_create(&h) != VANTORO_OK) abort();
  for (i = 0; i < calls; ++i) {
    if (vantoro_protect_page(h, page, (size_t)size, &out, &out_length) != VANTORO_OK) abort();
    vantoro_free(out);
  }
  vantoro_destroy(h);
  return NULL;
}

int main(int argc, char **argv) {
  FILE *f = fopen(argv[1], "rb");
  long repeats = atol(argv[3]), threads = atol(argv[4]), r, t;
  double best = 1e9;
  pthread_t ids[16];
  calls = atol(argv[2]);
  if (argc != 5 || f == NULL || threads > 16 || fseek(f, 0, SEEK_END) != 0) return 1;
  size = ftell(f);
  rewind(f);
  page = malloc((size_t)size);
  if (page == NULL || fread(page, 1, (size_t)size, f) != (size_t)size) return 1;
  for (r = 0; r < repeats; ++r) {
    double start = now();
    for (t = 0; t < threads; ++t) pthread_create(&ids[t], NULL, work, NULL);
    for (t = 0; t < threads; ++t) pthread_join(ids[t], NULL);
    if (now() - start < best) best = now() - start;
  }
  printf("%.9f\n", best);
  free(page);
  return 0;
}
"""


class CDriver:
    def __init__(self, work):
        cache = (BUILD / "CMakeCache.txt").read_text()
        source = re.search(r"^VANTORO_SOURCE_DIR:PATH=(.*)$", cache, re.M).group(1)
        self.path = pathlib.Path(work, "driver")
        pathlib.Path(work, "driver.c").write_text(DRIVER)
        subprocess.run(["cc", "-O2", f"-I{source}/include", f"-I{BUILD}/library/include",
                        f"{work}/driver.c", f"{BUILD}/library/libvantoro.a", "-lstdc++", "-lm",
                        "-pthread", "-o", self.path], check=True)

    def seconds(self, page_path, calls, repeats, threads):
        run = subprocess.run([self.path, page_path, str(calls), str(repeats), str(threads)],
                             check=True, capture_output=True, text=True)
        return float(run.stdout)


def python_seconds(text, calls, repeats, threads):
    """The best wall time of `threads` threads each making `calls` calls."""
    def work():
        protector = vantoro.Protector()
        for _ in range(calls):
            protector.protect_page(text)

    best = float("inf")
    for _ in range(repeats):
        workers = [threading.Thread(target=work) for _ in range(threads)]
        start = time.perf_counter()
        for w in workers:
            w.start()
        for w in workers:
            w.join()
        best = min(best, time.perf_counter() - start)
    return best


def overhead(driver, calls=200, repeats=7):
    page = PAGE.read_bytes()
    c = driver.seconds(PAGE, calls, repeats, 1) / calls
    print(f"per call on {PAGE.name} ({len(page) / 1000:.0f} KB), best of {repeats} x {calls}:")
    print(f"  C interface    {c * 1e6:8.1f} us")
    for kind, text in (("bytes", page), ("str", page.decode("utf-8", "replace"))):
        py = python_seconds(text, calls, repeats, 1) / calls
        print(f"  Python, {kind:5}  {py * 1e6:8.1f} us   overhead {(py - c) * 1e6:6.1f} us"
              f" ({(py - c) / c * 100:+.1f} %)")


def threads(driver, work, calls=10, repeats=5):
    large = pathlib.Path(work, "large.html")
    large.write_bytes(PAGE.read_bytes() * 10)
    page = large.read_bytes()
    print(f"{2 * calls} passes over {len(page) / 1e6:.1f} MB, one thread against two "
          f"(load average {os.getloadavg()[0]:.1f}, {os.cpu_count()} cores):")
    for name, run in (("C interface", lambda n, t: driver.seconds(large, n, repeats, t)),
                      ("Python", lambda n, t: python_seconds(page, n, repeats, t))):
        one, two = run(2 * calls, 1), run(calls, 2)
        print(f"  {name:12} {one:6.3f} s  {two:6.3f} s   speedup {one / two:.2f}x")


if __name__ == "__main__":
    with tempfile.TemporaryDirectory() as work:
        driver = CDriver(work)
        overhead(driver)
        threads(driver, work)
