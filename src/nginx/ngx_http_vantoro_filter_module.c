
/*
 * Vantoro for nginx: protects whole HTML responses through the C interface of
 * libvantoro, and serves the stylesheet that hides decoys by class.
 */


#include <ngx_config.h>
#include <ngx_core.h>
#include <ngx_http.h>
#include <ngx_md5.h>

#include <vantoro/vantoro.h>


#define NGX_HTTP_VANTORO_PAGE       1
#define NGX_HTTP_VANTORO_CONTENT    2
#define NGX_HTTP_VANTORO_PROTECT    3

#define NGX_HTTP_VANTORO_STYLE      1
#define NGX_HTTP_VANTORO_CLASS      2
#define NGX_HTTP_VANTORO_AUTO       3

#define NGX_HTTP_VANTORO_CHARSET_LEN  64
#define NGX_HTTP_VANTORO_REPLAY_MAX   (16 * 1024 * 1024)

#define ngx_http_vantoro_isalpha(c)                                           \
    ((u_char) ((c) | 0x20) >= 'a' && (u_char) ((c) | 0x20) <= 'z')


/* The engine of one location in one worker, made on first use. */

typedef struct {
    vantoro_handle            *handle;
    ngx_uint_t                 hide;
    u_char                     charset[NGX_HTTP_VANTORO_CHARSET_LEN];
    ngx_uint_t                 warned;  /* unsigned  warned:1; */
} ngx_http_vantoro_engine_t;


typedef struct {
    ngx_flag_t                 enable;
    ngx_uint_t                 pass;
    ngx_uint_t                 decoy;
    ngx_uint_t                 hide;
    ngx_str_t                  copyright;
    ngx_str_t                  site_key;
    ngx_str_t                  stylesheet_uri;
    size_t                     max_size;

    ngx_hash_t                 types;
    ngx_array_t               *types_keys;
    ngx_array_t               *bypass;

    ngx_str_t                  link;
    ngx_http_vantoro_engine_t *engine;

    ngx_flag_t                 stylesheet;
    ngx_str_t                  css;
    ngx_str_t                  css_etag;

#if (NGX_HTTP_VANTORO_TEST)
    ngx_array_t               *replay;     /* double */
#endif
} ngx_http_vantoro_loc_conf_t;


typedef struct {
    u_char                    *data;
    size_t                     len;
    size_t                     size;
    ngx_uint_t                 hide;
    ngx_uint_t                 done;       /* unsigned  done:1; */
} ngx_http_vantoro_ctx_t;


static ngx_int_t ngx_http_vantoro_header_filter(ngx_http_request_t *r);
static ngx_int_t ngx_http_vantoro_body_filter(ngx_http_request_t *r,
    ngx_chain_t *in);
static ngx_int_t ngx_http_vantoro_unchanged(ngx_http_request_t *r,
    ngx_http_vantoro_ctx_t *ctx, ngx_chain_t *rest);
static ngx_int_t ngx_http_vantoro_send(ngx_http_request_t *r,
    ngx_http_vantoro_ctx_t *ctx);
static ngx_int_t ngx_http_vantoro_reserve(ngx_http_vantoro_ctx_t *ctx,
    size_t size);
static vantoro_handle *ngx_http_vantoro_handle(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf, ngx_uint_t hide);
static void ngx_http_vantoro_free_data(void *data);
static void ngx_http_vantoro_free_result(void *data);
static void ngx_http_vantoro_destroy_engine(void *data);

static ngx_uint_t ngx_http_vantoro_no_transform(ngx_http_request_t *r);
static ngx_uint_t ngx_http_vantoro_csp_blocks_style(ngx_http_request_t *r);
static ngx_uint_t ngx_http_vantoro_policy_blocks_style(u_char *p,
    u_char *last);
static ngx_uint_t ngx_http_vantoro_has_token(ngx_str_t *value,
    ngx_str_t *token);
static size_t ngx_http_vantoro_link_offset(u_char *p, size_t len);

static ngx_int_t ngx_http_vantoro_stylesheet_handler(ngx_http_request_t *r);

static char *ngx_http_vantoro_enum(ngx_conf_t *cf, ngx_command_t *cmd,
    void *conf);
static char *ngx_http_vantoro_copyright(ngx_conf_t *cf, ngx_command_t *cmd,
    void *conf);
static char *ngx_http_vantoro_stylesheet(ngx_conf_t *cf, ngx_command_t *cmd,
    void *conf);
