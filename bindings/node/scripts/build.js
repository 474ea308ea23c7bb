'use strict';
// Builds build/Release/vantoro.node with node-gyp against the headers of the
// Node that runs this script (its own include/node), so that nothing is
// downloaded at build time. Run by `npm install` and by run_tests.sh.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { find } = require('./link.js');

const root = path.resolve(__dirname, '..');
const nodedir = path.resolve(path.dirname(process.execPath), '..');

function fail(message) {
  console.error(`vantoro: ${message}`);
  process.exit(1);
}

if (!fs.existsSync(path.join(nodedir, 'include', 'node', 'node_api.h'))) {
  fail(`no Node headers in ${nodedir}/include/node (install the headers of this Node, e.g. Debian's libnode-dev)`);
}
let found;
try {
  found = find();
} catch (error) {
  fail(error.message);
}
console.error(`vantoro: building the addon against ${found.kind}`);

// node-gyp takes npm's nodedir setting over its command line: both are set.
const env = { ...process.env, npm_config_nodedir: nodedir };
delete env.NPM_CONFIG_NODEDIR;
const gyp = require.resolve('node-gyp/bin/node-gyp.js');
const result = spawnSync(process.execPath, [gyp, 'rebuild', `--nodedir=${nodedir}`], {
  cwd: root,
  env,
  stdio: 'inherit',
});
if (result.error) fail(result.error.message);
process.exit(result.status === null ? 1 : result.status);
