/*
 * Vantoro for Apache httpd 2.4: the output filter VANTORO protects whole
 * HTML responses through the C interface of libvantoro, whatever produced
 * them (files, CGI, PHP, mod_proxy, FastCGI, ...), and the handler
 * "vantoro-stylesheet" serves the stylesheet that hides decoys by class.
 *
 * Which responses are protected, and what that does to their headers, is the
 * library's response policy (vantoro_policy_judge, vantoro_protected_header),
 * the same for every adapter.  What only a server can add:
 *
 *  - No handler or backend sees Range, If-Range, Request-Range or
 *    Accept-Encoding in a protected scope, so none can answer with a slice
 *    of an original page or with one compressed past the filter.  A small
 *    filter right behind this one puts Accept-Encoding back for mod_deflate,
 *    and the range headers too when the response is not protected.
 *  - A 304 of a page that would be protected carries the protected page's
 *    validators, whoever made it (httpd, a script, a backend), however the
 *    filter was added, and with or without a Content-Type.
 *  - The filter runs after the resource filters (SSI, substitutions, INFLATE)
 *    and before mod_deflate, so clients that accept gzip get the protected
 *    page compressed.
 *  - The body is held until its end (FLUSH buckets included), protected in
 *    one call and sent with its length; HEAD gets the headers a GET gets.
 *  - VANTORO_STATUS (environment) and vantoro-status (note) say why a
 *    response went out as it did, for LogFormat.
 */

#include "apr_general.h"
#include "apr_lib.h"
#include "apr_md5.h"
#include "apr_strings.h"

#include "ap_config.h"
#include "ap_expr.h"
#include "httpd.h"
#include "http_config.h"
#include "http_core.h"
#include "http_log.h"
#include "http_protocol.h"
#include "http_request.h"
#include "util_filter.h"

#include <stdlib.h>
#include <string.h>

#include <vantoro/vantoro.h>


module AP_MODULE_DECLARE_DATA vantoro_module;

#ifdef APLOG_USE_MODULE
APLOG_USE_MODULE(vantoro);
#endif


#define VANTORO_FILTER          "VANTORO"
#define VANTORO_RESTORE_FILTER  "VANTORO_RESTORE"
#define VANTORO_HANDLER         "vantoro-stylesheet"

#define VANTORO_UNSET           -1

#define VANTORO_PASS_PAGE       1
#define VANTORO_PASS_CONTENT    2
#define VANTORO_PASS_BOTH       3

#define VANTORO_HIDE_STYLE_     1
#define VANTORO_HIDE_CLASS_     2
#define VANTORO_HIDE_AUTO_      3
#define VANTORO_HIDE_LAYERED_   4

/* how one response's decoys hide */

#define VANTORO_BY_STYLE        0
#define VANTORO_BY_CLASS        1
#define VANTORO_BY_ELEMENT      2   /* layered, rules in a <style> */
#define VANTORO_BY_LINK         3   /* layered, rules linked */
#define VANTORO_NO_WAY          4

/*
 * The module's own verdict beside the library's: the response's policy
 * forbids every way this scope has to hide decoys, which would show.
 */
#define VANTORO_VERDICT_CSP     ((vantoro_verdict) 100)

#define VANTORO_DEFAULT_MAX     ((apr_off_t) 8 * 1024 * 1024)
#define VANTORO_LABEL_LEN       64
#define VANTORO_REPLAY_MAX      (16 * 1024 * 1024)

/*
 * The request headers no handler sees in a protected scope.  The first goes
 * back for every response (mod_deflate reads it after this filter); the
 * others only for responses that are not protected.
 */
static const char *const vantoro_stripped[] = {
    "Accept-Encoding", "Range", "If-Range", "Request-Range"
};
#define VANTORO_STRIPPED        4
#define VANTORO_STASH_KEY       "vantoro-stripped-headers"


typedef struct {
    int                 enable;          /* Vantoro On|Off, or unset */
    int                 pass;            /* 0: unset */
    int                 decoy;           /* 0: unset */
    int                 hide;            /* 0: unset */
    int                 nosnippet;
    int                 marks;
    int                 copy_notices;
    apr_off_t           max_size;
    const char         *copyright;       /* NULL: unset */
    const char         *charset;
    const char         *site_key;
    const char         *stylesheet_uri;
    vantoro_policy     *policy;          /* NULL: text/html only */
    apr_array_header_t *bypass;          /* ap_expr_info_t *, or NULL */
    const char         *where;           /* file:line, for messages */
#ifdef VANTORO_APACHE_TEST
    apr_array_header_t *replay;          /* double, or NULL */
#endif
} vantoro_conf;


/* What the filters of one request share. */

typedef struct {
    ap_filter_t        *owner;       /* the VANTORO instance that judges */
    int                 started;     /* the response reached the filter */
    int                 protecting;  /* its ranges stay off */
} vantoro_state;


/* The headers taken from the request, kept in its pool, which internal
 * redirects share. */

typedef struct {
    const char         *value[VANTORO_STRIPPED];
} vantoro_stash;


/* One response being protected. */

typedef struct {
    vantoro_conf       *conf;
    char               *data;        /* the body held so far (malloc) */
    apr_size_t          len;
    apr_size_t          size;
    int                 way;
    int                 head;        /* HEAD: headers only */
} vantoro_ctx;


static ap_filter_rec_t *vantoro_filter_handle;
static ap_filter_rec_t *vantoro_restore_handle;

/* the policy of scopes without VantoroTypes, made for each configuration */
static vantoro_policy  *vantoro_html_policy;

/* setups that leak or break pages: said once per process */
static int  vantoro_warned_encoded;
static int  vantoro_warned_csp;


/* ---- Configuration ------------------------------------------------------ */


static apr_status_t
vantoro_destroy_policy(void *data)
{
    vantoro_policy_destroy(data);
    return APR_SUCCESS;
}


static void *
vantoro_create_conf(apr_pool_t *p, char *dir)
{
    vantoro_conf  *conf;

    (void) dir;

    conf = apr_pcalloc(p, sizeof(vantoro_conf));
    conf->enable = VANTORO_UNSET;
    conf->nosnippet = VANTORO_UNSET;
    conf->marks = VANTORO_UNSET;
    conf->copy_notices = VANTORO_UNSET;
    conf->max_size = VANTORO_UNSET;

    return conf;
}


#define vantoro_merge_int(field) \
    conf->field = add->field != VANTORO_UNSET ? add->field : base->field
#define vantoro_merge_ptr(field) \
    conf->field = add->field ? add->field : base->field

static void *
vantoro_merge_conf(apr_pool_t *p, void *basev, void *addv)
{
    vantoro_conf  *base = basev, *add = addv, *conf;

    conf = apr_pcalloc(p, sizeof(vantoro_conf));

    vantoro_merge_int(enable);
    vantoro_merge_ptr(pass);
    vantoro_merge_ptr(decoy);
    vantoro_merge_ptr(hide);
    vantoro_merge_int(nosnippet);
    vantoro_merge_int(marks);
    vantoro_merge_int(copy_notices);
    vantoro_merge_int(max_size);
    vantoro_merge_ptr(copyright);
    vantoro_merge_ptr(charset);
    vantoro_merge_ptr(site_key);
    vantoro_merge_ptr(stylesheet_uri);
    vantoro_merge_ptr(policy);
    vantoro_merge_ptr(bypass);
    vantoro_merge_ptr(where);
#ifdef VANTORO_APACHE_TEST
    vantoro_merge_ptr(replay);
#endif

    return conf;
}


/* The settings in force, defaults filled in. */

static int
vantoro_pass(const vantoro_conf *conf)
{
    return conf->pass ? conf->pass : VANTORO_PASS_BOTH;
}

static int
vantoro_hide(const vantoro_conf *conf)
{
    return conf->hide ? conf->hide : VANTORO_HIDE_LAYERED_;
}

static const char *
vantoro_key(const vantoro_conf *conf)
{
    return conf->site_key ? conf->site_key : "";
}

static const char *
vantoro_uri(const vantoro_conf *conf)
{
    return conf->stylesheet_uri ? conf->stylesheet_uri : "";
}

/* marks default to on where decoys are layered and a key names them */

static int
vantoro_marking(const vantoro_conf *conf)
{
    if (conf->marks != VANTORO_UNSET) {
        return conf->marks;
    }

    return vantoro_hide(conf) == VANTORO_HIDE_LAYERED_ && *vantoro_key(conf);
}

