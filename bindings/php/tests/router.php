<?php
// The pages of the php -S server that server.phpt starts: each sends one kind
// of response through Vantoro\OutputHandler.
require __DIR__ . '/replay.inc';

$page = vantoro_test_page();
$handler = Vantoro\output_handler(['copyright' => 'Example Site:All rights reserved', 'hide' => Vantoro\HIDE_STYLE]);
if (isset($_GET['replay'])) {
    $handler->replay(vantoro_test_values());
}
ob_start($handler);

switch (parse_url($_SERVER['REQUEST_URI'], PHP_URL_PATH)) {
    case '/html':
        echo $page;
        break;
    case '/pieces':
        // Flushed in small pieces: still protected as one page.
        foreach (str_split($page, 7) as $piece) {
            echo $piece;
            ob_flush();
            flush();
        }
        break;
    case '/text':
        header('Content-Type: text/plain; charset=UTF-8');
        echo $page;
        break;
    case '/late-type':
        // The output is held back, so a header set after it still counts.
        echo $page;
        header('Content-Type: text/plain');
        break;
    case '/json':
        header('Content-Type: application/json');
        echo json_encode(['html' => $page]);
        break;
    case '/gzip':
        header('Content-Type: text/html');
        header('Content-Encoding: gzip');
        echo gzencode($page);
        break;
    case '/empty':
        http_response_code(204);
        break;
    case '/failing':
        $handler->replay([0.5]);
        echo $page;
        break;
    default:
        http_response_code(404);
        echo "<p>no such page</p>";
}
