// SPDX-License-Identifier: MIT
'use strict';
// Run from a folder where the npm tarball was installed, with no NTSRCH_MODULE: the
// package must load its own module (yyjson inside: no libyyjson loaded) and answer every
// function.
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const ntsrch = require('ntsrch');

const lib = new ntsrch.Library();
const dir = path.dirname(require.resolve('ntsrch/package.json'));
const bundledDir = path.join(dir, 'prebuilds', `${process.platform}-${process.arch}`);
assert.strictEqual(lib.path, path.join(bundledDir, ntsrch.MODULE_FILE));
const mapped = new Set(fs.readFileSync('/proc/self/maps', 'utf8').split('\n')
    .map((l) => l.trim().split(/\s+/)).filter((f) => f.length >= 6).map((f) => f[5]));
for (const [name, want] of [[ntsrch.MODULE_FILE, [path.join(fs.realpathSync(bundledDir), ntsrch.MODULE_FILE)]],
    ['libyyjson', []]]) {
    const hits = [...mapped].filter((p) => path.basename(p).startsWith(name)).sort();
    assert.deepStrictEqual(hits, want, `${name} mapped from ${hits}`);
}
assert.strictEqual(lib.version(), ntsrch.version);
assert.strictEqual(lib.abiVersion(), ntsrch.ABI_VERSION);
assert.strictEqual(lib.selftest(), 0);
assert.strictEqual(lib.buildSearchUrl('night skies', 'https://h'), 'https://h/search/api?q=night%20skies&format=json');
assert.deepStrictEqual(lib.filterAndSortTracks([{ title: 'Zeta' }, { title: 'Alpha' }], { sort: ntsrch.SortMode.TITLE_ASC, parse: true }),
    [{ title: 'Alpha' }, { title: 'Zeta' }]);
assert.strictEqual(lib.normalizeUnifiedResults('{"tracks":[1]}'), '{"localCount":1,"catalogueCount":0,"local":[1],"catalogue":[]}');
assert.throws(() => lib.buildSearchUrl('  '), (e) => e instanceof ntsrch.NtsrchError && e.lastError === 'empty query');
assert.strictEqual(lib.lastError(), 'empty query');
console.log(`npm package: bundled module loaded from ${bundledDir}, no libyyjson`);