static apr_off_t
vantoro_max_size(const vantoro_conf *conf)
{
    return conf->max_size != VANTORO_UNSET ? conf->max_size
                                           : VANTORO_DEFAULT_MAX;
}


/* Where the section's first Vantoro directive stands, for check messages. */

static void
vantoro_where(cmd_parms *cmd, vantoro_conf *conf)
{
    if (conf->where == NULL && cmd->directive && cmd->directive->filename) {
        conf->where = apr_psprintf(cmd->pool, "%s:%d",
                                   cmd->directive->filename,
                                   cmd->directive->line_num);
    }
}


typedef struct {
    const char  *name;
    int          value;
} vantoro_choice;

static const vantoro_choice vantoro_passes[] = {
    { "page", VANTORO_PASS_PAGE },
    { "content", VANTORO_PASS_CONTENT },
    { "both", VANTORO_PASS_BOTH },
    { "protect", VANTORO_PASS_BOTH },   /* the nginx module's name */
    { NULL, 0 }
};

static const vantoro_choice vantoro_decoys[] = {
    { "copyright", VANTORO_DECOY_COPYRIGHT },
    { "random", VANTORO_DECOY_RANDOM },
    { "both", VANTORO_DECOY_BOTH },
    { NULL, 0 }
};

static const vantoro_choice vantoro_hides[] = {
    { "layered", VANTORO_HIDE_LAYERED_ },
    { "style", VANTORO_HIDE_STYLE_ },
    { "class", VANTORO_HIDE_CLASS_ },
    { "auto", VANTORO_HIDE_AUTO_ },
    { NULL, 0 }
};


/* An enumerated setting, the choices named when the value is none of them. */

static const char *
vantoro_choose(cmd_parms *cmd, vantoro_conf *conf, const char *arg,
               const vantoro_choice *choices, int *field)
{
    const vantoro_choice  *c;
    char                  *names;

    for (c = choices; c->name; c++) {
        if (strcasecmp(c->name, arg) == 0) {
            *field = c->value;
            vantoro_where(cmd, conf);
            return NULL;
        }
    }

    names = "";

    for (c = choices; c->name; c++) {
        /* the nginx module's alias is accepted, not advertised */
        if (strcmp(c->name, "protect") == 0) {
            continue;
        }

        names = apr_pstrcat(cmd->temp_pool, names, *names ? ", " : "",
                            c->name, NULL);
    }

    return apr_psprintf(cmd->pool, "invalid value \"%s\" for %s: it must be "
                        "one of %s", arg, cmd->cmd->name, names);
}

static const char *
vantoro_cmd_pass(cmd_parms *cmd, void *confv, const char *arg)
{
    vantoro_conf  *conf = confv;

    return vantoro_choose(cmd, conf, arg, vantoro_passes, &conf->pass);
}

static const char *
vantoro_cmd_decoy(cmd_parms *cmd, void *confv, const char *arg)
{
    vantoro_conf  *conf = confv;

    return vantoro_choose(cmd, conf, arg, vantoro_decoys, &conf->decoy);
}

static const char *
vantoro_cmd_hide(cmd_parms *cmd, void *confv, const char *arg)
{
    vantoro_conf  *conf = confv;

    return vantoro_choose(cmd, conf, arg, vantoro_hides, &conf->hide);
}


/*
 * The engine's own judgement of a directive's text, now rather than on every
 * response: a handle is given the setting, and its message is the refusal.
 */

typedef vantoro_status (*vantoro_setter)(vantoro_handle *h, const char *value);

static vantoro_status
vantoro_try_copyright(vantoro_handle *h, const char *value)
{
    return vantoro_set_copyright(h, value, strlen(value));
}

static vantoro_status
vantoro_try_charset(vantoro_handle *h, const char *value)
{
    return vantoro_set_charset(h, value);
}

static vantoro_status
vantoro_try_link(vantoro_handle *h, const char *value)
{
    return vantoro_set_stylesheet_link(h, value, strlen(value));
}

static const char *
vantoro_check(apr_pool_t *p, const char *what, const char *value,
              vantoro_setter set)
{
    vantoro_handle  *h = NULL;
    vantoro_status   status;
    const char      *err = NULL;

    status = vantoro_create(&h);
    if (status == VANTORO_OK) {
        status = set(h, value);
    }

    if (status != VANTORO_OK) {
        err = apr_psprintf(p, "invalid %s \"%s\": %s", what, value,
                           h ? vantoro_last_error(h)
                             : vantoro_status_name(status));
    }

    vantoro_destroy(h);

    return err;
}


static const char *
vantoro_cmd_enable(cmd_parms *cmd, void *confv, int on)
{
    vantoro_conf  *conf = confv;

    conf->enable = on;
    vantoro_where(cmd, conf);

    return NULL;
}


/* On|Off settings that are plain flags of the engine */

static const char *
vantoro_cmd_nosnippet(cmd_parms *cmd, void *confv, int on)
{
    ((vantoro_conf *) confv)->nosnippet = on;
    vantoro_where(cmd, confv);
    return NULL;
}

static const char *
vantoro_cmd_marks(cmd_parms *cmd, void *confv, int on)
{
    ((vantoro_conf *) confv)->marks = on;
    vantoro_where(cmd, confv);
    return NULL;
}


/*
 * The one argument of a text setting, which may be "" (no copyright text, no
 * key, no link where a wider scope has one); httpd's TAKE1 refuses that.
 */

static const char *
vantoro_word(cmd_parms *cmd, const char *args, const char **word)
{
    while (apr_isspace(*args)) {
        args++;
    }

    if (*args) {
        *word = ap_getword_conf(cmd->pool, &args);

        while (apr_isspace(*args)) {
            args++;
        }
    }

    if (*args || *word == NULL) {
        return apr_pstrcat(cmd->pool, cmd->cmd->name, " takes one argument, ",
                           cmd->cmd->errmsg, NULL);
    }

    return NULL;
}


static const char *
vantoro_cmd_copyright(cmd_parms *cmd, void *confv, const char *args)
{
    vantoro_conf  *conf = confv;
    const char    *err, *arg = NULL;

    err = vantoro_word(cmd, args, &arg);
    if (err) {
        return err;
    }

    err = vantoro_check(cmd->pool, "copyright text", arg,
                        vantoro_try_copyright);
    if (err) {
        return err;
    }

    conf->copyright = arg;
    vantoro_where(cmd, conf);

    return NULL;
}


static const char *
vantoro_cmd_charset(cmd_parms *cmd, void *confv, const char *arg)
{
    vantoro_conf  *conf = confv;
    const char    *err;

    err = vantoro_check(cmd->pool, "character set", arg, vantoro_try_charset);
    if (err) {
        return err;
    }

    conf->charset = arg;
    vantoro_where(cmd, conf);

    return NULL;
}


static const char *
vantoro_cmd_site_key(cmd_parms *cmd, void *confv, const char *args)
{
    vantoro_conf  *conf = confv;
    const char    *err, *arg = NULL;

    err = vantoro_word(cmd, args, &arg);
    if (err) {
        return err;
    }

    conf->site_key = arg;
    vantoro_where(cmd, conf);

    return NULL;
}


static const char *
vantoro_cmd_stylesheet_uri(cmd_parms *cmd, void *confv, const char *args)
{
    vantoro_conf  *conf = confv;
    const char    *err, *arg = NULL;

    err = vantoro_word(cmd, args, &arg);
    if (err) {
        return err;
    }

    if (*arg) {
        err = vantoro_check(cmd->pool, "VantoroStylesheetUri", arg,
                            vantoro_try_link);
        if (err) {
            return err;
        }
    }

    conf->stylesheet_uri = arg;
    vantoro_where(cmd, conf);

    return NULL;
}


/* A size in bytes, with k, m or g after it as in "8m". */

static const char *
vantoro_cmd_max_size(cmd_parms *cmd, void *confv, const char *arg)
{
    vantoro_conf  *conf = confv;
    apr_off_t      size, unit;
    char          *end;

    if (apr_strtoff(&size, arg, &end, 10) != APR_SUCCESS || end == arg
        || size <= 0)
    {
        goto invalid;
    }

    switch (apr_tolower(*end)) {
    case '\0': unit = 1; break;
    case 'k': unit = 1024; end++; break;
    case 'm': unit = 1024 * 1024; end++; break;
    case 'g': unit = 1024 * 1024 * 1024; end++; break;
    default: goto invalid;
    }

    if (*end || size > APR_INT64_MAX / unit) {
        goto invalid;
    }

    conf->max_size = size * unit;
    vantoro_where(cmd, conf);

    return NULL;

invalid:

    return apr_psprintf(cmd->pool, "invalid VantoroMaxSize \"%s\": a size "
                        "in bytes, with k, m or g after it, is expected", arg);
}


