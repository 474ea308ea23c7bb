--TEST--
Marks carry a 64-bit mark id (ids beyond PHP_INT_MAX as strings) that trace() finds with the site key only; mark id errors; the handler's id per request
--EXTENSIONS--
vantoro
--FILE--
<?php
$prose = '<html><head><title>t</title></head><body>' . str_repeat(
    '<p>Some words of prose end here. More words of prose follow them. Then the third '
    . 'sentence of it ends. A fourth one closes the paragraph.</p>', 6) . '</body></html>';
$keyed = ['copyright' => 'Example Site', 'site_key' => 'secret'];

// Beyond PHP_INT_MAX an id goes in as a decimal or 0x-hex string, and comes
// back as the decimal string, with id_hex for any id.
$out = Vantoro\protect($prose, $keyed + ['mark_id' => '0xF0E1D2C3B4A59687']);
$found = Vantoro\trace($out, 'secret');
var_dump($found['id'], $found['id_hex'], $found['agreeing'] > 0 && $found['agreeing'] <= $found['seen']);
var_dump(array_keys($found));
$out = Vantoro\protect_content($prose, $keyed + ['mark_id' => '18446744073709551615']);
var_dump(Vantoro\trace($out, 'secret')['id_hex']);
$out = Vantoro\protect($prose, $keyed + ['mark_id' => PHP_INT_MAX]);
var_dump(Vantoro\trace($out, 'secret')['id'] === PHP_INT_MAX);
var_dump(Vantoro\trace(Vantoro\protect($prose, $keyed), 'secret')['id']);  // 0 by default
// Another key, or an unmarked text: nothing.
var_dump(Vantoro\trace($out, 'other key'), Vantoro\trace($prose, 'secret'));
// Marks are on with layers and a key, and only when asked for otherwise.
var_dump(Vantoro\trace(Vantoro\protect($prose, $keyed + ['marks' => false]), 'secret'),
         Vantoro\trace(Vantoro\protect($prose, $keyed + ['hide' => Vantoro\HIDE_STYLE]), 'secret'),
         Vantoro\trace(Vantoro\protect($prose, $keyed + ['hide' => Vantoro\HIDE_CLASS, 'marks' => true, 'mark_id' => 5]), 'secret')['id']);
// Marquel, and its clones, keep the id.
$m = new Vantoro\Marquel($keyed + ['hide' => Vantoro\HIDE_LAYERED, 'mark_id' => 77]);
$c = clone $m;
var_dump(Vantoro\trace($m->protect($prose), 'secret')['id'], Vantoro\trace($c->RndContent($prose), 'secret')['id']);

// Ids outside 0..2^64-1, and what is no id, are refused.
foreach ([-1, PHP_INT_MIN, '18446744073709551616', '0x10000000000000000', '-1', '12abc', '', '0x', ' 1'] as $bad) {
    try {
        Vantoro\protect($prose, $keyed + ['mark_id' => $bad]);
        echo "accepted\n";
    } catch (Vantoro\Exception $e) {
        printf("%d %s\n", $e->getCode(), $e->getMessage());
    }
}
try {
    Vantoro\protect($prose, $keyed + ['mark_id' => 1.5]);
} catch (TypeError $e) {
    echo $e->getMessage(), "\n";
}
try {
    Vantoro\trace($prose, '');
} catch (Vantoro\Exception $e) {
    printf("%d %s\n", $e->getCode(), $e->getMessage());
}

// new_mark_id(): the time in the high 32 bits, random bits in the low.
$before = time();
$ids = array_map(fn() => Vantoro\new_mark_id(), range(1, 20));
var_dump(count(array_unique($ids)), min(array_map(fn($id) => $id >> 32, $ids)) >= $before,
         max(array_map(fn($id) => $id >> 32, $ids)) <= time());

// The handler draws the request's id when it is made, so the script can log it.
var_dump(Vantoro\last_mark_id());
$h = Vantoro\output_handler($keyed);
$id = $h->markId();
var_dump(is_int($id), $id === Vantoro\last_mark_id());
$out = $h($prose, PHP_OUTPUT_HANDLER_START | PHP_OUTPUT_HANDLER_FINAL);
var_dump(Vantoro\trace($out, 'secret')['id'] === $id);
// The site's own ids; the last handler made is the one last_mark_id() tells.
$h = Vantoro\output_handler($keyed + ['new_mark_id' => fn() => '0xffffffffffffffff']);
var_dump($h->markId(), Vantoro\last_mark_id());
var_dump(Vantoro\trace($h($prose, PHP_OUTPUT_HANDLER_START | PHP_OUTPUT_HANDLER_FINAL), 'secret')['id']);
// No marks, no id.
var_dump(Vantoro\output_handler(['copyright' => 'S'])->markId(),
         Vantoro\output_handler($keyed + ['marks' => false])->markId());
