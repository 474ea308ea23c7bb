/* The C interface as a C program sees it: statuses, outputs on failure, byte
 * handling, replay, and handle independence. Frees everything it gets, so it
 * runs clean under ASan and valgrind. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vantoro/vantoro.h"

static int failures = 0;

#define CHECK(cond)                                                        \
  do {                                                                     \
    if (!(cond)) {                                                         \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                          \
    }                                                                      \
  } while (0)

#define CHECK_STATUS(call, expected)                                                \
  do {                                                                              \
    vantoro_status got_ = (call);                                                   \
    if (got_ != (expected)) {                                                       \
      fprintf(stderr, "%s:%d: %s gave %s, expected %s\n", __FILE__, __LINE__, #call, \
              vantoro_status_name(got_), vantoro_status_name(expected));            \
      ++failures;                                                                   \
    }                                                                               \
  } while (0)

/* Something that is neither NULL nor a real result, to see outputs get reset. */
static char sentinel_byte;
#define SENTINEL (&sentinel_byte)
#define SENTINEL_LENGTH ((size_t)12345)

typedef vantoro_status (*protect_fn)(vantoro_handle *, const char *, size_t, char **, size_t *);

static const protect_fn passes[3] = {vantoro_protect_page, vantoro_protect_content,
                                     vantoro_protect};
static const char *const pass_names[3] = {"protect_page", "protect_content", "protect"};

/* The README's example: the content pass on "x</p>y" with copyright "note". */
static const double example_values[20] = {0.75, 0.2272, 0.25, 0.1666, 0.25, 0.25, 0.25,
                                          0.25, 0.25, 0.25, 0.25, 0.25, 0.25, 0.25,
                                          0.25, 0.25, 0.25, 0.0882, 0.4903, 0.0294};
static const char example_input[] = "x</p>y";
static const char example_output[] = "x<span style='z;display:none;;'>.note</span></p>y";

static int contains(const char *haystack, size_t length, const char *needle, size_t needle_length) {
  size_t i;
  if (needle_length > length) return 0;
  for (i = 0; i + needle_length <= length; ++i) {
    if (memcmp(haystack + i, needle, needle_length) == 0) return 1;
  }
  return 0;
}

#define CONTAINS(out, length, literal) contains((out), (length), (literal), sizeof(literal) - 1)

/* A result has one NUL byte just past its length. */
static void check_terminated(const char *out, size_t length) {
  CHECK(out != NULL);
  if (out != NULL) CHECK(out[length] == '\0');
}

/* A protect call that must fail: its outputs go in as garbage and must come
 * back as NULL and 0. A result it should not have made is freed all the same. */
static void expect_failure(int line, protect_fn pass, vantoro_handle *handle, const char *text,
                           size_t length, vantoro_status expected) {
  char *out = SENTINEL;
  size_t out_length = SENTINEL_LENGTH;
  vantoro_status got = pass(handle, text, length, &out, &out_length);
  if (got != expected || out != NULL || out_length != 0) {
    fprintf(stderr, "%s:%d: got %s, out %s, length %lu; expected %s, NULL, 0\n", __FILE__, line,
            vantoro_status_name(got), out == NULL ? "NULL" : "set", (unsigned long)out_length,
            vantoro_status_name(expected));
    ++failures;
  }
  if (out != SENTINEL) vantoro_free(out);
}

#define EXPECT_FAILURE(pass, handle, text, length, expected) \
  expect_failure(__LINE__, (pass), (handle), (text), (length), (expected))

static vantoro_handle *new_handle(void) {
  vantoro_handle *handle = NULL;
  CHECK_STATUS(vantoro_create(&handle), VANTORO_OK);
  CHECK(handle != NULL);
  if (handle == NULL) {
    fprintf(stderr, "cannot continue without a handle\n");
    exit(1);
  }
  return handle;
}

static void test_version(void) {
  char expected[64];
  CHECK(strcmp(vantoro_version(), VANTORO_VERSION_STRING) == 0);
  sprintf(expected, "%d.%d.%d", VANTORO_VERSION_MAJOR, VANTORO_VERSION_MINOR,
          VANTORO_VERSION_PATCH);
  CHECK(strcmp(vantoro_version(), expected) == 0);
}

static void test_status_names(void) {
  CHECK(strcmp(vantoro_status_name(VANTORO_OK), "VANTORO_OK") == 0);
  CHECK(strcmp(vantoro_status_name(VANTORO_NULL_ARGUMENT), "VANTORO_NULL_ARGUMENT") == 0);
  CHECK(strcmp(vantoro_status_name(VANTORO_INVALID_ARGUMENT), "VANTORO_INVALID_ARGUMENT") == 0);
  CHECK(strcmp(vantoro_status_name(VANTORO_UNKNOWN_CHARSET), "VANTORO_UNKNOWN_CHARSET") == 0);
  CHECK(strcmp(vantoro_status_name(VANTORO_REPLAY_EXHAUSTED), "VANTORO_REPLAY_EXHAUSTED") == 0);
  /* Running out of memory and library faults cannot be provoked from here
   * without breaking the allocator under the sanitizers, so only their names. */
  CHECK(strcmp(vantoro_status_name(VANTORO_OUT_OF_MEMORY), "VANTORO_OUT_OF_MEMORY") == 0);
  CHECK(strcmp(vantoro_status_name(VANTORO_INTERNAL_ERROR), "VANTORO_INTERNAL_ERROR") == 0);
  CHECK(strcmp(vantoro_status_name((vantoro_status)7), "VANTORO_UNKNOWN_STATUS") == 0);
  CHECK(strcmp(vantoro_status_name((vantoro_status)-1), "VANTORO_UNKNOWN_STATUS") == 0);
  CHECK(strcmp(vantoro_status_name((vantoro_status)1000), "VANTORO_UNKNOWN_STATUS") == 0);
}