static const char *
vantoro_cmd_copy_notices(cmd_parms *cmd, void *confv, const char *arg)
{
    vantoro_conf  *conf = confv;
    char          *end;
    long           n;

    n = strtol(arg, &end, 10);

    if (end == arg || *end || n < 0 || n > 1000000) {
        return apr_psprintf(cmd->pool, "invalid VantoroCopyNotices \"%s\": "
                            "a number from 0 is expected", arg);
    }

    conf->copy_notices = (int) n;
    vantoro_where(cmd, conf);

    return NULL;
}


/* VantoroTypes: each type checked by the library as it is added. */

static const char *
vantoro_cmd_types(cmd_parms *cmd, void *confv, const char *arg)
{
    vantoro_conf  *conf = confv;

    if (conf->policy == NULL) {
        if (vantoro_policy_create(&conf->policy) != VANTORO_OK) {
            return "VantoroTypes: out of memory";
        }

        apr_pool_cleanup_register(cmd->pool, conf->policy,
                                  vantoro_destroy_policy,
                                  apr_pool_cleanup_null);
    }

    if (vantoro_policy_add_type(conf->policy, arg, strlen(arg))
        != VANTORO_OK)
    {
        return apr_pstrdup(cmd->pool,
                           vantoro_policy_last_error(conf->policy));
    }

    vantoro_where(cmd, conf);

    return NULL;
}


/*
 * VantoroBypass: an expression (ap_expr, as in <If>); when any of the
 * scope's is true, the response passes unchanged.
 */

static const char *
vantoro_cmd_bypass(cmd_parms *cmd, void *confv, const char *arg)
{
    vantoro_conf    *conf = confv;
    ap_expr_info_t  *expr;
    const char      *err = NULL;

    expr = ap_expr_parse_cmd(cmd, arg, 0, &err, NULL);
    if (err) {
        return apr_psprintf(cmd->pool, "cannot parse VantoroBypass "
                            "expression \"%s\": %s", arg, err);
    }

    if (conf->bypass == NULL) {
        conf->bypass = apr_array_make(cmd->pool, 2, sizeof(ap_expr_info_t *));
    }

    *(ap_expr_info_t **) apr_array_push(conf->bypass) = expr;
    vantoro_where(cmd, conf);

    return NULL;
}


#ifdef VANTORO_APACHE_TEST

/* Test builds only: every response takes its random draws from a file. */

static const char *
vantoro_cmd_replay(cmd_parms *cmd, void *confv, const char *arg)
{
    vantoro_conf  *conf = confv;
    apr_file_t    *file;
    apr_size_t     n;
    apr_status_t   rv;
    char          *text, *p, *end, *last;

    rv = apr_file_open(&file, arg, APR_FOPEN_READ, APR_OS_DEFAULT,
                       cmd->temp_pool);
    if (rv != APR_SUCCESS) {
        return apr_psprintf(cmd->pool, "cannot open \"%s\"", arg);
    }

    text = apr_palloc(cmd->temp_pool, VANTORO_REPLAY_MAX + 1);
    n = VANTORO_REPLAY_MAX;
    rv = apr_file_read_full(file, text, n, &n);
    apr_file_close(file);

    if (rv != APR_SUCCESS && rv != APR_EOF) {
        return apr_psprintf(cmd->pool, "cannot read \"%s\"", arg);
    }

    /* one value a line, read with strtod() as the C interface's users do */

    last = text + n;
    *last = '\0';
    conf->replay = apr_array_make(cmd->pool, 1024, sizeof(double));

    for (p = text; p < last; p = end + 1) {
        *(double *) apr_array_push(conf->replay) = strtod(p, &end);

        if (end == p || (end < last && *end != '\n')) {
            return apr_psprintf(cmd->pool, "bad random value in \"%s\" at "
                                "byte %ld", arg, (long) (p - text));
        }
    }

    return NULL;
}

#endif


/*
 * Settings no single directive can judge, checked for every section in
 * which protection is on (or configured for AddOutputFilterByType).
 */

static const char *
vantoro_check_notices(apr_pool_t *p, const vantoro_conf *conf)
{
    char            *out = NULL;
    size_t           out_len;
    vantoro_handle  *h = NULL;
    vantoro_status   status;
    const char      *text, *err = NULL;

    text = conf->copyright ? conf->copyright : "";

    status = vantoro_create(&h);

    if (status == VANTORO_OK) {
        status = vantoro_set_copyright(h, text, strlen(text));
    }

    if (status == VANTORO_OK && conf->decoy) {
        status = vantoro_set_decoy_kind(h, (vantoro_decoy_kind) conf->decoy);
    }

    if (status == VANTORO_OK) {
        status = vantoro_protect_content(h, "", 0, &out, &out_len);
        vantoro_free(out);
    }

    if (status != VANTORO_OK) {
        err = apr_psprintf(p, "%s; set VantoroCopyright",
                           h ? vantoro_last_error(h)
                             : vantoro_status_name(status));
    }

    vantoro_destroy(h);

    return err;
}


static const char *
vantoro_problem(apr_pool_t *p, const vantoro_conf *conf)
{
    int          hide, linked;
    const char  *name;

    hide = vantoro_hide(conf);
    linked = hide == VANTORO_HIDE_CLASS_ || hide == VANTORO_HIDE_AUTO_;
    name = hide == VANTORO_HIDE_CLASS_ ? "class" : "auto";

    if (linked && *vantoro_key(conf) == '\0') {
        return apr_psprintf(p, "\"VantoroHide %s\" needs VantoroSiteKey",
                            name);
    }

    /* the linked stylesheet names its classes after the key */

    if (hide == VANTORO_HIDE_LAYERED_ && *vantoro_uri(conf)
        && *vantoro_key(conf) == '\0')
    {
        return "VantoroStylesheetUri with \"VantoroHide layered\" needs "
               "VantoroSiteKey";
    }

    if (conf->marks == 1 && *vantoro_key(conf) == '\0') {
        return "\"VantoroMarks On\" needs VantoroSiteKey";
    }

    if (linked && *vantoro_uri(conf) == '\0') {
        return apr_psprintf(p, "\"VantoroHide %s\" needs "
                            "VantoroStylesheetUri", name);
    }

    /* the engine refuses notices without a text: so does apachectl -t */

    if (vantoro_pass(conf) != VANTORO_PASS_PAGE) {
        return vantoro_check_notices(p, conf);
    }

    return NULL;
}


/*
 * A section's settings over those around it.  Sections are merged with
 * their server's settings and the sections they stand in, as written; a
 * request can meet several that do not nest (a <Directory> and a
 * <Location>), which is checked again when a response is protected.
 */

static const char *
vantoro_check_vector(apr_pool_t *p, const vantoro_conf *base,
                     ap_conf_vector_t *vector);

static const char *
vantoro_check_sections(apr_pool_t *p, const vantoro_conf *base,
                       apr_array_header_t *sections)
{
    int          i;
    const char  *err;

    for (i = 0; sections && i < sections->nelts; i++) {
        err = vantoro_check_vector(p, base,
                                   ((ap_conf_vector_t **) sections->elts)[i]);
        if (err) {
            return err;
        }
    }

    return NULL;
}

static const char *
vantoro_check_vector(apr_pool_t *p, const vantoro_conf *base,
                     ap_conf_vector_t *vector)
{
    vantoro_conf     *own, *conf;
    core_dir_config  *core;
    const char       *err;
    int               configured;

    own = ap_get_module_config(vector, &vantoro_module);

    if (own == NULL) {
        conf = (vantoro_conf *) base;

    } else if (base == NULL) {
        conf = own;

    } else {
        conf = vantoro_merge_conf(p, (void *) base, own);
    }

    if (conf) {
        /* the filter may be added by AddOutputFilterByType alone */
        configured = conf->enable == VANTORO_UNSET
                     && (conf->copyright || conf->pass || conf->decoy
                         || conf->hide);

        if (conf->enable == 1 || configured) {
            err = vantoro_problem(p, conf);
            if (err) {
                return apr_psprintf(p, "%s%s%s", conf->where ? conf->where : "",
                                    conf->where ? ": " : "", err);
            }
        }
    }

    core = ap_get_core_module_config(vector);

    if (core) {
        err = vantoro_check_sections(p, conf, core->sec_file);
        if (err) {
            return err;
        }

        err = vantoro_check_sections(p, conf, core->sec_if);
        if (err) {
            return err;
        }
    }

    return NULL;
}


