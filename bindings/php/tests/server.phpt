--TEST--
ob_start(Vantoro\output_handler(...)) under PHP's built-in web server, over real HTTP
--EXTENSIONS--
vantoro
--SKIPIF--
<?php
if (!function_exists('proc_open')) die('skip proc_open is disabled');
?>
--FILE--
<?php
require __DIR__ . '/replay.inc';

// The module under test: the one run-tests.php loaded.
$module = null;
foreach ([__DIR__ . '/../modules/vantoro.so', ini_get('extension_dir') . '/vantoro.so'] as $candidate) {
    if (is_file($candidate)) {
        $module = realpath($candidate);
        break;
    }
}
$errors = tempnam(sys_get_temp_dir(), 'vantoro-server-');

// A free port is taken by the time the server binds it only in a race: then
// the server exits and the next port is tried.
function start_server(string $module, string $errors): array {
    for ($attempt = 0; $attempt < 5; $attempt++) {
        $probe = stream_socket_server('tcp://127.0.0.1:0');
        $port = (int) substr(strrchr(stream_socket_get_name($probe, false), ':'), 1);
        fclose($probe);
        $server = proc_open(
            [PHP_BINARY, '-n', '-d', "extension=$module", '-d', 'display_errors=0', '-d', 'log_errors=1',
             '-d', "error_log=$errors", '-S', "127.0.0.1:$port", __DIR__ . '/router.php'],
            [0 => ['file', '/dev/null', 'r'], 1 => ['file', '/dev/null', 'w'], 2 => ['file', '/dev/null', 'w']],
            $pipes);
        file_put_contents(__DIR__ . '/server.pid', proc_get_status($server)['pid']);
        for ($wait = 0; $wait < 200 && proc_get_status($server)['running']; $wait++) {
            $connection = @fsockopen('127.0.0.1', $port, $errno, $errstr, 0.5);
            if ($connection) {
                fclose($connection);
                return [$server, $port];
            }
            usleep(50000);
        }
        proc_terminate($server);
        proc_close($server);
    }
    throw new RuntimeException('php -S did not start');
}

[$server, $port] = start_server($module, $errors);
register_shutdown_function(function () use ($server, $errors) {
    proc_terminate($server);
    proc_close($server);
    @unlink($errors);
});

function fetch(int $port, string $path): array {
    $context = stream_context_create(['http' => ['ignore_errors' => true, 'timeout' => 30]]);
    $body = file_get_contents("http://127.0.0.1:$port$path", false, $context);
    $status = (int) explode(' ', $http_response_header[0])[1];
    $type = '';
    foreach ($http_response_header as $line) {
        if (stripos($line, 'Content-Type:') === 0) {
            $type = trim(substr($line, 13));
        }
    }
    return [$status, $type, $body];
}

$page = vantoro_test_page();
$m = new Vantoro\Marquel(['copyright' => 'Example Site:All rights reserved']);
$m->replay(vantoro_test_values());
$expected = $m->protect($page);

// HTML: protected, byte for byte what the same random values give here.
[$status, $type, $body] = fetch($port, '/html?replay');
var_dump($status, $type, $body === $expected);
[, , $body] = fetch($port, '/pieces?replay');
var_dump($body === $expected);
[, , $body] = fetch($port, '/html');
var_dump(str_contains($body, 'Vantoro'), substr_count($body, 'All rights reserved'), $body !== $expected);

// Anything else: byte-identical.
foreach (['/text', '/late-type'] as $path) {
    [, $type, $body] = fetch($port, $path);
    echo "$path: $type, ", $body === $page ? 'unchanged' : 'CHANGED', "\n";
}
[, $type, $body] = fetch($port, '/json');
echo "/json: $type, ", $body === json_encode(['html' => $page]) ? 'unchanged' : 'CHANGED', "\n";
[, , $body] = fetch($port, '/gzip');
var_dump(substr($body, 0, 2) === "\x1f\x8b", gzdecode($body) === $page);
[$status, , $body] = fetch($port, '/empty');
var_dump($status, $body);

// An engine failure: the page goes out unprotected and the log says why.
[$status, , $body] = fetch($port, '/failing');
var_dump($status, $body === $page);
var_dump(str_contains(file_get_contents($errors), 'scripted random values ran out'));
?>
--CLEAN--
<?php
// Only if the test died before stopping its server.
$pid = (int) @file_get_contents(__DIR__ . '/server.pid');
if ($pid > 0 && str_contains((string) @file_get_contents("/proc/$pid/cmdline"), 'router.php')) {
    exec('kill ' . $pid);
}
@unlink(__DIR__ . '/server.pid');
?>
--EXPECT--
int(200)
string(24) "text/html; charset=UTF-8"
bool(true)
bool(true)
bool(true)
int(3)
bool(true)
/text: text/plain; charset=UTF-8, unchanged
/late-type: text/plain;charset=UTF-8, unchanged
/json: application/json, unchanged
bool(true)
bool(true)
int(204)
string(0) ""
int(200)
bool(true)
bool(true)