static void test_create_and_release(void) {
  vantoro_handle *handle;
  CHECK_STATUS(vantoro_create(NULL), VANTORO_NULL_ARGUMENT);
  handle = new_handle();
  CHECK(strcmp(vantoro_last_error(handle), "") == 0);
  CHECK(strcmp(vantoro_last_error(NULL), "") == 0);
  vantoro_destroy(handle);
  vantoro_destroy(NULL);
  vantoro_free(NULL);
}

/* Every pointer-taking function refuses a NULL handle, and a protect call
 * resets its outputs even then. */
static void test_null_handle(void) {
  static const double value = 0.5;
  int i;
  CHECK_STATUS(vantoro_set_copyright(NULL, "a", 1), VANTORO_NULL_ARGUMENT);
  CHECK_STATUS(vantoro_set_decoy_kind(NULL, VANTORO_DECOY_BOTH), VANTORO_NULL_ARGUMENT);
  CHECK_STATUS(vantoro_set_charset(NULL, "UTF-8"), VANTORO_NULL_ARGUMENT);
  CHECK_STATUS(vantoro_replay(NULL, &value, 1), VANTORO_NULL_ARGUMENT);
  CHECK_STATUS(vantoro_replay(NULL, NULL, 0), VANTORO_NULL_ARGUMENT);
  for (i = 0; i < 3; ++i) {
    int before = failures;
    EXPECT_FAILURE(passes[i], NULL, "<p>x</p>", 8, VANTORO_NULL_ARGUMENT);
    if (failures != before) fprintf(stderr, "  (in %s)\n", pass_names[i]);
  }
}

static void test_null_pointers(void) {
  vantoro_handle *handle = new_handle();
  int i;
  /* Empty notices: the content pass then leaves a text without markers as it is. */
  CHECK_STATUS(vantoro_set_empty_notices(handle, 1), VANTORO_OK);

  CHECK_STATUS(vantoro_set_copyright(handle, NULL, 3), VANTORO_NULL_ARGUMENT);
  CHECK(strcmp(vantoro_last_error(handle), "") != 0);
  CHECK_STATUS(vantoro_set_charset(handle, NULL), VANTORO_NULL_ARGUMENT);
  CHECK(strcmp(vantoro_last_error(handle), "") != 0);
  CHECK_STATUS(vantoro_replay(handle, NULL, 2), VANTORO_NULL_ARGUMENT);
  CHECK(strcmp(vantoro_last_error(handle), "") != 0);

  /* NULL with length 0 is the empty text, NULL with count 0 ends replay. */
  CHECK_STATUS(vantoro_set_copyright(handle, NULL, 0), VANTORO_OK);
  CHECK_STATUS(vantoro_replay(handle, NULL, 0), VANTORO_OK);

  for (i = 0; i < 3; ++i) {
    char *out = SENTINEL;
    size_t length = SENTINEL_LENGTH;
    int before = failures;
    EXPECT_FAILURE(passes[i], handle, NULL, 5, VANTORO_NULL_ARGUMENT);
    CHECK(strcmp(vantoro_last_error(handle), "") != 0);

    length = SENTINEL_LENGTH;
    CHECK_STATUS(passes[i](handle, "x", 1, NULL, &length), VANTORO_NULL_ARGUMENT);
    CHECK(length == 0);

    out = SENTINEL;
    CHECK_STATUS(passes[i](handle, "x", 1, &out, NULL), VANTORO_NULL_ARGUMENT);
    CHECK(out == NULL);
    if (out != SENTINEL) vantoro_free(out);

    CHECK_STATUS(passes[i](handle, "x", 1, NULL, NULL), VANTORO_NULL_ARGUMENT);

    out = SENTINEL;
    length = SENTINEL_LENGTH;
    CHECK_STATUS(passes[i](handle, NULL, 0, &out, &length), VANTORO_OK);
    check_terminated(out, length);
    vantoro_free(out);
    if (failures != before) fprintf(stderr, "  (in %s)\n", pass_names[i]);
  }

  /* The content pass leaves a text without markers alone, the empty one too. */
  {
    char *out = SENTINEL;
    size_t length = SENTINEL_LENGTH;
    CHECK_STATUS(vantoro_protect_content(handle, NULL, 0, &out, &length), VANTORO_OK);
    CHECK(length == 0);
    check_terminated(out, length);
    vantoro_free(out);
  }
  vantoro_destroy(handle);
}

