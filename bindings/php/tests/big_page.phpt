--TEST--
A 10 MB page through both passes
--EXTENSIONS--
vantoro
--SKIPIF--
<?php
// run-tests.php -m (valgrind) turns PHP's allocator off: far too slow for 10 MB.
if (getenv('USE_ZEND_ALLOC') === '0') die('skip too slow under valgrind');
?>
--INI--
memory_limit=1G
pcre.backtrack_limit=100000000
--FILE--
<?php
$block = "<div class=\"post\" id=\"p%d\"><p>Paragraph %d with <a href=\"/x?a=1&amp;b=2\">a link</a>"
       . " and caf\xc3\xa9<br>second line</p><table><tr><td>cell</td></tr></table>"
       . "<script>if (a < b && c > d) { s = '<p>'; }</script><img src=\"i.png\" alt=\"\"></div>\n";
$page = '';
for ($i = 0; strlen($page) < 10 * 1024 * 1024; $i++) {
    $page .= sprintf($block, $i, $i);
}
$blocks = $i;
printf("%d MB\n", strlen($page) >> 20);

// The page pass changes only letter case, whitespace and comments.
$m = new Vantoro\Marquel();
$out = $m->Rndstr($page);
$text = fn(string $s) => strtolower(preg_replace(['/<!--.*?-->/s', '/\s+/'], '', $s));
var_dump(strlen($out) > strlen($page), $text($out) === $text($page));
// Script text is left exactly as it was.
var_dump(substr_count($out, "if (a < b && c > d) { s = '<p>'; }") === $blocks);
unset($out);

// The content pass: one decoy at each </p and <br (two per block, none in the
// script), and taking them out again gives the page back.
$m->CopyRStr = 'Example Site:All rights reserved';
$out = $m->RndContent($page);
$decoy = "~<([a-z]+) style='[^']*;display:none;[^']*'>[^<]*Example Site[^<]*All rights reserved[^<]*</\\1>(?=</p|<br)~i";
var_dump(preg_match_all($decoy, $out) === 2 * $blocks, preg_replace($decoy, '', $out) === $page);
?>
--EXPECT--
10 MB
bool(true)
bool(true)
bool(true)
bool(true)
bool(true)
