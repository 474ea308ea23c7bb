
/*
 * Vantoro for nginx: protects whole HTML responses through the C interface of
 * libvantoro, marks each copy with an id the access log can name, reserves
 * text and data mining rights in headers, and serves the stylesheet that
 * hides decoys by class.
 *
 * Which responses are protected, and what that does to their headers, is the
 * library's response policy (vantoro_policy_judge, vantoro_protected_header),
 * the same for every adapter.  This module adds what only a server can do:
 * the upstream never sees a Range request for a protected location, HEAD gets
 * the headers a GET would get, $vantoro_status says why a response went
 * out as it did, and large pages can be protected in a thread pool while the
 * worker serves other requests.
 */


#include <ngx_config.h>
#include <ngx_core.h>
#include <ngx_http.h>
#include <ngx_md5.h>
#if (NGX_THREADS)
#include <ngx_thread_pool.h>
#endif

#include <vantoro/vantoro.h>


#define NGX_HTTP_VANTORO_PAGE       1
#define NGX_HTTP_VANTORO_CONTENT    2
#define NGX_HTTP_VANTORO_PROTECT    3

#define NGX_HTTP_VANTORO_STYLE      1
#define NGX_HTTP_VANTORO_CLASS      2
#define NGX_HTTP_VANTORO_AUTO       3
#define NGX_HTTP_VANTORO_LAYERED    4

/* how one response's decoys hide; the engine keeps a handle for each */

#define NGX_HTTP_VANTORO_BY_STYLE     0
#define NGX_HTTP_VANTORO_BY_CLASS     1
#define NGX_HTTP_VANTORO_BY_ELEMENT   2  /* layered, rules in a <style> */
#define NGX_HTTP_VANTORO_BY_LINK      3  /* layered, rules linked */
#define NGX_HTTP_VANTORO_WAYS         4
#define NGX_HTTP_VANTORO_NO_WAY       NGX_HTTP_VANTORO_WAYS

/*
 * The module's own verdict beside the library's: the response's policy
 * forbids every way this location has to hide decoys, which would show.
 */

#define NGX_HTTP_VANTORO_VERDICT_CSP  ((vantoro_verdict) 100)

#define NGX_HTTP_VANTORO_LABEL_LEN    64
#define NGX_HTTP_VANTORO_REPLAY_MAX   (16 * 1024 * 1024)

/* the priority pool threads run pages at: the lowest */
#define NGX_HTTP_VANTORO_POOL_NICE  19

/* pages of at least this size go to vantoro_thread_pool by default */
#define NGX_HTTP_VANTORO_THREAD_SIZE  (256 * 1024)

/* idle handles kept for pool threads, a location and way of hiding */
#define NGX_HTTP_VANTORO_SPARES       8

/*
 * r->buffered while a page is in a pool thread and until its result is
 * sent, so that the request waits for it.  nginx's own filters use the
 * other bits of r->buffered (SSI, sub_filter, the copy filter).
 */

#define NGX_HTTP_VANTORO_BUFFERED     0x08


/* The engine of one location in one worker, made on first use. */

typedef struct {
    vantoro_handle            *handles[NGX_HTTP_VANTORO_WAYS];
    u_char                     tdm[NGX_HTTP_VANTORO_WAYS];
#if (NGX_THREADS)
    /*
     * Handles for pool threads, never the worker's own: a handle is used by
     * one thread at a time.  A page in a pool thread has its own, taken from
     * here (or made) and given back when its task is done.
     */
    vantoro_handle            *spares[NGX_HTTP_VANTORO_WAYS]
                                     [NGX_HTTP_VANTORO_SPARES];
    u_char                     spare_tdm[NGX_HTTP_VANTORO_WAYS]
                                        [NGX_HTTP_VANTORO_SPARES];
    ngx_uint_t                 nspares[NGX_HTTP_VANTORO_WAYS];
#endif
    ngx_uint_t                 warned;      /* unsigned  warned:1; */
    ngx_uint_t                 warned_csp;  /* unsigned  warned_csp:1; */
} ngx_http_vantoro_engine_t;


typedef struct {
    size_t                     worker_memory;
    size_t                     keep_memory;
    ngx_int_t                  request_id;  /* $request_id's index */
} ngx_http_vantoro_main_conf_t;


typedef struct {
    ngx_flag_t                 enable;
    ngx_uint_t                 pass;
    ngx_uint_t                 decoy;
    ngx_uint_t                 hide;
    ngx_flag_t                 nosnippet;
    ngx_str_t                  copyright;
    ngx_str_t                  charset;
    ngx_str_t                  site_key;
    ngx_str_t                  stylesheet_uri;
    ngx_int_t                  copy_notices;
    ngx_flag_t                 marks;       /* as configured, or unset */
    ngx_flag_t                 marking;     /* what applies */
    ngx_http_complex_value_t  *mark_id;
    ngx_flag_t                 tdm_reservation;  /* as configured */
    ngx_flag_t                 tdm;              /* what applies */
    ngx_str_t                  tdm_policy;
    size_t                     max_size;

    ngx_array_t               *types;      /* ngx_str_t, as configured */
    vantoro_policy            *policy;
    ngx_array_t               *bypass;

    ngx_http_vantoro_engine_t *engine;

    ngx_flag_t                 stylesheet;
    ngx_str_t                  css;
    ngx_str_t                  css_etag;

#if (NGX_THREADS)
    ngx_thread_pool_t         *thread_pool;
    size_t                     thread_size;
#endif

#if (NGX_HTTP_VANTORO_TEST)
    ngx_array_t               *replay;     /* double */
#endif
} ngx_http_vantoro_loc_conf_t;


typedef struct {
    u_char                    *data;       /* the body held so far */
    size_t                     len;
    size_t                     size;
    char                      *result;     /* the protected page being sent */
    size_t                     result_len;
    ngx_buf_t                 *out;
    ngx_uint_t                 way;
    vantoro_verdict            verdict;
    uint64_t                   mark_id;
    size_t                     reserved;    /* for a result still in a thread */
    unsigned                   judged:1;
    unsigned                   tdm:1;       /* the page gets the meta */
    unsigned                   marked:1;
    unsigned                   collecting:1;
    unsigned                   gzip_forced:1;
    unsigned                   in_thread:1; /* the page is in a pool thread */
} ngx_http_vantoro_ctx_t;


#if (NGX_THREADS)

/*
 * A page protected in a pool thread.  The thread reads and writes nothing
 * but the first part of this: the handle and the body are the task's while
 * it runs (the worker does not touch them), and the result is the worker's
 * once the task's event says it is done.  The rest is the worker's.
 */

typedef struct {
    vantoro_handle              *handle;
    const char                  *data;
    size_t                       len;
    ngx_uint_t                   pass;
#if (NGX_HTTP_VANTORO_TEST)
    double                      *replay;
    size_t                       replay_len;
#endif
    char                        *result;
    size_t                       result_len;
    vantoro_status               status;

    ngx_http_request_t          *request;
    ngx_http_vantoro_ctx_t      *ctx;
    ngx_http_vantoro_engine_t   *engine;
    ngx_uint_t                   way;
    u_char                       tdm;       /* the handle's reservation */
    unsigned                     marking:1;
} ngx_http_vantoro_job_t;

#endif


/*
 * What the responses being protected hold in this worker: their bodies while
 * they are collected, their results until they are sent.  A worker serves
 * one request at a time, so a plain counter does.
 */

static size_t  ngx_http_vantoro_held;


static ngx_int_t ngx_http_vantoro_request_handler(ngx_http_request_t *r);
static ngx_uint_t ngx_http_vantoro_stripped(ngx_table_elt_t *h);
static ngx_int_t ngx_http_vantoro_strip_headers(ngx_http_request_t *r);
static ngx_int_t ngx_http_vantoro_header_filter(ngx_http_request_t *r);
static ngx_int_t ngx_http_vantoro_tdm_headers(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf);
static ngx_uint_t ngx_http_vantoro_way(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf);
static ngx_int_t ngx_http_vantoro_body_filter(ngx_http_request_t *r,
    ngx_chain_t *in);
static vantoro_verdict ngx_http_vantoro_judge(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf);
static size_t ngx_http_vantoro_room(ngx_http_request_t *r);
static void ngx_http_vantoro_report(ngx_http_request_t *r,
    ngx_http_vantoro_ctx_t *ctx, vantoro_verdict verdict, const char *why);
static ngx_int_t ngx_http_vantoro_edit_headers(ngx_http_request_t *r,
    off_t length);
static ngx_int_t ngx_http_vantoro_unchanged(ngx_http_request_t *r,
    ngx_http_vantoro_ctx_t *ctx, ngx_chain_t *rest);
static ngx_int_t ngx_http_vantoro_send(ngx_http_request_t *r,
    ngx_http_vantoro_ctx_t *ctx);
static vantoro_status ngx_http_vantoro_run(vantoro_handle *h, ngx_uint_t pass,
    const char *data, size_t len, char **result, size_t *result_len);
static void ngx_http_vantoro_keep(ngx_http_request_t *r,
    ngx_http_vantoro_ctx_t *ctx, vantoro_handle *h, vantoro_status status,
    char *result, size_t result_len, ngx_uint_t marking);
static ngx_int_t ngx_http_vantoro_output(ngx_http_request_t *r,
    ngx_http_vantoro_ctx_t *ctx);
static ngx_int_t ngx_http_vantoro_set_mark(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf, ngx_http_vantoro_ctx_t *ctx,
    vantoro_handle *h);
#if (NGX_THREADS)
static ngx_int_t ngx_http_vantoro_post(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf, ngx_http_vantoro_ctx_t *ctx);
static void ngx_http_vantoro_thread_handler(void *data, ngx_log_t *log);
static void ngx_http_vantoro_pool_handler(void *data, ngx_log_t *log);
static void ngx_http_vantoro_thread_event_handler(ngx_event_t *ev);
static void ngx_http_vantoro_job_done(ngx_http_vantoro_job_t *job);
static vantoro_handle *ngx_http_vantoro_spare(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf, ngx_http_vantoro_ctx_t *ctx,
    u_char *tdm);
static void ngx_http_vantoro_unspare(ngx_http_vantoro_engine_t *engine,
    ngx_uint_t way, vantoro_handle *h, u_char tdm);
#endif
static ngx_int_t ngx_http_vantoro_reserve(ngx_http_request_t *r,
    ngx_http_vantoro_ctx_t *ctx, size_t size);
static void ngx_http_vantoro_release(ngx_http_request_t *r,
    ngx_http_vantoro_ctx_t *ctx);
static vantoro_handle *ngx_http_vantoro_handle(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf, ngx_http_vantoro_ctx_t *ctx);
static ngx_int_t ngx_http_vantoro_prepare(ngx_http_request_t *r,
    ngx_http_vantoro_ctx_t *ctx, vantoro_handle *h, u_char *tdm);
static vantoro_handle *ngx_http_vantoro_new_handle(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf, ngx_uint_t way);
static uint64_t ngx_http_vantoro_mark_id(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf);
static ngx_int_t ngx_http_vantoro_parse_id(u_char *p, size_t len,
    uint64_t *id);
static void ngx_http_vantoro_free_data(void *data);
static void ngx_http_vantoro_destroy_engine(void *data);
static void ngx_http_vantoro_destroy_policy(void *data);

static ngx_uint_t ngx_http_vantoro_csp_styles(ngx_http_request_t *r,
    ngx_uint_t element);
static void *ngx_http_vantoro_other_conf(ngx_conf_t *cf, const char *name);

static ngx_int_t ngx_http_vantoro_stylesheet_handler(ngx_http_request_t *r);
static ngx_int_t ngx_http_vantoro_status_variable(ngx_http_request_t *r,
    ngx_http_variable_value_t *v, uintptr_t data);
static ngx_int_t ngx_http_vantoro_mark_variable(ngx_http_request_t *r,
    ngx_http_variable_value_t *v, uintptr_t data);

static char *ngx_http_vantoro_enum(ngx_conf_t *cf, ngx_command_t *cmd,
    void *conf);
static char *ngx_http_vantoro_copyright(ngx_conf_t *cf, ngx_command_t *cmd,
    void *conf);
static char *ngx_http_vantoro_charset(ngx_conf_t *cf, ngx_command_t *cmd,
    void *conf);
static char *ngx_http_vantoro_types(ngx_conf_t *cf, ngx_command_t *cmd,
    void *conf);
static char *ngx_http_vantoro_stylesheet(ngx_conf_t *cf, ngx_command_t *cmd,
    void *conf);
static char *ngx_http_vantoro_tdm_policy(ngx_conf_t *cf, ngx_command_t *cmd,
    void *conf);
static char *ngx_http_vantoro_thread_pool(ngx_conf_t *cf, ngx_command_t *cmd,
    void *conf);
#if (NGX_HTTP_VANTORO_TEST)
static char *ngx_http_vantoro_replay(ngx_conf_t *cf, ngx_command_t *cmd,
    void *conf);