#if (NGX_HTTP_VANTORO_TEST)
static char *ngx_http_vantoro_replay(ngx_conf_t *cf, ngx_command_t *cmd,
    void *conf);
#endif
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

    { ngx_string("vantoro_types"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_1MORE,
      ngx_http_types_slot,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, types_keys),
      &ngx_http_html_default_types[0] },

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

    { ngx_string("vantoro_hide"),
      NGX_HTTP_MAIN_CONF|NGX_HTTP_SRV_CONF|NGX_HTTP_LOC_CONF|NGX_CONF_TAKE1,
      ngx_http_vantoro_enum,
      NGX_HTTP_LOC_CONF_OFFSET,
      offsetof(ngx_http_vantoro_loc_conf_t, hide),
      &ngx_http_vantoro_hides },

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

    { ngx_string("vantoro_stylesheet"),
      NGX_HTTP_LOC_CONF|NGX_CONF_NOARGS,
      ngx_http_vantoro_stylesheet,
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
    NULL,                                  /* preconfiguration */
    ngx_http_vantoro_filter_init,          /* postconfiguration */

    NULL,                                  /* create main configuration */
    NULL,                                  /* init main configuration */

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
    NULL,                                  /* init process */
    NULL,                                  /* init thread */
    NULL,                                  /* exit thread */
    NULL,                                  /* exit process */
    NULL,                                  /* exit master */
    NGX_MODULE_V1_PADDING
};


static ngx_http_output_header_filter_pt  ngx_http_next_header_filter;
static ngx_http_output_body_filter_pt    ngx_http_next_body_filter;


static ngx_int_t
ngx_http_vantoro_header_filter(ngx_http_request_t *r)
{
    ngx_int_t                     rc;
    ngx_pool_cleanup_t           *cln;
    ngx_http_vantoro_ctx_t       *ctx;
    ngx_http_vantoro_loc_conf_t  *vlcf;

    vlcf = ngx_http_get_module_loc_conf(r, ngx_http_vantoro_filter_module);

    if (!vlcf->enable
        || r != r->main
        || r->headers_out.status != NGX_HTTP_OK
        || r->header_only
        || r->method == NGX_HTTP_HEAD
        || r->headers_out.content_length_n == 0
        || ngx_http_test_content_type(r, &vlcf->types) == NULL)
    {
        return ngx_http_next_header_filter(r);
    }

    if (vlcf->bypass) {
        rc = ngx_http_test_predicates(r, vlcf->bypass);

        if (rc == NGX_ERROR) {
            return NGX_ERROR;
        }

        if (rc == NGX_DECLINED) {
            return ngx_http_next_header_filter(r);
        }
    }

    if (ngx_http_vantoro_no_transform(r)) {
        return ngx_http_next_header_filter(r);
    }

    if (r->headers_out.content_encoding
        && r->headers_out.content_encoding->hash
        && r->headers_out.content_encoding->value.len
        && !(r->headers_out.content_encoding->value.len == 8
             && ngx_strncasecmp(r->headers_out.content_encoding->value.data,
                                (u_char *) "identity", 8) == 0))
    {
        /* once per location and worker, not once per response */

        if (!vlcf->engine->warned) {
            vlcf->engine->warned = 1;
            ngx_log_error(NGX_LOG_WARN, r->connection->log, 0,
                          "vantoro: responses with \"Content-Encoding: %V\" "
                          "pass unprotected; clear \"Accept-Encoding\" "
                          "towards the upstream",
                          &r->headers_out.content_encoding->value);
        }

        return ngx_http_next_header_filter(r);
    }

    if (r->headers_out.content_length_n > 0
        && (off_t) vlcf->max_size < r->headers_out.content_length_n)
    {
        ngx_log_error(NGX_LOG_WARN, r->connection->log, 0,
                      "vantoro: response of %O bytes is larger than "
                      "vantoro_max_size %uz, sent unprotected",
                      r->headers_out.content_length_n, vlcf->max_size);

        return ngx_http_next_header_filter(r);
    }

    ctx = ngx_pcalloc(r->pool, sizeof(ngx_http_vantoro_ctx_t));
    if (ctx == NULL) {
        return NGX_ERROR;
    }

    cln = ngx_pool_cleanup_add(r->pool, 0);
    if (cln == NULL) {
        return NGX_ERROR;
    }

    cln->handler = ngx_http_vantoro_free_data;
    cln->data = ctx;

    ctx->hide = vlcf->hide;

    if (ctx->hide == NGX_HTTP_VANTORO_AUTO) {
        ctx->hide = ngx_http_vantoro_csp_blocks_style(r)
                    ? NGX_HTTP_VANTORO_CLASS : NGX_HTTP_VANTORO_STYLE;
    }

    ngx_http_set_ctx(r, ctx, ngx_http_vantoro_filter_module);

    /* the whole body is held, so the headers go out with it */

    r->main_filter_need_in_memory = 1;
    r->allow_ranges = 0;

    return NGX_OK;
}


