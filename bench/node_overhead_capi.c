/* The baseline for node_overhead.js: vantoro_protect (both passes) on one
 * page through the C interface, with the bindings' default hiding (layered),
 * timed in a loop after a warm-up. Prints the process's CPU time per call in
 * microseconds: other load on the machine stretches wall time, not this.
 *
 *   node_overhead_capi PAGE|- ITERATIONS      (- for the empty page) */
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <vantoro/vantoro.h>

static const char kCopyright[] = "Example Site:All rights reserved";

static char *read_all(const char *path, size_t *length) {
  FILE *file = fopen(path, "rb");
  char *data = NULL;
  long size;
  if (!file || fseek(file, 0, SEEK_END) != 0 || (size = ftell(file)) < 0 ||
      fseek(file, 0, SEEK_SET) != 0 || !(data = malloc((size_t)size + 1)) ||
      fread(data, 1, (size_t)size, file) != (size_t)size) {
    perror(path);
    exit(1);
  }
  fclose(file);
  *length = (size_t)size;
  return data;
}

static double cpu_us(void) {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

static int run(vantoro_handle *handle, const char *page, size_t length, long calls) {
  char *out;
  size_t out_length;
  long i;
  for (i = 0; i < calls; i++) {
    if (vantoro_protect(handle, page, length, &out, &out_length) != VANTORO_OK) {
      fprintf(stderr, "vantoro: %s\n", vantoro_last_error(handle));
      return -1;
    }
    vantoro_free(out);
  }
  return 0;
}

int main(int argc, char **argv) {
  vantoro_handle *handle;
  char *page;
  size_t length = 0;
  long iterations;
  double start;
  if (argc != 3 || (iterations = atol(argv[2])) <= 0) {
    fprintf(stderr, "usage: %s PAGE|- ITERATIONS\n", argv[0]);
    return 2;
  }
  /* A server's heap stays grown between pages, as Node's does. Left to its
   * defaults, glibc would hand the pass's memory back to the system after
   * every call and fault it in again on the next, which measures the kernel. */
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  page = strcmp(argv[1], "-") == 0 ? calloc(1, 1) : read_all(argv[1], &length);
  if (page == NULL || vantoro_create(&handle) != VANTORO_OK ||
      vantoro_set_copyright(handle, kCopyright, sizeof kCopyright - 1) != VANTORO_OK ||
      vantoro_set_hiding(handle, VANTORO_HIDE_LAYERED, "", 0) != VANTORO_OK) {
    return 1;
  }
  /* The same warm-up as the Node side: the engine keeps its buffers between calls. */
  if (run(handle, page, length, iterations / 10 + 1) != 0) return 1;
  start = cpu_us();
  if (run(handle, page, length, iterations) != 0) return 1;
  printf("%.3f\n", (cpu_us() - start) / (double)iterations);
  vantoro_destroy(handle);
  free(page);
  return 0;
}