#endif
static ngx_int_t ngx_http_vantoro_add_variables(ngx_conf_t *cf);
static void *ngx_http_vantoro_create_main_conf(ngx_conf_t *cf);
static char *ngx_http_vantoro_keep_memory(ngx_conf_t *cf, ngx_command_t *cmd,
    void *conf);
static ngx_int_t ngx_http_vantoro_init_process(ngx_cycle_t *cycle);
static char *ngx_http_vantoro_init_main_conf(ngx_conf_t *cf, void *conf);
static void *ngx_http_vantoro_create_conf(ngx_conf_t *cf);
static char *ngx_http_vantoro_merge_conf(ngx_conf_t *cf, void *parent,
    void *child);
static ngx_int_t ngx_http_vantoro_filter_init(ngx_conf_t *cf);


static ngx_conf_enum_t  ngx_http_vantoro_passes[] = {
    { ngx_string("page"), NGX_HTTP_VANTORO_PAGE },
    { ngx_string("content"), NGX_HTTP_VANTORO_CONTENT },
    { ngx_string("protect"), NGX_HTTP_VANTORO_PROTECT },
    { ngx_null_string, 0 }
};


static ngx_conf_enum_t  ngx_http_vantoro_decoys[] = {
    { ngx_string("copyright"), VANTORO_DECOY_COPYRIGHT },
    { ngx_string("random"), VANTORO_DECOY_RANDOM },
    { ngx_string("both"), VANTORO_DECOY_BOTH },
    { ngx_null_string, 0 }
};


static ngx_conf_enum_t  ngx_http_vantoro_hides[] = {
    { ngx_string("style"), NGX_HTTP_VANTORO_STYLE },
    { ngx_string("class"), NGX_HTTP_VANTORO_CLASS },
    { ngx_string("auto"), NGX_HTTP_VANTORO_AUTO },
    { ngx_string("layered"), NGX_HTTP_VANTORO_LAYERED },
    { ngx_null_string, 0 }
};


static ngx_command_t  ngx_http_vantoro_filter_commands[] = {

    { ngx_string("vantoro"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_FLAG,
      ngx_conf_set_flag_slot,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, enable),
      NULL },

    { ngx_string("vantoro_pass"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_TAKE1,
      ngx_http_vantoro_enum,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, pass),
      &ngx_http_vantoro_passes },

    { ngx_string("vantoro_copyright"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_TAKE1,
      ngx_http_vantoro_copyright,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, copyright),
      NULL },

    { ngx_string("vantoro_decoy"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_TAKE1,
      ngx_http_vantoro_enum,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, decoy),
      &ngx_http_vantoro_decoys },

    { ngx_string("vantoro_charset"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_TAKE1,
      ngx_http_vantoro_charset,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, charset),
      NULL },

    { ngx_string("vantoro_types"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_1MORE,
      ngx_http_vantoro_types,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, types),
      NULL },

    { ngx_string("vantoro_bypass"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_1MORE,
      ngx_http_set_predicate_slot,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, bypass),
      NULL },

    { ngx_string("vantoro_max_size"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_TAKE1,
      ngx_conf_set_size_slot,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, max_size),
      NULL },

    { ngx_string("vantoro_worker_memory"),
      NGX_HTTP_MAIN_CONF|NGX_CONF_TAKE1,
      ngx_conf_set_size_slot,
      NGX_HTTP_MAIN_CONF_OFFSET,
      offsetof(ngx_http_vantoro_main_conf_t, worker_memory),
      NULL },

    { ngx_string("vantoro_keep_memory"),
      NGX_HTTP_MAIN_CONF|NGX_CONF_TAKE1,
      ngx_http_vantoro_keep_memory,
      NGX_HTTP_MAIN_CONF_OFFSET,
      offsetof(ngx_http_vantoro_main_conf_t, keep_memory),
      NULL },

    { ngx_string("vantoro_hide"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_TAKE1,
      ngx_http_vantoro_enum,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, hide),
      &ngx_http_vantoro_hides },

    { ngx_string("vantoro_nosnippet"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_FLAG,
      ngx_conf_set_flag_slot,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, nosnippet),
      NULL },

    { ngx_string("vantoro_site_key"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_TAKE1,
      ngx_conf_set_str_slot,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, site_key),
      NULL },

    { ngx_string("vantoro_stylesheet_uri"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_TAKE1,
      ngx_conf_set_str_slot,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, stylesheet_uri),
      NULL },

    { ngx_string("vantoro_copy_notices"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_TAKE1,
      ngx_conf_set_num_slot,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, copy_notices),
      NULL },

    { ngx_string("vantoro_marks"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_FLAG,
      ngx_conf_set_flag_slot,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, marks),
      NULL },

    { ngx_string("vantoro_mark_id"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_TAKE1,
      ngx_http_set_complex_value_slot,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, mark_id),
      NULL },

    { ngx_string("vantoro_tdm_reservation"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_FLAG,
      ngx_conf_set_flag_slot,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, tdm_reservation),
      NULL },

    { ngx_string("vantoro_tdm_policy"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_TAKE1,
      ngx_http_vantoro_tdm_policy,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, tdm_policy),
      NULL },

    { ngx_string("vantoro_stylesheet"),
      NGX_HTTP_LOC_CONF|NGX_CONF_NOARGS,
      ngx_http_vantoro_stylesheet,
      NGX_HTTP_LOC_CONF_OFFSET,
      0,
      NULL },

    { ngx_string("vantoro_thread_pool"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_TAKE12,
      ngx_http_vantoro_thread_pool,
      NGX_HTTP_LOC_CONF_OFFSET,
      0,
      NULL },

#if (NGX_HTTP_VANTORO_TEST)

    /* Test builds only: every response takes its random draws from a file. */

    { ngx_string("vantoro_test_random_values"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_TAKE1,
      ngx_http_vantoro_replay,
      NGX_HTTP_LOC_CONF_OFFSET,
      0,
      NULL },

#endif

      ngx_null_command
};


static ngx_http_module_t  ngx_http_vantoro_filter_module_ctx = {
    ngx_http_vantoro_add_variables,        /* preconfiguration */
    ngx_http_vantoro_filter_init,          /* postconfiguration */

    ngx_http_vantoro_create_main_conf,     /* create main configuration */
    ngx_http_vantoro_init_main_conf,       /* init main configuration */

    NULL,                                  /* create server configuration */
    NULL,                                  /* merge server configuration */

    ngx_http_vantoro_create_conf,          /* create location configuration */
    ngx_http_vantoro_merge_conf            /* merge location configuration */
};


ngx_module_t  ngx_http_vantoro_filter_module = {
    NGX_MODULE_V1,
    &ngx_http_vantoro_filter_module_ctx,   /* module context */
    ngx_http_vantoro_filter_commands,      /* module directives */
    NGX_HTTP_MODULE,                       /* module type */
    NULL,                                  /* init master */
    NULL,                                  /* init module */
    ngx_http_vantoro_init_process,         /* init process */
    NULL,                                  /* init thread */
    NULL,                                  /* exit thread */
    NULL,                                  /* exit process */
    NULL,                                  /* exit master */
    NGX_MODULE_V1_PADDING
};


static ngx_str_t  ngx_http_vantoro_status_name = ngx_string("vantoro_status");
static ngx_str_t  ngx_http_vantoro_mark_name = ngx_string("vantoro_mark");

static ngx_http_output_header_filter_pt  ngx_http_next_header_filter;
static ngx_http_output_body_filter_pt    ngx_http_next_body_filter;

/* the index of nginx's gunzip filter, or -1 when this nginx has none */
static ngx_int_t  ngx_http_vantoro_gunzip_index = -1;


/*
 * Before the content phase of a protected location: the sources (upstreams,
 * FastCGI, ...) never see Range, If-Range or Accept-Encoding, so none can
 * answer with a slice of an original page or with one compressed past this
 * module (nginx's gzip filter, which runs after it, still compresses for the
 * client); and with "gunzip on", nginx decompresses a gzip body a source
 * sends anyway, so that it can be protected.
 */

static ngx_int_t
ngx_http_vantoro_request_handler(ngx_http_request_t *r)
{
    ngx_flag_t                   *gunzip;
    ngx_http_vantoro_ctx_t       *ctx;
    ngx_http_vantoro_loc_conf_t  *vlcf;

    vlcf = ngx_http_get_module_loc_conf(r, ngx_http_vantoro_filter_module);

    if (!vlcf->enable || r != r->main) {
        return NGX_DECLINED;
    }

    if (ngx_http_vantoro_strip_headers(r) != NGX_OK) {
        return NGX_HTTP_INTERNAL_SERVER_ERROR;
    }

    if (ngx_http_vantoro_gunzip_index == -1) {
        return NGX_DECLINED;
    }

    /* gunzip's configuration starts with its "gunzip" flag */

    gunzip = r->loc_conf[ngx_http_vantoro_gunzip_index];

    if (!*gunzip) {
        return NGX_DECLINED;
    }

    ctx = ngx_http_get_module_ctx(r, ngx_http_vantoro_filter_module);

    if (ctx == NULL) {
        ctx = ngx_pcalloc(r->pool, sizeof(ngx_http_vantoro_ctx_t));
        if (ctx == NULL) {
            return NGX_HTTP_INTERNAL_SERVER_ERROR;
        }

        ngx_http_set_ctx(r, ctx, ngx_http_vantoro_filter_module);
    }

    /* gunzip decompresses what the client is taken not to accept */

    r->gzip_tested = 1;
    r->gzip_ok = 0;
    ctx->gzip_forced = 1;

    return NGX_DECLINED;
}


/*
 * The request's headers without Range, If-Range, Request-Range and
 * Accept-Encoding, as every
 * upstream module reads them.  r->headers_in keeps its pointers to them:
 * nginx's own range filter still serves ranges of the responses this module
 * does not protect (static files, or proxied ones with proxy_force_ranges),
 * and its gzip filter still sees what the client accepts.
 */

static ngx_uint_t
ngx_http_vantoro_stripped(ngx_table_elt_t *h)
{
    ngx_uint_t  n;

    /* Request-Range: the older name of Range, which some servers still honour */

    static ngx_str_t  stripped[] = {
        ngx_string("Range"), ngx_string("If-Range"),
        ngx_string("Request-Range"), ngx_string("Accept-Encoding")
    };

    for (n = 0; n < sizeof(stripped) / sizeof(stripped[0]); n++) {
        if (h->key.len == stripped[n].len
            && ngx_strncasecmp(h->key.data, stripped[n].data, stripped[n].len)
               == 0)
        {
            return 1;
        }
    }

    return 0;
}


static ngx_int_t
ngx_http_vantoro_strip_headers(ngx_http_request_t *r)
{
    ngx_uint_t        i, copying;
    ngx_list_t        headers;
    ngx_list_part_t  *part;
    ngx_table_elt_t  *h, *copy;

    /*
     * First a look for any of them (most requests have none, and then
     * nothing is copied), then the copy without them.
     */

    for (copying = 0; copying < 2; copying++) {

        part = &r->headers_in.headers.part;
        h = part->elts;

        for (i = 0; /* void */ ; i++) {

            if (i >= part->nelts) {
                if (part->next == NULL) {
                    break;
                }

                part = part->next;
                h = part->elts;
                i = 0;
            }

            if (!copying) {
                if (ngx_http_vantoro_stripped(&h[i])) {
                    break;
                }

                continue;
            }

            if (ngx_http_vantoro_stripped(&h[i])) {
                continue;
            }

            copy = ngx_list_push(&headers);
            if (copy == NULL) {
                return NGX_ERROR;
            }

            *copy = h[i];
        }

        if (copying) {
            break;
        }

        if (i >= part->nelts) {
            /* read to the end: none of them */
            return NGX_OK;
        }

        if (ngx_list_init(&headers, r->pool, 20, sizeof(ngx_table_elt_t))
            != NGX_OK)
        {
            return NGX_ERROR;
        }
    }

    r->headers_in.headers = headers;

    return NGX_OK;
}


static ngx_int_t
ngx_http_vantoro_header_filter(ngx_http_request_t *r)
{
    ngx_int_t                     tdm;
    ngx_uint_t                    way;
    vantoro_verdict               verdict;
    ngx_pool_cleanup_t           *cln;
    ngx_http_vantoro_ctx_t       *ctx;
    ngx_http_vantoro_loc_conf_t  *vlcf;

    vlcf = ngx_http_get_module_loc_conf(r, ngx_http_vantoro_filter_module);

    if (r != r->main) {
        return ngx_http_next_header_filter(r);
    }

    tdm = NGX_DECLINED;

    if (vlcf->tdm) {
        tdm = ngx_http_vantoro_tdm_headers(r, vlcf);

        if (tdm == NGX_ERROR) {
            return NGX_ERROR;
        }
    }

    if (!vlcf->enable) {
        return ngx_http_next_header_filter(r);
    }

    ctx = ngx_http_get_module_ctx(r, ngx_http_vantoro_filter_module);

    if (ctx == NULL) {
        ctx = ngx_pcalloc(r->pool, sizeof(ngx_http_vantoro_ctx_t));
        if (ctx == NULL) {
            return NGX_ERROR;
        }

        ngx_http_set_ctx(r, ctx, ngx_http_vantoro_filter_module);
    }

    if (ctx->gzip_forced) {
        /* gunzip is done: the gzip filter asks the client anew */
        r->gzip_tested = 0;
        r->gzip_ok = 0;
    }

    if (ctx->judged) {
        /* a second header of one request (an error page after a failure) */
        return ngx_http_next_header_filter(r);
    }

    verdict = ngx_http_vantoro_judge(r, vlcf);

    if (verdict == VANTORO_VERDICT_ERROR) {
        return NGX_ERROR;
    }

    way = NGX_HTTP_VANTORO_NO_WAY;

    if (verdict == VANTORO_VERDICT_PROTECT) {
        way = ngx_http_vantoro_way(r, vlcf);

        if (way == NGX_HTTP_VANTORO_NO_WAY) {
            verdict = NGX_HTTP_VANTORO_VERDICT_CSP;
        }
    }

    if (verdict == VANTORO_VERDICT_PROTECT
        && r->headers_out.content_length_n > 0
        && (off_t) vlcf->max_size < r->headers_out.content_length_n)
    {
        ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                      "vantoro: response of %O bytes is larger than "
                      "vantoro_max_size %uz, sent unprotected",
                      r->headers_out.content_length_n, vlcf->max_size);
        verdict = VANTORO_VERDICT_TOO_LARGE;
    }

    if (verdict == VANTORO_VERDICT_PROTECT
        && r->method != NGX_HTTP_HEAD
        && r->headers_out.content_length_n > 0)
    {
        if ((off_t) ngx_http_vantoro_room(r)
            < r->headers_out.content_length_n)
        {
            ngx_http_vantoro_report(r, ctx, VANTORO_VERDICT_MEMORY,
                                    "the pages in progress hold "
                                    "vantoro_worker_memory");
            return ngx_http_next_header_filter(r);
        }
    }

    ctx->judged = 1;
    ctx->verdict = verdict;
    ctx->way = way;
    ctx->tdm = (tdm == NGX_OK);

    if (verdict != VANTORO_VERDICT_PROTECT) {
        return ngx_http_next_header_filter(r);
    }

    if (r->header_only || r->method == NGX_HTTP_HEAD) {
        /* the headers a GET gets, but for the length nobody knows yet */

        if (ngx_http_vantoro_edit_headers(r, -1) != NGX_OK) {
            return NGX_ERROR;
        }

        return ngx_http_next_header_filter(r);
    }

    cln = ngx_pool_cleanup_add(r->pool, 0);
    if (cln == NULL) {
        return NGX_ERROR;
    }

    cln->handler = ngx_http_vantoro_free_data;
    cln->data = ctx;

    ctx->collecting = 1;

    /* the whole body is held, so the headers go out with it */

    r->main_filter_need_in_memory = 1;
    r->allow_ranges = 0;

    return NGX_OK;
}


/* A response header; key and value must outlive the request. */

static ngx_int_t
ngx_http_vantoro_add_header(ngx_http_request_t *r, ngx_str_t *key,
    ngx_str_t *value)
{
    ngx_table_elt_t  *h;

    h = ngx_list_push(&r->headers_out.headers);
    if (h == NULL) {
        return NGX_ERROR;
    }

    h->hash = 1;
#if (nginx_version >= 1023000)
    h->next = NULL;
#endif
    h->key = *key;
    h->value = *value;

    return NGX_OK;
}


/*
 * The TDM reservation in the headers of every response of the location,
 * whatever becomes of its body: a bypassed crawler, a page sent unprotected,
 * an image or a download is reserved as much as a protected page.  A
 * reservation the source made itself stands, and so does its policy.
 * NGX_OK when ours was added, NGX_DECLINED when the source has one.
 */

static ngx_int_t
ngx_http_vantoro_tdm_headers(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf)
{
    ngx_uint_t        i;
    ngx_list_part_t  *part;
    ngx_table_elt_t  *h;
    static ngx_str_t  reservation = ngx_string("tdm-reservation");
    static ngx_str_t  policy = ngx_string("tdm-policy");
    static ngx_str_t  one = ngx_string("1");

    part = &r->headers_out.headers.part;
    h = part->elts;

    for (i = 0; /* void */ ; i++) {

        if (i >= part->nelts) {
            if (part->next == NULL) {
                break;
            }

            part = part->next;
            h = part->elts;
            i = 0;
        }

        if (h[i].hash != 0
            && h[i].key.len == sizeof("tdm-reservation") - 1
            && ngx_strncasecmp(h[i].key.data, (u_char *) "tdm-reservation",
                               sizeof("tdm-reservation") - 1)
               == 0)
        {
            return NGX_DECLINED;
        }
    }

    if (ngx_http_vantoro_add_header(r, &reservation, &one) != NGX_OK) {
        return NGX_ERROR;
    }

    if (vlcf->tdm_policy.len == 0) {
        return NGX_OK;
    }

    if (ngx_http_vantoro_add_header(r, &policy, &vlcf->tdm_policy) != NGX_OK) {
        return NGX_ERROR;
    }

    return NGX_OK;
}


/*
 * How this response's decoys hide, or NGX_HTTP_VANTORO_NO_WAY when its
 * Content-Security-Policy forbids every way the location has: the decoys
 * would show, and a page that shows them is worse than one sent as it came.
 */

static ngx_uint_t
ngx_http_vantoro_way(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf)
{
    ngx_uint_t  styles;

    switch (vlcf->hide) {

    case NGX_HTTP_VANTORO_STYLE:
        return NGX_HTTP_VANTORO_BY_STYLE;

    case NGX_HTTP_VANTORO_CLASS:
        return NGX_HTTP_VANTORO_BY_CLASS;

    case NGX_HTTP_VANTORO_AUTO:
        return ngx_http_vantoro_csp_styles(r, 0) == VANTORO_STYLES_INLINE
               ? NGX_HTTP_VANTORO_BY_STYLE : NGX_HTTP_VANTORO_BY_CLASS;

    default: /* NGX_HTTP_VANTORO_LAYERED */
        break;
    }

    if (vlcf->pass == NGX_HTTP_VANTORO_PAGE) {
        /* no decoys, nothing to hide */
        return NGX_HTTP_VANTORO_BY_ELEMENT;
    }

    styles = ngx_http_vantoro_csp_styles(r, 1);

    if (styles == VANTORO_STYLES_INLINE) {
        return NGX_HTTP_VANTORO_BY_ELEMENT;
    }

    if (styles == VANTORO_STYLES_LINKED && vlcf->stylesheet_uri.len) {
        return NGX_HTTP_VANTORO_BY_LINK;
    }

    /* a setup that sends pages unprotected: said once a location and worker */

    if (!vlcf->engine->warned_csp) {
        vlcf->engine->warned_csp = 1;
        ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                      "vantoro: the response's Content-Security-Policy "
                      "forbids %s, so its pages are sent unprotected; %s",
                      styles == VANTORO_STYLES_NONE
                      ? "every stylesheet" : "inline styles",
                      styles == VANTORO_STYLES_NONE
                      ? "allow stylesheets from \"vantoro_stylesheet_uri\""
                      : "set \"vantoro_stylesheet_uri\"");
    }

    return NGX_HTTP_VANTORO_NO_WAY;
}