static void test_exact_replay(void) {
  vantoro_handle *handle = new_handle();
  double twice[40];
  char *out = NULL;
  size_t length = 0;
  memcpy(twice, example_values, sizeof example_values);
  memcpy(twice + 20, example_values, sizeof example_values);

  CHECK_STATUS(vantoro_set_copyright(handle, "note", 4), VANTORO_OK);
  CHECK_STATUS(vantoro_replay(handle, example_values, 20), VANTORO_OK);
  CHECK_STATUS(vantoro_protect_content(handle, example_input, 6, &out, &length), VANTORO_OK);
  CHECK(length == sizeof example_output - 1);
  CHECK(out != NULL && length == strlen(out) && memcmp(out, example_output, length) == 0);
  if (out != NULL && strcmp(out, example_output) != 0) fprintf(stderr, "  got: %s\n", out);
  check_terminated(out, length);
  vantoro_free(out);

  /* All 20 values went into that call: the next one has none left. */
  EXPECT_FAILURE(vantoro_protect_content, handle, example_input, 6, VANTORO_REPLAY_EXHAUSTED);

  /* Values carry over from call to call. */
  CHECK_STATUS(vantoro_replay(handle, twice, 40), VANTORO_OK);
  CHECK_STATUS(vantoro_protect_content(handle, example_input, 6, &out, &length), VANTORO_OK);
  CHECK(out != NULL && length == sizeof example_output - 1 &&
        memcmp(out, example_output, length) == 0);
  vantoro_free(out);
  out = NULL;
  CHECK_STATUS(vantoro_protect_content(handle, example_input, 6, &out, &length), VANTORO_OK);
  CHECK(out != NULL && length == sizeof example_output - 1 &&
        memcmp(out, example_output, length) == 0);
  vantoro_free(out);

  /* Setting replay again starts over from the new values. */
  CHECK_STATUS(vantoro_replay(handle, twice, 40), VANTORO_OK);
  CHECK_STATUS(vantoro_replay(handle, example_values, 20), VANTORO_OK);
  out = NULL;
  CHECK_STATUS(vantoro_protect_content(handle, example_input, 6, &out, &length), VANTORO_OK);
  CHECK(out != NULL && memcmp(out, example_output, sizeof example_output) == 0);
  vantoro_free(out);
  EXPECT_FAILURE(vantoro_protect_content, handle, example_input, 6, VANTORO_REPLAY_EXHAUSTED);

  /* Count 0 goes back to the handle's own source: calls succeed again. */
  CHECK_STATUS(vantoro_replay(handle, NULL, 0), VANTORO_OK);
  out = NULL;
  CHECK_STATUS(vantoro_protect_content(handle, example_input, 6, &out, &length), VANTORO_OK);
  CHECK(out != NULL && contains(out, length, "note", 4));
  vantoro_free(out);
  vantoro_destroy(handle);
}

static void test_replay_exhausted(void) {
  static const double one = 0.5;
  vantoro_handle *handle = new_handle();

  CHECK_STATUS(vantoro_set_copyright(handle, "note", 4), VANTORO_OK);
  CHECK_STATUS(vantoro_replay(handle, &one, 1), VANTORO_OK);
  EXPECT_FAILURE(vantoro_protect_page, handle, "<p>x</p>", 8, VANTORO_REPLAY_EXHAUSTED);
  CHECK(strcmp(vantoro_last_error(handle), "") != 0);
  EXPECT_FAILURE(vantoro_protect, handle, "<p>x</p>", 8, VANTORO_REPLAY_EXHAUSTED);
  vantoro_destroy(handle);
}

/* A call that fails part-way must not use up replayed values: the page pass
 * on a tag needs more than the 20 example values, and after it fails the same
 * 20 still give the example's exact output. */
static void test_failed_call_keeps_replay(void) {
  vantoro_handle *handle = new_handle();
  char *out = NULL;
  size_t length = 0;

  CHECK_STATUS(vantoro_set_copyright(handle, "note", 4), VANTORO_OK);
  CHECK_STATUS(vantoro_replay(handle, example_values, 20), VANTORO_OK);
  EXPECT_FAILURE(vantoro_protect_page, handle, "<p>x</p>", 8, VANTORO_REPLAY_EXHAUSTED);
  CHECK_STATUS(vantoro_protect_content(handle, example_input, 6, &out, &length), VANTORO_OK);
  CHECK(out != NULL && length == sizeof example_output - 1 &&
        memcmp(out, example_output, length) == 0);
  vantoro_free(out);
  vantoro_destroy(handle);
}

static void test_invalid_arguments(void) {
  static const double good = 0.5;
  double bad[3];
  vantoro_handle *handle = new_handle();
  char *out = NULL;
  size_t length = 0;

  bad[0] = 1.0;
  bad[1] = -0.5;
  bad[2] = NAN;

  CHECK_STATUS(vantoro_set_decoy_kind(handle, (vantoro_decoy_kind)0), VANTORO_INVALID_ARGUMENT);
  CHECK(strcmp(vantoro_last_error(handle), "") != 0);
  CHECK_STATUS(vantoro_set_decoy_kind(handle, (vantoro_decoy_kind)4), VANTORO_INVALID_ARGUMENT);
  CHECK_STATUS(vantoro_set_decoy_kind(handle, (vantoro_decoy_kind)-1), VANTORO_INVALID_ARGUMENT);
  CHECK_STATUS(vantoro_set_decoy_kind(handle, VANTORO_DECOY_COPYRIGHT), VANTORO_OK);
  CHECK_STATUS(vantoro_set_decoy_kind(handle, VANTORO_DECOY_RANDOM), VANTORO_OK);
  CHECK_STATUS(vantoro_set_decoy_kind(handle, VANTORO_DECOY_BOTH), VANTORO_OK);

  CHECK_STATUS(vantoro_set_charset(handle, ""), VANTORO_INVALID_ARGUMENT);

  /* A refused replay leaves the previous one in place: the example still
   * comes out exactly, from the example's values. */
  CHECK_STATUS(vantoro_set_decoy_kind(handle, VANTORO_DECOY_COPYRIGHT), VANTORO_OK);
  CHECK_STATUS(vantoro_set_copyright(handle, "note", 4), VANTORO_OK);
  CHECK_STATUS(vantoro_replay(handle, example_values, 20), VANTORO_OK);
  CHECK_STATUS(vantoro_replay(handle, &bad[0], 1), VANTORO_INVALID_ARGUMENT);
  CHECK(strcmp(vantoro_last_error(handle), "") != 0);
  CHECK_STATUS(vantoro_replay(handle, &bad[1], 1), VANTORO_INVALID_ARGUMENT);
  CHECK_STATUS(vantoro_replay(handle, &bad[2], 1), VANTORO_INVALID_ARGUMENT);
  CHECK_STATUS(vantoro_replay(handle, bad, 3), VANTORO_INVALID_ARGUMENT);
  CHECK_STATUS(vantoro_protect_content(handle, example_input, 6, &out, &length), VANTORO_OK);
  CHECK(out != NULL && length == sizeof example_output - 1 &&
        memcmp(out, example_output, length) == 0);
  vantoro_free(out);

  /* One bad value among good ones spoils the whole list. */
  {
    double mixed[2];
    mixed[0] = good;
    mixed[1] = 1.0;
    CHECK_STATUS(vantoro_replay(handle, mixed, 2), VANTORO_INVALID_ARGUMENT);
  }
  vantoro_destroy(handle);
}