static ngx_int_t
ngx_http_vantoro_body_filter(ngx_http_request_t *r, ngx_chain_t *in)
{
    size_t                        size, need, alloc, link;
    ngx_buf_t                    *b;
    ngx_chain_t                  *cl;
    ngx_http_vantoro_ctx_t       *ctx;
    ngx_http_vantoro_loc_conf_t  *vlcf;

    ctx = ngx_http_get_module_ctx(r, ngx_http_vantoro_filter_module);

    if (ctx == NULL || ctx->done) {
        return ngx_http_next_body_filter(r, in);
    }

    vlcf = ngx_http_get_module_loc_conf(r, ngx_http_vantoro_filter_module);

    /* room for the stylesheet link is kept from the start */

    link = (ctx->hide == NGX_HTTP_VANTORO_CLASS) ? vlcf->link.len : 0;

    for (cl = in; cl; cl = cl->next) {
        b = cl->buf;

        if (!ngx_buf_special(b) && !ngx_buf_in_memory(b)) {
            ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                          "vantoro: body is not in memory, sent unprotected");
            return ngx_http_vantoro_unchanged(r, ctx, cl);
        }

        size = ngx_buf_in_memory(b) ? (size_t) (b->last - b->pos) : 0;

        if (size > vlcf->max_size - ctx->len) {
            ngx_log_error(NGX_LOG_WARN, r->connection->log, 0,
                          "vantoro: response is larger than "
                          "vantoro_max_size %uz, sent unprotected",
                          vlcf->max_size);
            return ngx_http_vantoro_unchanged(r, ctx, cl);
        }

        if (size) {
            need = ctx->len + size + link;

            if (need > ctx->size) {
                if (ctx->data == NULL
                    && r->headers_out.content_length_n > 0)
                {
                    alloc = (size_t) r->headers_out.content_length_n + link;

                } else {
                    alloc = ngx_max(2 * ctx->size, (size_t) 16384);
                    alloc = ngx_min(alloc, vlcf->max_size + link);
                }

                if (ngx_http_vantoro_reserve(ctx, ngx_max(alloc, need))
                    != NGX_OK)
                {
                    ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                                  "vantoro: out of memory, "
                                  "sent unprotected");
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


static ngx_int_t
ngx_http_vantoro_reserve(ngx_http_vantoro_ctx_t *ctx, size_t size)
{
    u_char  *p;

    if (size <= ctx->size) {
        return NGX_OK;
    }

    p = ngx_alloc(size, ngx_cycle->log);
    if (p == NULL) {
        return NGX_ERROR;
    }

    if (ctx->len) {
        ngx_memcpy(p, ctx->data, ctx->len);
    }

    ngx_free(ctx->data);

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

    ctx->done = 1;

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
    char                         *result;
    size_t                        at, result_len;
    ngx_int_t                     rc;
    ngx_buf_t                    *b;
    ngx_chain_t                   out;
    vantoro_handle               *h;
    vantoro_status                status;
    ngx_pool_cleanup_t           *cln;
    ngx_http_vantoro_loc_conf_t  *vlcf;

    if (ctx->len == 0) {
        return ngx_http_vantoro_unchanged(r, ctx, NULL);
    }

    vlcf = ngx_http_get_module_loc_conf(r, ngx_http_vantoro_filter_module);

    h = ngx_http_vantoro_handle(r, vlcf, ctx->hide);
    if (h == NULL) {
        return ngx_http_vantoro_unchanged(r, ctx, NULL);
    }

    at = 0;

    if (ctx->hide == NGX_HTTP_VANTORO_CLASS) {
        at = ngx_http_vantoro_link_offset(ctx->data, ctx->len);

        ngx_memmove(ctx->data + at + vlcf->link.len, ctx->data + at,
                    ctx->len - at);
        ngx_memcpy(ctx->data + at, vlcf->link.data, vlcf->link.len);
        ctx->len += vlcf->link.len;
    }

#if (NGX_HTTP_VANTORO_TEST)
    if (vlcf->replay) {
        (void) vantoro_replay(h, vlcf->replay->elts, vlcf->replay->nelts);
    }
#endif

    switch (vlcf->pass) {

    case NGX_HTTP_VANTORO_PAGE:
        status = vantoro_protect_page(h, (char *) ctx->data, ctx->len,
                                      &result, &result_len);
        break;

    case NGX_HTTP_VANTORO_CONTENT:
        status = vantoro_protect_content(h, (char *) ctx->data, ctx->len,
                                         &result, &result_len);
        break;

    default: /* NGX_HTTP_VANTORO_PROTECT */
        status = vantoro_protect(h, (char *) ctx->data, ctx->len,
                                 &result, &result_len);
        break;
    }

    if (status != VANTORO_OK) {
        ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                      "vantoro: %s: %s, sent unprotected",
                      vantoro_status_name(status), vantoro_last_error(h));
        goto unchanged;
    }

    cln = ngx_pool_cleanup_add(r->pool, 0);
    if (cln == NULL) {
        vantoro_free(result);
        goto unchanged;
    }

    cln->handler = ngx_http_vantoro_free_result;
    cln->data = result;

    /* the input is no longer needed: the worker holds one copy, not two */

    ngx_free(ctx->data);
    ctx->data = NULL;
    ctx->len = 0;
    ctx->size = 0;
    ctx->done = 1;

    ngx_http_clear_content_length(r);
    ngx_http_clear_accept_ranges(r);
    ngx_http_clear_last_modified(r);
    ngx_http_weak_etag(r);

    rc = ngx_http_next_header_filter(r);

    if (rc == NGX_ERROR || rc > NGX_OK || r->header_only) {
        return rc;
    }

    b = ngx_calloc_buf(r->pool);
    if (b == NULL) {
        return NGX_ERROR;
    }

    b->pos = (u_char *) result;
    b->last = (u_char *) result + result_len;
    b->memory = result_len ? 1 : 0;
    b->last_buf = 1;

    out.buf = b;
    out.next = NULL;

    return ngx_http_next_body_filter(r, &out);

unchanged:

    if (ctx->hide == NGX_HTTP_VANTORO_CLASS) {
        ngx_memmove(ctx->data + at, ctx->data + at + vlcf->link.len,
                    ctx->len - at - vlcf->link.len);
        ctx->len -= vlcf->link.len;
    }

    return ngx_http_vantoro_unchanged(r, ctx, NULL);
}


/*
 * The handle of the location, made in the worker on first use, so that
 * workers never share a random state; set up for this response's hiding
 * method and character set.
 */

static vantoro_handle *
ngx_http_vantoro_handle(ngx_http_request_t *r,
    ngx_http_vantoro_loc_conf_t *vlcf, ngx_uint_t hide)
{
    u_char                     *p, *last;
    size_t                      len;
    vantoro_handle             *h;
    vantoro_status              status;
    ngx_http_vantoro_engine_t  *engine;
    u_char                      charset[NGX_HTTP_VANTORO_CHARSET_LEN];

    engine = vlcf->engine;

    if (engine->handle == NULL) {
        status = vantoro_create(&h);

        if (status != VANTORO_OK) {
            ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                          "vantoro: vantoro_create() failed: %s, "
                          "sent unprotected", vantoro_status_name(status));
            return NULL;
        }

        if (vlcf->copyright.data) {
            status = vantoro_set_copyright(h, (char *) vlcf->copyright.data,
                                           vlcf->copyright.len);
            if (status != VANTORO_OK) {
                goto failed;
            }
        }

        status = vantoro_set_decoy_kind(h, (vantoro_decoy_kind) vlcf->decoy);
        if (status != VANTORO_OK) {
            goto failed;
        }

        engine->handle = h;
        engine->hide = NGX_HTTP_VANTORO_STYLE;
        ngx_cpystrn(engine->charset, (u_char *) "UTF-8",
                    NGX_HTTP_VANTORO_CHARSET_LEN);
    }

    h = engine->handle;

    if (engine->hide != hide) {
        if (hide == NGX_HTTP_VANTORO_CLASS) {
            status = vantoro_set_hiding(h, VANTORO_HIDE_CLASS,
                                        (char *) vlcf->site_key.data,
                                        vlcf->site_key.len);
        } else {
            status = vantoro_set_hiding(h, VANTORO_HIDE_STYLE, NULL, 0);
        }

        if (status != VANTORO_OK) {
            ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                          "vantoro: %s: %s, sent unprotected",
                          vantoro_status_name(status), vantoro_last_error(h));
            return NULL;
        }

        engine->hide = hide;
    }

    /* the charset parameter of Content-Type, else UTF-8 */

    if (r->headers_out.charset.len) {
        p = r->headers_out.charset.data;
        len = r->headers_out.charset.len;

    } else {
        p = (u_char *) "UTF-8";
        len = 5;

        if (r->headers_out.content_type.len) {
            last = r->headers_out.content_type.data
                   + r->headers_out.content_type.len;

            p = ngx_strlcasestrn(r->headers_out.content_type.data, last,
                                 (u_char *) "charset=", 8 - 1);

            if (p) {
                p += 8;

                if (p < last && *p == '"') {
                    p++;
                }

                len = 0;
                while (p + len < last
                       && p[len] != '"' && p[len] != ';' && p[len] != ' ')
                {
                    len++;
                }

            } else {
                p = (u_char *) "UTF-8";
                len = 5;
            }
        }
    }

    if (len == 0 || len >= NGX_HTTP_VANTORO_CHARSET_LEN) {
        ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                      "vantoro: unusable charset \"%*s\", sent unprotected",
                      ngx_min(len, NGX_HTTP_VANTORO_CHARSET_LEN), p);
        return NULL;
    }

    ngx_cpystrn(charset, p, len + 1);

    if (ngx_strcasecmp(charset, engine->charset) != 0) {
        status = vantoro_set_charset(h, (char *) charset);

        if (status != VANTORO_OK) {
            ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                          "vantoro: %s: %s, sent unprotected",
                          vantoro_status_name(status), vantoro_last_error(h));
            return NULL;
        }

        ngx_cpystrn(engine->charset, charset, NGX_HTTP_VANTORO_CHARSET_LEN);
    }

    return h;