/*
 * The library's verdict on the response's head, then the module's own
 * exemptions.  VANTORO_VERDICT_ERROR only when out of memory.
 */

static vantoro_verdict
ngx_http_vantoro_judge(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf)
{
    u_char           *p;
    size_t            len[2];
    ngx_int_t         rc;
    ngx_str_t        *joined, *value;
    ngx_uint_t        i, n, range;
    vantoro_verdict   verdict;
    ngx_list_part_t  *part;
    ngx_table_elt_t  *h;
    ngx_str_t         values[2][8];
    ngx_uint_t        count[2];
    ngx_str_t         heads[2];

    static ngx_str_t  names[2] = {
        ngx_string("Cache-Control"), ngx_string("Content-Encoding")
    };

    /* Cache-Control and Content-Encoding, each joined by ", " */

    count[0] = 0;
    count[1] = 0;
    len[0] = 0;
    len[1] = 0;
    range = 0;

    part = &r->headers_out.headers.part;
    h = part->elts;

    for (i = 0; /* void */ ; i++) {

        if (i >= part->nelts) {
            if (part->next == NULL) {
                break;
            }

            part = part->next;
            h = part->elts;
            i = 0;
        }

        if (h[i].hash == 0) {
            continue;
        }

        if (h[i].key.len == sizeof("Content-Range") - 1
            && ngx_strncasecmp(h[i].key.data, (u_char *) "Content-Range",
                               sizeof("Content-Range") - 1) == 0)
        {
            range = 1;
            continue;
        }

        for (n = 0; n < 2; n++) {
            if (h[i].key.len == names[n].len
                && ngx_strncasecmp(h[i].key.data, names[n].data,
                                   names[n].len) == 0)
            {
                if (count[n] == 8) {
                    /* more than any real response sends: judged as seen */
                    break;
                }

                values[n][count[n]++] = h[i].value;
                len[n] += h[i].value.len + 2;
            }
        }
    }

    for (n = 0; n < 2; n++) {
        joined = &heads[n];
        joined->len = 0;
        joined->data = NULL;

        if (count[n] == 1) {
            *joined = values[n][0];
            continue;
        }

        if (count[n] == 0) {
            continue;
        }

        p = ngx_pnalloc(r->pool, len[n]);
        if (p == NULL) {
            return VANTORO_VERDICT_ERROR;
        }

        joined->data = p;

        for (i = 0; i < count[n]; i++) {
            value = &values[n][i];

            if (i) {
                *p++ = ',';
                *p++ = ' ';
            }

            p = ngx_cpymem(p, value->data, value->len);
        }

        joined->len = p - joined->data;
    }

    verdict = vantoro_policy_judge(vlcf->policy, (int) r->headers_out.status,
                                   (char *) r->headers_out.content_type.data,
                                   r->headers_out.content_type.len,
                                   (char *) heads[1].data, heads[1].len,
                                   (char *) heads[0].data, heads[0].len,
                                   (int) range);

    if (verdict == VANTORO_VERDICT_ENCODED) {

        /* a setup that leaks pages: said once per location and worker */

        if (!vlcf->engine->warned) {
            vlcf->engine->warned = 1;
            ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                          "vantoro: responses with \"Content-Encoding: %V\" "
                          "pass unprotected; clear \"Accept-Encoding\" "
                          "towards the upstream, or use \"gunzip on\"",
                          &heads[1]);
        }
    }

    if (verdict != VANTORO_VERDICT_PROTECT) {
        return verdict;
    }

    if (vlcf->bypass) {
        rc = ngx_http_test_predicates(r, vlcf->bypass);

        if (rc == NGX_ERROR) {
            return VANTORO_VERDICT_ERROR;
        }

        if (rc == NGX_DECLINED) {
            return VANTORO_VERDICT_BYPASS;
        }
    }

    if (r->headers_out.content_length_n == 0) {
        return VANTORO_VERDICT_EMPTY;
    }

    return VANTORO_VERDICT_PROTECT;
}


/* What vantoro_worker_memory still allows this worker to hold. */

static size_t
ngx_http_vantoro_room(ngx_http_request_t *r)
{
    ngx_http_vantoro_main_conf_t  *vmcf;

    vmcf = ngx_http_get_module_main_conf(r, ngx_http_vantoro_filter_module);

    if (ngx_http_vantoro_held >= vmcf->worker_memory) {
        return 0;
    }

    return vmcf->worker_memory - ngx_http_vantoro_held;
}


/* A response that goes out unprotected for a reason worth an error line. */

static void
ngx_http_vantoro_report(ngx_http_request_t *r, ngx_http_vantoro_ctx_t *ctx,
    vantoro_verdict verdict, const char *why)
{
    ctx->judged = 1;
    ctx->verdict = verdict;

    ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                  "vantoro: %s, sent unprotected", why);
}


/*
 * The headers of a protected response, as the library's policy says: the
 * length of the result (or none, -1), a weak ETag, and no Last-Modified,
 * Accept-Ranges or digest of the original body.
 */