foreach ([fn() => -5, fn() => [1], fn() => throw new RuntimeException('no id today')] as $source) {
    try {
        Vantoro\output_handler($keyed + ['new_mark_id' => $source]);
    } catch (Throwable $e) {
        printf("%s: %s\n", get_class($e), $e->getMessage());
    }
}
// A bypassed request passes unchanged and gets no id.
$h = Vantoro\output_handler($keyed + ['bypass' => fn() => true]);
var_dump($h->markId(), $h($prose, PHP_OUTPUT_HANDLER_START | PHP_OUTPUT_HANDLER_FINAL) === $prose);
// Options of the handler alone.
foreach ([['tdm_policy' => 'https://example.org/p'],
          ['tdm_reservation' => true, 'tdm_policy' => "https://example.org/p\r\nSet-Cookie: a=1"],
          ['copy_notices' => -1]] as $options) {
    try {
        Vantoro\output_handler($keyed + $options);
    } catch (Vantoro\Exception $e) {
        printf("%d %s\n", $e->getCode(), $e->getMessage());
    }
}
foreach ([['bypass' => 'no_such_function'], ['mark_id' => 1]] as $options) {
    try {
        Vantoro\output_handler($keyed + $options);
    } catch (Error $e) {
        printf("%s: %s\n", get_class($e), $e->getMessage());
    }
}
?>
--EXPECT--
string(20) "17357386176853808775"
string(16) "f0e1d2c3b4a59687"
bool(true)
array(4) {
  [0]=>
  string(2) "id"
  [1]=>
  string(6) "id_hex"
  [2]=>
  string(8) "agreeing"
  [3]=>
  string(4) "seen"
}
string(16) "ffffffffffffffff"
bool(true)
int(0)
NULL
NULL
NULL
NULL
int(5)
int(77)
int(77)
2 mark id out of range: -1 (must be in 0..18446744073709551615)
2 mark id out of range: -9223372036854775808 (must be in 0..18446744073709551615)
2 mark id out of range: 18446744073709551616 (must be in 0..18446744073709551615)
2 mark id out of range: 0x10000000000000000 (must be in 0..18446744073709551615)
2 mark id not a number: "-1" (an int, or a string of decimal or 0x-hex digits, in 0..18446744073709551615)
2 mark id not a number: "12abc" (an int, or a string of decimal or 0x-hex digits, in 0..18446744073709551615)
2 mark id not a number: "" (an int, or a string of decimal or 0x-hex digits, in 0..18446744073709551615)
2 mark id not a number: "0x" (an int, or a string of decimal or 0x-hex digits, in 0..18446744073709551615)
2 mark id not a number: " 1" (an int, or a string of decimal or 0x-hex digits, in 0..18446744073709551615)
Vantoro\protect(): Argument #2 ($options) option "mark_id" must be of type int|string, float given
2 empty site key
int(20)
bool(true)
bool(true)
NULL
bool(true)
bool(true)
bool(true)
string(20) "18446744073709551615"
string(20) "18446744073709551615"
string(20) "18446744073709551615"
NULL
NULL
Vantoro\Exception: mark id out of range: -5 (must be in 0..18446744073709551615)
TypeError: a mark id must be of type int|string, array given
RuntimeException: no id today
NULL
bool(true)
2 tdm_policy needs tdm_reservation
2 the tdm policy must be a URL without control characters
2 copy_notices must be 0 or more, not -1
TypeError: Vantoro\output_handler(): Argument #1 ($options) option "bypass" must be a valid callback, string given
ValueError: Vantoro\output_handler(): Argument #1 ($options) has the unknown option "mark_id" (known: copyright, decoy, charset, hide, site_key, stylesheet_link, nosnippet, empty_notices, copy_notices, marks, tdm_reservation, types, debug, tdm_policy, new_mark_id, bypass)