static int
vantoro_check_config(apr_pool_t *pconf, apr_pool_t *plog, apr_pool_t *ptemp,
                     server_rec *s)
{
    vantoro_conf        *base;
    core_server_config  *core;
    const char          *err;

    (void) pconf;
    (void) plog;

    for ( /* void */ ; s; s = s->next) {
        err = vantoro_check_vector(ptemp, NULL, s->lookup_defaults);

        if (err == NULL) {
            base = ap_get_module_config(s->lookup_defaults, &vantoro_module);
            core = ap_get_core_module_config(s->module_config);

            err = vantoro_check_sections(ptemp, base, core->sec_dir);

            if (err == NULL) {
                err = vantoro_check_sections(ptemp, base, core->sec_url);
            }
        }

        if (err) {
            ap_log_error(APLOG_MARK, APLOG_STARTUP | APLOG_EMERG, 0, NULL,
                         "vantoro: %s", err);
            return HTTP_INTERNAL_SERVER_ERROR;
        }
    }

    return OK;
}


static int
vantoro_pre_config(apr_pool_t *pconf, apr_pool_t *plog, apr_pool_t *ptemp)
{
    (void) plog;
    (void) ptemp;

    if (vantoro_policy_create(&vantoro_html_policy) != VANTORO_OK) {
        return HTTP_INTERNAL_SERVER_ERROR;
    }

    apr_pool_cleanup_register(pconf, vantoro_html_policy,
                              vantoro_destroy_policy, apr_pool_cleanup_null);

    return OK;
}


/* ---- The request side: what no handler may see --------------------------- */


static vantoro_state *
vantoro_get_state(request_rec *r)
{
    vantoro_state  *st;

    st = ap_get_module_config(r->request_config, &vantoro_module);

    if (st == NULL) {
        st = apr_pcalloc(r->pool, sizeof(vantoro_state));
        ap_set_module_config(r->request_config, &vantoro_module, st);
    }

    return st;
}


static vantoro_stash *
vantoro_get_stash(request_rec *r)
{
    void  *stash = NULL;

    apr_pool_userdata_get(&stash, VANTORO_STASH_KEY, r->pool);

    return stash;
}


static int
vantoro_in_chain(request_rec *r, ap_filter_rec_t *frec)
{
    ap_filter_t  *f;

    for (f = r->output_filters; f; f = f->next) {
        if (f->frec == frec) {
            return 1;
        }
    }

    return 0;
}


/*
 * Takes Range, If-Range, Request-Range and Accept-Encoding out of the
 * request before its handler runs, keeping them in the request's pool (an
 * internal redirect has the same) for the restoring filter.
 */

static void
vantoro_strip(request_rec *r)
{
    vantoro_stash  *stash;
    int             i;

    stash = vantoro_get_stash(r);

    if (stash == NULL) {
        stash = apr_pcalloc(r->pool, sizeof(vantoro_stash));

        for (i = 0; i < VANTORO_STRIPPED; i++) {
            stash->value[i] = apr_table_get(r->headers_in,
                                            vantoro_stripped[i]);
        }

        apr_pool_userdata_setn(stash, VANTORO_STASH_KEY, NULL, r->pool);
    }

    for (i = 0; i < VANTORO_STRIPPED; i++) {
        apr_table_unset(r->headers_in, vantoro_stripped[i]);
    }

    if (!vantoro_in_chain(r, vantoro_restore_handle)) {
        ap_add_output_filter_handle(vantoro_restore_handle, NULL, r,
                                    r->connection);
    }
}


/*
 * As early as the scope is known: mod_negotiation and per-directory rewrite
 * rules, which pick pre-compressed files, run after this.  The server's own
 * scope is known when the request has been read.
 */

static int
vantoro_early_strip(request_rec *r)
{
    vantoro_conf  *conf;

    if (r->main == NULL) {
        conf = ap_get_module_config(r->per_dir_config, &vantoro_module);

        if (conf && conf->enable == 1) {
            vantoro_strip(r);
        }
    }

    return DECLINED;
}


/*
 * The filter's init function runs right before the handler, for however the
 * filter was added (Vantoro On, SetOutputFilter, AddOutputFilterByType).
 */

static int
vantoro_filter_init(ap_filter_t *f)
{
    request_rec   *r = f->r;
    vantoro_conf  *conf;

    /* a subrequest's output goes through its main request's filter; that
     * filter is set up again for each subrequest, after it has begun */

    if (r->main || vantoro_get_state(r)->started) {
        return OK;
    }

    conf = ap_get_module_config(r->per_dir_config, &vantoro_module);

    if (conf->enable != 0) {
        vantoro_strip(r);
    }

    return OK;
}


static void
vantoro_insert_filter(request_rec *r)
{
    vantoro_conf  *conf;

    if (r->main) {
        return;
    }

    conf = ap_get_module_config(r->per_dir_config, &vantoro_module);

    if (conf->enable == 1 && !vantoro_in_chain(r, vantoro_filter_handle)) {
        ap_add_output_filter_handle(vantoro_filter_handle, NULL, r,
                                    r->connection);
    }

    /* a redirect or a fast redirect starts a new chain */

    if (vantoro_get_stash(r) && !vantoro_in_chain(r, vantoro_restore_handle)) {
        ap_add_output_filter_handle(vantoro_restore_handle, NULL, r,
                                    r->connection);
    }
}


static vantoro_verdict vantoro_judge(request_rec *r, const vantoro_conf *conf,
                                     int untyped, int *way);
static void vantoro_record(request_rec *r, vantoro_verdict verdict);


/*
 * Right behind VANTORO: puts back what the client asked, once the response
 * is judged.  Accept-Encoding always (mod_deflate compresses the protected
 * page), the range headers for responses that are not protected, so that
 * downloads and images keep their ranges.
 *
 * It also judges the 304s of handlers, scripts and backends that VANTORO
 * did not see: httpd's filter of AddOutputFilterByType steps aside for
 * every status but 200, yet the 304 of a protected page must not carry the
 * original's validators.
 */

static apr_status_t
vantoro_restore_filter(ap_filter_t *f, apr_bucket_brigade *bb)
{
    request_rec    *r = f->r;
    vantoro_stash  *stash;
    vantoro_state  *st;
    vantoro_conf   *conf;
    int             i, n, way;

    stash = vantoro_get_stash(r);

    if (stash && !r->main) {
        st = vantoro_get_state(r);

        if (r->status == HTTP_NOT_MODIFIED && !st->started) {
            conf = ap_get_module_config(r->per_dir_config, &vantoro_module);

            if (conf->enable != 0) {
                vantoro_record(r, vantoro_judge(r, conf, 1, &way));
            }
        }

        n = st->protecting ? 1 : VANTORO_STRIPPED;

        for (i = 0; i < n; i++) {
            if (stash->value[i]
                && apr_table_get(r->headers_in, vantoro_stripped[i]) == NULL)
            {
                apr_table_setn(r->headers_in, vantoro_stripped[i],
                               stash->value[i]);
            }
        }
    }

    ap_remove_output_filter(f);

    return ap_pass_brigade(f->next, bb);
}


/* ---- Judging a response -------------------------------------------------- */


static void
vantoro_record(request_rec *r, vantoro_verdict verdict)
{
    const char  *name;

    name = verdict == VANTORO_VERDICT_CSP ? "csp"
                                          : vantoro_verdict_name(verdict);

    apr_table_setn(r->subprocess_env, "VANTORO_STATUS", name);
    apr_table_setn(r->notes, "vantoro-status", name);
}


typedef struct {
    apr_pool_t  *pool;
    const char  *joined;
} vantoro_join;

static int
vantoro_join_value(void *data, const char *key, const char *value)
{
    vantoro_join  *j = data;

    (void) key;

    j->joined = j->joined ? apr_pstrcat(j->pool, j->joined, ", ", value, NULL)
                          : value;

    return 1;
}

/* Every value of a response header, in both of httpd's tables, by ", ". */

static const char *
vantoro_response_header(request_rec *r, const char *name)
{
    vantoro_join  j;

    j.pool = r->pool;
    j.joined = NULL;

    apr_table_do(vantoro_join_value, &j, r->headers_out, name, NULL);
    apr_table_do(vantoro_join_value, &j, r->err_headers_out, name, NULL);

    return j.joined;
}