/* What the content pass does with a non-ASCII notice in a handle's charset. */
static void content_with(vantoro_handle *handle, char **out, size_t *length) {
  CHECK_STATUS(vantoro_protect_content(handle, "<p>x</p>", 8, out, length), VANTORO_OK);
}

static void test_charsets(void) {
  vantoro_handle *handle = new_handle();
  char *out = NULL;
  size_t length = 0;
  /* "cafe" with an acute e, in UTF-8. */
  CHECK_STATUS(vantoro_set_copyright(handle, "caf\xc3\xa9", 5), VANTORO_OK);

  content_with(handle, &out, &length);
  CHECK(out != NULL && CONTAINS(out, length, "caf\xc3\xa9"));
  vantoro_free(out);

  CHECK_STATUS(vantoro_set_charset(handle, "ISO-8859-1"), VANTORO_OK);
  content_with(handle, &out, &length);
  CHECK(out != NULL && CONTAINS(out, length, "caf\xe9") && !CONTAINS(out, length, "\xc3"));
  vantoro_free(out);

  CHECK_STATUS(vantoro_set_charset(handle, "NO-SUCH-CHARSET"), VANTORO_UNKNOWN_CHARSET);
  CHECK(strcmp(vantoro_last_error(handle), "") != 0);
  CHECK_STATUS(vantoro_set_charset(handle, ""), VANTORO_INVALID_ARGUMENT);

  /* Neither failure changed the charset. */
  content_with(handle, &out, &length);
  CHECK(out != NULL && CONTAINS(out, length, "caf\xe9") && !CONTAINS(out, length, "\xc3"));
  vantoro_free(out);

  /* A refused copyright keeps the one set before. */
  CHECK_STATUS(vantoro_set_copyright(handle, NULL, 7), VANTORO_NULL_ARGUMENT);
  content_with(handle, &out, &length);
  CHECK(out != NULL && CONTAINS(out, length, "caf\xe9"));
  vantoro_free(out);
  vantoro_destroy(handle);
}

static void test_bytes_pass_through(void) {
  static const char with_nul[] = "a\0b<p>x</p>";
  static const char with_nul_upper[] = "a\0b<p>x</P>";
  /* Not UTF-8: a lone lead byte, stray continuation bytes, an impossible byte. */
  static const char invalid[] = "\xc3(<p>\xa0\xa1</p>\xf8z";
  vantoro_handle *handle = new_handle();
  char *out = NULL;
  size_t length = 0;

  CHECK_STATUS(vantoro_set_empty_notices(handle, 1), VANTORO_OK);
  CHECK_STATUS(vantoro_protect_content(handle, with_nul, 11, &out, &length), VANTORO_OK);
  CHECK(length == 11);
  CHECK(out != NULL && memcmp(out, with_nul, 11) == 0);
  check_terminated(out, length);
  vantoro_free(out);

  /* The markers are lower-cased, the rest stays as it was. */
  out = NULL;
  CHECK_STATUS(vantoro_protect_content(handle, with_nul_upper, 11, &out, &length), VANTORO_OK);
  CHECK(length == 11);
  CHECK(out != NULL && memcmp(out, with_nul, 11) == 0);
  vantoro_free(out);

  out = NULL;
  CHECK_STATUS(vantoro_protect_content(handle, invalid, sizeof invalid - 1, &out, &length),
               VANTORO_OK);
  CHECK(length == sizeof invalid - 1);
  CHECK(out != NULL && memcmp(out, invalid, sizeof invalid) == 0);
  vantoro_free(out);

  /* The page pass re-marks the tags but keeps the text bytes. */
  out = NULL;
  CHECK_STATUS(vantoro_protect_page(handle, invalid, sizeof invalid - 1, &out, &length),
               VANTORO_OK);
  CHECK(out != NULL && length > sizeof invalid - 1);
  CHECK(out != NULL && CONTAINS(out, length, "\xc3("));
  CHECK(out != NULL && CONTAINS(out, length, "\xa0\xa1"));
  CHECK(out != NULL && CONTAINS(out, length, "\xf8z"));
  check_terminated(out, length);
  vantoro_free(out);

  out = NULL;
  CHECK_STATUS(vantoro_protect_page(handle, with_nul, 11, &out, &length), VANTORO_OK);
  CHECK(out != NULL && CONTAINS(out, length, "a\0b"));
  check_terminated(out, length);
  vantoro_free(out);
  vantoro_destroy(handle);
}

/* Enough values in [0, 1) for any pass on a small page, spread out evenly. */
static void fill_values(double *values, size_t count) {
  size_t i;
  for (i = 0; i < count; ++i) values[i] = fmod(0.1 + 0.6180339887 * (double)i, 1.0);
}

#define MANY 4096

