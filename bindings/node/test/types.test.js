'use strict';
// The TypeScript declarations against real uses and known mistakes.
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const path = require('node:path');
const test = require('node:test');

test('the declarations compile with real uses and refuse mistakes', () => {
  const tsc = require.resolve('typescript/bin/tsc');
  try {
    execFileSync(process.execPath, [tsc, '--noEmit', '--strict', '--target', 'es2022', '--module', 'nodenext',
      '--moduleResolution', 'nodenext', '--types', 'node', path.join(__dirname, 'types', 'usage.ts')],
    { cwd: path.join(__dirname, '..'), encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
  } catch (error) {
    assert.fail(`tsc: ${error.stdout}${error.stderr}`);
  }
});
