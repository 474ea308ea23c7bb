/* The engine alone on one page: the time of vantoro_protect() per call, to set
 * against the module's requests per second (bench/nginx_load.sh).
 *
 *   nginx_engine_time PAGE SECONDS
 *
 * Prints "calls N seconds S ms_per_call M cpu_ms_per_call C": wall-clock and
 * processor time, the latter comparable with the worker's processor time per
 * request even on a busy machine.
 */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "vantoro/vantoro.h"

static double seconds_of(clockid_t clock) {
  struct timespec t;
  clock_gettime(clock, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char **argv) {
  FILE *f;
  char *page, *out;
  long size;
  size_t out_length;
  double limit, start, cpu_start, elapsed;
  long calls = 0;
  vantoro_handle *h;
  static const char copyright[] = "Example Site:All rights reserved";

  if (argc != 3) {
    fprintf(stderr, "usage: %s PAGE SECONDS\n", argv[0]);
    return 2;
  }
  limit = atof(argv[2]);
  f = fopen(argv[1], "rb");
  if (f == NULL || fseek(f, 0, SEEK_END) != 0 || (size = ftell(f)) < 0) return 1;
  rewind(f);
  page = malloc((size_t)size);
  if (page == NULL || fread(page, 1, (size_t)size, f) != (size_t)size) return 1;
  fclose(f);

  if (vantoro_create(&h) != VANTORO_OK) return 1;
  vantoro_set_copyright(h, copyright, sizeof copyright - 1);
  /* the module's default, as bench/nginx_load.sh configures it (no key) */
  if (vantoro_set_hiding(h, VANTORO_HIDE_LAYERED, NULL, 0) != VANTORO_OK) return 1;
  start = seconds_of(CLOCK_MONOTONIC);
  cpu_start = seconds_of(CLOCK_PROCESS_CPUTIME_ID);
  do {
    if (vantoro_protect(h, page, (size_t)size, &out, &out_length) != VANTORO_OK) {
      fprintf(stderr, "%s\n", vantoro_last_error(h));
      return 1;
    }
    vantoro_free(out);
    calls++;
    elapsed = seconds_of(CLOCK_MONOTONIC) - start;
  } while (elapsed < limit);
  printf("calls %ld seconds %.2f ms_per_call %.3f cpu_ms_per_call %.3f\n", calls, elapsed,
         elapsed * 1e3 / (double)calls,
         (seconds_of(CLOCK_PROCESS_CPUTIME_ID) - cpu_start) * 1e3 / (double)calls);
  vantoro_destroy(h);
  free(page);
  return 0;
}