static ngx_int_t
ngx_http_vantoro_edit_headers(ngx_http_request_t *r, off_t length)
{
    u_char           *p;
    ngx_uint_t        i;
    ngx_list_part_t  *part;
    ngx_table_elt_t  *h;

    ngx_http_clear_content_length(r);
    ngx_http_clear_accept_ranges(r);
    ngx_http_clear_last_modified(r);

    r->headers_out.content_length_n = length;

    part = &r->headers_out.headers.part;
    h = part->elts;

    for (i = 0; /* void */ ; i++) {

        if (i >= part->nelts) {
            if (part->next == NULL) {
                break;
            }

            part = part->next;
            h = part->elts;
            i = 0;
        }

        if (h[i].hash == 0) {
            continue;
        }

        switch (vantoro_protected_header((char *) h[i].key.data,
                                         h[i].key.len))
        {
        case VANTORO_HEADER_DROP:
        case VANTORO_HEADER_LENGTH:
            h[i].hash = 0;
            break;

        case VANTORO_HEADER_WEAKEN:
            if (h[i].value.len >= 2
                && h[i].value.data[0] == 'W' && h[i].value.data[1] == '/')
            {
                break;
            }

            p = ngx_pnalloc(r->pool, h[i].value.len + 2);
            if (p == NULL) {
                return NGX_ERROR;
            }

            h[i].value.len = ngx_sprintf(p, "W/%V", &h[i].value) - p;
            h[i].value.data = p;
            break;

        default: /* VANTORO_HEADER_KEEP */
            break;
        }
    }

    return NGX_OK;
}


static ngx_int_t
ngx_http_vantoro_body_filter(ngx_http_request_t *r, ngx_chain_t *in)
{
    size_t                         size, need, alloc;
    ngx_int_t                      rc;
    ngx_buf_t                     *b;
    ngx_chain_t                   *cl;
    ngx_http_vantoro_ctx_t        *ctx;
    ngx_http_vantoro_loc_conf_t   *vlcf;

    ctx = ngx_http_get_module_ctx(r, ngx_http_vantoro_filter_module);

    if (ctx == NULL || !ctx->collecting) {
        rc = ngx_http_next_body_filter(r, in);

        if (ctx && ctx->result) {
            ngx_http_vantoro_release(r, ctx);
        }

        return rc;
    }

    if (ctx->in_thread) {
        /* the whole body came; its result is sent when the task is done */
        return NGX_AGAIN;
    }

    vlcf = ngx_http_get_module_loc_conf(r, ngx_http_vantoro_filter_module);

    for (cl = in; cl; cl = cl->next) {
        b = cl->buf;

        if (!ngx_buf_special(b) && !ngx_buf_in_memory(b)) {
            ngx_http_vantoro_report(r, ctx, VANTORO_VERDICT_ERROR,
                                    "body is not in memory");
            return ngx_http_vantoro_unchanged(r, ctx, cl);
        }

        size = ngx_buf_in_memory(b) ? (size_t) (b->last - b->pos) : 0;

        if (size > vlcf->max_size - ctx->len) {
            ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                          "vantoro: response is larger than "
                          "vantoro_max_size %uz, sent unprotected",
                          vlcf->max_size);
            ctx->verdict = VANTORO_VERDICT_TOO_LARGE;
            return ngx_http_vantoro_unchanged(r, ctx, cl);
        }

        if (size) {
            need = ctx->len + size;

            if (need > ctx->size) {
                if (ctx->data == NULL
                    && r->headers_out.content_length_n > 0)
                {
                    alloc = (size_t) r->headers_out.content_length_n;

                } else {
                    alloc = ngx_max(2 * ctx->size, (size_t) 16384);
                    alloc = ngx_min(alloc, vlcf->max_size);
                }

                rc = ngx_http_vantoro_reserve(r, ctx, ngx_max(alloc, need));

                if (rc != NGX_OK) {
                    return ngx_http_vantoro_unchanged(r, ctx, cl);
                }
            }

            ngx_memcpy(ctx->data + ctx->len, b->pos, size);
            ctx->len += size;
            b->pos = b->last;
        }

        if (b->in_file) {
            b->file_pos = b->file_last;
        }

        if (b->last_buf) {
            return ngx_http_vantoro_send(r, ctx);
        }
    }

    return NGX_OK;
}


/* Room for `size` bytes of body, within the worker's memory for pages. */

static ngx_int_t
ngx_http_vantoro_reserve(ngx_http_request_t *r, ngx_http_vantoro_ctx_t *ctx,
    size_t size)
{
    u_char  *p;

    if (size <= ctx->size) {
        return NGX_OK;
    }

    if (size - ctx->size > ngx_http_vantoro_room(r)) {
        ngx_http_vantoro_report(r, ctx, VANTORO_VERDICT_MEMORY,
                                "the pages in progress hold "
                                "vantoro_worker_memory");
        return NGX_ERROR;
    }

    p = ngx_alloc(size, r->connection->log);
    if (p == NULL) {
        ngx_http_vantoro_report(r, ctx, VANTORO_VERDICT_ERROR,
                                "out of memory");
        return NGX_ERROR;
    }

    if (ctx->len) {
        ngx_memcpy(p, ctx->data, ctx->len);
    }

    ngx_free(ctx->data);

    ngx_http_vantoro_held += size - ctx->size;

    ctx->data = p;
    ctx->size = size;

    return NGX_OK;
}


/*
 * The response goes on as it came: the headers untouched, then what was held,
 * then the rest of the body.
 */

static ngx_int_t
ngx_http_vantoro_unchanged(ngx_http_request_t *r, ngx_http_vantoro_ctx_t *ctx,
    ngx_chain_t *rest)
{
    ngx_int_t     rc;
    ngx_buf_t    *b;
    ngx_chain_t  *out;

    ctx->collecting = 0;

    rc = ngx_http_next_header_filter(r);

    if (rc == NGX_ERROR || rc > NGX_OK || r->header_only) {
        return rc;
    }

    if (ctx->len == 0 && rest) {
        return ngx_http_next_body_filter(r, rest);
    }

    b = ngx_calloc_buf(r->pool);
    if (b == NULL) {
        return NGX_ERROR;
    }

    out = ngx_alloc_chain_link(r->pool);
    if (out == NULL) {
        return NGX_ERROR;
    }

    if (ctx->len) {
        b->pos = ctx->data;
        b->last = ctx->data + ctx->len;
        b->memory = 1;
    }

    b->last_buf = (rest == NULL);

    out->buf = b;
    out->next = rest;

    return ngx_http_next_body_filter(r, out);
}


static ngx_int_t
ngx_http_vantoro_send(ngx_http_request_t *r, ngx_http_vantoro_ctx_t *ctx)
{
    char                          *result;
    size_t                         result_len;
    ngx_uint_t                     marking;
    vantoro_handle                *h;
    vantoro_status                 status;
    ngx_http_vantoro_loc_conf_t   *vlcf;

    if (ctx->len == 0) {
        ctx->verdict = VANTORO_VERDICT_EMPTY;
        return ngx_http_vantoro_unchanged(r, ctx, NULL);
    }

    vlcf = ngx_http_get_module_loc_conf(r, ngx_http_vantoro_filter_module);

    /* the result is about the page's size, and held until it is sent */

    if (ctx->len > ngx_http_vantoro_room(r)) {
        ngx_http_vantoro_report(r, ctx, VANTORO_VERDICT_MEMORY,
                                "the pages in progress hold "
                                "vantoro_worker_memory");
        return ngx_http_vantoro_unchanged(r, ctx, NULL);
    }

#if (NGX_THREADS)
    if (vlcf->thread_pool && ctx->len >= vlcf->thread_size) {
        return ngx_http_vantoro_post(r, vlcf, ctx);
    }
#endif

    h = ngx_http_vantoro_handle(r, vlcf, ctx);
    if (h == NULL) {
        ctx->verdict = VANTORO_VERDICT_ERROR;
        return ngx_http_vantoro_unchanged(r, ctx, NULL);
    }

    /* each copy carries its own request's id, never the one before it */

    marking = vlcf->marking && vlcf->pass != NGX_HTTP_VANTORO_PAGE;

    if (marking && ngx_http_vantoro_set_mark(r, vlcf, ctx, h) != NGX_OK) {
        ctx->verdict = VANTORO_VERDICT_ERROR;
        return ngx_http_vantoro_unchanged(r, ctx, NULL);
    }

#if (NGX_HTTP_VANTORO_TEST)
    if (vlcf->replay) {
        (void) vantoro_replay(h, vlcf->replay->elts, vlcf->replay->nelts);
    }
#endif

    status = ngx_http_vantoro_run(h, vlcf->pass, (char *) ctx->data, ctx->len,
                                  &result, &result_len);

    ngx_http_vantoro_keep(r, ctx, h, status, result, result_len, marking);

    return ngx_http_vantoro_output(r, ctx);
}


/* The location's passes over one page; called in pool threads too. */

static vantoro_status
ngx_http_vantoro_run(vantoro_handle *h, ngx_uint_t pass, const char *data,
    size_t len, char **result, size_t *result_len)
{
    switch (pass) {

    case NGX_HTTP_VANTORO_PAGE:
        return vantoro_protect_page(h, data, len, result, result_len);

    case NGX_HTTP_VANTORO_CONTENT:
        return vantoro_protect_content(h, data, len, result, result_len);

    default: /* NGX_HTTP_VANTORO_PROTECT */
        return vantoro_protect(h, data, len, result, result_len);
    }
}


/*
 * The engine's answer, in the worker: the result replaces the body held, or
 * the failure is logged and the body goes out as it came.
 */

static void
ngx_http_vantoro_keep(ngx_http_request_t *r, ngx_http_vantoro_ctx_t *ctx,
    vantoro_handle *h, vantoro_status status, char *result, size_t result_len,
    ngx_uint_t marking)
{
    if (status != VANTORO_OK) {
        ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                      "vantoro: %s: %s, sent unprotected",
                      vantoro_status_name(status), vantoro_last_error(h));
        ctx->verdict = VANTORO_VERDICT_ERROR;
        return;
    }

    ctx->marked = marking;

    /* the input is no longer needed: the worker holds one copy, not two */

    ngx_http_vantoro_free_data(ctx);

    ctx->result = result;
    ctx->result_len = result_len;
    ngx_http_vantoro_held += result_len;
}


/* The protected page with its headers, or the page as it came. */

static ngx_int_t
ngx_http_vantoro_output(ngx_http_request_t *r, ngx_http_vantoro_ctx_t *ctx)
{
    ngx_int_t     rc;
    ngx_buf_t    *b;
    ngx_chain_t   out;

    if (ctx->result == NULL) {
        return ngx_http_vantoro_unchanged(r, ctx, NULL);
    }

    ctx->collecting = 0;

    if (ngx_http_vantoro_edit_headers(r, (off_t) ctx->result_len) != NGX_OK) {
        return NGX_ERROR;
    }

    rc = ngx_http_next_header_filter(r);

    if (rc == NGX_ERROR || rc > NGX_OK || r->header_only) {
        return rc;
    }

    b = ngx_calloc_buf(r->pool);
    if (b == NULL) {
        return NGX_ERROR;
    }

    b->pos = (u_char *) ctx->result;
    b->last = (u_char *) ctx->result + ctx->result_len;
    b->memory = ctx->result_len ? 1 : 0;
    b->last_buf = 1;

    ctx->out = b;

    out.buf = b;
    out.next = NULL;

    rc = ngx_http_next_body_filter(r, &out);

    ngx_http_vantoro_release(r, ctx);

    return rc;
}


/* The id of the response's marks, given to the handle that makes them. */

static ngx_int_t
ngx_http_vantoro_set_mark(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf, ngx_http_vantoro_ctx_t *ctx,
    vantoro_handle *h)
{
    uint64_t        id;
    ngx_uint_t      i;
    vantoro_status  status;
    unsigned char   bytes[8];

    id = ngx_http_vantoro_mark_id(r, vlcf);

    for (i = 0; i < 8; i++) {
        bytes[i] = (unsigned char) (id >> (56 - 8 * i));
    }

    status = vantoro_set_mark_id(h, bytes);

    if (status != VANTORO_OK) {
        ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                      "vantoro: %s: %s, sent unprotected",
                      vantoro_status_name(status), vantoro_last_error(h));
        return NGX_ERROR;
    }

    ctx->mark_id = id;

    return NGX_OK;
}


#if (NGX_THREADS)

/*
 * The page goes to vantoro_thread_pool, and the worker serves other
 * requests meanwhile.  The request waits as for nginx's own thread tasks:
 * r->main->blocked keeps it from being freed (a client that goes away only
 * marks it for termination), r->aio keeps ngx_http_writer() from writing, and
 * r->buffered keeps it from being finalized before the result is sent.
 * Everything the thread needs is set up here, in the worker.
 */

