// SPDX-License-Identifier: MIT
// The probe of the mixed-process crash: five native calls through koffi on a track list,
// each result taken through koffi.view and freed, then the WebAssembly module loaded and
// called in the same process, and the native results compared with the WebAssembly one.
//   node mix_probe.cjs NATIVE.so MODULE.wasm TRACKS.json alias|copy
// "alias": Buffer.from(view) -- a Buffer over the module's block, not a copy of it.
// "copy": Buffer.from(new Uint8Array(view)) -- a real copy, taken before the block is freed.
// MODULE.wasm "none" leaves WebAssembly out: the native results are read right away.
// Prints one line per step to stderr (synchronously, so a crash leaves the last step seen).
'use strict';
const fs = require('node:fs');
const path = require('node:path');
const koffi = require(path.join(__dirname, '../../node/node_modules/koffi'));

const [so, wasm, tracksFile, how] = process.argv.slice(2);
const say = (s) => fs.writeSync(2, `${s}\n`);
const lib = koffi.load(so);
const filter = lib.func('void *ntsrch_filter_and_sort_tracks_json(const char *, const char *, int, const char *, int)');
const release = lib.func('void ntsrch_free(void *)');
const strlen = koffi.load('libc.so.6').func('size_t strlen(const void *)');
const input = Buffer.concat([fs.readFileSync(tracksFile), Buffer.alloc(1)]);

const results = [];
for (let sort = 1; sort <= 5; sort++) {
    const p = filter(input, null, 0, null, sort);
    const view = koffi.view(p, strlen(p));
    results.push(how === 'alias' ? Buffer.from(view) : Buffer.from(new Uint8Array(view)));
    release(p);
}
say('native calls done');
if (wasm === 'none') {
    say(`native result read: ${results.reduce((n, b) => n + b.reduce((x, y) => x ^ y, 0), 0)}`);
    process.exit(0);
}
const { exports: e } = new WebAssembly.Instance(new WebAssembly.Module(fs.readFileSync(wasm)), {});
e._initialize();
const at = e.malloc(input.length);
new Uint8Array(e.memory.buffer).set(input, at);
const r = e.ntsrch_filter_and_sort_tracks_json(at, 0, 0, 0, 1);
say('wasm call done');
const mem = new Uint8Array(e.memory.buffer);
const out = mem.subarray(r, mem.indexOf(0, r));
say(`native result read: ${results[0].length} bytes`);
say(Buffer.compare(out, results[0]) === 0 ? 'same' : 'different');
