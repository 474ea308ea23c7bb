/* A C program built against the installed library through pkg-config, as a
 * user of the C interface would build one.
 * Usage: c_consumer EXPECTED_VERSION */
#include <stdio.h>
#include <string.h>

#include <vantoro/vantoro.h>

static int failures = 0;

static void check(int ok, const char *what) {
  if (!ok) {
    fprintf(stderr, "c_consumer: FAIL: %s\n", what);
    ++failures;
  }
}

/* The outputs here hold no NUL bytes, so strstr sees all of them. */
static int contains(const char *text, const char *needle) { return strstr(text, needle) != NULL; }

int main(int argc, char **argv) {
  static const char page[] =
      "<!DOCTYPE html>\n<html><head><title>t</title></head>"
      "<body><div class=\"a\"><p>Hello<br>world</p></div></body></html>\n";
  static const char copyright[] = "Example Site:All rights reserved";
  vantoro_handle *h = NULL;
  char *out = NULL;
  size_t out_length = 0;

  if (argc != 2) {
    fprintf(stderr, "usage: c_consumer EXPECTED_VERSION\n");
    return 2;
  }
  check(strcmp(vantoro_version(), argv[1]) == 0, "vantoro_version() is the pkg-config version");
  check(strcmp(vantoro_version(), VANTORO_VERSION_STRING) == 0,
        "vantoro_version() is the installed header's version");

  if (vantoro_create(&h) != VANTORO_OK) {
    fprintf(stderr, "c_consumer: FAIL: vantoro_create\n");
    return 1;
  }

  if (vantoro_protect_page(h, page, sizeof page - 1, &out, &out_length) == VANTORO_OK) {
    check(out_length > sizeof page - 1, "the page pass adds to the page");
    check(strlen(out) == out_length, "the result ends in the NUL byte its length leaves out");
    check(contains(out, "Vantoro"), "the protected page carries the watermark");
    check(strncmp(out, "<!DOCTYPE html>", 15) == 0, "the declaration stays first");
    vantoro_free(out);
  } else {
    fprintf(stderr, "c_consumer: FAIL: vantoro_protect_page: %s\n", vantoro_last_error(h));
    ++failures;
  }

  check(vantoro_set_copyright(h, copyright, sizeof copyright - 1) == VANTORO_OK,
        "vantoro_set_copyright");
  out = NULL;
  if (vantoro_protect(h, page, sizeof page - 1, &out, &out_length) == VANTORO_OK) {
    check(contains(out, "Vantoro"), "both passes: the watermark");
    check(contains(out, "All rights reserved"), "both passes: the copyright decoy");
    vantoro_free(out);
  } else {
    fprintf(stderr, "c_consumer: FAIL: vantoro_protect: %s\n", vantoro_last_error(h));
    ++failures;
  }

  /* Errors come back as a status, with the reason on the handle. */
  check(vantoro_set_charset(h, "no-such-charset") == VANTORO_UNKNOWN_CHARSET,
        "an unknown character set is refused");
  check(vantoro_last_error(h)[0] != '\0', "the refusal is explained");
  check(strcmp(vantoro_status_name(VANTORO_OK), "VANTORO_OK") == 0, "vantoro_status_name");

  vantoro_destroy(h);
  if (failures) return 1;
  printf("c_consumer: ok (%s)\n", vantoro_version());
  return 0;
}