static ngx_int_t
ngx_http_vantoro_post(ngx_http_request_t *r, ngx_http_vantoro_loc_conf_t *vlcf,
    ngx_http_vantoro_ctx_t *ctx)
{
    u_char                   tdm;
    ngx_uint_t               marking;
    vantoro_handle          *h;
    ngx_thread_task_t       *task;
    ngx_http_vantoro_job_t  *job;

    h = ngx_http_vantoro_spare(r, vlcf, ctx, &tdm);
    if (h == NULL) {
        ctx->verdict = VANTORO_VERDICT_ERROR;
        return ngx_http_vantoro_unchanged(r, ctx, NULL);
    }

    marking = vlcf->marking && vlcf->pass != NGX_HTTP_VANTORO_PAGE;

    if (marking && ngx_http_vantoro_set_mark(r, vlcf, ctx, h) != NGX_OK) {
        ngx_http_vantoro_unspare(vlcf->engine, ctx->way, h, tdm);
        ctx->verdict = VANTORO_VERDICT_ERROR;
        return ngx_http_vantoro_unchanged(r, ctx, NULL);
    }

    /* in the request's pool, which outlives the task (r->main->blocked) */

    task = ngx_thread_task_alloc(r->pool, sizeof(ngx_http_vantoro_job_t));
    if (task == NULL) {
        ngx_http_vantoro_unspare(vlcf->engine, ctx->way, h, tdm);
        return NGX_ERROR;
    }

    job = task->ctx;

    job->handle = h;
    job->data = (char *) ctx->data;
    job->len = ctx->len;
    job->pass = vlcf->pass;
#if (NGX_HTTP_VANTORO_TEST)
    if (vlcf->replay) {
        job->replay = vlcf->replay->elts;
        job->replay_len = vlcf->replay->nelts;
    }
#endif
    job->request = r;
    job->ctx = ctx;
    job->engine = vlcf->engine;
    job->way = ctx->way;
    job->tdm = tdm;
    job->marking = marking;

    task->handler = ngx_http_vantoro_pool_handler;
    task->event.data = job;
    task->event.handler = ngx_http_vantoro_thread_event_handler;

    if (ngx_thread_task_post(vlcf->thread_pool, task) != NGX_OK) {

        /* the pool's queue is full (logged): the worker does it itself */

        ngx_http_vantoro_thread_handler(job, r->connection->log);
        ngx_http_vantoro_job_done(job);

        return ngx_http_vantoro_output(r, ctx);
    }

    ngx_log_debug3(NGX_LOG_DEBUG_HTTP, r->connection->log, 0,
                   "vantoro thread task: \"%V?%V\" %uz bytes",
                   &r->uri, &r->args, ctx->len);

    /* the result is about the page's size: counted while it is made */

    ctx->reserved = ctx->len;
    ngx_http_vantoro_held += ctx->reserved;

    ctx->in_thread = 1;

    r->main->blocked++;
    r->aio = 1;
    r->buffered |= NGX_HTTP_VANTORO_BUFFERED;

    return NGX_AGAIN;
}


/*
 * In a pool thread: the task's own handle and body, and nothing else; not
 * the request, its pool or its log, nor the module's globals.  The worker
 * reports what came of it.
 */

static void
ngx_http_vantoro_thread_handler(void *data, ngx_log_t *log)
{
    ngx_http_vantoro_job_t *job = data;

#if (NGX_HTTP_VANTORO_TEST)
    if (job->replay) {
        (void) vantoro_replay(job->handle, job->replay, job->replay_len);
    }
#endif

    job->status = ngx_http_vantoro_run(job->handle, job->pass, job->data,
                                       job->len, &job->result,
                                       &job->result_len);
}


/*
 * A page in a pool thread.  The thread gives way to the worker: it runs at
 * the lowest priority (nice 19; on Linux a thread's nice value is its own),
 * so that where the two share a core the event loop comes first and the
 * engine takes what is left.  Set once per thread, the first time it runs a
 * page; never in the worker, which runs the handler itself when the pool's
 * queue is full.  Not the idle class (SCHED_IDLE), though the worker would
 * take the core back sooner: on a core busy with other work such a thread
 * gets next to no time, and a worker that waits on what it holds waits as
 * long (under valgrind on a loaded machine, the worker stalled until the
 * load ended).
 */

static void
ngx_http_vantoro_pool_handler(void *data, ngx_log_t *log)
{
#if (NGX_LINUX)
    static __thread ngx_uint_t  lowered;

    if (!lowered) {
        lowered = 1;
        (void) setpriority(PRIO_PROCESS, (id_t) ngx_thread_tid(),
                           NGX_HTTP_VANTORO_POOL_NICE);
    }
#endif

    ngx_http_vantoro_thread_handler(data, log);
}


/*
 * Back in the worker, the task done.  The filters before this one have
 * passed the whole body, and some pass no empty calls on (postpone), so the
 * result is sent from here, as ngx_http_vantoro_send() would have sent it;
 * then the request goes on where it waited (ngx_http_writer()).  A request
 * terminated meanwhile (the client went away) is finalized instead, and its
 * pool's cleanup frees the result.
 */

static void
ngx_http_vantoro_thread_event_handler(ngx_event_t *ev)
{
    ngx_int_t                rc;
    ngx_connection_t        *c;
    ngx_http_request_t      *r;
    ngx_http_vantoro_ctx_t  *ctx;
    ngx_http_vantoro_job_t  *job;

    job = ev->data;
    r = job->request;
    ctx = job->ctx;
    c = r->connection;

    ngx_http_set_log_request(c->log, r);

    ngx_log_debug2(NGX_LOG_DEBUG_HTTP, c->log, 0,
                   "vantoro thread done: \"%V?%V\"", &r->uri, &r->args);

    r->main->blocked--;
    r->aio = 0;
    r->buffered &= ~NGX_HTTP_VANTORO_BUFFERED;

    ngx_http_vantoro_held -= ctx->reserved;
    ctx->reserved = 0;
    ctx->in_thread = 0;

    ngx_http_vantoro_job_done(job);

    if (!c->error) {
        rc = ngx_http_vantoro_output(r, ctx);

        if (rc == NGX_ERROR || rc > NGX_OK) {
            ngx_http_finalize_request(r, rc);
            ngx_http_run_posted_requests(c);
            return;
        }
    }

    r->write_event_handler(r);
    ngx_http_run_posted_requests(c);
}


static void
ngx_http_vantoro_job_done(ngx_http_vantoro_job_t *job)
{
    ngx_http_vantoro_keep(job->request, job->ctx, job->handle, job->status,
                          job->result, job->result_len, job->marking);

    ngx_http_vantoro_unspare(job->engine, job->way, job->handle, job->tdm);

    job->handle = NULL;
    job->result = NULL;
}

#endif


/*
 * The result goes as soon as the filters after this one have taken all of
 * it: written to the client, or compressed by gzip.  HTTP/2 keeps pointers
 * into it until its frames are sent, so there it stays until the request
 * ends.
 */

static void
ngx_http_vantoro_release(ngx_http_request_t *r, ngx_http_vantoro_ctx_t *ctx)
{
    if (ctx->result == NULL) {
        return;
    }

#if (NGX_HTTP_V2)
    if (r->stream) {
        return;
    }
#endif

    if (ctx->out && ctx->out->pos != ctx->out->last) {
        return;
    }

    vantoro_free(ctx->result);
    ngx_http_vantoro_held -= ctx->result_len;

    ctx->result = NULL;
    ctx->result_len = 0;
}


/*
 * The handle of the location for the response's way of hiding, made in the
 * worker on first use, so that workers never share a random state, and used
 * by the worker alone.  One handle a way: switching one handle would rebuild
 * its engine whenever responses with and without a strict policy alternate.
 */

static vantoro_handle *
ngx_http_vantoro_handle(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf, ngx_http_vantoro_ctx_t *ctx)
{
    vantoro_handle             *h;
    ngx_http_vantoro_engine_t  *engine;

    engine = vlcf->engine;

    if (engine->handles[ctx->way] == NULL) {
        h = ngx_http_vantoro_new_handle(r, vlcf, ctx->way);
        if (h == NULL) {
            return NULL;
        }

        engine->handles[ctx->way] = h;
        engine->tdm[ctx->way] = 0;
    }

    h = engine->handles[ctx->way];

    if (ngx_http_vantoro_prepare(r, ctx, h, &engine->tdm[ctx->way])
        != NGX_OK)
    {
        return NULL;
    }

    return h;
}


#if (NGX_THREADS)

/*
 * A handle of the location for a page that goes to a pool thread: an idle
 * one of the worker's spares, or a new one.  It is the task's until the task
 * is done, so the thread never shares it with the worker or another thread.
 */

static vantoro_handle *
ngx_http_vantoro_spare(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf, ngx_http_vantoro_ctx_t *ctx,
    u_char *tdm)
{
    ngx_uint_t                  n;
    vantoro_handle             *h;
    ngx_http_vantoro_engine_t  *engine;

    engine = vlcf->engine;
    n = engine->nspares[ctx->way];

    if (n) {
        n--;
        h = engine->spares[ctx->way][n];
        *tdm = engine->spare_tdm[ctx->way][n];
        engine->nspares[ctx->way] = n;

    } else {
        h = ngx_http_vantoro_new_handle(r, vlcf, ctx->way);
        if (h == NULL) {
            return NULL;
        }

        *tdm = 0;
    }

    if (ngx_http_vantoro_prepare(r, ctx, h, tdm) != NGX_OK) {
        ngx_http_vantoro_unspare(engine, ctx->way, h, *tdm);
        return NULL;
    }

    return h;
}


/* A handle back from a task: kept for the next, unless enough are idle. */

static void
ngx_http_vantoro_unspare(ngx_http_vantoro_engine_t *engine, ngx_uint_t way,
    vantoro_handle *h, u_char tdm)
{
    ngx_uint_t  n;

    n = engine->nspares[way];

    if (n == NGX_HTTP_VANTORO_SPARES) {
        vantoro_destroy(h);
        return;
    }

    engine->spares[way][n] = h;
    engine->spare_tdm[way][n] = tdm;
    engine->nspares[way] = n + 1;
}

#endif


/*
 * A handle set up for the response: its TDM reservation (*tdm says what
 * the handle has) and the charset its Content-Type names.
 */

static ngx_int_t
ngx_http_vantoro_prepare(ngx_http_request_t *r, ngx_http_vantoro_ctx_t *ctx,
    vantoro_handle *h, u_char *tdm)
{
    u_char          *p, *last;
    size_t           len;
    vantoro_status   status;
    u_char           label[NGX_HTTP_VANTORO_LABEL_LEN];

    /* off where the source made its own reservation, or none */

    if (*tdm != ctx->tdm) {
        status = vantoro_set_tdm_reservation(h, (int) ctx->tdm);

        if (status != VANTORO_OK) {
            ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                          "vantoro: %s: %s, sent unprotected",
                          vantoro_status_name(status), vantoro_last_error(h));
            return NGX_ERROR;
        }

        *tdm = (u_char) ctx->tdm;
    }

    /* the charset parameter of Content-Type, as nginx or the source set it */

    p = NULL;
    len = 0;

    if (r->headers_out.charset.len) {
        p = r->headers_out.charset.data;
        len = r->headers_out.charset.len;

    } else if (r->headers_out.content_type.len) {
        last = r->headers_out.content_type.data
               + r->headers_out.content_type.len;

        p = ngx_strlcasestrn(r->headers_out.content_type.data, last,
                             (u_char *) "charset=", 8 - 1);

        if (p) {
            p += 8;

            if (p < last && *p == '"') {
                p++;
            }

            while (p + len < last
                   && p[len] != '"' && p[len] != ';' && p[len] != ' ')
            {
                len++;
            }
        }
    }

    /* a label this long names no character set: the page's own then */

    if (len == 0 || len >= NGX_HTTP_VANTORO_LABEL_LEN) {
        status = vantoro_set_transport_charset(h, NULL);

    } else {
        ngx_cpystrn(label, p, len + 1);
        status = vantoro_set_transport_charset(h, (char *) label);
    }

    if (status != VANTORO_OK) {
        ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                      "vantoro: %s: %s, sent unprotected",
                      vantoro_status_name(status), vantoro_last_error(h));
        return NGX_ERROR;
    }

    return NGX_OK;
}


/* A handle with the location's settings, hiding the given way. */

static vantoro_handle *
ngx_http_vantoro_new_handle(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf, ngx_uint_t way)
{
    vantoro_handle       *h;
    vantoro_status        status;
    vantoro_hide_method   method;

    status = vantoro_create(&h);

    if (status != VANTORO_OK) {
        ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                      "vantoro: vantoro_create() failed: %s, "
                      "sent unprotected", vantoro_status_name(status));
        return NULL;
    }

    switch (way) {
    case NGX_HTTP_VANTORO_BY_STYLE:
        method = VANTORO_HIDE_STYLE;
        break;
    case NGX_HTTP_VANTORO_BY_CLASS:
        method = VANTORO_HIDE_CLASS;
        break;
    default: /* NGX_HTTP_VANTORO_BY_ELEMENT, NGX_HTTP_VANTORO_BY_LINK */
        method = VANTORO_HIDE_LAYERED;
        break;
    }

    status = vantoro_set_copyright(h, (char *) vlcf->copyright.data,
                                   vlcf->copyright.len);

    if (status == VANTORO_OK) {
        status = vantoro_set_decoy_kind(h, (vantoro_decoy_kind) vlcf->decoy);
    }

    if (status == VANTORO_OK) {
        status = vantoro_set_charset(h, (char *) vlcf->charset.data);
    }

    if (status == VANTORO_OK) {
        status = vantoro_set_nosnippet(h, (int) vlcf->nosnippet);
    }

    /* the key names the classes and keys the marks, whatever the method */

    if (status == VANTORO_OK) {
        status = vantoro_set_hiding(h, method,
                                    vlcf->site_key.len
                                    ? (char *) vlcf->site_key.data : NULL,
                                    vlcf->site_key.len);
    }

    /* layered hiding puts its rules in the page unless a link is given */

    if (status == VANTORO_OK
        && (way == NGX_HTTP_VANTORO_BY_CLASS
            || way == NGX_HTTP_VANTORO_BY_LINK))
    {
        status = vantoro_set_stylesheet_link(h,
                                          (char *) vlcf->stylesheet_uri.data,
                                          vlcf->stylesheet_uri.len);
    }

    if (status == VANTORO_OK && method == VANTORO_HIDE_LAYERED) {
        status = vantoro_set_copy_notices(h, (size_t) vlcf->copy_notices);
    }

    if (status == VANTORO_OK && vlcf->marking) {
        status = vantoro_set_marks(h, 1);
    }

    if (status != VANTORO_OK) {
        ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                      "vantoro: %s: %s, sent unprotected",
                      vantoro_status_name(status), vantoro_last_error(h));
        vantoro_destroy(h);
        return NULL;
    }

    return h;
}


