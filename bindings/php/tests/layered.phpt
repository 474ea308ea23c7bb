--TEST--
Layered hiding by default (style element, copy-visible notices), copy_notices, the reservation meta; style and class as before
--EXTENSIONS--
vantoro
--FILE--
<?php
require __DIR__ . '/replay.inc';
$page = '<html><head><title>t</title></head><body>' . str_repeat('<p>One</p>', 12) . '</body></html>';
$copyVisible = fn(string $html) => substr_count($html, "aria-hidden='true'");
// Without a site key the classes are named after the copyright text.
$sheet = Vantoro\stylesheet('Example Site');

var_dump(Vantoro\HIDE_LAYERED);
foreach (['protect_content' => Vantoro\protect_content($page, ['copyright' => 'Example Site']),
          'protect' => Vantoro\protect($page, ['copyright' => 'Example Site']),
          'handler' => Vantoro\output_handler(['copyright' => 'Example Site'])(
              $page, PHP_OUTPUT_HANDLER_START | PHP_OUTPUT_HANDLER_FINAL)] as $entry => $out) {
    printf("%s: %d style element, %d style attributes, %d copy-visible, rules in: %s\n", $entry,
           substr_count(strtolower($out), '<style'), substr_count(strtolower($out), 'style='),
           $copyVisible($out), var_export(str_contains($out, $sheet), true));
}
// The rules go where the head begins; a link replaces them.
$out = Vantoro\protect_content($page, ['copyright' => 'Example Site']);
var_dump(str_starts_with($out, "<html><head><style>$sheet</style><title>"));
$out = Vantoro\protect_content($page, ['copyright' => 'Example Site', 'site_key' => 'k', 'stylesheet_link' => '/v.css']);
var_dump(str_contains($out, '<head><link rel="stylesheet" href="/v.css">'), str_contains($out, '<style'));

// A copy-visible notice at the first decoy and every copy_notices-th after it.
foreach ([0, 1, 4, PHP_INT_MAX] as $every) {
    echo $every, ': ', $copyVisible(Vantoro\protect_content($page, ['copyright' => 'S', 'copy_notices' => $every])), "\n";
}

// Marquel keeps the component's inline style unless asked for layers.
$m = new Vantoro\Marquel(['copyright' => 'Example Site']);
var_dump(str_contains($m->RndContent('<p>x</p>'), 'style='));
$m = new Vantoro\Marquel(['copyright' => 'Example Site', 'hide' => Vantoro\HIDE_LAYERED, 'copy_notices' => 1]);
$c = clone $m;
var_dump($copyVisible($c->RndContent('<p>x</p><p>y</p>')));

// Style and class give the bytes they always gave for the same random values.
foreach ([Vantoro\HIDE_STYLE, Vantoro\HIDE_CLASS] as $hide) {
    $m = new Vantoro\Marquel(['copyright' => 'note', 'hide' => $hide, 'site_key' => 'k']);
    $m->replay(vantoro_readme_values());
    var_dump($m->RndContent('x</p>y'));
}

// The reservation meta: by the page pass, where the head begins.
$meta = '<meta name="tdm-reservation" content="1">';
foreach (['protect_page', 'protect', 'protect_content'] as $pass) {
    $out = ('Vantoro\\' . $pass)($page, ['copyright' => 'S', 'tdm_reservation' => true]);
    $low = strtolower($out);
    echo $pass, ': ', str_contains($out, $meta) && strpos($low, '<head') < strpos($out, $meta)
        && strpos($out, $meta) < strpos($low, '<title') ? 'meta' : 'none', "\n";
}
var_dump(str_contains(Vantoro\protect($page, ['copyright' => 'S']), 'tdm-reservation'));
?>
--EXPECT--
int(3)
protect_content: 1 style element, 0 style attributes, 3 copy-visible, rules in: true
protect: 1 style element, 0 style attributes, 3 copy-visible, rules in: true
handler: 1 style element, 0 style attributes, 3 copy-visible, rules in: true
bool(true)
bool(true)
bool(false)
0: 1
1: 12
4: 3
9223372036854775807: 1
bool(true)
int(2)
string(49) "x<span style='z;display:none;;'>.note</span></p>y"
string(49) "x<span class='nnnn lmsvvq nnnn'>.note</span></p>y"
protect_page: meta
protect: meta
protect_content: none
bool(false)
