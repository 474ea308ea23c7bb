--TEST--
Vantoro\OutputHandler passes a response that is not HTML through unchanged
--EXTENSIONS--
vantoro
--INI--
default_mimetype=text/plain
--FILE--
<?php
// The CLI keeps no headers: the response's type is default_mimetype.
$page = "<p>Plain text that only looks like HTML</p>\n";
ob_start(Vantoro\output_handler(['copyright' => 'Example Site']));
echo $page;
ob_end_flush();
var_dump(Vantoro\output_handler()($page, PHP_OUTPUT_HANDLER_START | PHP_OUTPUT_HANDLER_FINAL) === $page);
ini_set('default_mimetype', 'application/xhtml+xml');
var_dump(Vantoro\output_handler()($page, PHP_OUTPUT_HANDLER_START | PHP_OUTPUT_HANDLER_FINAL) === $page);
ini_set('default_mimetype', 'TEXT/HTML');
var_dump(Vantoro\output_handler()($page, PHP_OUTPUT_HANDLER_START | PHP_OUTPUT_HANDLER_FINAL) === $page);
ini_set('default_mimetype', 'text/htmlx');
var_dump(Vantoro\output_handler()($page, PHP_OUTPUT_HANDLER_START | PHP_OUTPUT_HANDLER_FINAL) === $page);
?>
--EXPECT--
<p>Plain text that only looks like HTML</p>
bool(true)
bool(false)
bool(false)
bool(true)