/*
 * The id this response's marks carry: vantoro_mark_id's value, else the
 * request's start in seconds over the first 32 bits of $request_id, which
 * tells apart two requests of one second and ties the copy to the access
 * log's line either way.
 */

static uint64_t
ngx_http_vantoro_mark_id(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf)
{
    uint64_t                       id;
    uint32_t                       low;
    ngx_str_t                      value;
    ngx_int_t                      n;
    ngx_uint_t                     i;
    ngx_http_variable_value_t     *v;
    ngx_http_vantoro_main_conf_t  *vmcf;

    if (vlcf->mark_id
        && ngx_http_complex_value(r, vlcf->mark_id, &value) == NGX_OK
        && value.len)
    {
        if (ngx_http_vantoro_parse_id(value.data, value.len, &id) == NGX_OK) {
            return id;
        }

        ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                      "vantoro: invalid mark id \"%V\", the default is used",
                      &value);
    }

    vmcf = ngx_http_get_module_main_conf(r, ngx_http_vantoro_filter_module);

    low = 0;
    v = NULL;

    if (vmcf->request_id != NGX_ERROR) {
        v = ngx_http_get_indexed_variable(r, vmcf->request_id);
    }

    if (v && !v->not_found && v->len >= 8) {
        for (i = 0; i < 8; i++) {
            n = ngx_hextoi(&v->data[i], 1);
            if (n == NGX_ERROR) {
                break;
            }

            low = (low << 4) | (uint32_t) n;
        }

        if (i < 8) {
            v = NULL;
        }

    } else {
        v = NULL;
    }

    if (v == NULL) {
        low = (uint32_t) ngx_random();
    }

    return ((uint64_t) (uint32_t) r->start_sec << 32) | low;
}


/* A decimal or 0x-hexadecimal number of 64 bits, nothing around it. */

static ngx_int_t
ngx_http_vantoro_parse_id(u_char *p, size_t len, uint64_t *id)
{
    u_char      *last;
    uint64_t     value, base, digit;

    last = p + len;
    base = 10;

    if (len > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }

    if (p == last) {
        return NGX_ERROR;
    }

    value = 0;

    for ( /* void */ ; p < last; p++) {
        if (*p >= '0' && *p <= '9') {
            digit = *p - '0';

        } else if (base == 16 && (*p | 0x20) >= 'a' && (*p | 0x20) <= 'f') {
            digit = (*p | 0x20) - 'a' + 10;

        } else {
            return NGX_ERROR;
        }

        if (value > (UINT64_MAX - digit) / base) {
            return NGX_ERROR;
        }

        value = value * base + digit;
    }

    *id = value;

    return NGX_OK;
}


static void
ngx_http_vantoro_free_data(void *data)
{
    ngx_http_vantoro_ctx_t *ctx = data;

    if (ctx->data) {
        ngx_free(ctx->data);
        ngx_http_vantoro_held -= ctx->size;
        ctx->data = NULL;
        ctx->len = 0;
        ctx->size = 0;
    }

    if (ctx->result) {
        vantoro_free(ctx->result);
        ngx_http_vantoro_held -= ctx->result_len;
        ctx->result = NULL;
        ctx->result_len = 0;
    }
}


static void
ngx_http_vantoro_destroy_engine(void *data)
{
    ngx_http_vantoro_engine_t *engine = data;

    ngx_uint_t  i;
#if (NGX_THREADS)
    ngx_uint_t  n;
#endif

    for (i = 0; i < NGX_HTTP_VANTORO_WAYS; i++) {
        vantoro_destroy(engine->handles[i]);
        engine->handles[i] = NULL;

#if (NGX_THREADS)
        for (n = 0; n < engine->nspares[i]; n++) {
            vantoro_destroy(engine->spares[i][n]);
        }

        engine->nspares[i] = 0;
#endif
    }
}


static void
ngx_http_vantoro_destroy_policy(void *data)
{
    vantoro_policy_destroy(data);
}


/* $vantoro_status: why the response went out as it did; "-" when unjudged */

static ngx_int_t
ngx_http_vantoro_status_variable(ngx_http_request_t *r,
    ngx_http_variable_value_t *v, uintptr_t data)
{
    const char              *name;
    ngx_http_vantoro_ctx_t  *ctx;

    ctx = ngx_http_get_module_ctx(r->main, ngx_http_vantoro_filter_module);

    if (ctx == NULL || !ctx->judged) {
        v->not_found = 1;
        return NGX_OK;
    }

    name = ctx->verdict == NGX_HTTP_VANTORO_VERDICT_CSP
           ? "csp" : vantoro_verdict_name(ctx->verdict);

    v->len = ngx_strlen(name);
    v->valid = 1;
    v->no_cacheable = 0;
    v->not_found = 0;
    v->data = (u_char *) name;

    return NGX_OK;
}


/*
 * $vantoro_mark: the id the response's marks carry, as 16 hexadecimal
 * digits; "-" in logs when none were made
 */

static ngx_int_t
ngx_http_vantoro_mark_variable(ngx_http_request_t *r,
    ngx_http_variable_value_t *v, uintptr_t data)
{
    u_char                  *p;
    ngx_http_vantoro_ctx_t  *ctx;

    ctx = ngx_http_get_module_ctx(r->main, ngx_http_vantoro_filter_module);

    if (ctx == NULL || !ctx->marked) {
        v->not_found = 1;
        return NGX_OK;
    }

    p = ngx_pnalloc(r->pool, 16);
    if (p == NULL) {
        return NGX_ERROR;
    }

    v->len = ngx_sprintf(p, "%016uxL", ctx->mark_id) - p;
    v->valid = 1;
    v->no_cacheable = 0;
    v->not_found = 0;
    v->data = p;

    return NGX_OK;
}


/* The configuration of another module of this nginx, found by name. */

static void *
ngx_http_vantoro_other_conf(ngx_conf_t *cf, const char *name)
{
    ngx_uint_t  i;

    for (i = 0; cf->cycle->modules[i]; i++) {
        if (cf->cycle->modules[i]->type == NGX_HTTP_MODULE
            && ngx_strcmp(cf->cycle->modules[i]->name, name) == 0)
        {
            return ((ngx_http_conf_ctx_t *) cf->ctx)
                       ->loc_conf[cf->cycle->modules[i]->ctx_index];
        }
    }

    return NULL;
}

/*
 * What the Content-Security-Policies of the response let style the page:
 * its style attributes (element 0) or <style> elements (element 1).  Every
 * policy applies, so the strictest counts.
 */

static ngx_uint_t
ngx_http_vantoro_csp_styles(ngx_http_request_t *r, ngx_uint_t element)
{
    ngx_uint_t        i, styles, strictest;
    ngx_list_part_t  *part;
    ngx_table_elt_t  *h;

    strictest = VANTORO_STYLES_INLINE;

    part = &r->headers_out.headers.part;
    h = part->elts;

    for (i = 0; /* void */ ; i++) {

        if (i >= part->nelts) {
            if (part->next == NULL) {
                break;
            }

            part = part->next;
            h = part->elts;
            i = 0;
        }

        if (h[i].hash == 0
            || h[i].key.len != sizeof("Content-Security-Policy") - 1
            || ngx_strncasecmp(h[i].key.data,
                               (u_char *) "Content-Security-Policy",
                               sizeof("Content-Security-Policy") - 1)
               != 0)
        {
            continue;
        }

        styles = vantoro_csp_style_sources((const char *) h[i].value.data,
                                           h[i].value.len, (int) element);
        strictest = ngx_max(strictest, styles);
    }

    return strictest;
}




/* The content handler of "vantoro_stylesheet". */

static ngx_int_t
ngx_http_vantoro_stylesheet_handler(ngx_http_request_t *r)
{
    ngx_int_t                     rc;
    ngx_buf_t                    *b;
    ngx_chain_t                   out;
    ngx_table_elt_t              *h;
    ngx_http_vantoro_loc_conf_t  *vlcf;

    if (!(r->method & (NGX_HTTP_GET|NGX_HTTP_HEAD))) {
        return NGX_HTTP_NOT_ALLOWED;
    }

    rc = ngx_http_discard_request_body(r);

    if (rc != NGX_OK) {
        return rc;
    }

    vlcf = ngx_http_get_module_loc_conf(r, ngx_http_vantoro_filter_module);

    r->headers_out.status = NGX_HTTP_OK;
    r->headers_out.content_length_n = vlcf->css.len;

    ngx_str_set(&r->headers_out.content_type, "text/css");
    r->headers_out.content_type_len = sizeof("text/css") - 1;
    r->headers_out.content_type_lowcase = NULL;

    h = ngx_list_push(&r->headers_out.headers);
    if (h == NULL) {
        return NGX_HTTP_INTERNAL_SERVER_ERROR;
    }

    h->hash = 1;
    ngx_str_set(&h->key, "ETag");
    h->value = vlcf->css_etag;
    r->headers_out.etag = h;

    h = ngx_list_push(&r->headers_out.headers);
    if (h == NULL) {
        return NGX_HTTP_INTERNAL_SERVER_ERROR;
    }

    /* the same key gives the same stylesheet in every version */

    h->hash = 1;
    ngx_str_set(&h->key, "Cache-Control");
    ngx_str_set(&h->value, "public, max-age=31536000");

    if (r->method == NGX_HTTP_HEAD) {
        r->header_only = 1;
    }

    rc = ngx_http_send_header(r);

    if (rc == NGX_ERROR || rc > NGX_OK || r->header_only) {
        return rc;
    }

    b = ngx_calloc_buf(r->pool);
    if (b == NULL) {
        return NGX_HTTP_INTERNAL_SERVER_ERROR;
    }

    b->pos = vlcf->css.data;
    b->last = vlcf->css.data + vlcf->css.len;
    b->memory = 1;
    b->last_buf = (r == r->main) ? 1 : 0;
    b->last_in_chain = 1;

    out.buf = b;
    out.next = NULL;

    return ngx_http_output_filter(r, &out);
}


/* nginx's enum slot, with the choices named when the value is none of them */

static char *
ngx_http_vantoro_enum(ngx_conf_t *cf, ngx_command_t *cmd, void *conf)
{
    u_char           *p, *last;
    ngx_str_t        *value;
    ngx_conf_enum_t  *e;
    u_char            choices[128];

    value = cf->args->elts;

    for (e = cmd->post; e->name.len; e++) {
        if (e->name.len == value[1].len
            && ngx_strcasecmp(e->name.data, value[1].data) == 0)
        {
            return ngx_conf_set_enum_slot(cf, cmd, conf);
        }
    }

    p = choices;
    last = choices + sizeof(choices);

    for (e = cmd->post; e->name.len; e++) {
        p = ngx_slprintf(p, last, "%s\"%V\"",
                         e == cmd->post ? "" : (e[1].name.len ? ", " : " or "),
                         &e->name);
    }

    ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                       "invalid value \"%V\" in \"%V\" directive, "
                       "it must be %*s",
                       &value[1], &cmd->name, p - choices, choices);

    return NGX_CONF_ERROR;
}


/*
 * The engine's own judgement of a directive's text, now rather than on every
 * response: a handle is given the setting, and its message is nginx -t's.
 */

typedef vantoro_status (*ngx_http_vantoro_setter_pt)(vantoro_handle *h,
    ngx_str_t *value);


static vantoro_status
ngx_http_vantoro_try_copyright(vantoro_handle *h, ngx_str_t *value)
{
    return vantoro_set_copyright(h, (char *) value->data, value->len);
}


static vantoro_status
ngx_http_vantoro_try_charset(vantoro_handle *h, ngx_str_t *value)
{
    return vantoro_set_charset(h, (char *) value->data);
}


static vantoro_status
ngx_http_vantoro_try_link(vantoro_handle *h, ngx_str_t *value)
{
    return vantoro_set_stylesheet_link(h, (char *) value->data, value->len);
}


