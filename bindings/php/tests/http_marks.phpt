--TEST--
The output handler under php -S: a mark id per request, known to the script before the response, found by trace(); the reservation headers; bypass
--EXTENSIONS--
vantoro
--SKIPIF--
<?php
if (!function_exists('proc_open')) die('skip proc_open is disabled');
?>
--FILE--
<?php
require __DIR__ . '/http/servers.inc';
$servers = new VantoroServers(__DIR__ . '/http_marks.state');
try {
    $port = null;
    for ($attempt = 0; $attempt < 5 && $port === null; $attempt++) {
        $try = vantoro_http_port();
        $command = [PHP_BINARY, '-n', '-d', 'extension=' . vantoro_http_module(), '-d', 'pcre.jit=0',
                    '-d', 'display_errors=0', '-d', 'log_errors=1', '-d', 'error_log=' . $servers->path('php.log'),
                    '-S', "127.0.0.1:$try", __DIR__ . '/http/marks.php'];
        $port = $servers->start('php-server', $command, $try) ? $try : null;
    }
    if ($port === null) {
        throw new RuntimeException("php -S did not start:\n" . $servers->log('php-server.out'));
    }
    $show = function (array $r) {
        $h = $r['headers'];
        $found = $r['body'] === '' ? null : Vantoro\trace($r['body'], 'secret');
        printf("%s | logged %s | traced %s | tdm %s %s | meta %s\n", $h['x-vantoro-status'][0] ?? '-',
               $h['x-logged-mark-id'][0] ?? '-', $found === null ? 'nothing' : var_export($found['id'], true),
               $h['tdm-reservation'][0] ?? '-', $h['tdm-policy'][0] ?? '-',
               str_contains($r['body'], '<meta name="tdm-reservation" content="1">') ? 'yes' : 'no');
        return [$h['x-logged-mark-id'][0] ?? null, $found['id'] ?? null];
    };
    // Two requests: two ids, each logged by its script and found in its page.
    $before = time();
    $ids = [];
    foreach ([1, 2] as $n) {
        $r = vantoro_http_request($port, 'GET', '/');
        [$logged, $traced] = [$r['headers']['x-logged-mark-id'][0], Vantoro\trace($r['body'], 'secret')['id']];
        $ids[] = $traced;
        var_dump($logged === var_export($traced, true), $traced >> 32 >= $before && $traced >> 32 <= time(),
                 $r['headers']['tdm-reservation'] === ['1'],
                 $r['headers']['tdm-policy'] === ['https://example.org/tdm-policy.json']);
    }
    var_dump($ids[0] !== $ids[1]);
    // The site's own ids, beyond PHP_INT_MAX too.
    $show(vantoro_http_request($port, 'GET', '/?id=0xF0E1D2C3B4A59687'));
    $show(vantoro_http_request($port, 'GET', '/?id=42'));
    $show(vantoro_http_request($port, 'HEAD', '/?id=42'));
    // A verified crawler gets the page as it is.
    $show(vantoro_http_request($port, 'GET', '/?id=42', ['User-Agent' => 'verified-crawler']));
    echo trim($servers->log('php.log')) === '' ? "no errors\n" : $servers->log('php.log');
} finally {
    $servers->stop();
}
?>
--CLEAN--
<?php
require __DIR__ . '/http/clean.inc';
vantoro_http_clean(__DIR__ . '/http_marks.state');
?>
--EXPECT--
bool(true)
bool(true)
bool(true)
bool(true)
bool(true)
bool(true)
bool(true)
bool(true)
bool(true)
protected | logged '17357386176853808775' | traced '17357386176853808775' | tdm 1 https://example.org/tdm-policy.json | meta yes
protected | logged 42 | traced 42 | tdm 1 https://example.org/tdm-policy.json | meta yes
protected | logged 42 | traced nothing | tdm 1 https://example.org/tdm-policy.json | meta no
bypass | logged NULL | traced nothing | tdm - - | meta no
no errors
