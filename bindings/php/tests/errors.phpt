--TEST--
Engine failures throw Vantoro\Exception with the engine's message and status; a failed call changes nothing
--EXTENSIONS--
vantoro
--FILE--
<?php
function attempt(string $what, callable $call): void {
    try {
        $call();
        echo "$what: no exception\n";
    } catch (Throwable $e) {
        printf("%s: %s(%d) %s\n", $what, get_class($e), $e->getCode(), $e->getMessage());
    }
}

$m = new Vantoro\Marquel();
$m->CopyRStr = 'note';
attempt('charset', fn() => $m->setCharset('NO-SUCH-CHARSET'));
attempt('empty charset', fn() => $m->setCharset(''));
attempt('charset with NUL', fn() => $m->setCharset("UTF-8\0GBK"));
var_dump($m->getCharset());
attempt('decoy 0', fn() => $m->setDecoyKind(0));
attempt('decoy 4', fn() => $m->setDecoyKind(4));
attempt('decoy -1', fn() => $m->setDecoyKind(-1));
attempt('decoy huge', fn() => $m->setDecoyKind(PHP_INT_MAX));
var_dump($m->getDecoyKind() === Vantoro\DECOY_COPYRIGHT);

// Replay: values outside [0, 1), values that are not numbers, running out.
attempt('replay 1.5', fn() => $m->replay([0.5, 1.5]));
attempt('replay NAN', fn() => $m->replay([NAN]));
attempt('replay text', fn() => $m->replay([0.5, '0.5']));
$m->replay([0.5, 0.5, 0.5]);
attempt('ran out', fn() => $m->RndContent('x</p>'));
attempt('page ran out', fn() => $m->Rndstr('<p>x</p>'));
$m->replay([]);
var_dump(str_contains($m->RndContent('x</p>'), 'note'));

// The status codes are the class constants.
try {
    $m->setCharset('NO-SUCH-CHARSET');
} catch (Vantoro\Exception $e) {
    var_dump($e->getCode() === Vantoro\Exception::UNKNOWN_CHARSET, $e instanceof RuntimeException);
}

// Options arrays: the engine's failures, and PHP's own argument errors.
attempt('option charset', fn() => Vantoro\protect_page('<p>', ['charset' => 'NO-SUCH-CHARSET']));
attempt('option decoy', fn() => Vantoro\protect_content('x</p>', ['decoy' => 9]));
attempt('option unknown', fn() => Vantoro\protect('x', ['copyrite' => 'a']));
attempt('option list', fn() => Vantoro\protect('x', ['a']));
attempt('option type', fn() => Vantoro\protect('x', ['decoy' => '2']));
attempt('option copyright', fn() => new Vantoro\Marquel(['copyright' => ['a']]));
attempt('handler option', fn() => Vantoro\output_handler(['charset' => 'NO-SUCH-CHARSET']));
attempt('handler ctor', fn() => new Vantoro\OutputHandler(['decoy' => 0]));

