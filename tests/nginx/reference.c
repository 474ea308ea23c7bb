/* What the C interface makes of a page, for comparison with the nginx module.
 *
 *   reference page|content|protect [--copyright TEXT] [--decoy KIND]
 *             [--hide style|class --site-key KEY] [--charset NAME]
 *             [--values FILE] < page > result
 *   reference stylesheet KEY > stylesheet
 *
 * --values: one random value a line, read with strtod() as the module's test
 * build reads them. Exit 1 with the library's message on failure.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vantoro/vantoro.h"

static void die(const char *what, const char *why) {
  fprintf(stderr, "reference: %s: %s\n", what, why);
  exit(1);
}

static char *slurp(FILE *f, size_t *length) {
  size_t size = 65536, used = 0, n;
  char *data = malloc(size);
  if (data == NULL) die("read", "out of memory");
  while ((n = fread(data + used, 1, size - used, f)) > 0) {
    used += n;
    if (used == size) {
      size *= 2;
      data = realloc(data, size);
      if (data == NULL) die("read", "out of memory");
    }
  }
  *length = used;
  return data;
}

int main(int argc, char **argv) {
  vantoro_handle *h;
  vantoro_status status;
  const char *mode;
  char *page, *out;
  size_t length, out_length;
  double *values = NULL;
  size_t count = 0;
  int i;

  if (argc < 2) die("usage", "reference MODE [OPTIONS] < page");
  mode = argv[1];

  if (strcmp(mode, "stylesheet") == 0) {
    if (argc != 3) die("usage", "reference stylesheet KEY");
    status = vantoro_stylesheet(argv[2], strlen(argv[2]), &out, &out_length);
    if (status != VANTORO_OK) die("vantoro_stylesheet", vantoro_status_name(status));
    fwrite(out, 1, out_length, stdout);
    vantoro_free(out);
    return 0;
  }

  if (vantoro_create(&h) != VANTORO_OK) die("vantoro_create", "failed");

  for (i = 2; i + 1 < argc; i += 2) {
    const char *option = argv[i], *value = argv[i + 1];
    status = VANTORO_OK;
    if (strcmp(option, "--copyright") == 0) {
      status = vantoro_set_copyright(h, value, strlen(value));
    } else if (strcmp(option, "--decoy") == 0) {
      vantoro_decoy_kind kind = strcmp(value, "random") == 0 ? VANTORO_DECOY_RANDOM
                                : strcmp(value, "both") == 0 ? VANTORO_DECOY_BOTH
                                                              : VANTORO_DECOY_COPYRIGHT;
      status = vantoro_set_decoy_kind(h, kind);
    } else if (strcmp(option, "--hide") == 0) {
      if (strcmp(value, "class") == 0) {
        if (i + 3 >= argc || strcmp(argv[i + 2], "--site-key") != 0) {
          die("usage", "--hide class needs --site-key KEY next");
        }
        status = vantoro_set_hiding(h, VANTORO_HIDE_CLASS, argv[i + 3], strlen(argv[i + 3]));
        i += 2;
      } else {
        status = vantoro_set_hiding(h, VANTORO_HIDE_STYLE, NULL, 0);
      }
    } else if (strcmp(option, "--charset") == 0) {
      status = vantoro_set_charset(h, value);
    } else if (strcmp(option, "--values") == 0) {
      FILE *f = fopen(value, "rb");
      char *text, *p, *end;
      size_t text_length, size = 1024;
      if (f == NULL) die(value, "cannot open");
      text = slurp(f, &text_length);
      fclose(f);
      text = realloc(text, text_length + 1);
      if (text == NULL) die("read", "out of memory");
      text[text_length] = '\0';
      values = malloc(size * sizeof *values);
      for (p = text; values != NULL && p < text + text_length; p = end + 1) {
        if (count == size) {
          size *= 2;
          values = realloc(values, size * sizeof *values);
          if (values == NULL) break;
        }
        values[count++] = strtod(p, &end);
        if (end == p) die(value, "bad value");
      }
      if (values == NULL) die("read", "out of memory");
      free(text);
    } else {
      die("unknown option", option);
    }
    if (status != VANTORO_OK) die(option, vantoro_last_error(h));
  }

  if (count && vantoro_replay(h, values, count) != VANTORO_OK) {
    die("vantoro_replay", vantoro_last_error(h));
  }

  page = slurp(stdin, &length);
  if (strcmp(mode, "page") == 0) {
    status = vantoro_protect_page(h, page, length, &out, &out_length);
  } else if (strcmp(mode, "content") == 0) {
    status = vantoro_protect_content(h, page, length, &out, &out_length);
  } else {
    status = vantoro_protect(h, page, length, &out, &out_length);
  }
  if (status != VANTORO_OK) die(mode, vantoro_last_error(h));
  fwrite(out, 1, out_length, stdout);

  vantoro_free(out);
  free(page);
  free(values);
  vantoro_destroy(h);
  return 0;
}