static char *
ngx_http_vantoro_check(ngx_conf_t *cf, const char *what, ngx_str_t *value,
    ngx_http_vantoro_setter_pt set)
{
    vantoro_handle  *h;
    vantoro_status   status;

    h = NULL;

    status = vantoro_create(&h);
    if (status == VANTORO_OK) {
        status = set(h, value);
    }

    if (status != VANTORO_OK) {
        ngx_conf_log_error(NGX_LOG_EMERG, cf, 0, "invalid %s \"%V\": %s",
                           what, value,
                           h ? vantoro_last_error(h)
                             : vantoro_status_name(status));
        vantoro_destroy(h);
        return NGX_CONF_ERROR;
    }

    vantoro_destroy(h);

    return NGX_CONF_OK;
}


/* The content pass of an empty text, as the location's handle would run it. */

static char *
ngx_http_vantoro_check_notices(ngx_conf_t *cf,
    ngx_http_vantoro_loc_conf_t *conf)
{
    char            *out;
    size_t           out_len;
    vantoro_handle  *h;
    vantoro_status   status;

    h = NULL;
    out = NULL;

    status = vantoro_create(&h);

    if (status == VANTORO_OK) {
        status = vantoro_set_copyright(h, (char *) conf->copyright.data,
                                       conf->copyright.len);
    }

    if (status == VANTORO_OK) {
        status = vantoro_set_decoy_kind(h, (vantoro_decoy_kind) conf->decoy);
    }

    if (status == VANTORO_OK) {
        status = vantoro_protect_content(h, "", 0, &out, &out_len);
        vantoro_free(out);
    }

    if (status != VANTORO_OK) {
        ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                           "%s; set \"vantoro_copyright\"",
                           h ? vantoro_last_error(h)
                             : vantoro_status_name(status));
        vantoro_destroy(h);
        return NGX_CONF_ERROR;
    }

    vantoro_destroy(h);

    return NGX_CONF_OK;
}


static char *
ngx_http_vantoro_copyright(ngx_conf_t *cf, ngx_command_t *cmd, void *conf)
{
    char       *rv;
    ngx_str_t  *value;

    rv = ngx_conf_set_str_slot(cf, cmd, conf);
    if (rv != NGX_CONF_OK) {
        return rv;
    }

    value = cf->args->elts;

    return ngx_http_vantoro_check(cf, "copyright text", &value[1],
                                  ngx_http_vantoro_try_copyright);
}


static char *
ngx_http_vantoro_charset(ngx_conf_t *cf, ngx_command_t *cmd, void *conf)
{
    char       *rv;
    ngx_str_t  *value;

    rv = ngx_conf_set_str_slot(cf, cmd, conf);
    if (rv != NGX_CONF_OK) {
        return rv;
    }

    /* the engine takes the name as a C string; nginx's arguments end in NUL */

    value = cf->args->elts;

    if (ngx_strlen(value[1].data) != value[1].len) {
        ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                           "invalid character set \"%V\"", &value[1]);
        return NGX_CONF_ERROR;
    }

    return ngx_http_vantoro_check(cf, "character set", &value[1],
                                  ngx_http_vantoro_try_charset);
}


/* vantoro_types: checked one by one now, made the policy when merged */

static char *
ngx_http_vantoro_types(ngx_conf_t *cf, ngx_command_t *cmd, void *conf)
{
    ngx_http_vantoro_loc_conf_t *vlcf = conf;

    ngx_str_t       *value, *type;
    ngx_uint_t       i;
    vantoro_policy  *policy;

    if (vlcf->types != NGX_CONF_UNSET_PTR) {
        return "is duplicate";
    }

    vlcf->types = ngx_array_create(cf->pool, cf->args->nelts,
                                   sizeof(ngx_str_t));
    if (vlcf->types == NULL) {
        return NGX_CONF_ERROR;
    }

    if (vantoro_policy_create(&policy) != VANTORO_OK) {
        return NGX_CONF_ERROR;
    }

    value = cf->args->elts;

    for (i = 1; i < cf->args->nelts; i++) {

        if (vantoro_policy_add_type(policy, (char *) value[i].data,
                                    value[i].len)
            != VANTORO_OK)
        {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0, "%s",
                               vantoro_policy_last_error(policy));
            vantoro_policy_destroy(policy);
            return NGX_CONF_ERROR;
        }

        type = ngx_array_push(vlcf->types);
        if (type == NULL) {
            vantoro_policy_destroy(policy);
            return NGX_CONF_ERROR;
        }

        *type = value[i];
    }

    vantoro_policy_destroy(policy);

    return NGX_CONF_OK;
}


static char *
ngx_http_vantoro_stylesheet(ngx_conf_t *cf, ngx_command_t *cmd, void *conf)
{
    ngx_http_vantoro_loc_conf_t *vlcf = conf;

    ngx_http_core_loc_conf_t  *clcf;

    if (vlcf->stylesheet != NGX_CONF_UNSET) {
        return "is duplicate";
    }

    vlcf->stylesheet = 1;

    clcf = ngx_http_conf_get_module_loc_conf(cf, ngx_http_core_module);
    clcf->handler = ngx_http_vantoro_stylesheet_handler;

    return NGX_CONF_OK;
}


/* vantoro_tdm_policy: an address that goes into a header as it is */

static char *
ngx_http_vantoro_tdm_policy(ngx_conf_t *cf, ngx_command_t *cmd, void *conf)
{
    char       *rv;
    ngx_str_t  *value;
    ngx_uint_t  i;

    rv = ngx_conf_set_str_slot(cf, cmd, conf);
    if (rv != NGX_CONF_OK) {
        return rv;
    }

    value = cf->args->elts;

    for (i = 0; i < value[1].len; i++) {
        if (value[1].data[i] <= ' ' || value[1].data[i] == 0x7f) {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                               "invalid vantoro_tdm_policy \"%V\": "
                               "an address has no spaces or control "
                               "characters", &value[1]);
            return NGX_CONF_ERROR;
        }
    }

    return NGX_CONF_OK;
}


/* vantoro_thread_pool NAME [SIZE] | off */

static char *
ngx_http_vantoro_thread_pool(ngx_conf_t *cf, ngx_command_t *cmd, void *conf)
{
#if (NGX_THREADS)
    ngx_http_vantoro_loc_conf_t *vlcf = conf;

    ssize_t     size;
    ngx_str_t  *value;

    if (vlcf->thread_pool != NGX_CONF_UNSET_PTR) {
        return "is duplicate";
    }

    value = cf->args->elts;

    if (ngx_strcmp(value[1].data, "off") == 0) {
        if (cf->args->nelts > 2) {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                               "\"vantoro_thread_pool off\" takes no size");
            return NGX_CONF_ERROR;
        }

        vlcf->thread_pool = NULL;
        return NGX_CONF_OK;
    }

    /* a pool no "thread_pool" defines stops nginx -t, naming this line */

    vlcf->thread_pool = ngx_thread_pool_add(cf, &value[1]);
    if (vlcf->thread_pool == NULL) {
        return NGX_CONF_ERROR;
    }

    vlcf->thread_size = NGX_HTTP_VANTORO_THREAD_SIZE;

    if (cf->args->nelts > 2) {
        size = ngx_parse_size(&value[2]);

        if (size == NGX_ERROR) {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                               "invalid size \"%V\" in \"vantoro_thread_pool\"",
                               &value[2]);
            return NGX_CONF_ERROR;
        }

        vlcf->thread_size = (size_t) size;
    }

    return NGX_CONF_OK;

#else

    ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                       "\"vantoro_thread_pool\" needs an nginx built with "
                       "thread pools (--with-threads); this one has none");

    return NGX_CONF_ERROR;

#endif
}


#if (NGX_HTTP_VANTORO_TEST)

static char *
ngx_http_vantoro_replay(ngx_conf_t *cf, ngx_command_t *cmd, void *conf)
{
    ngx_http_vantoro_loc_conf_t *vlcf = conf;

    u_char      *p, *last, *end;
    double      *d;
    ssize_t      n;
    ngx_str_t   *value;
    ngx_file_t   file;

    if (vlcf->replay != NGX_CONF_UNSET_PTR) {
        return "is duplicate";
    }

    value = cf->args->elts;

    ngx_memzero(&file, sizeof(ngx_file_t));
    file.name = value[1];
    file.log = cf->log;

    file.fd = ngx_open_file(value[1].data, NGX_FILE_RDONLY, NGX_FILE_OPEN, 0);
    if (file.fd == NGX_INVALID_FILE) {
        ngx_conf_log_error(NGX_LOG_EMERG, cf, ngx_errno,
                           ngx_open_file_n " \"%V\" failed", &value[1]);
        return NGX_CONF_ERROR;
    }

    p = ngx_pnalloc(cf->temp_pool, NGX_HTTP_VANTORO_REPLAY_MAX + 1);
    if (p == NULL) {
        ngx_close_file(file.fd);
        return NGX_CONF_ERROR;
    }

    n = ngx_read_file(&file, p, NGX_HTTP_VANTORO_REPLAY_MAX, 0);
    ngx_close_file(file.fd);

    if (n == NGX_ERROR) {
        return NGX_CONF_ERROR;
    }

    vlcf->replay = ngx_array_create(cf->pool, 1024, sizeof(double));
    if (vlcf->replay == NULL) {
        return NGX_CONF_ERROR;
    }

    /* one value a line, read with strtod() as the C interface's users do */

    last = p + n;
    *last = '\0';

    while (p < last) {
        d = ngx_array_push(vlcf->replay);
        if (d == NULL) {
            return NGX_CONF_ERROR;
        }

        *d = strtod((char *) p, (char **) &end);

        if (end == p || (end < last && *end != '\n')) {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                               "bad random value in \"%V\" at byte %z",
                               &value[1], p - (last - n));
            return NGX_CONF_ERROR;
        }

        p = end + 1;
    }

    return NGX_CONF_OK;
}

#endif


static ngx_int_t
ngx_http_vantoro_add_variables(ngx_conf_t *cf)
{
    ngx_http_variable_t  *var;

    var = ngx_http_add_variable(cf, &ngx_http_vantoro_status_name,
                                NGX_HTTP_VAR_NOCACHEABLE);
    if (var == NULL) {
        return NGX_ERROR;
    }

    var->get_handler = ngx_http_vantoro_status_variable;

    var = ngx_http_add_variable(cf, &ngx_http_vantoro_mark_name,
                                NGX_HTTP_VAR_NOCACHEABLE);
    if (var == NULL) {
        return NGX_ERROR;
    }

    var->get_handler = ngx_http_vantoro_mark_variable;

    return NGX_OK;
}


static void *
ngx_http_vantoro_create_main_conf(ngx_conf_t *cf)
{
    ngx_http_vantoro_main_conf_t  *conf;

    conf = ngx_pcalloc(cf->pool, sizeof(ngx_http_vantoro_main_conf_t));
    if (conf == NULL) {
        return NULL;
    }

    conf->worker_memory = NGX_CONF_UNSET_SIZE;
    conf->keep_memory = NGX_CONF_UNSET_SIZE;
    conf->request_id = NGX_ERROR;

    return conf;
}


static char *
ngx_http_vantoro_init_main_conf(ngx_conf_t *cf, void *conf)
{
    ngx_http_vantoro_main_conf_t *vmcf = conf;

    ngx_conf_init_size_value(vmcf->worker_memory, 256 * 1024 * 1024);
    ngx_conf_init_size_value(vmcf->keep_memory, 32 * 1024 * 1024);

    return NGX_CONF_OK;
}


/* "vantoro_keep_memory SIZE | off" */

static char *
ngx_http_vantoro_keep_memory(ngx_conf_t *cf, ngx_command_t *cmd, void *conf)
{
    ngx_http_vantoro_main_conf_t *vmcf = conf;

    ngx_str_t  *value;

    if (vmcf->keep_memory != NGX_CONF_UNSET_SIZE) {
        return "is duplicate";
    }

    value = cf->args->elts;

    if (ngx_strcmp(value[1].data, "off") == 0) {
        vmcf->keep_memory = 0;
        return NGX_CONF_OK;
    }

    return ngx_conf_set_size_slot(cf, cmd, conf);
}


/*
 * A page's buffers (the held body, the engine's work, the result) are as
 * large as the page.  Freed, they go back to the system, and the next page
 * faults them in afresh, a page fault per 4 KB: on a virtual machine that
 * costs more than protecting the page.  The worker keeps up to
 * vantoro_keep_memory of them instead: the engine's buffers per thread, and
 * what the allocator would otherwise return.
 */

static ngx_int_t
ngx_http_vantoro_init_process(ngx_cycle_t *cycle)
{
    size_t                         keep;
    ngx_http_vantoro_main_conf_t  *vmcf;

    vmcf = ngx_http_cycle_get_module_main_conf(cycle,
                                               ngx_http_vantoro_filter_module);
    if (vmcf == NULL || vmcf->keep_memory == 0) {
        return NGX_OK;
    }

    keep = vmcf->keep_memory;

    vantoro_set_retained_memory(keep);

#if (NGX_LINUX) && defined(M_TRIM_THRESHOLD) && defined(M_MMAP_THRESHOLD)
    /* the allocator takes no mapping threshold above 32 MB */
    (void) mallopt(M_MMAP_THRESHOLD, (int) ngx_min(keep, 32 * 1024 * 1024));
    (void) mallopt(M_TRIM_THRESHOLD, (int) ngx_min(keep, (size_t) NGX_MAX_INT32_VALUE));
#endif

    return NGX_OK;
}