/*
 * The headers of a protected response, as the library's policy says: the
 * length of the result (or none, -1), a weak ETag, and no Last-Modified,
 * Accept-Ranges or digest of the original body.
 */

static void
vantoro_edit_table(request_rec *r, apr_table_t *t)
{
    const apr_array_header_t  *arr;
    apr_table_entry_t         *e;
    apr_array_header_t        *drop;
    int                        i;

    arr = apr_table_elts(t);
    e = (apr_table_entry_t *) arr->elts;
    drop = apr_array_make(r->pool, 4, sizeof(const char *));

    for (i = 0; i < arr->nelts; i++) {
        if (e[i].key == NULL) {
            continue;
        }

        switch (vantoro_protected_header(e[i].key, strlen(e[i].key))) {

        case VANTORO_HEADER_DROP:
        case VANTORO_HEADER_LENGTH:
            *(const char **) apr_array_push(drop) = e[i].key;
            break;

        case VANTORO_HEADER_WEAKEN:
            /* the value alone changes: the table's index is by key */
            if (strncmp(e[i].val, "W/", 2) != 0) {
                e[i].val = apr_pstrcat(r->pool, "W/", e[i].val, NULL);
            }
            break;

        default: /* VANTORO_HEADER_KEEP */
            break;
        }
    }

    for (i = 0; i < drop->nelts; i++) {
        apr_table_unset(t, ((const char **) drop->elts)[i]);
    }
}

static void
vantoro_edit_headers(request_rec *r, apr_off_t length)
{
    vantoro_edit_table(r, r->headers_out);
    vantoro_edit_table(r, r->err_headers_out);

    if (length >= 0) {
        ap_set_content_length(r, length);

    } else {
        r->clength = 0;
    }
}


/* ---- Content-Security-Policy --------------------------------------------- */


typedef struct {
    int  element;
    int  strictest;
} vantoro_csp;

static int
vantoro_csp_header(void *data, const char *key, const char *value)
{
    vantoro_csp  *csp = data;
    int           styles;

    (void) key;

    styles = (int) vantoro_csp_style_sources(value, strlen(value),
                                             csp->element);
    if (styles > csp->strictest) {
        csp->strictest = styles;
    }

    return 1;
}

/*
 * What the response's Content-Security-Policies let style the page: its
 * style attributes (element 0) or <style> elements (element 1).  Every
 * policy applies, so the strictest counts.
 */

static int
vantoro_csp_styles(request_rec *r, int element)
{
    vantoro_csp  csp;

    csp.element = element;
    csp.strictest = VANTORO_STYLES_INLINE;

    apr_table_do(vantoro_csp_header, &csp, r->headers_out,
                 "Content-Security-Policy", NULL);
    apr_table_do(vantoro_csp_header, &csp, r->err_headers_out,
                 "Content-Security-Policy", NULL);

    return csp.strictest;
}


/*
 * How this response's decoys hide, or VANTORO_NO_WAY when its policy
 * forbids every way the scope has: the decoys would show, and a page that
 * shows them is worse than one sent as it came.
 *
 * A policy that mod_headers sets is added after this filter, out of its
 * sight; so with layered hiding and a stylesheet address, every page links
 * the stylesheet, which works under any policy that allows the site's own.
 */

static int
vantoro_way(request_rec *r, const vantoro_conf *conf)
{
    int  styles;

    switch (vantoro_hide(conf)) {

    case VANTORO_HIDE_STYLE_:
        return VANTORO_BY_STYLE;

    case VANTORO_HIDE_CLASS_:
        return VANTORO_BY_CLASS;

    case VANTORO_HIDE_AUTO_:
        return vantoro_csp_styles(r, 0) == VANTORO_STYLES_INLINE
               ? VANTORO_BY_STYLE : VANTORO_BY_CLASS;

    default: /* VANTORO_HIDE_LAYERED_ */
        break;
    }

    if (vantoro_pass(conf) == VANTORO_PASS_PAGE) {
        /* no decoys, nothing to hide */
        return VANTORO_BY_ELEMENT;
    }

    styles = vantoro_csp_styles(r, 1);

    if (styles != VANTORO_STYLES_NONE && *vantoro_uri(conf)) {
        return VANTORO_BY_LINK;
    }

    if (styles == VANTORO_STYLES_INLINE) {
        return VANTORO_BY_ELEMENT;
    }

    if (!vantoro_warned_csp) {
        vantoro_warned_csp = 1;
        ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                      "vantoro: the response's Content-Security-Policy "
                      "forbids %s, so its pages are sent unprotected; %s",
                      styles == VANTORO_STYLES_NONE
                      ? "every stylesheet" : "inline styles",
                      styles == VANTORO_STYLES_NONE
                      ? "allow stylesheets from VantoroStylesheetUri"
                      : "set VantoroStylesheetUri");
    }

    return VANTORO_NO_WAY;
}


static int
vantoro_bypassed(request_rec *r, const vantoro_conf *conf)
{
    ap_expr_info_t  **exprs;
    const char       *err;
    int               i, rc;

    exprs = (ap_expr_info_t **) conf->bypass->elts;

    for (i = 0; i < conf->bypass->nelts; i++) {
        err = NULL;
        rc = ap_expr_exec(r, exprs[i], &err);

        if (rc < 0 || err) {
            ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                          "vantoro: VantoroBypass: %s", err ? err : "failed");
            continue;
        }

        if (rc) {
            return 1;
        }
    }

    return 0;
}


/*
 * The library's verdict on the response's head, then the module's own
 * exemptions.  A 304 of a page that would be protected gets the validators
 * the protected page had, and is "status".  With `untyped`, a 304 without a
 * Content-Type is judged as a text/html page would be: backends and scripts
 * seldom give a 304 its page's type, and a weak ETag and no Last-Modified
 * do a 304 of any other no harm.  httpd's own 304s have their file's type.
 */

static vantoro_verdict
vantoro_judge(request_rec *r, const vantoro_conf *conf, int untyped, int *way)
{
    const char       *type, *encoding, *cache_control, *length;
    vantoro_policy   *policy;
    vantoro_verdict   verdict;
    apr_off_t         n;
    char             *end;
    int               range;

    policy = conf->policy ? conf->policy : vantoro_html_policy;
    type = r->content_type;

    if (untyped && r->status == HTTP_NOT_MODIFIED
        && (type == NULL || *type == '\0'))
    {
        type = "text/html";
    }

    encoding = vantoro_response_header(r, "Content-Encoding");
    if (r->content_encoding) {
        encoding = encoding ? apr_pstrcat(r->pool, encoding, ", ",
                                          r->content_encoding, NULL)
                            : r->content_encoding;
    }

    cache_control = vantoro_response_header(r, "Cache-Control");
    range = apr_table_get(r->headers_out, "Content-Range") != NULL
            || apr_table_get(r->err_headers_out, "Content-Range") != NULL;

    verdict = vantoro_policy_judge(policy,
                                   r->status == HTTP_NOT_MODIFIED
                                   ? HTTP_OK : r->status,
                                   type, type ? strlen(type) : 0,
                                   encoding, encoding ? strlen(encoding) : 0,
                                   cache_control,
                                   cache_control ? strlen(cache_control) : 0,
                                   range);

    if (verdict == VANTORO_VERDICT_ENCODED && !vantoro_warned_encoded) {
        /* a setup that leaks pages: said once per process */
        vantoro_warned_encoded = 1;
        ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                      "vantoro: responses with \"Content-Encoding: %s\" pass "
                      "unprotected; serve plain files, or decompress them "
                      "before this filter (SetOutputFilter INFLATE)",
                      encoding);
    }

    if (verdict == VANTORO_VERDICT_PROTECT && conf->bypass
        && vantoro_bypassed(r, conf))
    {
        verdict = VANTORO_VERDICT_BYPASS;
    }

    if (r->status == HTTP_NOT_MODIFIED) {
        if (verdict == VANTORO_VERDICT_PROTECT) {
            vantoro_edit_headers(r, -1);
        }

        return VANTORO_VERDICT_STATUS;
    }

    if (verdict != VANTORO_VERDICT_PROTECT) {
        return verdict;
    }

    n = -1;
    length = apr_table_get(r->headers_out, "Content-Length");

    if (length && (apr_strtoff(&n, length, &end, 10) != APR_SUCCESS
                   || end == length || *end))
    {
        n = -1;
    }

    if (n == 0) {
        return VANTORO_VERDICT_EMPTY;
    }

    *way = vantoro_way(r, conf);

    if (*way == VANTORO_NO_WAY) {
        return VANTORO_VERDICT_CSP;
    }

    if (n > vantoro_max_size(conf)) {
        ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                      "vantoro: response of %" APR_OFF_T_FMT " bytes is "
                      "larger than VantoroMaxSize %" APR_OFF_T_FMT ", sent "
                      "unprotected", n, vantoro_max_size(conf));
        return VANTORO_VERDICT_TOO_LARGE;
    }

    return VANTORO_VERDICT_PROTECT;
}


