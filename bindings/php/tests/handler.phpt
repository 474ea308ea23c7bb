--TEST--
Vantoro\OutputHandler: held back until the end, protected as one page, never loses output
--EXTENSIONS--
vantoro
--FILE--
<?php
require __DIR__ . '/replay.inc';
const START = PHP_OUTPUT_HANDLER_START, END = PHP_OUTPUT_HANDLER_FINAL,
      FLUSH = PHP_OUTPUT_HANDLER_FLUSH, CLEAN = PHP_OUTPUT_HANDLER_CLEAN;
$options = ['copyright' => 'Example Site', 'hide' => Vantoro\HIDE_STYLE];
$page = '<html><body><div class="a"><p>One</p><p>Two<br>Three</p></div></body></html>';

// Split anywhere, even inside a tag, the response is protected as one page:
// with the same random values it equals protecting the whole page at once.
$m = new Vantoro\Marquel($options);
$m->replay(vantoro_test_values());
$whole = $m->protect($page);
$h = Vantoro\output_handler($options);
$h->replay(vantoro_test_values());
$parts = [$h(substr($page, 0, 19), START), $h(substr($page, 19, 13), 0), $h(substr($page, 32, 5), FLUSH)];
$parts[] = $h(substr($page, 37), END);
var_dump($parts[0], $parts[1], $parts[2], $parts[3] === $whole);

// ob_clean() drops its chunk only; ob_end_clean() drops everything.
$h = new Vantoro\OutputHandler($options);
$h->replay(vantoro_test_values());
$h('<p>kept ', START);
$h('<p>dropped', CLEAN);
$out = $h('and kept</p>', END);
var_dump(str_contains($out, 'kept and kept'), str_contains($out, 'dropped'));
$h('<p>x</p>', START);
var_dump($h('<p>y</p>', END | CLEAN), $h('', START | END));

// An empty body stays empty (no lone watermark on a redirect or a 304).
var_dump(Vantoro\output_handler($options)('', START | END));

// An engine failure is a warning, and the page goes out unprotected.
$h = Vantoro\output_handler($options);
$h->replay([0.5]);
var_dump($h($page, START | END) === $page);

// An error handler that turns the warning into an exception (as frameworks
// do) does not cost the page: the warning goes to the error log instead.
$log = tempnam(sys_get_temp_dir(), 'vantoro-log-');
ini_set('error_log', $log);
set_error_handler(fn(int $no, string $text) => throw new ErrorException($text, 0, $no));
$h = Vantoro\output_handler($options);
$h->replay([0.5]);
ob_start();
ob_start($h, 8);
echo "<p>first</p>", "<p>second</p>", "<p>third</p>";
ob_end_flush();
var_dump(ob_get_clean() === "<p>first</p><p>second</p><p>third</p>",
         str_contains(file_get_contents($log), 'Vantoro\OutputHandler: scripted random values ran out'));
restore_error_handler();
unlink($log);

// Through PHP's own output buffering (an outer buffer catches what the handler
// sends on). The CLI keeps no headers, so the response's type is
// default_mimetype: text/html here.
$hidden = fn(string $s) => substr_count(strtolower($s), 'display:none');
ob_start();
ob_start(Vantoro\output_handler($options));
echo "<p>Hello</p>";
echo "<p>World</p>";
ob_end_flush();
$out = ob_get_clean();
var_dump(str_contains($out, 'Vantoro'), substr_count($out, 'Example Site'), $hidden($out));
// With a chunk size, PHP calls the handler every few bytes; still one page.
ob_start();
ob_start(new Vantoro\OutputHandler($options), 4);
for ($i = 0; $i < 50; $i++) {
    echo "<p>$i</p>";
}
ob_end_flush();
$out = ob_get_clean();
var_dump(substr_count($out, 'Vantoro'), $hidden($out), preg_match('/^\s*<!--/', $out));
?>
--EXPECTF--
string(0) ""
string(0) ""
string(0) ""
bool(true)
bool(true)
bool(false)
string(0) ""
string(0) ""
string(0) ""

Warning: Vantoro\OutputHandler::__invoke(): scripted random values ran out after 1 draws; the response is sent unprotected in %s on line %d
bool(true)
bool(true)
bool(true)
bool(true)
int(2)
int(2)
int(2)
int(50)
int(1)
