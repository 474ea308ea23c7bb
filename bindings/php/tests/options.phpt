--TEST--
Every engine option through the options arrays, Marquel's clones, stylesheet(), is_protected(), detect_charset()
--EXTENSIONS--
vantoro
--FILE--
<?php
$page = '<html><head><title>t</title></head><body><p>a</p><p>b<br>c</p></body></html>';
// Each decoy is an element right before a </p or <br; its attributes and text.
function decoys(string $html): array {
    preg_match_all('~<([a-z]+)( [^>]*)>([^<]*)</\1>(?=</p|<br)~i', $html, $m, PREG_SET_ORDER);
    return array_map(fn($d) => ['attributes' => $d[2], 'text' => $d[3]], $m);
}
// The class names the site's stylesheet hides.
function hidden_classes(string $siteKey): array {
    preg_match('/^(.*)\{display:none!important\}$/m', Vantoro\stylesheet($siteKey), $m);
    return array_map(fn($c) => ltrim($c, '.'), explode(',', $m[1]));
}

// Hiding by class: every decoy carries one class the stylesheet hides, and no
// inline style; the link goes right behind <head>.
$class = ['copyright' => 'Notice', 'hide' => Vantoro\HIDE_CLASS, 'site_key' => 'example.org'];
$hidden = hidden_classes('example.org');
$out = Vantoro\protect_content($page, $class + ['stylesheet_link' => '/v.css']);
$found = decoys($out);
$covered = array_filter($found, fn($d) => preg_match("/class='([^']*)'/", $d['attributes'], $c)
    && count(array_intersect(explode(' ', $c[1]), $hidden)) === 1 && !str_contains($d['attributes'], 'style'));
var_dump(count($found), count($covered), str_starts_with($out, '<html><head><link rel="stylesheet" href="/v.css"><title>'));
var_dump(count($hidden), hidden_classes('example.org') === $hidden, hidden_classes('other.example') !== $hidden);
// Without a link, or with style hiding, no link is put in.
var_dump(str_contains(Vantoro\protect_content($page, $class), '<link'),
         str_contains(Vantoro\protect_content($page, ['copyright' => 'Notice', 'stylesheet_link' => '/v.css', 'hide' => Vantoro\HIDE_STYLE]), '<link'));

// nosnippet marks every decoy; by default none is.
$marked = fn(array $o) => count(array_filter(decoys(Vantoro\protect_content($page, $o)),
                                             fn($d) => str_contains($d['attributes'], 'data-nosnippet')));
var_dump($marked(['copyright' => 'Notice', 'nosnippet' => true]), $marked(['copyright' => 'Notice']));

// empty_notices: copyright decoys without a text are refused unless asked
// for; then the pass leaves the page as it was.
var_dump(Vantoro\protect_content($page, ['empty_notices' => true, 'hide' => Vantoro\HIDE_STYLE]) === $page);

// charset "auto" (the default): the page's own declaration decides; a named
// charset is used as given.
$gbk = '<meta charset="gbk"><p>x</p>';
$notice = ['copyright' => '版权'];
var_dump(str_contains(Vantoro\protect_content($gbk, $notice), "\xb0\xe6\xc8\xa8"),
         str_contains(Vantoro\protect_content($gbk, $notice + ['charset' => 'UTF-8']), '版权'),
         str_contains(Vantoro\protect_content('<p>x</p>', $notice), '版权'));

// A clone keeps the newer settings too.
$m = new Vantoro\Marquel($class + ['nosnippet' => true]);
$c = clone $m;
$cloned = decoys($c->RndContent($page));
var_dump(count(array_filter($cloned, fn($d) => str_contains($d['attributes'], 'data-nosnippet')
    && !str_contains($d['attributes'], 'style'))));
// Marquel takes an empty CopyRStr, as the component does, unless told not to.
$m = new Vantoro\Marquel(['copyright' => '']);
var_dump($m->RndContent($page) === $page);
try {
    (new Vantoro\Marquel(['empty_notices' => false]))->RndContent($page);
} catch (Vantoro\Exception $e) {
    var_dump($e->getCode() === Vantoro\Exception::INVALID_ARGUMENT);
}

// is_protected: the page pass's watermark, behind a declaration too.
var_dump(Vantoro\is_protected(Vantoro\protect_page('<!DOCTYPE html>' . $page)),
         Vantoro\is_protected($page),
         Vantoro\is_protected(Vantoro\protect_content($page, ['copyright' => 'Notice'])));

// detect_charset: byte order mark, then transport, then <meta>, then UTF-8.
foreach ([["\xef\xbb\xbf<meta charset=gbk>", 'latin1'], ['<meta charset=gbk>', 'latin1'],
          ['<meta charset=gbk>', null], ['<meta charset=gbk>', 'no-such-label'], ['<p>x</p>', null]] as [$p, $t]) {
    echo Vantoro\detect_charset($p, $t), "\n";
}
?>
--EXPECT--
int(3)
int(3)
bool(true)
int(4)
bool(true)
bool(true)
bool(false)
bool(false)
int(3)
int(0)
bool(true)
bool(true)
bool(true)
bool(true)
int(3)
bool(true)
bool(true)
bool(true)
bool(false)
bool(false)
UTF-8
windows-1252
GBK
GBK
UTF-8