/* ---- Protecting ---------------------------------------------------------- */


static void
vantoro_result_free(void *data)
{
    vantoro_free(data);
}


static apr_status_t
vantoro_ctx_cleanup(void *data)
{
    vantoro_ctx  *ctx = data;

    free(ctx->data);
    ctx->data = NULL;

    return APR_SUCCESS;
}


/* The charset parameter of the Content-Type httpd will send. */

static const char *
vantoro_transport_charset(request_rec *r, char *label)
{
    const char  *type, *p;
    size_t       len;

    if (r->content_type == NULL) {
        return NULL;
    }

    /* with AddDefaultCharset's, as the header filter will add it */
    type = ap_make_content_type(r, r->content_type);

    for (p = type; *p; p++) {
        if (strncasecmp(p, "charset=", 8) == 0) {
            break;
        }
    }

    if (*p == '\0') {
        return NULL;
    }

    p += 8;

    if (*p == '"') {
        p++;
    }

    len = strcspn(p, "\"; \t");

    /* a label this long names no character set: the page's own then */

    if (len == 0 || len >= VANTORO_LABEL_LEN) {
        return NULL;
    }

    memcpy(label, p, len);
    label[len] = '\0';

    return label;
}


/* A handle with the scope's settings, hiding the given way: one for each
 * response (a handle is a few microseconds; threads never share one). */

static vantoro_handle *
vantoro_new_handle(request_rec *r, const vantoro_conf *conf, int way)
{
    vantoro_handle       *h;
    vantoro_status        status;
    vantoro_hide_method   method;
    const char           *copyright, *charset, *key, *uri;
    char                  label[VANTORO_LABEL_LEN];

    status = vantoro_create(&h);

    if (status != VANTORO_OK) {
        ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                      "vantoro: vantoro_create() failed: %s, sent unprotected",
                      vantoro_status_name(status));
        return NULL;
    }

    switch (way) {
    case VANTORO_BY_STYLE:
        method = VANTORO_HIDE_STYLE;
        break;
    case VANTORO_BY_CLASS:
        method = VANTORO_HIDE_CLASS;
        break;
    default: /* VANTORO_BY_ELEMENT, VANTORO_BY_LINK */
        method = VANTORO_HIDE_LAYERED;
        break;
    }

    copyright = conf->copyright ? conf->copyright : "";
    charset = conf->charset ? conf->charset : "auto";
    key = vantoro_key(conf);
    uri = vantoro_uri(conf);

    status = vantoro_set_copyright(h, copyright, strlen(copyright));

    if (status == VANTORO_OK) {
        status = vantoro_set_decoy_kind(h, conf->decoy
                                        ? (vantoro_decoy_kind) conf->decoy
                                        : VANTORO_DECOY_COPYRIGHT);
    }

    if (status == VANTORO_OK) {
        status = vantoro_set_charset(h, charset);
    }

    if (status == VANTORO_OK) {
        status = vantoro_set_nosnippet(h, conf->nosnippet == 1);
    }

    /* the key names the classes and keys the marks, whatever the method */

    if (status == VANTORO_OK) {
        status = vantoro_set_hiding(h, method, *key ? key : NULL, strlen(key));
    }

    /* layered hiding puts its rules in the page unless a link is given */

    if (status == VANTORO_OK
        && (way == VANTORO_BY_CLASS || way == VANTORO_BY_LINK))
    {
        status = vantoro_set_stylesheet_link(h, uri, strlen(uri));
    }

    if (status == VANTORO_OK && method == VANTORO_HIDE_LAYERED) {
        status = vantoro_set_copy_notices(h, conf->copy_notices
                                             != VANTORO_UNSET
                                             ? (size_t) conf->copy_notices
                                             : 4);
    }

    if (status == VANTORO_OK && vantoro_marking(conf)) {
        status = vantoro_set_marks(h, 1);
    }

    if (status == VANTORO_OK) {
        status = vantoro_set_transport_charset(h,
                                        vantoro_transport_charset(r, label));
    }

    if (status != VANTORO_OK) {
        ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                      "vantoro: %s: %s, sent unprotected",
                      vantoro_status_name(status), vantoro_last_error(h));
        vantoro_destroy(h);
        return NULL;
    }

    return h;
}


/*
 * The id this response's marks carry: the request's start in seconds over
 * 32 random bits, which tells apart two requests of one second; logged as
 * VANTORO_MARK, it ties a copy to its request.
 */

static apr_uint64_t
vantoro_mark_id(request_rec *r)
{
    unsigned char  b[4];
    apr_uint32_t   low;

    if (apr_generate_random_bytes(b, sizeof(b)) == APR_SUCCESS) {
        low = (apr_uint32_t) b[0] << 24 | (apr_uint32_t) b[1] << 16
              | (apr_uint32_t) b[2] << 8 | b[3];

    } else {
        low = (apr_uint32_t) apr_time_now() ^ (apr_uint32_t) (apr_uintptr_t) r;
    }

    return ((apr_uint64_t) (apr_uint32_t) apr_time_sec(r->request_time) << 32)
           | low;
}


/*
 * The response goes on as it came: the headers untouched, what was held in
 * front of `rest` (the sentinel of bb for none), then the rest.
 */

static apr_status_t
vantoro_unchanged(ap_filter_t *f, vantoro_ctx *ctx, apr_bucket_brigade *bb,
                  apr_bucket *rest)
{
    apr_bucket  *b;

    if (ctx->len) {
        b = apr_bucket_heap_create(ctx->data, ctx->len, free,
                                   f->c->bucket_alloc);
        ctx->data = NULL;
        APR_BUCKET_INSERT_BEFORE(rest, b);
    }

    ap_remove_output_filter(f);

    return ap_pass_brigade(f->next, bb);
}


static apr_status_t
vantoro_give_up(ap_filter_t *f, vantoro_ctx *ctx, apr_bucket_brigade *bb,
                apr_bucket *rest, vantoro_verdict verdict)
{
    vantoro_get_state(f->r)->protecting = 0;
    vantoro_record(f->r, verdict);

    return vantoro_unchanged(f, ctx, bb, rest);
}


/* The whole body is here: protect it and send it in front of the EOS. */

static apr_status_t
vantoro_finish(ap_filter_t *f, vantoro_ctx *ctx, apr_bucket_brigade *bb,
               apr_bucket *eos)
{
    request_rec         *r = f->r;
    const vantoro_conf  *conf = ctx->conf;
    vantoro_handle      *h;
    vantoro_status       status;
    apr_uint64_t         id;
    apr_bucket          *b;
    char                *result;
    size_t               result_len;
    int                  i, marking;
    unsigned char        bytes[8];

    if (ctx->head) {
        /*
         * A FLUSH in front of the EOS: httpd's length filter then sets no
         * Content-Length, which for a HEAD would say 0 or the original's.
         */
        APR_BUCKET_INSERT_BEFORE(eos, apr_bucket_flush_create(f->c->bucket_alloc));
        ap_remove_output_filter(f);
        return ap_pass_brigade(f->next, bb);
    }

    if (ctx->len == 0) {
        return vantoro_give_up(f, ctx, bb, eos, VANTORO_VERDICT_EMPTY);
    }

    h = vantoro_new_handle(r, conf, ctx->way);
    if (h == NULL) {
        return vantoro_give_up(f, ctx, bb, eos, VANTORO_VERDICT_ERROR);
    }

    /* each copy carries its own request's id */

    marking = vantoro_marking(conf) && vantoro_pass(conf) != VANTORO_PASS_PAGE;
    id = 0;

    if (marking) {
        id = vantoro_mark_id(r);

        for (i = 0; i < 8; i++) {
            bytes[i] = (unsigned char) (id >> (56 - 8 * i));
        }

        status = vantoro_set_mark_id(h, bytes);

        if (status != VANTORO_OK) {
            ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                          "vantoro: %s: %s, sent unprotected",
                          vantoro_status_name(status), vantoro_last_error(h));
            vantoro_destroy(h);
            return vantoro_give_up(f, ctx, bb, eos, VANTORO_VERDICT_ERROR);
        }
    }