failed:

    ngx_log_error(NGX_LOG_ERR, r->connection->log, 0,
                  "vantoro: %s: %s, sent unprotected",
                  vantoro_status_name(status), vantoro_last_error(h));

    vantoro_destroy(h);

    return NULL;
}


static void
ngx_http_vantoro_free_data(void *data)
{
    ngx_http_vantoro_ctx_t *ctx = data;

    if (ctx->data) {
        ngx_free(ctx->data);
        ctx->data = NULL;
    }
}


static void
ngx_http_vantoro_free_result(void *data)
{
    vantoro_free(data);
}


static void
ngx_http_vantoro_destroy_engine(void *data)
{
    ngx_http_vantoro_engine_t *engine = data;

    vantoro_destroy(engine->handle);
    engine->handle = NULL;
}


/* Cache-Control: no-transform is the backend's opt-out for one response. */

static ngx_uint_t
ngx_http_vantoro_no_transform(ngx_http_request_t *r)
{
    ngx_uint_t        i;
    ngx_list_part_t  *part;
    ngx_table_elt_t  *h;

    static ngx_str_t  no_transform = ngx_string("no-transform");

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
            || h[i].key.len != sizeof("Cache-Control") - 1
            || ngx_strncasecmp(h[i].key.data, (u_char *) "Cache-Control",
                               sizeof("Cache-Control") - 1)
               != 0)
        {
            continue;
        }

        if (ngx_http_vantoro_has_token(&h[i].value, &no_transform)) {
            return 1;
        }
    }

    return 0;
}


