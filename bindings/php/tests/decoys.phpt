--TEST--
The decoy kinds, and the three one-call functions with their options
--EXTENSIONS--
vantoro
--FILE--
<?php
// Each decoy is a hidden element right before a </p or <br.
function decoys(string $html): array {
    preg_match_all("~<([a-z]+) style='[^']*;display:none;[^']*'>([^<]*)</\\1>(?=</p|<br)~i", $html, $m);
    return $m[2];
}
// After the page pass the decoys' tags are re-marked too: count what hides them.
function hidden(string $html): int {
    return substr_count(strtolower($html), 'display:none');
}

$article = str_repeat('<p>One</p><p>Two<br>Three</p>', 10);
foreach ([Vantoro\DECOY_COPYRIGHT => 'copyright', Vantoro\DECOY_RANDOM => 'random', Vantoro\DECOY_BOTH => 'both'] as $kind => $name) {
    $found = decoys(Vantoro\protect_content($article, ['copyright' => 'Notice', 'decoy' => $kind, 'hide' => Vantoro\HIDE_STYLE]));
    $with = count(array_filter($found, fn($d) => str_contains($d, 'Notice')));
    // A run of random characters may come out empty, and then no decoy is left.
    echo "$name: ", count($found) >= 10 ? 'decoys' : count($found), ", ", $with === count($found) ? 'all' : $with, " with the notice\n";
}
// Several entries: each decoy holds one of them; parts get separators.
$found = decoys(Vantoro\protect_content(str_repeat('<p>x</p>', 40), ['copyright' => 'Alpha,Beta', 'hide' => Vantoro\HIDE_STYLE]));
$alpha = count(array_filter($found, fn($d) => str_contains($d, 'Alpha')));
$beta = count(array_filter($found, fn($d) => str_contains($d, 'Beta')));
var_dump(count($found), $alpha > 0, $beta > 0, $alpha + $beta);
$found = decoys(Vantoro\protect_content('<p>x</p>', ['copyright' => 'Left:Right', 'hide' => Vantoro\HIDE_STYLE]));
var_dump(preg_match('/^[^a-z0-9]+Left[^a-z0-9]+Right[^a-z0-9]*$/i', $found[0]));

// protect_page: no decoys, the watermark and the same tags.
$page = Vantoro\protect_page($article, ['copyright' => 'Notice']);
var_dump(str_contains($page, 'Notice'), str_contains($page, 'Vantoro'), decoys($page));
// protect: both passes.
$both = Vantoro\protect($article, ['copyright' => 'Notice', 'hide' => Vantoro\HIDE_STYLE]);
var_dump(str_contains($both, 'Vantoro'), hidden($both));
// The same through the class.
$m = new Vantoro\Marquel(['copyright' => 'Notice']);
var_dump(hidden($m->protect($article)), hidden($m->Rndstr($article)));
// The markup differs from call to call.
var_dump(Vantoro\protect_page($article) !== Vantoro\protect_page($article));
var_dump(preg_match('/^\d+\.\d+\.\d+$/', Vantoro\VERSION), phpversion('vantoro') === Vantoro\VERSION);
?>
--EXPECT--
copyright: decoys, all with the notice
random: decoys, 0 with the notice
both: decoys, all with the notice
int(40)
bool(true)
bool(true)
int(40)
int(1)
bool(false)
bool(true)
array(0) {
}
bool(true)
int(30)
int(30)
int(0)
bool(true)
int(1)
bool(true)
