<?php
// The binding's cost per call: Vantoro\Marquel::Rndstr against the C
// interface's vantoro_protect_page on the same page, in alternating rounds
// (medians), plus the empty page for the fixed part alone.
//
//   bindings/php/build.sh bench     (builds bench_capi, then runs this)
//   php -d extension=.../vantoro.so bench.php BENCH_CAPI [PAGE] [ITERATIONS]
if ($argc < 2) {
    fwrite(STDERR, "usage: php bench.php BENCH_CAPI [PAGE] [ITERATIONS]\n");
    exit(2);
}
$driver = $argv[1];
$path = $argv[2] ?? __DIR__ . '/../../../shared/corpus/lemonde-1.html';
$iterations = (int) ($argv[3] ?? 400);
$rounds = 7;

function php_us(string $page, int $iterations): float {
    $m = new Vantoro\Marquel();
    for ($i = 0; $i < intdiv($iterations, 10) + 1; $i++) {
        $m->Rndstr($page);
    }
    $start = hrtime(true);
    for ($i = 0; $i < $iterations; $i++) {
        $m->Rndstr($page);
    }
    return (hrtime(true) - $start) / 1e3 / $iterations;
}

function c_us(string $driver, string $path, int $iterations): float {
    $out = shell_exec(escapeshellarg($driver) . ' ' . escapeshellarg($path) . ' ' . $iterations);
    if (!is_string($out) || !is_numeric(trim($out))) {
        fwrite(STDERR, "bench_capi failed\n");
        exit(1);
    }
    return (float) $out;
}

function median(array $values): float {
    sort($values);
    return $values[intdiv(count($values), 2)];
}

$cases = [[basename($path), $path, file_get_contents($path), $iterations],
          ['empty page', '-', '', $iterations * 20]];
printf("%-16s %10s %14s %14s %12s %8s\n", 'page', 'bytes', 'C µs/call', 'PHP µs/call', 'overhead µs', '%');
foreach ($cases as [$name, $file, $page, $n]) {
    $c = $php = [];
    for ($r = 0; $r < $rounds; $r++) {
        $c[] = c_us($driver, $file, $n);
        $php[] = php_us($page, $n);
    }
    $cm = median($c);
    $pm = median($php);
    printf("%-16s %10d %14.2f %14.2f %12.2f %7.1f%%\n", $name, strlen($page), $cm, $pm, $pm - $cm,
           100 * ($pm - $cm) / $cm);
}
