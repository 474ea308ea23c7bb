/* The baseline for bench.php: the C interface's page pass on one page, timed
 * in a loop. Prints microseconds per call.
 *
 *   bench_capi PAGE|- ITERATIONS      (- for the empty page) */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <vantoro/vantoro.h>

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

static double now_us(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

int main(int argc, char **argv) {
  vantoro_handle *handle;
  char *page, *out;
  size_t length = 0, out_length;
  long iterations, i;
  double start;
  if (argc != 3 || (iterations = atol(argv[2])) <= 0) {
    fprintf(stderr, "usage: %s PAGE|- ITERATIONS\n", argv[0]);
    return 2;
  }
  page = argv[1][0] == '-' && argv[1][1] == '\0' ? calloc(1, 1) : read_all(argv[1], &length);
  if (vantoro_create(&handle) != VANTORO_OK) return 1;
  /* The same warm-up as the PHP side: the engine keeps its buffers between calls. */
  for (i = 0; i < iterations / 10 + 1; i++) {
    if (vantoro_protect_page(handle, page, length, &out, &out_length) != VANTORO_OK) return 1;
    vantoro_free(out);
  }
  start = now_us();
  for (i = 0; i < iterations; i++) {
    if (vantoro_protect_page(handle, page, length, &out, &out_length) != VANTORO_OK) return 1;
    vantoro_free(out);
  }
  printf("%.3f\n", (now_us() - start) / (double)iterations);
  vantoro_destroy(handle);
  free(page);
  return 0;
}
