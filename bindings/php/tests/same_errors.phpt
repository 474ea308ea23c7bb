--TEST--
A bad option value is the same Vantoro\Exception (message and code) through every entry point
--EXTENSIONS--
vantoro
--FILE--
<?php
// Each entry point gets the options and is used once on a small page; the
// entry points that fail alike are listed together.
$entries = [
    'Marquel' => fn(array $o) => (new Vantoro\Marquel($o))->protect('<p>x</p>'),
    'OutputHandler' => fn(array $o) => new Vantoro\OutputHandler($o),
    'output_handler' => fn(array $o) => Vantoro\output_handler($o),
    'protect_page' => fn(array $o) => Vantoro\protect_page('<p>x</p>', $o),
    'protect_content' => fn(array $o) => Vantoro\protect_content('<p>x</p>', $o),
    'protect' => fn(array $o) => Vantoro\protect('<p>x</p>', $o),
];
$cases = [
    'charset' => ['copyright' => 'n', 'charset' => 'no-such-charset'],
    'decoy' => ['copyright' => 'n', 'decoy' => 9],
    'class without key' => ['copyright' => 'n', 'hide' => Vantoro\HIDE_CLASS],
    'no copyright text' => ['copyright' => '', 'decoy' => Vantoro\DECOY_COPYRIGHT],
    'marks without key' => ['copyright' => 'n', 'marks' => true],
    'copy_notices' => ['copyright' => 'n', 'copy_notices' => -1],
];
foreach ($cases as $case => $options) {
    $outcomes = [];
    foreach ($entries as $entry => $call) {
        try {
            $call($options);
            $outcome = 'accepted';
        } catch (Throwable $e) {
            $outcome = sprintf('%s(%d) %s', get_class($e), $e->getCode(), $e->getMessage());
        }
        $outcomes[$outcome][] = $entry;
    }
    foreach ($outcomes as $outcome => $which) {
        printf("%s [%s]: %s\n", $case, implode(', ', $which), $outcome);
    }
}
// The handler refuses a missing copyright text however it is left out.
foreach ([[], ['decoy' => Vantoro\DECOY_BOTH], ['copyright' => ',:,']] as $options) {
    try {
        Vantoro\output_handler($options);
        echo "accepted\n";
    } catch (Vantoro\Exception $e) {
        echo $e->getCode(), "\n";
    }
}
// Random decoys need no text; empty notices are allowed when asked for.
var_dump(Vantoro\output_handler(['decoy' => Vantoro\DECOY_RANDOM]) instanceof Vantoro\OutputHandler,
         new Vantoro\OutputHandler(['empty_notices' => true]) instanceof Vantoro\OutputHandler);
?>
--EXPECT--
charset [Marquel, OutputHandler, output_handler, protect_page, protect_content, protect]: Vantoro\Exception(3) unknown character set 'no-such-charset'
decoy [Marquel, OutputHandler, output_handler, protect_page, protect_content, protect]: Vantoro\Exception(2) unknown decoy kind 9
class without key [Marquel, OutputHandler, output_handler, protect_page, protect_content, protect]: Vantoro\Exception(2) hiding by class needs a site key
no copyright text [Marquel, protect_page]: accepted
no copyright text [OutputHandler, output_handler, protect_content, protect]: Vantoro\Exception(2) copyright decoys need a copyright text (or random decoys, or empty notices asked for)
marks without key [Marquel, OutputHandler, output_handler, protect_page, protect_content, protect]: Vantoro\Exception(2) marks need a site key
copy_notices [Marquel, OutputHandler, output_handler, protect_page, protect_content, protect]: Vantoro\Exception(2) copy_notices must be 0 or more, not -1
2
2
2
bool(true)
bool(true)
