--TEST--
The output handler under php -S (installed by auto_prepend_file): the response policy over real HTTP
--EXTENSIONS--
vantoro
--SKIPIF--
<?php
if (!function_exists('proc_open')) die('skip proc_open is disabled');
?>
--FILE--
<?php
require __DIR__ . '/http/servers.inc';
$servers = new VantoroServers(__DIR__ . '/http_builtin.state');
try {
    vantoro_http_cases(vantoro_start_builtin($servers), $servers);
} finally {
    $servers->stop();
}
?>
--CLEAN--
<?php
require __DIR__ . '/http/clean.inc';
vantoro_http_clean(__DIR__ . '/http_builtin.state');
?>
--EXPECT--
GET /page?debug: 200 protected | protected, 3 notices, content kept | length none
GET /page: 200 - | protected, 3 notices, content kept | length none
GET /page?debug (gzip): 200 protected gzip | protected, 3 notices, content kept | length none
GET /own-length?debug: 200 protected | protected, 3 notices, content kept | length the body's
GET /own-length?debug (gzip): 200 protected | protected, 3 notices, content kept | length the body's
GET /flushed-length?debug: 200 - | unchanged | length the body's
GET /validators?debug: 200 protected | protected, 3 notices, content kept | length the body's | etag W/"v1"
GET /validators?debug&weak: 200 protected | protected, 3 notices, content kept | length the body's | etag W/"v2"
HEAD /validators?debug: 200 protected | 0 bytes | length none | etag W/"v1"
HEAD /page?debug: 200 protected | 0 bytes | length none
HEAD /no-transform?debug: 200 no_transform | 0 bytes | length the original's
GET /no-transform?debug: 200 no_transform | unchanged | length the body's
GET /partial?debug: 206 status | unchanged | length none
GET /range?debug: 200 range | unchanged | length none
GET /json?debug: 200 type | unchanged | length none
GET /json: 200 - | unchanged | length none
GET /xhtml?debug: 200 type | unchanged | length none
GET /gzip?debug: 200 encoded gzip | unchanged | length none
GET /empty?debug: 204 empty | 0 bytes | length none
GET /failing?debug: 200 error | unchanged | length none
GET /gbk?debug: 200 protected | protected, 2 notices, GBK notices 2, UTF-8 notices 0 | length none
GET /late/flushed?debug: 200 - | unchanged | length none
GET /late/flushed (gzip): 200 - | unchanged | length none
GET /late/buffered?debug: 200 sent | unchanged | length none
bool(true)