#ifdef VANTORO_APACHE_TEST
    if (conf->replay) {
        (void) vantoro_replay(h, (const double *) conf->replay->elts,
                              (size_t) conf->replay->nelts);
    }
#endif

    switch (vantoro_pass(conf)) {

    case VANTORO_PASS_PAGE:
        status = vantoro_protect_page(h, ctx->data, ctx->len, &result,
                                      &result_len);
        break;

    case VANTORO_PASS_CONTENT:
        status = vantoro_protect_content(h, ctx->data, ctx->len, &result,
                                         &result_len);
        break;

    default: /* VANTORO_PASS_BOTH */
        status = vantoro_protect(h, ctx->data, ctx->len, &result,
                                 &result_len);
        break;
    }

    if (status != VANTORO_OK) {
        ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                      "vantoro: %s: %s, sent unprotected",
                      vantoro_status_name(status), vantoro_last_error(h));
        vantoro_destroy(h);
        return vantoro_give_up(f, ctx, bb, eos, VANTORO_VERDICT_ERROR);
    }

    vantoro_destroy(h);

    /* the input is no longer needed: one copy is held, not two */

    free(ctx->data);
    ctx->data = NULL;
    ctx->len = 0;

    if (marking) {
        apr_table_setn(r->subprocess_env, "VANTORO_MARK",
                       apr_psprintf(r->pool, "%016" APR_UINT64_T_HEX_FMT, id));
    }

    vantoro_edit_headers(r, (apr_off_t) result_len);

    b = apr_bucket_heap_create(result, result_len, vantoro_result_free,
                               f->c->bucket_alloc);
    APR_BUCKET_INSERT_BEFORE(eos, b);

    ap_remove_output_filter(f);

    return ap_pass_brigade(f->next, bb);
}


/* Room for `need` bytes of body. */

static int
vantoro_reserve(request_rec *r, vantoro_ctx *ctx, apr_size_t need)
{
    apr_size_t  size;
    char       *p;

    if (need <= ctx->size) {
        return 1;
    }

    size = ctx->size ? 2 * ctx->size : 16384;
    if (size > (apr_size_t) vantoro_max_size(ctx->conf)) {
        size = (apr_size_t) vantoro_max_size(ctx->conf);
    }
    if (size < need) {
        size = need;
    }

    p = realloc(ctx->data, size);
    if (p == NULL) {
        ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                      "vantoro: out of memory, sent unprotected");
        return 0;
    }

    ctx->data = p;
    ctx->size = size;

    return 1;
}


/*
 * The first brigade of a response: judged, then either passed on for good,
 * or held.  NULL when the filter steps aside.
 */

static vantoro_ctx *
vantoro_start(ap_filter_t *f)
{
    request_rec    *r = f->r;
    vantoro_state  *st;
    vantoro_conf   *conf;
    vantoro_ctx    *ctx;
    vantoro_verdict verdict;
    const char     *length;
    apr_off_t       n;
    int             way;

    /* a subrequest's output goes through its main request's filter */

    if (r->main) {
        return NULL;
    }

    st = vantoro_get_state(r);
    st->started = 1;

    /* one filter judges: Vantoro On and AddOutputFilterByType may add two */

    if (st->owner && st->owner != f) {
        return NULL;
    }

    st->owner = f;

    conf = ap_get_module_config(r->per_dir_config, &vantoro_module);

    if (conf->enable == 0) {
        return NULL;
    }

    way = VANTORO_NO_WAY;
    verdict = vantoro_judge(r, conf, 1, &way);

    vantoro_record(r, verdict);

    if (verdict != VANTORO_VERDICT_PROTECT) {
        return NULL;
    }

    st->protecting = 1;

    ctx = apr_pcalloc(r->pool, sizeof(vantoro_ctx));
    ctx->conf = conf;
    ctx->way = way;

    if (r->header_only) {
        /* the headers a GET gets, but for the length nobody knows */
        vantoro_edit_headers(r, -1);
        apr_table_unset(r->headers_out, "Content-Length");
        ctx->head = 1;
        return ctx;
    }

    apr_pool_cleanup_register(r->pool, ctx, vantoro_ctx_cleanup,
                              apr_pool_cleanup_null);

    /* the whole body at once when its length is known */

    length = apr_table_get(r->headers_out, "Content-Length");

    if (length && apr_strtoff(&n, length, NULL, 10) == APR_SUCCESS && n > 0
        && n <= vantoro_max_size(conf))
    {
        ctx->size = 0;
        (void) vantoro_reserve(r, ctx, (apr_size_t) n);
    }

    return ctx;
}


static apr_status_t
vantoro_out_filter(ap_filter_t *f, apr_bucket_brigade *bb)
{
    request_rec   *r = f->r;
    vantoro_ctx   *ctx = f->ctx;
    apr_bucket    *e, *next;
    apr_status_t   rv;
    const char    *data;
    apr_size_t     len, room;

    if (ctx == NULL) {
        ctx = vantoro_start(f);

        if (ctx == NULL) {
            ap_remove_output_filter(f);
            return ap_pass_brigade(f->next, bb);
        }

        f->ctx = ctx;
    }

    for (e = APR_BRIGADE_FIRST(bb); e != APR_BRIGADE_SENTINEL(bb); e = next) {

        if (APR_BUCKET_IS_EOS(e)) {
            /* nothing follows an EOS */
            while (APR_BUCKET_NEXT(e) != APR_BRIGADE_SENTINEL(bb)) {
                apr_bucket_delete(APR_BUCKET_NEXT(e));
            }

            return vantoro_finish(f, ctx, bb, e);
        }

        if (AP_BUCKET_IS_ERROR(e)) {
            /* the handler failed: its error goes on, the body held does
             * not (no original page half sent) */
            free(ctx->data);
            ctx->data = NULL;
            ctx->len = 0;
            return vantoro_give_up(f, ctx, bb, e, VANTORO_VERDICT_ERROR);
        }

        /*
         * FLUSH and the other metadata go: a FLUSH passed on would send the
         * headers before the body they describe is known.
         */

        if (APR_BUCKET_IS_METADATA(e) || ctx->head) {
            if (APR_BUCKET_IS_FLUSH(e)) {
                ap_log_rerror(APLOG_MARK, APLOG_TRACE1, 0, r,
                              "vantoro: FLUSH held until the body's end");
            }

            next = APR_BUCKET_NEXT(e);
            apr_bucket_delete(e);
            continue;
        }

        room = (apr_size_t) vantoro_max_size(ctx->conf) - ctx->len;

        /* a file larger than the limit goes out unread */

        if (e->length != (apr_size_t) -1 && e->length > room) {
            goto too_large;
        }

        rv = apr_bucket_read(e, &data, &len, APR_BLOCK_READ);

        if (rv != APR_SUCCESS) {
            ap_log_rerror(APLOG_MARK, APLOG_ERR, rv, r,
                          "vantoro: reading the response failed");
            return rv;
        }

        /* a pipe or socket splits off what it read */
        next = APR_BUCKET_NEXT(e);

        if (len > room) {
            goto too_large;
        }

        if (len) {
            if (!vantoro_reserve(r, ctx, ctx->len + len)) {
                return vantoro_give_up(f, ctx, bb, e, VANTORO_VERDICT_ERROR);
            }

            memcpy(ctx->data + ctx->len, data, len);
            ctx->len += len;
        }

        apr_bucket_delete(e);
    }

    return APR_SUCCESS;

too_large:

    ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                  "vantoro: response is larger than VantoroMaxSize %"
                  APR_OFF_T_FMT ", sent unprotected",
                  vantoro_max_size(ctx->conf));

    return vantoro_give_up(f, ctx, bb, e, VANTORO_VERDICT_TOO_LARGE);
}


/*
 * Responses httpd makes itself (errors, and 304 for its files) bypass the
 * content filters: their reason is logged here, and a 304 for a page that
 * would be protected gets the validators the protected page had.
 */

static void
vantoro_insert_error_filter(request_rec *r)
{
    vantoro_conf  *conf;
    int            way;

    if (r->main) {
        return;
    }

    conf = ap_get_module_config(r->per_dir_config, &vantoro_module);

    if (conf->enable == 0 || (conf->enable != 1 && !vantoro_get_stash(r))) {
        return;
    }

    if (r->status == HTTP_NOT_MODIFIED) {
        (void) vantoro_judge(r, conf, 0, &way);
    }

    vantoro_record(r, VANTORO_VERDICT_STATUS);
}