static void test_page_pass(void) {
  static double values[MANY];
  vantoro_handle *handle = new_handle();
  char *first = NULL;
  char *second = NULL;
  size_t first_length = 0;
  size_t second_length = 0;
  fill_values(values, MANY);

  /* An empty page gets just the watermark. */
  CHECK_STATUS(vantoro_replay(handle, values, MANY), VANTORO_OK);
  CHECK_STATUS(vantoro_protect_page(handle, "", 0, &first, &first_length), VANTORO_OK);
  CHECK(first != NULL && first_length > 5 && memcmp(first, "\r\n<!--", 6) == 0);
  CHECK(first != NULL && CONTAINS(first, first_length, "Vantoro"));
  CHECK(first != NULL && strlen(first) == first_length);
  check_terminated(first, first_length);

  vantoro_free(first);

  /* The same values give the same bytes, tags re-marked and all. */
  first = NULL;
  CHECK_STATUS(vantoro_replay(handle, values, MANY), VANTORO_OK);
  CHECK_STATUS(vantoro_protect_page(handle, "<p>x</p><br><b>y</b>", 20, &first, &first_length),
               VANTORO_OK);
  CHECK_STATUS(vantoro_replay(handle, values, MANY), VANTORO_OK);
  CHECK_STATUS(vantoro_protect_page(handle, "<p>x</p><br><b>y</b>", 20, &second, &second_length),
               VANTORO_OK);
  CHECK(first != NULL && second != NULL && first_length == second_length &&
        memcmp(first, second, first_length) == 0);
  CHECK(first != NULL && first_length > 20 + 6 && CONTAINS(first, first_length, "Vantoro"));
  vantoro_free(first);
  vantoro_free(second);

  /* Both passes: the notice from the content pass, the watermark from the page pass. */
  first = NULL;
  CHECK_STATUS(vantoro_set_copyright(handle, "Zq9Notice", 9), VANTORO_OK);
  CHECK_STATUS(vantoro_protect(handle, "<p>x</p>", 8, &first, &first_length), VANTORO_OK);
  CHECK(first != NULL && CONTAINS(first, first_length, "Zq9Notice"));
  CHECK(first != NULL && CONTAINS(first, first_length, "Vantoro"));
  check_terminated(first, first_length);
  vantoro_free(first);

  /* The page pass alone inserts no notice. */
  first = NULL;
  CHECK_STATUS(vantoro_protect_page(handle, "<p>x</p>", 8, &first, &first_length), VANTORO_OK);
  CHECK(first != NULL && !CONTAINS(first, first_length, "Zq9Notice"));
  vantoro_free(first);
  vantoro_destroy(handle);
}

static void test_decoy_kinds(void) {
  vantoro_handle *handle = new_handle();
  char *out = NULL;
  size_t length = 0;
  CHECK_STATUS(vantoro_set_copyright(handle, "Zq9Notice", 9), VANTORO_OK);

  CHECK_STATUS(vantoro_set_decoy_kind(handle, VANTORO_DECOY_RANDOM), VANTORO_OK);
  {
    /* A random decoy may draw no characters at all (and then is empty); among
     * twenty, some are not. */
    int longer = 0, attempt;
    for (attempt = 0; attempt < 20; ++attempt) {
      CHECK_STATUS(vantoro_protect_content(handle, "<p>x</p>", 8, &out, &length), VANTORO_OK);
      CHECK(out != NULL && !CONTAINS(out, length, "Zq9Notice"));
      longer += out != NULL && length > 8;
      vantoro_free(out);
    }
    CHECK(longer > 0);
  }

  /* A refused kind keeps random decoys. */
  CHECK_STATUS(vantoro_set_decoy_kind(handle, (vantoro_decoy_kind)9), VANTORO_INVALID_ARGUMENT);
  out = NULL;
  CHECK_STATUS(vantoro_protect_content(handle, "<p>x</p>", 8, &out, &length), VANTORO_OK);
  CHECK(out != NULL && !CONTAINS(out, length, "Zq9Notice"));
  vantoro_free(out);

  CHECK_STATUS(vantoro_set_decoy_kind(handle, VANTORO_DECOY_BOTH), VANTORO_OK);
  out = NULL;
  CHECK_STATUS(vantoro_protect_content(handle, "<p>x</p>", 8, &out, &length), VANTORO_OK);
  CHECK(out != NULL && CONTAINS(out, length, "Zq9Notice"));
  vantoro_free(out);

  CHECK_STATUS(vantoro_set_decoy_kind(handle, VANTORO_DECOY_COPYRIGHT), VANTORO_OK);
  out = NULL;
  CHECK_STATUS(vantoro_protect_content(handle, "<p>x</p>", 8, &out, &length), VANTORO_OK);
  CHECK(out != NULL && CONTAINS(out, length, "Zq9Notice"));
  vantoro_free(out);
  vantoro_destroy(handle);
}

static void test_handles_independent(void) {
  static const double one = 0.5;
  vantoro_handle *alpha = new_handle();
  vantoro_handle *beta = new_handle();
  char *out = NULL;
  size_t length = 0;

  CHECK_STATUS(vantoro_set_copyright(alpha, "AlphaNotice", 11), VANTORO_OK);
  CHECK_STATUS(vantoro_set_copyright(beta, "BetaNotice", 10), VANTORO_OK);
  CHECK_STATUS(vantoro_set_decoy_kind(beta, VANTORO_DECOY_BOTH), VANTORO_OK);
  CHECK_STATUS(vantoro_set_charset(alpha, "NO-SUCH-CHARSET"), VANTORO_UNKNOWN_CHARSET);
  /* alpha's replay is nearly empty; beta must not draw from it. */
  CHECK_STATUS(vantoro_replay(alpha, &one, 1), VANTORO_OK);

  CHECK_STATUS(vantoro_protect_content(beta, "<p>x</p>", 8, &out, &length), VANTORO_OK);
  CHECK(out != NULL && CONTAINS(out, length, "BetaNotice") &&
        !CONTAINS(out, length, "AlphaNotice"));
  vantoro_free(out);
  CHECK(strcmp(vantoro_last_error(beta), "") == 0);
  CHECK(strcmp(vantoro_last_error(alpha), "") != 0);

  EXPECT_FAILURE(vantoro_protect_page, alpha, "<p>x</p>", 8, VANTORO_REPLAY_EXHAUSTED);
  CHECK_STATUS(vantoro_replay(alpha, NULL, 0), VANTORO_OK);
  out = NULL;
  CHECK_STATUS(vantoro_protect_content(alpha, "<p>x</p>", 8, &out, &length), VANTORO_OK);
  CHECK(out != NULL && CONTAINS(out, length, "AlphaNotice") &&
        !CONTAINS(out, length, "BetaNotice"));
  vantoro_free(out);

  vantoro_destroy(alpha);
  /* beta still works after alpha is gone. */
  out = NULL;
  CHECK_STATUS(vantoro_protect_content(beta, "<br>", 4, &out, &length), VANTORO_OK);
  CHECK(out != NULL && CONTAINS(out, length, "BetaNotice"));
  vantoro_free(out);
  vantoro_destroy(beta);
}

