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
?>
--EXPECT--
charset: Vantoro\Exception(3) unknown character set 'NO-SUCH-CHARSET'
empty charset: Vantoro\Exception(2) empty character set name
charset with NUL: ValueError(0) Vantoro\Marquel::setCharset(): Argument #1 ($charset) must not contain any null bytes
string(5) "UTF-8"
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
option unknown: ValueError(0) Vantoro\protect(): Argument #2 ($options) has the unknown option "copyrite" (known: copyright, decoy, charset)
option list: ValueError(0) Vantoro\protect(): Argument #2 ($options) must only have the keys "copyright", "decoy" and "charset"
option type: TypeError(0) Vantoro\protect(): Argument #2 ($options) option "decoy" must be of type int, string given
option copyright: TypeError(0) Vantoro\Marquel::__construct(): Argument #1 ($options) option "copyright" must be of type string, array given
handler option: Vantoro\Exception(3) unknown character set 'NO-SUCH-CHARSET'
handler ctor: Vantoro\Exception(2) unknown decoy kind 0