/* Whether a comma-separated header value lists the token. */

static ngx_uint_t
ngx_http_vantoro_has_token(ngx_str_t *value, ngx_str_t *token)
{
    u_char  *p, *last, *start, *end;

    p = value->data;
    last = p + value->len;

    while (p < last) {

        while (p < last && (*p == ' ' || *p == '\t' || *p == ',')) {
            p++;
        }

        start = p;

        while (p < last && *p != ',') {
            p++;
        }

        end = p;

        while (end > start && (end[-1] == ' ' || end[-1] == '\t')) {
            end--;
        }

        if ((size_t) (end - start) == token->len
            && ngx_strncasecmp(start, token->data, token->len) == 0)
        {
            return 1;
        }
    }

    return 0;
}


/*
 * Whether any Content-Security-Policy of the response keeps browsers from
 * applying style attributes: such a response needs decoys hidden by class.
 */

static ngx_uint_t
ngx_http_vantoro_csp_blocks_style(ngx_http_request_t *r)
{
    u_char           *p, *last, *end;
    ngx_uint_t        i;
    ngx_list_part_t  *part;
    ngx_table_elt_t  *h;

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

        /* a header joined from several holds one policy per comma */

        p = h[i].value.data;
        last = p + h[i].value.len;

        while (p < last) {
            end = ngx_strlchr(p, last, ',');
            if (end == NULL) {
                end = last;
            }

            if (ngx_http_vantoro_policy_blocks_style(p, end)) {
                return 1;
            }

            p = end + 1;
        }
    }

    return 0;
}


