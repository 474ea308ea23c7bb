<?php
// The pages of the HTTP tests (http_builtin.phpt, http_fpm.phpt): each sends
// one kind of response through the handler that prepend.php installed.
require __DIR__ . '/../replay.inc';

$page = vantoro_test_page();
$path = parse_url($_SERVER['REQUEST_URI'], PHP_URL_PATH);
switch ($path) {
    case '/page':
        echo $page;
        break;
    case '/own-length':
        // The script announces the length of what it wrote.
        header('Content-Length: ' . strlen($page));
        echo $page;
        break;
    case '/flushed-length':
        // flush() sends the headers under php -S (not under php-fpm): the
        // length is out before the handler could change it.
        header('Content-Length: ' . strlen($page));
        echo $page;
        flush();
        break;
    case '/validators':
        header('Content-Length: ' . strlen($page));
        header(isset($_GET['weak']) ? 'ETag: W/"v2"' : 'ETag: "v1"');
        header('Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT');
        header('Accept-Ranges: bytes');
        header('Digest: sha-256=X48E9qOokqqrvdts8nOJRJN3OWDUoyWxBf7kbu9DBPE=');
        echo $page;
        break;
    case '/no-transform':
        header('Cache-Control: public');
        header('Cache-Control: no-transform', false);
        header('Content-Length: ' . strlen($page));
        echo $page;
        break;
    case '/partial':
        http_response_code(206);
        header('Content-Range: bytes 0-' . (strlen($page) - 1) . '/' . (2 * strlen($page)));
        echo $page;
        break;
    case '/range':
        header('Content-Range: bytes 0-' . (strlen($page) - 1) . '/' . strlen($page));
        echo $page;
        break;
    case '/json':
        header('Content-Type: application/json');
        echo json_encode(['html' => $page]);
        break;
    case '/xhtml':
        header('Content-Type: application/xhtml+xml');
        echo $page;
        break;
    case '/gzip':
        header('Content-Encoding: gzip');
        echo gzencode($page);
        break;
    case '/empty':
        http_response_code(204);
        break;
    case '/gbk':
        // Nothing in the headers says GBK: only the page's own declaration.
        ini_set('default_charset', '');
        header('Content-Type: text/html');
        echo "<!DOCTYPE html><html><head><meta charset=\"gbk\"><title>\xb2\xe2\xca\xd4</title></head>"
           . "<body><p>\xb5\xda\xd2\xbb\xb6\xce</p><p>\xb5\xda\xb6\xfe\xb6\xce</p></body></html>";
        break;
    case '/failing':
        $vantoro_handler->replay([0.5]);
        echo $page;
        break;
    case '/late/flushed':
        // Output that went out before the handler: a script's string that
        // looks like a tag must stay as it is, and so must all that follows.
        echo "<script>var s = '<P>';</script>\n";
        flush();
        ob_start(Vantoro\output_handler(['copyright' => 'Example Site', 'debug' => isset($_GET['debug'])]));
        echo $page;
        break;
    case '/late/buffered':
        // The same, held by a buffer of the script's own.
        ob_start();
        echo "<script>var s = '<P>';</script>\n";
        ob_start(Vantoro\output_handler(['copyright' => 'Example Site', 'debug' => isset($_GET['debug'])]));
        echo $page;
        break;
    default:
        http_response_code(404);
        echo "<p>no such page</p>";
}