/* Hiding by class: the stylesheet for a key, decoys carrying a class, and the
 * arguments refused. */
static void test_hiding(void) {
  static const char sheet[] = ".jprdfwdvv,.gjgfjkws,.lzbavqqbd,.bcphlnh{display:none!important}\n"
            ".wcsoju,.sgcbzsudn{position:absolute!important;width:1px!important;height:1px!important;margin:-1px!important;padding:0!important;border:0!important;overflow:hidden!important;clip:rect(0 0 0 0)!important;clip-path:inset(50%)!important;white-space:nowrap!important}\n";
  vantoro_handle *handle = new_handle();
  char *out = SENTINEL;
  size_t length = SENTINEL_LENGTH;
  CHECK_STATUS(vantoro_stylesheet("example.org", 11, &out, &length), VANTORO_OK);
  CHECK(out != NULL && length == sizeof sheet - 1 && memcmp(out, sheet, length) == 0);
  check_terminated(out, length);
  vantoro_free(out);
  CHECK_STATUS(vantoro_stylesheet("", 0, &out, &length), VANTORO_INVALID_ARGUMENT);
  CHECK(out == NULL && length == 0);
  CHECK_STATUS(vantoro_stylesheet(NULL, 3, &out, &length), VANTORO_NULL_ARGUMENT);
  CHECK_STATUS(vantoro_stylesheet("k", 1, NULL, &length), VANTORO_NULL_ARGUMENT);

  if (handle == NULL) return;
  CHECK_STATUS(vantoro_set_copyright(handle, "note", 4), VANTORO_OK);
  CHECK_STATUS(vantoro_set_hiding(NULL, VANTORO_HIDE_CLASS, "k", 1), VANTORO_NULL_ARGUMENT);
  CHECK_STATUS(vantoro_set_hiding(handle, VANTORO_HIDE_CLASS, NULL, 1), VANTORO_NULL_ARGUMENT);
  CHECK_STATUS(vantoro_set_hiding(handle, VANTORO_HIDE_CLASS, "", 0), VANTORO_INVALID_ARGUMENT);
  CHECK_STATUS(vantoro_set_hiding(handle, (vantoro_hide_method)7, "k", 1),
               VANTORO_INVALID_ARGUMENT);
  CHECK_STATUS(vantoro_set_nosnippet(NULL, 1), VANTORO_NULL_ARGUMENT);
  CHECK_STATUS(vantoro_set_hiding(handle, VANTORO_HIDE_CLASS, "example.org", 11), VANTORO_OK);
  CHECK_STATUS(vantoro_set_nosnippet(handle, 1), VANTORO_OK);
  CHECK_STATUS(vantoro_protect_content(handle, "<br>", 4, &out, &length), VANTORO_OK);
  CHECK(CONTAINS(out, length, " data-nosnippet class='"));
  CHECK(!CONTAINS(out, length, "style"));
  vantoro_free(out);
  CHECK_STATUS(vantoro_set_hiding(handle, VANTORO_HIDE_STYLE, NULL, 0), VANTORO_OK);
  CHECK_STATUS(vantoro_set_nosnippet(handle, 0), VANTORO_OK);
  CHECK_STATUS(vantoro_protect_content(handle, "<br>", 4, &out, &length), VANTORO_OK);
  CHECK(CONTAINS(out, length, "<") && CONTAINS(out, length, " style='"));
  CHECK(!CONTAINS(out, length, "data-nosnippet"));
  vantoro_free(out);
  vantoro_destroy(handle);
}

/* Copyright decoys need a text, unless empty notices are asked for. */
static void test_empty_notices(void) {
  vantoro_handle *handle = new_handle();
  char *out = NULL;
  size_t length = 0;
  EXPECT_FAILURE(vantoro_protect_content, handle, "x</p>", 5, VANTORO_INVALID_ARGUMENT);
  CHECK(strcmp(vantoro_last_error(handle),
               "copyright decoys need a copyright text (or random decoys, or empty notices "
               "asked for)") == 0);
  EXPECT_FAILURE(vantoro_protect, handle, "x</p>", 5, VANTORO_INVALID_ARGUMENT);
  CHECK_STATUS(vantoro_set_copyright(handle, ",:", 2), VANTORO_OK);
  EXPECT_FAILURE(vantoro_protect_content, handle, "x</p>", 5, VANTORO_INVALID_ARGUMENT);
  /* The page pass needs no text. */
  CHECK_STATUS(vantoro_protect_page(handle, "x</p>", 5, &out, &length), VANTORO_OK);
  vantoro_free(out);
  CHECK_STATUS(vantoro_set_decoy_kind(handle, VANTORO_DECOY_RANDOM), VANTORO_OK);
  CHECK_STATUS(vantoro_protect_content(handle, "x</p>", 5, &out, &length), VANTORO_OK);
  vantoro_free(out);
  CHECK_STATUS(vantoro_set_decoy_kind(handle, VANTORO_DECOY_COPYRIGHT), VANTORO_OK);
  CHECK_STATUS(vantoro_set_empty_notices(handle, 1), VANTORO_OK);
  CHECK_STATUS(vantoro_protect_content(handle, "x</p>", 5, &out, &length), VANTORO_OK);
  vantoro_free(out);
  vantoro_destroy(handle);
}

