--TEST--
Vantoro\Marquel: CopyRStr however it is written, the script hooks, clones
--EXTENSIONS--
vantoro
--FILE--
<?php
// Copyright decoys hold the text between random separators: the text is found
// in the content pass exactly when it is in effect.
function decoys_hold(Vantoro\Marquel $m, string $text): bool {
    return str_contains($m->RndContent('<p>a</p><p>b</p>'), $text);
}

$m = new Vantoro\Marquel();
var_dump($m->CopyRStr, decoys_hold($m, 'display'));
$m->CopyRStr = 'Example Site';
var_dump($m->CopyRStr, decoys_hold($m, 'Example Site'));

// Any way of writing the property reaches the engine.
$m->CopyRStr .= ' Two';
var_dump(decoys_hold($m, 'Example Site Two'));
$ref = &$m->CopyRStr;
$ref = 'Through A Reference';
var_dump($m->CopyRStr, decoys_hold($m, 'Through A Reference'));
unset($ref);
$m->CopyRStr = 2024;
var_dump($m->CopyRStr, decoys_hold($m, '2024'));
try {
    $m->CopyRStr = ['no'];
} catch (TypeError $e) {
    echo $e->getMessage(), "\n";
}
var_dump($m->CopyRStr);
unset($m->CopyRStr);
var_dump(decoys_hold($m, '2024'), decoys_hold($m, 'display'));

// Options at construction, then read back.
$m = new Vantoro\Marquel(['copyright' => 'From Options', 'decoy' => Vantoro\DECOY_BOTH, 'charset' => 'ISO-8859-1']);
var_dump($m->CopyRStr, $m->getDecoyKind(), $m->getCharset(), decoys_hold($m, 'From Options'));

// The script component's hooks do nothing but must exist; member names are
// case-insensitive as in the scripts that used them.
$m = new Vantoro\Marquel();
var_dump($m->Load(), $m->onstartpage(), $m->onstartpage(new stdClass), $m->onendpage());
$m->copyrstr = 'Any Case';
var_dump($m->CopyRStr, $m->COPYRSTR, isset($m->CopyRstr), decoys_hold($m, 'Any Case'));
$m->COPYRSTR .= ' Too';
var_dump(decoys_hold($m, 'Any Case Too'), get_object_vars($m));
unset($m->copyrstr);
var_dump(isset($m->CopyRStr));
$m->CopyRStr = '';
$page = $m->rndstr('<p>x</p>');
var_dump(str_contains($page, 'Vantoro'), $m->RNDCONTENT('<p>x</p>') === '<p>x</p>');

// A missing text counts as the empty one, as in the component.
var_dump($m->RndContent(null), str_contains($m->Rndstr(null), 'Vantoro'), $m->RndContent(''));

// A clone keeps every setting and then goes its own way.
$m = new Vantoro\Marquel();
$m->CopyRStr = 'Original';
$m->setCharset('ISO-8859-1');
$m->setDecoyKind(Vantoro\DECOY_BOTH);
$c = clone $m;
var_dump($c->CopyRStr, $c->getCharset(), $c->getDecoyKind(), decoys_hold($c, 'Original'));
$c->CopyRStr = 'Copy';
$c->setDecoyKind(Vantoro\DECOY_COPYRIGHT);
var_dump($m->CopyRStr, $m->getDecoyKind(), decoys_hold($m, 'Original'), decoys_hold($c, 'Copy'));
// The clone's charset is in effect: a non-Latin-1 text becomes a reference.
$c->CopyRStr = '€';
var_dump(decoys_hold($c, '&#8364;'));

try {
    serialize($m);
} catch (Exception $e) {
    echo $e->getMessage(), "\n";
}
?>
--EXPECTF--
string(0) ""
bool(false)
string(12) "Example Site"
bool(true)
bool(true)
string(19) "Through A Reference"
bool(true)
string(4) "2024"
bool(true)
Cannot assign array to property Vantoro\Marquel::$CopyRStr of type string
string(4) "2024"
bool(false)
bool(false)
string(12) "From Options"
int(3)
string(10) "ISO-8859-1"
bool(true)
NULL
NULL
NULL
NULL
string(8) "Any Case"
string(8) "Any Case"
bool(true)
bool(true)
bool(true)
array(1) {
  ["CopyRStr"]=>
  string(12) "Any Case Too"
}
bool(false)
bool(true)
bool(true)
string(0) ""
bool(true)
string(0) ""
string(8) "Original"
string(10) "ISO-8859-1"
int(3)
bool(true)
string(8) "Original"
int(3)
bool(true)
bool(true)
bool(true)
Serialization of 'Vantoro\Marquel' is not allowed
