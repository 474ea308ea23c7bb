--TEST--
Pages are bytes: NUL bytes and text that is not UTF-8 pass through; inserted text follows the charset
--EXTENSIONS--
vantoro
--FILE--
<?php
// The page pass changes only letter case, whitespace and comments (and puts the
// watermark in front): this takes all of that away again.
function page_text(string $page): string {
    return strtolower(preg_replace(['/<!--.*?-->/s', '/\s+/'], '', $page));
}

// NUL bytes are data, in the page and in the copyright text.
var_dump(bin2hex(Vantoro\protect_content("a\0b</P>", ['empty_notices' => true, 'hide' => Vantoro\HIDE_STYLE])));
$out = Vantoro\protect_page("<p>a\0b</p>\0");
var_dump(page_text($out) === "<p>a\0b</p>\0", str_ends_with($out, "\0"));
$out = Vantoro\protect_content("x</p>", ['copyright' => "left\0right"]);
var_dump(str_contains($out, "left\0right"));
$m = new Vantoro\Marquel();
$m->CopyRStr = "nul\0inside";
var_dump(str_contains($m->RndContent('<br>'), "nul\0inside"));

// Bytes that are not UTF-8 pass through both passes unchanged.
$latin1 = "<p>caf\xe9 \xff\xfe\x80</p><br>\xc3";
$out = Vantoro\protect_page($latin1);
var_dump(page_text($out) === page_text($latin1));
var_dump(str_contains($out, "caf\xe9 \xff\xfe\x80"), str_contains($out, "\xc3"));
$out = Vantoro\protect_content($latin1, ['copyright' => 'note', 'hide' => Vantoro\HIDE_STYLE]);
var_dump(str_contains($out, "<p>caf\xe9 \xff\xfe\x80"), substr_count($out, 'note'), str_ends_with($out, "<br>\xc3"));

// Inserted text is converted to the page's character set.
$gbk = Vantoro\protect_content('x</p>', ['copyright' => '版权', 'charset' => 'GBK']);
var_dump(str_contains($gbk, "\xb0\xe6\xc8\xa8"), str_contains($gbk, '版权'));
$latin = Vantoro\protect_content('x</p>', ['copyright' => 'café', 'charset' => 'ISO-8859-1']);
var_dump(str_contains($latin, "caf\xe9"));
// A character the set cannot hold becomes a numeric reference.
$latin = Vantoro\protect_content('x</p>', ['copyright' => '€', 'charset' => 'ISO-8859-1']);
var_dump(str_contains($latin, '&#8364;'));
// The watermark too: in ISO-8859-1 it holds no byte above 0x7f.
var_dump(preg_match('/[\x80-\xff]/', Vantoro\protect_page('<p>x</p>', ['charset' => 'ISO-8859-1'])));
var_dump(preg_match('/[\x80-\xff]/', Vantoro\protect_page('<p>x</p>')));
?>
--EXPECT--
string(14) "6100623c2f703e"
bool(true)
bool(true)
bool(true)
bool(true)
bool(true)
bool(true)
bool(true)
bool(true)
int(2)
bool(true)
bool(true)
bool(false)
bool(true)
bool(true)
int(0)
int(1)