/* "auto" reads the page's declaration; the transport's label comes first. */
static void test_charset_detection(void) {
  static const char page[] = "<meta charset=\"gbk\"><p>x</p>";
  /* "版权" in GBK */
  static const char gbk_notice[] = "\xb0\xe6\xc8\xa8";
  vantoro_handle *handle = new_handle();
  char *out = NULL;
  size_t length = 0;

  CHECK(strcmp(vantoro_detect_charset(page, sizeof page - 1, NULL), "GBK") == 0);
  CHECK(strcmp(vantoro_detect_charset(page, sizeof page - 1, "latin1"), "windows-1252") == 0);
  CHECK(strcmp(vantoro_detect_charset(page, sizeof page - 1, "bogus"), "GBK") == 0);
  CHECK(strcmp(vantoro_detect_charset("\xef\xbb\xbf<p>", 6, "GBK"), "UTF-8") == 0);
  CHECK(strcmp(vantoro_detect_charset(NULL, 0, NULL), "UTF-8") == 0);
  CHECK(vantoro_detect_charset(NULL, 3, NULL) == NULL);

  CHECK_STATUS(vantoro_set_copyright(handle, "\xe7\x89\x88\xe6\x9d\x83", 6), VANTORO_OK);
  CHECK_STATUS(vantoro_protect_content(handle, page, sizeof page - 1, &out, &length), VANTORO_OK);
  CHECK(out != NULL && CONTAINS(out, length, gbk_notice));
  vantoro_free(out);

  /* A transport label the system cannot convert to fails the call, nothing else. */
  CHECK_STATUS(vantoro_set_transport_charset(handle, "iso-2022-kr"), VANTORO_OK);
  EXPECT_FAILURE(vantoro_protect, handle, page, sizeof page - 1, VANTORO_UNKNOWN_CHARSET);
  CHECK_STATUS(vantoro_set_transport_charset(handle, NULL), VANTORO_OK);
  CHECK_STATUS(vantoro_protect_content(handle, page, sizeof page - 1, &out, &length), VANTORO_OK);
  CHECK(out != NULL && CONTAINS(out, length, gbk_notice));
  vantoro_free(out);
  vantoro_destroy(handle);
}

static void test_stylesheet_link_and_is_protected(void) {
  static const char page[] = "<html><head><title>t</title></head><p>x</p>";
  vantoro_handle *handle = new_handle();
  char *out = NULL;
  size_t length = 0;

  CHECK_STATUS(vantoro_set_copyright(handle, "note", 4), VANTORO_OK);
  CHECK_STATUS(vantoro_set_stylesheet_link(handle, "/v.css", 6), VANTORO_OK);
  /* Hidden by style: no link. */
  CHECK_STATUS(vantoro_protect_content(handle, page, sizeof page - 1, &out, &length), VANTORO_OK);
  CHECK(out != NULL && !CONTAINS(out, length, "<link"));
  vantoro_free(out);
  CHECK_STATUS(vantoro_set_hiding(handle, VANTORO_HIDE_CLASS, "k1", 2), VANTORO_OK);
  CHECK_STATUS(vantoro_protect(handle, page, sizeof page - 1, &out, &length), VANTORO_OK);
  CHECK(out != NULL && CONTAINS(out, length, "<link rel=\"stylesheet\" href=\"/v.css\"><"));
  CHECK(out != NULL && vantoro_is_protected(out, length));
  CHECK(!vantoro_is_protected(page, sizeof page - 1));
  CHECK(!vantoro_is_protected(NULL, 0));
  vantoro_free(out);
  CHECK_STATUS(vantoro_set_stylesheet_link(handle, "/a\"b", 4), VANTORO_INVALID_ARGUMENT);
  CHECK_STATUS(vantoro_set_stylesheet_link(handle, NULL, 2), VANTORO_NULL_ARGUMENT);
  vantoro_destroy(handle);
}