static void *
ngx_http_vantoro_create_conf(ngx_conf_t *cf)
{
    ngx_http_vantoro_loc_conf_t  *conf;

    conf = ngx_pcalloc(cf->pool, sizeof(ngx_http_vantoro_loc_conf_t));
    if (conf == NULL) {
        return NULL;
    }

    /*
     * set by ngx_pcalloc():
     *
     *     conf->copyright = { 0, NULL };
     *     conf->charset = { 0, NULL };
     *     conf->site_key = { 0, NULL };
     *     conf->stylesheet_uri = { 0, NULL };
     *     conf->tdm_policy = { 0, NULL };
     *     conf->policy = NULL;
     *     conf->engine = NULL;
     *     conf->css = { 0, NULL };
     *     conf->css_etag = { 0, NULL };
     */

    conf->enable = NGX_CONF_UNSET;
    conf->pass = NGX_CONF_UNSET_UINT;
    conf->decoy = NGX_CONF_UNSET_UINT;
    conf->hide = NGX_CONF_UNSET_UINT;
    conf->nosnippet = NGX_CONF_UNSET;
    conf->copy_notices = NGX_CONF_UNSET;
    conf->marks = NGX_CONF_UNSET;
    conf->mark_id = NGX_CONF_UNSET_PTR;
    conf->tdm_reservation = NGX_CONF_UNSET;
    conf->max_size = NGX_CONF_UNSET_SIZE;
    conf->types = NGX_CONF_UNSET_PTR;
    conf->bypass = NGX_CONF_UNSET_PTR;
    conf->stylesheet = NGX_CONF_UNSET;

#if (NGX_THREADS)
    conf->thread_pool = NGX_CONF_UNSET_PTR;
    conf->thread_size = NGX_CONF_UNSET_SIZE;
#endif

#if (NGX_HTTP_VANTORO_TEST)
    conf->replay = NGX_CONF_UNSET_PTR;
#endif

    return conf;
}


static char *
ngx_http_vantoro_merge_conf(ngx_conf_t *cf, void *parent, void *child)
{
    ngx_http_vantoro_loc_conf_t *prev = parent;
    ngx_http_vantoro_loc_conf_t *conf = child;

    u_char              *p;
    char                *css;
    size_t               css_len;
    ngx_str_t           *type;
    ngx_uint_t           i, *gzip_static;
    ngx_md5_t            md5;
    const char          *hide;
    vantoro_status       status;
    ngx_pool_cleanup_t  *cln;
    ngx_flag_t           linked, own_tdm;
    u_char               digest[16];

    ngx_conf_merge_value(conf->enable, prev->enable, 0);
    ngx_conf_merge_uint_value(conf->pass, prev->pass,
                              NGX_HTTP_VANTORO_PROTECT);
    ngx_conf_merge_uint_value(conf->decoy, prev->decoy,
                              VANTORO_DECOY_COPYRIGHT);
    ngx_conf_merge_uint_value(conf->hide, prev->hide,
                              NGX_HTTP_VANTORO_LAYERED);
    ngx_conf_merge_value(conf->nosnippet, prev->nosnippet, 0);
    ngx_conf_merge_value(conf->copy_notices, prev->copy_notices, 4);
    ngx_conf_merge_ptr_value(conf->mark_id, prev->mark_id, NULL);
    ngx_conf_merge_str_value(conf->copyright, prev->copyright, "");
    ngx_conf_merge_str_value(conf->charset, prev->charset, "auto");
    ngx_conf_merge_str_value(conf->site_key, prev->site_key, "");
    ngx_conf_merge_str_value(conf->stylesheet_uri, prev->stylesheet_uri, "");
    ngx_conf_merge_size_value(conf->max_size, prev->max_size,
                              8 * 1024 * 1024);
    ngx_conf_merge_ptr_value(conf->types, prev->types, NULL);
    ngx_conf_merge_ptr_value(conf->bypass, prev->bypass, NULL);

    /*
     * The defaults of marks and of the reservation follow other settings,
     * which a deeper level may change: only what was said is inherited.
     */

    own_tdm = conf->tdm_reservation != NGX_CONF_UNSET
              || conf->tdm_policy.data != NULL;

    if (conf->marks == NGX_CONF_UNSET) {
        conf->marks = prev->marks;
    }

    if (conf->tdm_reservation == NGX_CONF_UNSET) {
        conf->tdm_reservation = prev->tdm_reservation;
    }

    ngx_conf_merge_str_value(conf->tdm_policy, prev->tdm_policy, "");

    conf->marking = conf->marks != NGX_CONF_UNSET
                    ? conf->marks
                    : (conf->hide == NGX_HTTP_VANTORO_LAYERED
                       && conf->site_key.len);

    /* a policy address means a reservation, unless it is turned off */

    conf->tdm = conf->tdm_reservation != NGX_CONF_UNSET
                ? conf->tdm_reservation : (conf->tdm_policy.len != 0);

    if (own_tdm && !conf->tdm && conf->tdm_policy.len) {
        ngx_conf_log_error(NGX_LOG_WARN, cf, 0,
                           "\"vantoro_tdm_policy\" is not sent with "
                           "\"vantoro_tdm_reservation off\"");
    }

    /* like a content handler, not inherited */

    if (conf->stylesheet == NGX_CONF_UNSET) {
        conf->stylesheet = 0;
    }

#if (NGX_THREADS)
    ngx_conf_merge_ptr_value(conf->thread_pool, prev->thread_pool, NULL);
    ngx_conf_merge_size_value(conf->thread_size, prev->thread_size,
                              NGX_HTTP_VANTORO_THREAD_SIZE);
#endif

#if (NGX_HTTP_VANTORO_TEST)
    ngx_conf_merge_ptr_value(conf->replay, prev->replay, NULL);
#endif

    if (conf->enable) {
        hide = conf->hide == NGX_HTTP_VANTORO_CLASS ? "class" : "auto";
        linked = conf->hide == NGX_HTTP_VANTORO_CLASS
                 || conf->hide == NGX_HTTP_VANTORO_AUTO;

        if (linked && conf->site_key.len == 0) {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                               "\"vantoro_hide %s\" needs "
                               "\"vantoro_site_key\"", hide);
            return NGX_CONF_ERROR;
        }

        /* the linked stylesheet names its classes after the key */

        if (conf->hide == NGX_HTTP_VANTORO_LAYERED
            && conf->stylesheet_uri.len && conf->site_key.len == 0)
        {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                               "\"vantoro_stylesheet_uri\" with "
                               "\"vantoro_hide layered\" needs "
                               "\"vantoro_site_key\"");
            return NGX_CONF_ERROR;
        }

        if (conf->marks == 1 && conf->site_key.len == 0) {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                               "\"vantoro_marks on\" needs "
                               "\"vantoro_site_key\"");
            return NGX_CONF_ERROR;
        }

        if (linked && conf->stylesheet_uri.len == 0)
        {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                               "\"vantoro_hide %s\" needs "
                               "\"vantoro_stylesheet_uri\"", hide);
            return NGX_CONF_ERROR;
        }

        if (conf->stylesheet_uri.len
            && ngx_http_vantoro_check(cf, "vantoro_stylesheet_uri",
                                      &conf->stylesheet_uri,
                                      ngx_http_vantoro_try_link)
               != NGX_CONF_OK)
        {
            return NGX_CONF_ERROR;
        }

        /* the engine refuses notices without a text: so does nginx -t */

        if (conf->pass != NGX_HTTP_VANTORO_PAGE
            && ngx_http_vantoro_check_notices(cf, conf) != NGX_CONF_OK)
        {
            return NGX_CONF_ERROR;
        }

        /* pre-compressed files would pass unprotected to every browser */

        gzip_static = ngx_http_vantoro_other_conf(cf,
                                                "ngx_http_gzip_static_module");

        if (gzip_static && *gzip_static) {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                               "\"gzip_static\" sends pre-compressed files "
                               "that \"vantoro\" cannot protect; turn it off "
                               "where pages are protected, or \"vantoro off\" "
                               "where only other files are served");
            return NGX_CONF_ERROR;
        }

        if (conf->types == prev->types && prev->policy) {
            conf->policy = prev->policy;

        } else {
            if (vantoro_policy_create(&conf->policy) != VANTORO_OK) {
                return NGX_CONF_ERROR;
            }

            cln = ngx_pool_cleanup_add(cf->pool, 0);
            if (cln == NULL) {
                vantoro_policy_destroy(conf->policy);
                return NGX_CONF_ERROR;
            }

            cln->handler = ngx_http_vantoro_destroy_policy;
            cln->data = conf->policy;

            type = conf->types ? conf->types->elts : NULL;

            for (i = 0; conf->types && i < conf->types->nelts; i++) {
                if (vantoro_policy_add_type(conf->policy,
                                            (char *) type[i].data,
                                            type[i].len)
                    != VANTORO_OK)
                {
                    ngx_conf_log_error(NGX_LOG_EMERG, cf, 0, "%s",
                                       vantoro_policy_last_error(
                                           conf->policy));
                    return NGX_CONF_ERROR;
                }
            }
        }

        conf->engine = ngx_pcalloc(cf->pool,
                                   sizeof(ngx_http_vantoro_engine_t));
        if (conf->engine == NULL) {
            return NGX_CONF_ERROR;
        }

        cln = ngx_pool_cleanup_add(cf->pool, 0);
        if (cln == NULL) {
            return NGX_CONF_ERROR;
        }

        cln->handler = ngx_http_vantoro_destroy_engine;
        cln->data = conf->engine;
    }

    if (conf->stylesheet) {
        if (conf->site_key.len == 0) {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                               "\"vantoro_stylesheet\" needs "
                               "\"vantoro_site_key\"");
            return NGX_CONF_ERROR;
        }

        status = vantoro_stylesheet((char *) conf->site_key.data,
                                    conf->site_key.len, &css, &css_len);
        if (status != VANTORO_OK) {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                               "vantoro_stylesheet() failed: %s",
                               vantoro_status_name(status));
            return NGX_CONF_ERROR;
        }

        conf->css.data = ngx_pnalloc(cf->pool, css_len);
        if (conf->css.data == NULL) {
            vantoro_free(css);
            return NGX_CONF_ERROR;
        }

        ngx_memcpy(conf->css.data, css, css_len);
        conf->css.len = css_len;
        vantoro_free(css);

        ngx_md5_init(&md5);
        ngx_md5_update(&md5, conf->css.data, conf->css.len);
        ngx_md5_final(digest, &md5);

        p = ngx_pnalloc(cf->pool, 2 + 32);
        if (p == NULL) {
            return NGX_CONF_ERROR;
        }

        conf->css_etag.data = p;
        *p++ = '"';
        p = ngx_hex_dump(p, digest, 16);
        *p++ = '"';
        conf->css_etag.len = p - conf->css_etag.data;
    }

    return NGX_CONF_OK;
}


static ngx_int_t
ngx_http_vantoro_filter_init(ngx_conf_t *cf)
{
    ngx_uint_t                     i;
    ngx_http_handler_pt           *h;
    ngx_http_core_main_conf_t     *cmcf;
    ngx_http_vantoro_main_conf_t  *vmcf;

    static ngx_str_t  request_id = ngx_string("request_id");

    cmcf = ngx_http_conf_get_module_main_conf(cf, ngx_http_core_module);

    /* the default mark id holds part of $request_id, as logs show it */

    vmcf = ngx_http_conf_get_module_main_conf(cf,
                                             ngx_http_vantoro_filter_module);

    vmcf->request_id = ngx_http_get_variable_index(cf, &request_id);
    if (vmcf->request_id == NGX_ERROR) {
        return NGX_ERROR;
    }

    h = ngx_array_push(&cmcf->phases[NGX_HTTP_PRECONTENT_PHASE].handlers);
    if (h == NULL) {
        return NGX_ERROR;
    }

    *h = ngx_http_vantoro_request_handler;

    for (i = 0; cf->cycle->modules[i]; i++) {
        if (ngx_strcmp(cf->cycle->modules[i]->name,
                       "ngx_http_gunzip_filter_module") == 0)
        {
            ngx_http_vantoro_gunzip_index = cf->cycle->modules[i]->ctx_index;
        }
    }

    ngx_http_next_header_filter = ngx_http_top_header_filter;
    ngx_http_top_header_filter = ngx_http_vantoro_header_filter;

    ngx_http_next_body_filter = ngx_http_top_body_filter;
    ngx_http_top_body_filter = ngx_http_vantoro_body_filter;

    return NGX_OK;
}