static ngx_uint_t
ngx_http_vantoro_policy_blocks_style(u_char *p, u_char *last)
{
    u_char      *end, *name, *name_end, *sources[3], *sources_end[3];
    size_t       len;
    ngx_uint_t   i, n, inline_allowed, nonce_or_hash;

    static ngx_str_t  names[] = {
        ngx_string("style-src-attr"),
        ngx_string("style-src"),
        ngx_string("default-src")
    };

    /* with any of these, browsers ignore 'unsafe-inline' */

    static ngx_str_t  prefixes[] = {
        ngx_string("'nonce-"),
        ngx_string("'sha256-"),
        ngx_string("'sha384-"),
        ngx_string("'sha512-")
    };

    ngx_memzero(sources, sizeof(sources));
    ngx_memzero(sources_end, sizeof(sources_end));

    /* directives are separated by ";"; the first of a name counts */

    while (p < last) {
        end = ngx_strlchr(p, last, ';');
        if (end == NULL) {
            end = last;
        }

        while (p < end && (*p == ' ' || *p == '\t')) {
            p++;
        }

        name = p;

        while (p < end && *p != ' ' && *p != '\t') {
            p++;
        }

        name_end = p;

        for (n = 0; n < 3; n++) {
            if ((size_t) (name_end - name) == names[n].len
                && ngx_strncasecmp(name, names[n].data, names[n].len) == 0
                && sources[n] == NULL)
            {
                sources[n] = p;
                sources_end[n] = end;
            }
        }

        p = end + 1;
    }

    for (n = 0; n < 3; n++) {
        if (sources[n]) {
            break;
        }
    }

    if (n == 3) {
        return 0;
    }

    inline_allowed = 0;
    nonce_or_hash = 0;

    p = sources[n];
    last = sources_end[n];

    while (p < last) {

        while (p < last && (*p == ' ' || *p == '\t')) {
            p++;
        }

        name = p;

        while (p < last && *p != ' ' && *p != '\t') {
            p++;
        }

        len = p - name;

        if (len == sizeof("'unsafe-inline'") - 1
            && ngx_strncasecmp(name, (u_char *) "'unsafe-inline'", len) == 0)
        {
            inline_allowed = 1;
            continue;
        }

        for (i = 0; i < 4; i++) {
            if (len > prefixes[i].len
                && ngx_strncasecmp(name, prefixes[i].data, prefixes[i].len)
                   == 0)
            {
                nonce_or_hash = 1;
            }
        }
    }

    return !inline_allowed || nonce_or_hash;
}


/*
 * Where the stylesheet link goes: right after the first <head> start tag,
 * else before the first start tag, else at the end.  Comments, markup
 * declarations, attribute values and the text of raw-text elements are
 * skipped, so that a "<head>" inside them is never taken.
 */

