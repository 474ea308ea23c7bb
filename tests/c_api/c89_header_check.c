/* Compiled as C89 with -pedantic-errors: the C interface must stay usable from
 * the oldest C compilers. Every declaration is used so its types get checked. */
#include "vantoro/vantoro.h"

typedef vantoro_status (*create_fn)(vantoro_handle **);
typedef void (*destroy_fn)(vantoro_handle *);
typedef vantoro_status (*set_copyright_fn)(vantoro_handle *, const char *, size_t);
typedef vantoro_status (*set_decoy_kind_fn)(vantoro_handle *, vantoro_decoy_kind);
typedef vantoro_status (*set_charset_fn)(vantoro_handle *, const char *);
typedef vantoro_status (*protect_fn)(vantoro_handle *, const char *, size_t, char **, size_t *);
typedef void (*free_fn)(char *);
typedef vantoro_status (*replay_fn)(vantoro_handle *, const double *, size_t);
typedef const char *(*last_error_fn)(const vantoro_handle *);
typedef const char *(*status_name_fn)(vantoro_status);
typedef const char *(*version_fn)(void);

int vantoro_c89_header_check(void);

int vantoro_c89_header_check(void) {
  create_fn create = vantoro_create;
  destroy_fn destroy = vantoro_destroy;
  set_copyright_fn set_copyright = vantoro_set_copyright;
  set_decoy_kind_fn set_decoy_kind = vantoro_set_decoy_kind;
  set_charset_fn set_charset = vantoro_set_charset;
  protect_fn page = vantoro_protect_page;
  protect_fn content = vantoro_protect_content;
  protect_fn both = vantoro_protect;
  free_fn release = vantoro_free;
  replay_fn replay = vantoro_replay;
  last_error_fn last_error = vantoro_last_error;
  status_name_fn status_name = vantoro_status_name;
  version_fn version = vantoro_version;
  vantoro_status statuses[7];
  vantoro_decoy_kind kinds[3];
  const char *version_string = VANTORO_VERSION_STRING;
  int version_parts = VANTORO_VERSION_MAJOR + VANTORO_VERSION_MINOR + VANTORO_VERSION_PATCH;

  statuses[0] = VANTORO_OK;
  statuses[1] = VANTORO_NULL_ARGUMENT;
  statuses[2] = VANTORO_INVALID_ARGUMENT;
  statuses[3] = VANTORO_UNKNOWN_CHARSET;
  statuses[4] = VANTORO_REPLAY_EXHAUSTED;
  statuses[5] = VANTORO_OUT_OF_MEMORY;
  statuses[6] = VANTORO_INTERNAL_ERROR;
  kinds[0] = VANTORO_DECOY_COPYRIGHT;
  kinds[1] = VANTORO_DECOY_RANDOM;
  kinds[2] = VANTORO_DECOY_BOTH;

  return (create != 0) + (destroy != 0) + (set_copyright != 0) + (set_decoy_kind != 0) +
         (set_charset != 0) + (page != 0) + (content != 0) + (both != 0) + (release != 0) +
         (replay != 0) + (last_error != 0) + (status_name != 0) + (version != 0) +
         (int)statuses[6] + (int)kinds[2] + (version_string[0] != '\0') + version_parts;
}
