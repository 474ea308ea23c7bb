'use strict';
// The package as published: `npm pack`, installed into an empty project (its
// dependency node-gyp from npm's cache where it has it), built there by its
// install script, and used.
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const test = require('node:test');

const root = path.resolve(__dirname, '..');

test('npm pack gives a tarball that installs, builds and works', { timeout: 300_000 }, (t) => {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'vantoro-pack-'));
  t.after(() => fs.rmSync(tmp, { recursive: true, force: true }));
  const npm = (args, cwd) => execFileSync('npm', args, { cwd, encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });

  const [packed] = JSON.parse(npm(['pack', '--json', '--pack-destination', tmp], root));
  const files = packed.files.map((file) => file.path).sort();
  for (const needed of ['binding.gyp', 'index.d.ts', 'index.js', 'middleware.d.ts', 'middleware.js',
    'package.json', 'scripts/build.js', 'scripts/link.js', 'src/vantoro_node.c']) {
    assert.ok(files.includes(needed), `${needed} is in the tarball`);
  }
  assert.deepEqual(files.filter((file) => /^(build|node_modules|test)\//.test(file)), []);

  const project = path.join(tmp, 'site');
  fs.mkdirSync(project);
  fs.writeFileSync(path.join(project, 'package.json'), JSON.stringify({ name: 'site', private: true }));
  npm(['install', '--prefer-offline', '--no-audit', '--no-fund', path.join(tmp, packed.filename)], project);

  const script = `
    const vantoro = require('vantoro');
    const middleware = require('vantoro/middleware');
    const page = vantoro.protect(Buffer.from('<html><body><p>Hello</p></body></html>'), { copyright: 'Example Site' });
    console.log(JSON.stringify({
      addon: require.resolve('vantoro'),
      protected: vantoro.isProtected(page) && page.includes('Example Site'),
      middleware: typeof middleware({ copyright: 'Example Site' }),
    }));`;
  const result = JSON.parse(execFileSync(process.execPath, ['-e', script], { cwd: project, encoding: 'utf8' }));
  assert.deepEqual(result, {
    addon: path.join(fs.realpathSync(project), 'node_modules', 'vantoro', 'index.js'),
    protected: true,
    middleware: 'function',
  });
  assert.ok(fs.existsSync(path.join(project, 'node_modules', 'vantoro', 'build', 'Release', 'vantoro.node')));
});
