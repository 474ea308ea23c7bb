--TEST--
Vantoro\OutputHandler on the command line: which media types it protects, and the charset the notices take
--EXTENSIONS--
vantoro
--INI--
default_mimetype=text/plain
default_charset=UTF-8
--FILE--
<?php
// The CLI keeps no headers: the response's type is default_mimetype, with
// default_charset as its charset parameter.
const WHOLE = PHP_OUTPUT_HANDLER_START | PHP_OUTPUT_HANDLER_FINAL;
$page = "<p>Plain text that only looks like HTML</p>\n";
ob_start(Vantoro\output_handler(['copyright' => 'Example Site']));
echo $page;
ob_end_flush();

function unchanged(string $page, array $options = []): bool {
    return Vantoro\output_handler(['copyright' => 'Example Site'] + $options)($page, WHOLE) === $page;
}
echo "text/plain: ", var_export(unchanged($page), true), "\n";
echo "text/plain listed: ", var_export(unchanged($page, ['types' => ['Text/Plain']]), true), "\n";
// XML is case-sensitive: re-marked tag names would break it.
foreach (['application/xhtml+xml', 'TEXT/HTML', 'text/htmlx', 'text/html ; q=1'] as $type) {
    ini_set('default_mimetype', $type);
    echo "$type: ", var_export(unchanged($page), true), "\n";
}

// The notices go in the character set the browser reads the page in: the
// transport's (here default_charset) first, else the page's own declaration.
ini_set('default_mimetype', 'text/html');
$gbk = "\xb0\xe6\xc8\xa8";  // 版权 in GBK
$notice = fn(array $extra = []) => Vantoro\output_handler(['copyright' => '版权', 'hide' => Vantoro\HIDE_STYLE] + $extra);
$declared = '<meta charset="gbk"><p>x</p>';
foreach (['UTF-8', 'GBK', ''] as $transport) {
    ini_set('default_charset', $transport);
    $out = $notice()($declared, WHOLE);
    printf("transport '%s': gbk %d, utf-8 %d\n", $transport, substr_count($out, $gbk), substr_count($out, '版权'));
}
// An explicit charset option wins over both.
$out = $notice(['charset' => 'UTF-8'])($declared, WHOLE);
printf("charset option: gbk %d, utf-8 %d\n", substr_count($out, $gbk), substr_count($out, '版权'));
?>
--EXPECT--
<p>Plain text that only looks like HTML</p>
text/plain: true
text/plain listed: false
application/xhtml+xml: true
TEXT/HTML: false
text/htmlx: true
text/html ; q=1: false
transport 'UTF-8': gbk 0, utf-8 1
transport 'GBK': gbk 1, utf-8 0
transport '': gbk 1, utf-8 0
charset option: gbk 0, utf-8 1
