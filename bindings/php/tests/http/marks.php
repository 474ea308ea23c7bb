<?php
// The router of http_marks.phpt under php -S: the handler as a site with a
// site key installs it (a router script runs no auto_prepend_file), and the
// page tells the mark id the site would write to its access log.
$prose = '<html><head><title>t</title></head><body>' . str_repeat(
    '<p>Some words of prose end here. More words of prose follow them. Then the third '
    . 'sentence of it ends. A fourth one closes the paragraph.</p>', 6) . '</body></html>';
$options = [
    'copyright' => 'Example Site:All rights reserved',
    'site_key' => 'secret',
    'tdm_reservation' => true,
    'tdm_policy' => 'https://example.org/tdm-policy.json',
    // A test stand-in for a check of the crawler's published address ranges.
    'bypass' => fn() => ($_SERVER['HTTP_USER_AGENT'] ?? '') === 'verified-crawler',
    'debug' => true,
];
if (isset($_GET['id'])) {
    $options['new_mark_id'] = fn() => $_GET['id'];
}
$handler = Vantoro\output_handler($options);
ob_start($handler);
$logged = Vantoro\last_mark_id();
header('X-Logged-Mark-Id: ' . var_export($logged, true)
       . ($logged === $handler->markId() ? '' : ' (not the handler\'s)'));
echo $prose;