/* ---- The stylesheet ------------------------------------------------------ */


static int
vantoro_stylesheet_handler(request_rec *r)
{
    vantoro_conf        *conf;
    vantoro_status       status;
    apr_bucket_brigade  *bb;
    apr_bucket          *b;
    char                *css, *etag;
    size_t               css_len;
    unsigned char        digest[APR_MD5_DIGESTSIZE];
    int                  i, rc;

    if (r->handler == NULL || strcmp(r->handler, VANTORO_HANDLER) != 0) {
        return DECLINED;
    }

    r->allowed |= (AP_METHOD_BIT << M_GET);

    if (r->method_number != M_GET) {
        return HTTP_METHOD_NOT_ALLOWED;
    }

    rc = ap_discard_request_body(r);
    if (rc != OK) {
        return rc;
    }

    conf = ap_get_module_config(r->per_dir_config, &vantoro_module);

    if (*vantoro_key(conf) == '\0') {
        ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                      "vantoro: SetHandler " VANTORO_HANDLER " needs "
                      "VantoroSiteKey");
        return HTTP_INTERNAL_SERVER_ERROR;
    }

    status = vantoro_stylesheet(conf->site_key, strlen(conf->site_key), &css,
                                &css_len);
    if (status != VANTORO_OK) {
        ap_log_rerror(APLOG_MARK, APLOG_ERR, 0, r,
                      "vantoro: vantoro_stylesheet() failed: %s",
                      vantoro_status_name(status));
        return HTTP_INTERNAL_SERVER_ERROR;
    }

    /* the same key gives the same stylesheet in every version */

    apr_md5(digest, css, css_len);
    etag = apr_palloc(r->pool, 2 + 2 * APR_MD5_DIGESTSIZE + 1);
    etag[0] = '"';

    for (i = 0; i < APR_MD5_DIGESTSIZE; i++) {
        etag[1 + 2 * i] = "0123456789abcdef"[digest[i] >> 4];
        etag[2 + 2 * i] = "0123456789abcdef"[digest[i] & 15];
    }

    etag[1 + 2 * APR_MD5_DIGESTSIZE] = '"';
    etag[2 + 2 * APR_MD5_DIGESTSIZE] = '\0';

    ap_set_content_type(r, "text/css");
    apr_table_setn(r->headers_out, "ETag", etag);
    apr_table_setn(r->headers_out, "Cache-Control", "public, max-age=31536000");
    ap_set_content_length(r, (apr_off_t) css_len);

    rc = ap_meets_conditions(r);
    if (rc != OK) {
        vantoro_free(css);
        return rc;
    }

    bb = apr_brigade_create(r->pool, r->connection->bucket_alloc);

    if (r->header_only) {
        vantoro_free(css);

    } else {
        b = apr_bucket_heap_create(css, css_len, vantoro_result_free,
                                   r->connection->bucket_alloc);
        APR_BRIGADE_INSERT_TAIL(bb, b);
    }

    APR_BRIGADE_INSERT_TAIL(bb, apr_bucket_eos_create(r->connection->bucket_alloc));

    return ap_pass_brigade(r->output_filters, bb) == APR_SUCCESS
           ? OK : AP_FILTER_ERROR;
}


/* ---- Registration -------------------------------------------------------- */


#define VANTORO_CONF  (OR_FILEINFO)
#define VANTORO_MAIN  (RSRC_CONF | ACCESS_CONF)

static const command_rec vantoro_cmds[] = {

    AP_INIT_FLAG("Vantoro", vantoro_cmd_enable, NULL, VANTORO_CONF,
                 "On: protect the text/html (and VantoroTypes) responses "
                 "of this scope; Off: not even where the VANTORO filter is "
                 "added"),

    AP_INIT_TAKE1("VantoroPass", vantoro_cmd_pass, NULL, VANTORO_CONF,
                  "which passes run: page, content or both (default)"),

    AP_INIT_RAW_ARGS("VantoroCopyright", vantoro_cmd_copyright, NULL,
                  VANTORO_CONF,
                  "the site's copyright texts: entries separated by \",\", "
                  "parts by \":\""),

    AP_INIT_TAKE1("VantoroDecoy", vantoro_cmd_decoy, NULL, VANTORO_CONF,
                  "what the hidden decoys say: copyright (default), random "
                  "or both"),

    AP_INIT_TAKE1("VantoroHide", vantoro_cmd_hide, NULL, VANTORO_CONF,
                  "how decoys hide: layered (default), style, class or auto"),

    AP_INIT_RAW_ARGS("VantoroSiteKey", vantoro_cmd_site_key, NULL, VANTORO_CONF,
                  "names the hiding classes and keys the marks"),

    AP_INIT_RAW_ARGS("VantoroStylesheetUri", vantoro_cmd_stylesheet_uri, NULL,
                  VANTORO_CONF,
                  "the address of the stylesheet that hides decoys by class"),

    AP_INIT_TAKE1("VantoroBypass", vantoro_cmd_bypass, NULL, VANTORO_CONF,
                  "an expression; when true, the response passes unchanged"),

    AP_INIT_TAKE1("VantoroMaxSize", vantoro_cmd_max_size, NULL, VANTORO_MAIN,
                  "the most body held (default 8m); larger responses pass "
                  "unchanged"),

    AP_INIT_TAKE1("VantoroCharset", vantoro_cmd_charset, NULL, VANTORO_CONF,
                  "the pages' character set, or auto (default)"),

    AP_INIT_FLAG("VantoroNosnippet", vantoro_cmd_nosnippet, NULL,
                 VANTORO_CONF, "data-nosnippet on each decoy"),

    AP_INIT_TAKE1("VantoroCopyNotices", vantoro_cmd_copy_notices, NULL,
                  VANTORO_CONF,
                  "layered: a copy-visible notice at the first decoy and "
                  "every Nth after it (default 4)"),

    AP_INIT_FLAG("VantoroMarks", vantoro_cmd_marks, NULL, VANTORO_CONF,
                 "marks in the visible text carrying the response's id"),

    AP_INIT_ITERATE("VantoroTypes", vantoro_cmd_types, NULL, VANTORO_CONF,
                    "further text types to protect (text/html always is)"),

#ifdef VANTORO_APACHE_TEST
    AP_INIT_TAKE1("VantoroTestRandomValues", vantoro_cmd_replay, NULL,
                  VANTORO_MAIN,
                  "test builds: a file of random values every response "
                  "replays"),
#endif

    { NULL }
};


static void
vantoro_register_hooks(apr_pool_t *p)
{
    (void) p;

    /*
     * After the resource filters (SSI, substitutions, INFLATE at
     * RESOURCE-1) and before mod_deflate, mod_headers' output headers and
     * mod_cache's store (CONTENT_SET and after); the restoring filter
     * between them.
     */

    vantoro_filter_handle =
        ap_register_output_filter(VANTORO_FILTER, vantoro_out_filter,
                                  vantoro_filter_init,
                                  AP_FTYPE_CONTENT_SET - 2);

    vantoro_restore_handle =
        ap_register_output_filter(VANTORO_RESTORE_FILTER,
                                  vantoro_restore_filter, NULL,
                                  AP_FTYPE_CONTENT_SET - 1);

    ap_hook_pre_config(vantoro_pre_config, NULL, NULL, APR_HOOK_MIDDLE);
    ap_hook_check_config(vantoro_check_config, NULL, NULL, APR_HOOK_MIDDLE);
    ap_hook_post_read_request(vantoro_early_strip, NULL, NULL,
                              APR_HOOK_MIDDLE);
    ap_hook_header_parser(vantoro_early_strip, NULL, NULL, APR_HOOK_FIRST);
    ap_hook_insert_filter(vantoro_insert_filter, NULL, NULL, APR_HOOK_LAST);
    ap_hook_insert_error_filter(vantoro_insert_error_filter, NULL, NULL,
                                APR_HOOK_MIDDLE);
    ap_hook_handler(vantoro_stylesheet_handler, NULL, NULL, APR_HOOK_MIDDLE);
}


module AP_MODULE_DECLARE_DATA vantoro_module = {
    STANDARD20_MODULE_STUFF,
    vantoro_create_conf,     /* create per-directory configuration */
    vantoro_merge_conf,      /* merge per-directory configurations */
    NULL,                    /* create per-server configuration */
    NULL,                    /* merge per-server configurations */
    vantoro_cmds,            /* directives */
    vantoro_register_hooks,  /* hooks */
    AP_MODULE_FLAG_NONE      /* flags */
};