// The newer options: names and types are PHP's, values the engine's.
attempt('option bool', fn() => Vantoro\protect_page('x', ['nosnippet' => 1]));
attempt('option hide type', fn() => Vantoro\protect_page('x', ['hide' => 'class']));
attempt('handler only', fn() => new Vantoro\Marquel(['debug' => true]));
attempt('types not array', fn() => Vantoro\output_handler(['copyright' => 'a', 'types' => 'text/plain']));
attempt('types entry', fn() => Vantoro\output_handler(['copyright' => 'a', 'types' => [1]]));
attempt('types css', fn() => Vantoro\output_handler(['copyright' => 'a', 'types' => ['text/plain', 'text/css']]));
attempt('types any', fn() => new Vantoro\OutputHandler(['copyright' => 'a', 'types' => ['*']]));
attempt('types xhtml', fn() => new Vantoro\OutputHandler(['copyright' => 'a', 'types' => ['application/xhtml+xml']]));
attempt('hide 7', fn() => Vantoro\protect_page('x', ['hide' => 7]));
attempt('hide -1', fn() => Vantoro\protect_page('x', ['hide' => -1]));
attempt('stylesheet link', fn() => Vantoro\protect_page('x', ['hide' => Vantoro\HIDE_CLASS, 'site_key' => 'k', 'stylesheet_link' => '/a"b.css']));
attempt('stylesheet key', fn() => Vantoro\stylesheet(''));
attempt('detect NUL', fn() => Vantoro\detect_charset('x', "utf-8\0"));
attempt('handler no text', fn() => Vantoro\output_handler(['decoy' => Vantoro\DECOY_BOTH]));
?>
--EXPECTF--
charset: Vantoro\Exception(3) unknown character set 'NO-SUCH-CHARSET'
empty charset: Vantoro\Exception(2) empty character set name
charset with NUL: ValueError(0) Vantoro\Marquel::setCharset(): Argument #1 ($charset) must not contain any null bytes
string(4) "auto"
decoy 0: Vantoro\Exception(2) unknown decoy kind 0
decoy 4: Vantoro\Exception(2) unknown decoy kind 4
decoy -1: Vantoro\Exception(2) unknown decoy kind -1
decoy huge: Vantoro\Exception(2) unknown decoy kind 9223372036854775807
bool(true)
replay 1.5: Vantoro\Exception(2) scripted random value outside [0, 1): 1.500000
replay NAN: Vantoro\Exception(2) scripted random value outside [0, 1): nan
replay text: TypeError(0) Vantoro\Marquel::replay(): Argument #1 ($values) must contain only int or float values, string given
ran out: Vantoro\Exception(4) scripted random values ran out after 3 draws
page ran out: Vantoro\Exception(4) scripted random values ran out after 3 draws
bool(true)
bool(true)
bool(true)
option charset: Vantoro\Exception(3) unknown character set 'NO-SUCH-CHARSET'
option decoy: Vantoro\Exception(2) unknown decoy kind 9
option unknown: ValueError(0) Vantoro\protect(): Argument #2 ($options) has the unknown option "copyrite" (known: copyright, decoy, charset, hide, site_key, stylesheet_link, nosnippet, empty_notices, copy_notices, marks, tdm_reservation, mark_id)
option list: ValueError(0) Vantoro\protect(): Argument #2 ($options) must only have string keys (options: copyright, decoy, charset, hide, site_key, stylesheet_link, nosnippet, empty_notices, copy_notices, marks, tdm_reservation, mark_id)
option type: TypeError(0) Vantoro\protect(): Argument #2 ($options) option "decoy" must be of type int, string given
option copyright: TypeError(0) Vantoro\Marquel::__construct(): Argument #1 ($options) option "copyright" must be of type string, array given
handler option: Vantoro\Exception(3) unknown character set 'NO-SUCH-CHARSET'
handler ctor: Vantoro\Exception(2) unknown decoy kind 0
option bool: TypeError(0) Vantoro\protect_page(): Argument #2 ($options) option "nosnippet" must be of type bool, int given
option hide type: TypeError(0) Vantoro\protect_page(): Argument #2 ($options) option "hide" must be of type int, string given
handler only: ValueError(0) Vantoro\Marquel::__construct(): Argument #1 ($options) has the unknown option "debug" (known: copyright, decoy, charset, hide, site_key, stylesheet_link, nosnippet, empty_notices, copy_notices, marks, tdm_reservation, mark_id)
types not array: TypeError(0) Vantoro\output_handler(): Argument #1 ($options) option "types" must be of type array, string given
types entry: TypeError(0) Vantoro\output_handler(): Argument #1 ($options) option "types" must only hold strings, int given
types css: Vantoro\Exception(2) cannot protect the media type "text/css": %s
types any: Vantoro\Exception(2) cannot protect the media type "*": %s
types xhtml: Vantoro\Exception(2) cannot protect the media type "application/xhtml+xml": %s
hide 7: Vantoro\Exception(2) unknown hiding method 7
hide -1: Vantoro\Exception(2) unknown hiding method -1
stylesheet link: Vantoro\Exception(2) the stylesheet link must not hold '"', '<', '>' or control characters
stylesheet key: Vantoro\Exception(2) empty site key
detect NUL: ValueError(0) Vantoro\detect_charset(): Argument #2 ($transport) must not contain any null bytes
handler no text: Vantoro\Exception(2) copyright decoys need a copyright text (or random decoys, or empty notices asked for)
