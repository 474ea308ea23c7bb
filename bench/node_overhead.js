'use strict';
// The Node addon's cost per call: Protector#protect (both passes) on one page
// against vantoro_protect through the C interface on the same page, built
// against the same libvantoro.a; as a Buffer, as a string, and asynchronously
// (on libuv's pool, as the middleware calls it). Alternating rounds, medians;
// the empty page shows the fixed part alone. Both sides count their process's
// CPU time (all threads: the pool's too), which other load on the machine
// stretches far less than wall time.
//
//   VANTORO_LIBRARY_DIR=build/node-lib node bench/node_overhead.js [PAGE] [ITERATIONS]
//
// Needs the addon built (bindings/node/run_tests.sh builds it) and cc. The
// Node side runs in a child process of its own that starts no processes: a
// fork between rounds would leave the measuring process's heap copy-on-write
// and double its figures.
const { execFileSync, fork } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const root = path.resolve(__dirname, '..');
const COPYRIGHT = 'Example Site:All rights reserved';
const ROUNDS = 9;

function cpuMicroseconds(since) {
  const { user, system } = process.cpuUsage(since);
  return user + system;
}

// The measuring child: one round of one way per message.
function measureRounds() {
  const vantoro = require(path.join(root, 'bindings', 'node'));
  const protector = new vantoro.Protector({ copyright: COPYRIGHT });
  const pages = new Map();
  const ways = {
    Buffer: (page) => () => protector.protect(page.buffer),
    string: (page) => () => protector.protect(page.string),
    'async Buffer': (page) => () => protector.protectAsync(page.buffer),
  };
  process.on('message', async ({ way, file, n }) => {
    if (!pages.has(file)) {
      const buffer = file === '-' ? Buffer.alloc(0) : fs.readFileSync(file);
      pages.set(file, { buffer, string: buffer.toString('utf8') });
    }
    const call = ways[way](pages.get(file));
    for (let i = 0; i < Math.floor(n / 10) + 1; i++) await call();
    const start = process.cpuUsage();
    for (let i = 0; i < n; i++) await call();
    process.send(cpuMicroseconds(start) / n);
  });
}

function buildDriver() {
  const { find } = require(path.join(root, 'bindings', 'node', 'scripts', 'link.js'));
  const lib = find();
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vantoro-bench-'));
  const driver = path.join(dir, 'node_overhead_capi');
  execFileSync('cc', ['-O2', '-Wall', '-Wextra', '-Werror', ...lib.include.map((d) => `-I${d}`), ...lib.cflags,
    path.join(__dirname, 'node_overhead_capi.c'), '-o', driver, ...lib.libraries], { stdio: 'inherit' });
  return { driver, cleanup: () => fs.rmSync(dir, { recursive: true, force: true }) };
}

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

async function main() {
  const pagePath = process.argv[2] || path.join(root, '..', 'shared', 'corpus', 'lemonde-1.html');
  const iterations = Number(process.argv[3] || 400);
  const { driver, cleanup } = buildDriver();
  const child = fork(__filename, ['--measure'], { stdio: 'inherit' });
  const ask = (message) => new Promise((resolve) => {
    child.once('message', resolve);
    child.send(message);
  });
  try {
    console.log(`${os.availableParallelism()} cores, node ${process.version}, ${ROUNDS} rounds, ` +
      `medians of CPU time per call; load average ${os.loadavg().map((load) => load.toFixed(2)).join(' ')}`);
    console.log(`${'page'.padEnd(16)} ${'bytes'.padStart(8)} ${'how'.padEnd(14)} ${'C µs'.padStart(9)} ` +
      `${'Node µs'.padStart(9)} ${'overhead µs'.padStart(12)} ${'%'.padStart(7)}`);
    const cases = [[path.basename(pagePath), pagePath, iterations], ['empty page', '-', iterations * 20]];
    for (const [name, file, n] of cases) {
      const bytes = file === '-' ? 0 : fs.statSync(file).size;
      for (const way of ['Buffer', 'string', 'async Buffer']) {
        const c = [];
        const node = [];
        for (let round = 0; round < ROUNDS; round++) {
          c.push(Number(execFileSync(driver, [file, String(n)], { encoding: 'utf8' })));
          node.push(await ask({ way, file, n }));
        }
        const cm = median(c);
        const nm = median(node);
        console.log(`${name.padEnd(16)} ${String(bytes).padStart(8)} ${way.padEnd(14)} ` +
          `${cm.toFixed(2).padStart(9)} ${nm.toFixed(2).padStart(9)} ${(nm - cm).toFixed(2).padStart(12)} ` +
          `${(100 * (nm - cm) / cm).toFixed(1).padStart(6)}%`);
      }
    }
  } finally {
    child.kill();
    cleanup();
  }
}

if (process.argv[2] === '--measure') {
  measureRounds();
} else {
  main().catch((error) => {
    console.error(error);
    process.exit(1);
  });
}