static size_t
ngx_http_vantoro_link_offset(u_char *start, size_t len)
{
    u_char      *p, *last, *name, *q, quote;
    size_t       n;
    ngx_uint_t   i;
    ngx_int_t    first;

    static ngx_str_t  raw[] = {
        ngx_string("script"), ngx_string("style"), ngx_string("textarea"),
        ngx_string("title"), ngx_string("xmp"), ngx_string("iframe"),
        ngx_string("noembed"), ngx_string("noframes"),
        ngx_string("noscript"), ngx_null_string
    };

    p = start;
    last = start + len;
    first = -1;

    for ( ;; ) {
        p = ngx_strlchr(p, last, '<');

        if (p == NULL || last - p < 2) {
            break;
        }

        if (last - p >= 4 && ngx_strncmp(p, "<!--", 4) == 0) {
            q = p + 4;

            /* "<!-->" and "<!--->" are whole comments */

            if (q < last && *q == '>') {
                p = q + 1;
                continue;
            }

            if (last - q >= 2 && q[0] == '-' && q[1] == '>') {
                p = q + 2;
                continue;
            }

            p = ngx_strlcasestrn(q, last, (u_char *) "-->", 3 - 1);
            if (p == NULL) {
                break;
            }

            p += 3;
            continue;
        }

        if (p[1] == '/' && last - p >= 3) {

            if (ngx_http_vantoro_isalpha(p[2])) {
                /* an end tag: its attributes may quote ">" too */
                goto tag;
            }

            if (p[2] == '>') {
                p += 3;
                continue;
            }
        }

        if (p[1] == '!' || p[1] == '?' || p[1] == '/') {
            /* a declaration or a bogus comment, to the next ">" */

            p = ngx_strlchr(p + 1, last, '>');
            if (p == NULL) {
                break;
            }

            p++;
            continue;
        }

        if (!ngx_http_vantoro_isalpha(p[1])) {
            p++;
            continue;
        }

        if (first == -1) {
            first = p - start;
        }

    tag:

        name = (p[1] == '/') ? p + 2 : p + 1;

        for (q = name;
             q < last && *q != ' ' && *q != '\t' && *q != '\n' && *q != '\r'
             && *q != '\f' && *q != '/' && *q != '>';
             q++)
        {
            /* void */
        }

        n = q - name;

        /* the rest of the tag, with attribute values in quotes */

        while (q < last && *q != '>') {
            if (*q == '=') {
                q++;

                while (q < last && (*q == ' ' || *q == '\t' || *q == '\n'
                                    || *q == '\r' || *q == '\f'))
                {
                    q++;
                }

                if (q < last && (*q == '"' || *q == '\'')) {
                    quote = *q;
                    q = ngx_strlchr(q + 1, last, quote);
                    if (q == NULL) {
                        goto done;
                    }
                }
            }

            q++;
        }

        if (q >= last) {
            break;
        }

        q++;

        if (p[1] == '/') {
            p = q;
            continue;
        }

        if (n == 4 && ngx_strncasecmp(name, (u_char *) "head", 4) == 0) {
            return q - start;
        }

        if (n == 9 && ngx_strncasecmp(name, (u_char *) "plaintext", 9) == 0) {
            break;
        }

        p = q;

        for (i = 0; raw[i].len; i++) {
            if (n != raw[i].len
                || ngx_strncasecmp(name, raw[i].data, n) != 0)
            {
                continue;
            }

            /* the text runs to the element's own end tag */

            for ( ;; ) {
                p = ngx_strlcasestrn(p, last, (u_char *) "</", 2 - 1);

                if (p == NULL) {
                    goto done;
                }

                p += 2;

                if ((size_t) (last - p) > n
                    && ngx_strncasecmp(p, raw[i].data, n) == 0
                    && (p[n] == ' ' || p[n] == '\t' || p[n] == '\n'
                        || p[n] == '\r' || p[n] == '\f' || p[n] == '/'
                        || p[n] == '>'))
                {
                    p -= 2;
                    break;
                }
            }

            break;
        }
    }

done:

    return (first == -1) ? len : (size_t) first;
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


static char *
ngx_http_vantoro_copyright(ngx_conf_t *cf, ngx_command_t *cmd, void *conf)
{
    char  *rv;

    ngx_str_t       *value;
    vantoro_handle  *h;
    vantoro_status   status;

    h = NULL;

    rv = ngx_conf_set_str_slot(cf, cmd, conf);
    if (rv != NGX_CONF_OK) {
        return rv;
    }

    /* the engine's own judgement, now rather than on every response */

    value = cf->args->elts;

    status = vantoro_create(&h);
    if (status == VANTORO_OK) {
        status = vantoro_set_copyright(h, (char *) value[1].data,
                                       value[1].len);
    }

    if (status != VANTORO_OK) {
        ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                           "invalid copyright text \"%V\": %s", &value[1],
                           h ? vantoro_last_error(h)
                             : vantoro_status_name(status));
        vantoro_destroy(h);
        return NGX_CONF_ERROR;
    }

    vantoro_destroy(h);

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
     *     conf->site_key = { 0, NULL };
     *     conf->stylesheet_uri = { 0, NULL };
     *     conf->types = { NULL };
     *     conf->types_keys = NULL;
     *     conf->link = { 0, NULL };
     *     conf->engine = NULL;
     *     conf->css = { 0, NULL };
     *     conf->css_etag = { 0, NULL };
     */

    conf->enable = NGX_CONF_UNSET;
    conf->pass = NGX_CONF_UNSET_UINT;
    conf->decoy = NGX_CONF_UNSET_UINT;
    conf->hide = NGX_CONF_UNSET_UINT;
    conf->max_size = NGX_CONF_UNSET_SIZE;
    conf->bypass = NGX_CONF_UNSET_PTR;
    conf->stylesheet = NGX_CONF_UNSET;

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
    ngx_md5_t            md5;
    vantoro_status       status;
    ngx_pool_cleanup_t  *cln;
    u_char               digest[16];

    ngx_conf_merge_value(conf->enable, prev->enable, 0);
    ngx_conf_merge_uint_value(conf->pass, prev->pass,
                              NGX_HTTP_VANTORO_PROTECT);
    ngx_conf_merge_uint_value(conf->decoy, prev->decoy,
                              VANTORO_DECOY_COPYRIGHT);
    ngx_conf_merge_uint_value(conf->hide, prev->hide, NGX_HTTP_VANTORO_STYLE);
    ngx_conf_merge_str_value(conf->copyright, prev->copyright, "");
    ngx_conf_merge_str_value(conf->site_key, prev->site_key, "");
    ngx_conf_merge_str_value(conf->stylesheet_uri, prev->stylesheet_uri, "");
    ngx_conf_merge_size_value(conf->max_size, prev->max_size,
                              8 * 1024 * 1024);
    ngx_conf_merge_ptr_value(conf->bypass, prev->bypass, NULL);

    /* like a content handler, not inherited */

    if (conf->stylesheet == NGX_CONF_UNSET) {
        conf->stylesheet = 0;
    }

#if (NGX_HTTP_VANTORO_TEST)
    ngx_conf_merge_ptr_value(conf->replay, prev->replay, NULL);
#endif

    if (ngx_http_merge_types(cf, &conf->types_keys, &conf->types,
                             &prev->types_keys, &prev->types,
                             ngx_http_html_default_types)
        != NGX_OK)
    {
        return NGX_CONF_ERROR;
    }

    if (conf->copyright.len == 0) {
        conf->copyright.data = NULL;
    }

    if (conf->enable && conf->hide != NGX_HTTP_VANTORO_STYLE) {
        if (conf->site_key.len == 0) {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                               "\"vantoro_hide %s\" needs "
                               "\"vantoro_site_key\"",
                               conf->hide == NGX_HTTP_VANTORO_CLASS
                               ? "class" : "auto");
            return NGX_CONF_ERROR;
        }

        if (conf->stylesheet_uri.len == 0) {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                               "\"vantoro_hide %s\" needs "
                               "\"vantoro_stylesheet_uri\"",
                               conf->hide == NGX_HTTP_VANTORO_CLASS
                               ? "class" : "auto");
            return NGX_CONF_ERROR;
        }

        if (ngx_strlchr(conf->stylesheet_uri.data,
                        conf->stylesheet_uri.data + conf->stylesheet_uri.len,
                        '"')
            || ngx_strlchr(conf->stylesheet_uri.data,
                           conf->stylesheet_uri.data
                           + conf->stylesheet_uri.len, '<'))
        {
            ngx_conf_log_error(NGX_LOG_EMERG, cf, 0,
                               "\"vantoro_stylesheet_uri\" must not contain "
                               "'\"' or '<': \"%V\"", &conf->stylesheet_uri);
            return NGX_CONF_ERROR;
        }

        if (prev->link.len && prev->stylesheet_uri.len
            && prev->stylesheet_uri.data == conf->stylesheet_uri.data)
        {
            conf->link = prev->link;

        } else {
            conf->link.len = sizeof("<link rel=\"stylesheet\" href=\"\">") - 1
                             + conf->stylesheet_uri.len;
            conf->link.data = ngx_pnalloc(cf->pool, conf->link.len);
            if (conf->link.data == NULL) {
                return NGX_CONF_ERROR;
            }

            ngx_sprintf(conf->link.data, "<link rel=\"stylesheet\" href=\"%V\">",
                        &conf->stylesheet_uri);
        }
    }

    if (conf->enable) {
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
    ngx_http_next_header_filter = ngx_http_top_header_filter;
    ngx_http_top_header_filter = ngx_http_vantoro_header_filter;

    ngx_http_next_body_filter = ngx_http_top_body_filter;
    ngx_http_top_body_filter = ngx_http_vantoro_body_filter;

    return NGX_OK;
}