/* The web adapters' policy, through C. */
static void test_response_policy(void) {
  vantoro_policy *policy = NULL;
  CHECK_STATUS(vantoro_policy_create(&policy), VANTORO_OK);
  if (policy == NULL) return;
  CHECK(vantoro_policy_judge(policy, 200, "text/html", 9, NULL, 0, NULL, 0, 0) ==
        VANTORO_VERDICT_PROTECT);
  CHECK(vantoro_policy_judge(policy, 206, "text/html", 9, NULL, 0, NULL, 0, 1) ==
        VANTORO_VERDICT_STATUS);
  CHECK(vantoro_policy_judge(policy, 200, "text/plain", 10, NULL, 0, NULL, 0, 0) ==
        VANTORO_VERDICT_TYPE);
  CHECK(vantoro_policy_judge(policy, 200, "text/html", 9, "gzip", 4, NULL, 0, 0) ==
        VANTORO_VERDICT_ENCODED);
  CHECK(vantoro_policy_judge(policy, 200, "text/html", 9, NULL, 0, "no-transform", 12, 0) ==
        VANTORO_VERDICT_NO_TRANSFORM);
  CHECK(vantoro_policy_judge(policy, 200, "text/html", 9, NULL, 0, NULL, 0, 1) ==
        VANTORO_VERDICT_RANGE);
  CHECK(vantoro_policy_judge(policy, 200, NULL, 3, NULL, 0, NULL, 0, 0) == VANTORO_VERDICT_ERROR);
  CHECK(vantoro_policy_judge(NULL, 200, NULL, 0, NULL, 0, NULL, 0, 0) == VANTORO_VERDICT_ERROR);

  CHECK_STATUS(vantoro_policy_add_type(policy, "*", 1), VANTORO_INVALID_ARGUMENT);
  CHECK(strstr(vantoro_policy_last_error(policy), "\"*\"") != NULL);
  CHECK_STATUS(vantoro_policy_add_type(policy, "image/png", 9), VANTORO_INVALID_ARGUMENT);
  CHECK_STATUS(vantoro_policy_add_type(policy, "text/plain", 10), VANTORO_OK);
  CHECK(vantoro_policy_judge(policy, 200, "text/plain", 10, NULL, 0, NULL, 0, 0) ==
        VANTORO_VERDICT_PROTECT);

  CHECK(strcmp(vantoro_verdict_name(VANTORO_VERDICT_NO_TRANSFORM), "no_transform") == 0);
  CHECK(strcmp(vantoro_verdict_name((vantoro_verdict)99), "error") == 0);
  CHECK(vantoro_protected_header("ETag", 4) == VANTORO_HEADER_WEAKEN);
  CHECK(vantoro_protected_header("content-length", 14) == VANTORO_HEADER_LENGTH);
  CHECK(vantoro_protected_header("Last-Modified", 13) == VANTORO_HEADER_DROP);
  CHECK(vantoro_protected_header("Vary", 4) == VANTORO_HEADER_KEEP);
  CHECK(vantoro_protected_header(NULL, 4) == VANTORO_HEADER_KEEP);
  {
    /* the length bounds the policy: what follows it is not read */
    const char *csp = "style-src 'unsafe-inline'; style-src-elem 'none'";
    CHECK(vantoro_csp_style_sources(csp, strlen(csp), 0) == VANTORO_STYLES_INLINE);
    CHECK(vantoro_csp_style_sources(csp, strlen(csp), 1) == VANTORO_STYLES_NONE);
    CHECK(vantoro_csp_style_sources(csp, 25, 1) == VANTORO_STYLES_INLINE);
    CHECK(vantoro_csp_style_sources(NULL, 10, 1) == VANTORO_STYLES_INLINE);
  }
  vantoro_policy_destroy(policy);
  vantoro_policy_destroy(NULL);
}

/* Layered hiding with marks: a copy gives the id back under the key only; the
 * reservation meta when asked. */
static void test_layered_marks_and_trace(void) {
  static const char page[] =
      "<html><head><title>t</title></head><body><p>Some words of prose end here. "
      "More words of prose follow them. Then the third sentence of it ends. "
      "A fourth one closes the paragraph.</p><p>A second paragraph has words too. "
      "It ends the article in the end.</p></body></html>";
  static const unsigned char id[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  unsigned char found_id[8];
  size_t agreeing = 0, seen = 0;
  int found = -1;
  vantoro_handle *handle = new_handle();
  char *out = NULL;
  size_t length = 0;
  CHECK_STATUS(vantoro_set_copyright(handle, "Example Site", 12), VANTORO_OK);
  /* Marks need the key first. */
  CHECK_STATUS(vantoro_set_marks(handle, 1), VANTORO_INVALID_ARGUMENT);
  CHECK_STATUS(vantoro_set_hiding(handle, VANTORO_HIDE_LAYERED, "key", 3), VANTORO_OK);
  CHECK_STATUS(vantoro_set_marks(handle, 1), VANTORO_OK);
  CHECK_STATUS(vantoro_set_copy_notices(handle, 1), VANTORO_OK);
  CHECK_STATUS(vantoro_set_mark_id(handle, id), VANTORO_OK);
  CHECK_STATUS(vantoro_set_mark_id(handle, NULL), VANTORO_NULL_ARGUMENT);
  CHECK_STATUS(vantoro_set_tdm_reservation(handle, 1), VANTORO_OK);
  CHECK_STATUS(vantoro_protect(handle, page, sizeof page - 1, &out, &length), VANTORO_OK);
  CHECK(CONTAINS(out, length, "aria-hidden='true'"));
  CHECK(CONTAINS(out, length, "tdm-reservation"));
  CHECK_STATUS(vantoro_trace(out, length, "key", 3, &found, found_id, &agreeing, &seen), VANTORO_OK);
  CHECK(found == 1 && memcmp(found_id, id, 8) == 0 && agreeing > 12 && agreeing <= seen);
  CHECK_STATUS(vantoro_trace(out, length, "other", 5, &found, found_id, &agreeing, &seen),
               VANTORO_OK);
  CHECK(found == 0 && agreeing == 0 && seen == 0);
  CHECK_STATUS(vantoro_trace(out, length, "", 0, &found, found_id, &agreeing, &seen),
               VANTORO_INVALID_ARGUMENT);
  CHECK_STATUS(vantoro_trace(out, length, "key", 3, NULL, found_id, &agreeing, &seen),
               VANTORO_NULL_ARGUMENT);
  vantoro_free(out);
  CHECK_STATUS(vantoro_set_hiding(handle, (vantoro_hide_method)4, "key", 3), VANTORO_INVALID_ARGUMENT);
  vantoro_destroy(handle);
}

int main(void) {
  test_version();
  test_status_names();
  test_create_and_release();
  test_null_handle();
  test_null_pointers();
  test_exact_replay();
  test_replay_exhausted();
  test_failed_call_keeps_replay();
  test_invalid_arguments();
  test_charsets();
  test_bytes_pass_through();
  test_page_pass();
  test_decoy_kinds();
  test_handles_independent();
  test_hiding();
  test_empty_notices();
  test_charset_detection();
  test_stylesheet_link_and_is_protected();
  test_response_policy();
  test_layered_marks_and_trace();
  if (failures != 0) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  printf("c_api: all checks passed\n");
  return 0;
}
