--TEST--
Replayed random values give the command-line tool's exact bytes for each pass
--EXTENSIONS--
vantoro
--FILE--
<?php
require __DIR__ . '/replay.inc';

// The content pass: the README's example.
$m = new Vantoro\Marquel();
$m->CopyRStr = 'note';
$m->replay(vantoro_readme_values());
var_dump($m->RndContent("x</p>y"));

// The page pass (tool: vantoro page --random-values), on a fresh object and on a
// used one: nothing of an earlier call leaks into the next.
$page = '<P class="a">hi<br>there</P>';
$m->replay(vantoro_test_values());
echo vantoro_show($m->Rndstr($page)), "\n";
$m->replay(vantoro_test_values());
$again = $m->Rndstr($page);
$fresh = new Vantoro\Marquel();
$fresh->replay(vantoro_test_values());
var_dump($again === $fresh->Rndstr($page));

// Both passes, with the decoy kind "both" (tool: vantoro protect --decoy both
// --copyright 'Site:All rights' --random-values).
$m->CopyRStr = 'Site:All rights';
$m->setDecoyKind(Vantoro\DECOY_BOTH);
$m->replay(vantoro_test_values());
echo vantoro_show($m->protect($page)), "\n";

// The output handler runs the same two passes.
$h = new Vantoro\OutputHandler(['copyright' => 'Site:All rights', 'decoy' => Vantoro\DECOY_BOTH,
                                'hide' => Vantoro\HIDE_STYLE]);
$h->replay(vantoro_test_values());
$m->replay(vantoro_test_values());
var_dump($h($page, PHP_OUTPUT_HANDLER_START | PHP_OUTPUT_HANDLER_FINAL) === $m->protect($page));
?>
--EXPECT--
string(49) "x<span style='z;display:none;;'>.note</span></p>y"
\r\n<!--)本)页)面)已)经)过)Vantoro)防)采)集) https://vantoro.example )处)理)-->\r\n<!--)Vantoro)防)采)集 v2.0正式版)-->\r\n<P \n class="a">hi<Br \n >there</P \t ><!--rBeQs5HjVyaMp1DgS-->
bool(true)
\r\n<!--_本_页_面_已_经_过_Vantoro_防_采_集_ https://vantoro.example _处_理_-->\r\n<!--_Vantoro_防_采_集 v2.0正式版_-->\r\n<P \t class="a">hi<label style='jPvcIoUAg;DiSplAy:noNe;tZFlRxdJqWCi;'>kG\n]7 </label><spAn \t style='yeKqWDjPvbHnUA;DisPlAY:NoNE;Ms;'>,_Site`All rights/</spAn   ><!--ghTv8KmZBdPs--><bR   >there<b style='AgMsYFlRxdJpVCi;DisPlAY:NonE;uaGmTzfLrXDkQ;'>I"`9vR,hD€\n</b><label style='YEkQx;dISpLay:nOne;J;'>.Site=All rights</label></P   ><!--wH-->
bool(true)
