<?php
// Installed as auto_prepend_file by both test servers, as a site would install
// the handler. Pages under /late/ start their own buffering later.
if (!str_starts_with(parse_url($_SERVER['REQUEST_URI'], PHP_URL_PATH), '/late/')) {
    $vantoro_handler = Vantoro\output_handler([
        'copyright' => 'Example Site:版权所有',
        'hide' => Vantoro\HIDE_STYLE,
        'debug' => isset($_GET['debug']),
    ]);
    ob_start($vantoro_handler);
}
