'use strict';
// Where the engine comes from, for binding.gyp (`node scripts/link.js WHAT`
// prints one flag a line): a CMake build folder named by VANTORO_LIBRARY_DIR
// (its static libvantoro.a, for development and tests from the source tree),
// else the installed library through pkg-config (Debian's libvantoro-dev).
// The folder wins when both exist, so that tests build against the tree they
// test.
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

function pkgConfig(...args) {
  return execFileSync('pkg-config', args, { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] })
    .trim().split(/\s+/).filter(Boolean);
}

function hasPkgConfig() {
  try {
    execFileSync('pkg-config', ['--exists', 'vantoro'], { stdio: 'ignore' });
    return true;
  } catch {
    return false;
  }
}

// The project's source folder, as the build folder's cache names it: the
// public headers are there, version.h is in the build folder.
function sourceDir(dir) {
  const cache = fs.readFileSync(path.join(dir, 'CMakeCache.txt'), 'utf8');
  const match = /^vantoro_SOURCE_DIR:STATIC=(.*)$/m.exec(cache) ||
    /^CMAKE_HOME_DIRECTORY:INTERNAL=(.*)$/m.exec(cache);
  if (!match) throw new Error(`${dir}/CMakeCache.txt does not name the project's source folder`);
  return match[1].trim();
}

// { kind, include, cflags, ldflags, libraries }; throws with what to do when
// no library is found.
function find(env = process.env) {
  const dir = env.VANTORO_LIBRARY_DIR;
  if (dir) {
    const lib = path.resolve(dir);
    const archive = path.join(lib, 'libvantoro.a');
    if (!fs.existsSync(archive) || !fs.existsSync(path.join(lib, 'include/vantoro/version.h'))) {
      throw new Error(`VANTORO_LIBRARY_DIR=${dir} holds no libvantoro.a and include/vantoro/version.h:` +
        ` build it with cmake --build ${dir} --target vantoro_static`);
    }
    return {
      kind: `static ${archive}`,
      include: [path.join(sourceDir(lib), 'include'), path.join(lib, 'include')],
      cflags: [],
      // The engine's symbols stay inside the addon: another module loaded into
      // the same process may carry its own copy of them.
      ldflags: ['-Wl,--exclude-libs,ALL'],
      libraries: [archive, '-lsodium', '-lstdc++', '-lm'],
    };
  }
  if (hasPkgConfig()) {
    return {
      kind: `pkg-config vantoro ${pkgConfig('--modversion', 'vantoro').join(' ')}`,
      include: pkgConfig('--cflags-only-I', 'vantoro').map((flag) => flag.slice(2)),
      cflags: pkgConfig('--cflags-only-other', 'vantoro'),
      ldflags: [],
      libraries: pkgConfig('--libs', 'vantoro'),
    };
  }
  throw new Error('libvantoro not found: install the Debian package libvantoro-dev (pkg-config vantoro),' +
    ' or set VANTORO_LIBRARY_DIR to a CMake build folder of the project that has built vantoro_static');
}

module.exports = { find };

if (require.main === module) {
  const what = process.argv[2];
  const found = find();
  const flags = what === 'cflags'
    // Warnings fail the build where the project asks for it, not on users' machines.
    ? found.cflags.concat(process.env.VANTORO_WERROR === '1' ? ['-Werror'] : [])
    : found[what];
  if (!Array.isArray(flags)) {
    console.error(`usage: node scripts/link.js include|cflags|ldflags|libraries`);
    process.exit(2);
  }
  for (const flag of flags) console.log(flag);
}
