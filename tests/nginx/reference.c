/* What the C interface makes of a page, for comparison with the nginx module.
 *
 *   reference page|content|protect [--copyright TEXT] [--decoy KIND]
 *             [--hide style|class|layered] [--site-key KEY] [--link URI]
 *             [--copy-notices N] [--marks 1] [--mark-id ID]
 *             [--tdm-reservation 1] [--charset NAME] [--values FILE]
 *             < page > result
 *   reference stylesheet KEY > stylesheet
 *
 * --values: one random value a line, read with strtod() as the module's test
 * build reads them. --mark-id: decimal or 0x-hex. Exit 1 with the library's message on failure.
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
  const char *copyright = NULL, *site_key = NULL, *link = NULL, *charset = NULL;
  const char *copy_notices = NULL;
  vantoro_decoy_kind kind = VANTORO_DECOY_COPYRIGHT;
  vantoro_hide_method method = VANTORO_HIDE_STYLE;
  int marks = 0, tdm = 0, mark_id_given = 0;
  unsigned char mark_id[8] = {0};

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

  /* read first, then set in the order the module sets them */
  for (i = 2; i + 1 < argc; i += 2) {
    const char *option = argv[i], *value = argv[i + 1];
    if (strcmp(option, "--copyright") == 0) {
      copyright = value;
    } else if (strcmp(option, "--decoy") == 0) {
      kind = strcmp(value, "random") == 0 ? VANTORO_DECOY_RANDOM
             : strcmp(value, "both") == 0 ? VANTORO_DECOY_BOTH
                                           : VANTORO_DECOY_COPYRIGHT;
    } else if (strcmp(option, "--hide") == 0) {
      method = strcmp(value, "class") == 0     ? VANTORO_HIDE_CLASS
               : strcmp(value, "layered") == 0 ? VANTORO_HIDE_LAYERED
                                               : VANTORO_HIDE_STYLE;
    } else if (strcmp(option, "--site-key") == 0) {
      site_key = value;
    } else if (strcmp(option, "--link") == 0) {
      link = value;
    } else if (strcmp(option, "--copy-notices") == 0) {
      copy_notices = value;
    } else if (strcmp(option, "--marks") == 0) {
      marks = atoi(value);
    } else if (strcmp(option, "--mark-id") == 0) {
      unsigned long long id = strtoull(value, NULL, 0);
      int b;
      for (b = 0; b < 8; b++) mark_id[b] = (unsigned char) (id >> (56 - 8 * b));
      mark_id_given = 1;
    } else if (strcmp(option, "--tdm-reservation") == 0) {
      tdm = atoi(value);
    } else if (strcmp(option, "--charset") == 0) {
      charset = value;
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
  }

  status = VANTORO_OK;
  if (copyright) status = vantoro_set_copyright(h, copyright, strlen(copyright));
  if (status == VANTORO_OK) status = vantoro_set_decoy_kind(h, kind);
  if (status == VANTORO_OK && charset) status = vantoro_set_charset(h, charset);
  if (status == VANTORO_OK) {
    status = vantoro_set_hiding(h, method, site_key, site_key ? strlen(site_key) : 0);
  }
  if (status == VANTORO_OK && link) status = vantoro_set_stylesheet_link(h, link, strlen(link));
  if (status == VANTORO_OK && copy_notices) {
    status = vantoro_set_copy_notices(h, (size_t) strtoul(copy_notices, NULL, 10));
  }
  if (status == VANTORO_OK && marks) status = vantoro_set_marks(h, 1);
  if (status == VANTORO_OK && tdm) status = vantoro_set_tdm_reservation(h, 1);
  if (status == VANTORO_OK && mark_id_given) status = vantoro_set_mark_id(h, mark_id);
  if (status != VANTORO_OK) die("options", vantoro_last_error(h));

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
