// SPDX-License-Identifier: MIT
// The WebAssembly binding under Node: module errors of interleaved async calls, memory
// returned after each call, the worker, and loading.
//   node bindings/wasm/test/binding.test.mjs MODULE.wasm
import { spawnSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { run, equal } from './harness.mjs';

const wasmFile = process.argv[2];
const entry = pathToFileURL(join(dirname(wasmFile), 'js/ntsrch-wasm.mjs')).href;
const ntsrch = await import(entry);
const lib = ntsrch.loadSync(wasmFile);

function tracks(n) {
    return Array.from({ length: n }, (_, i) => ({ id: i, title: `${i % 7 ? 'Song' : 'Love song'} ${n - i}`, artist: `A${i % 13}`, durationSeconds: 100 + (i % 50), publishedAt: 1e9 + i }));
}
// Inputs, outputs and refusals are rows of bindings/contract/cases.json (contract.test.mjs).
// Module refusals here run all at once, async, interleaved with calls that succeed.
// [name, call, function, last-error text]
const failures = [
    ['null query', (l, a) => l[`buildSearchUrl${a}`](null), 'ntsrch_build_search_url', 'null query'],
    ['blank query', (l, a) => l[`buildSearchUrl${a}`](' \t'), 'ntsrch_build_search_url', 'empty query'],
    ['tracks not an array', (l, a) => l[`filterAndSortTracks${a}`]('{}'), 'ntsrch_filter_and_sort_tracks_json', 'tracks_json must be array'],
    ['null tracks', (l, a) => l[`filterAndSortTracks${a}`](null), 'ntsrch_filter_and_sort_tracks_json', 'null tracks_json'],
    ['empty unified bytes', (l, a) => l[`normalizeUnifiedResults${a}`](new Uint8Array(0)), 'ntsrch_normalize_unified_results_json', 'invalid search json'],
    ['null unified', (l, a) => l[`normalizeUnifiedResults${a}`](null), 'ntsrch_normalize_unified_results_json', 'null json'],
];
const isModuleError = (err, fn, text) => {
    if (!(err instanceof ntsrch.NtsrchError) || err instanceof ntsrch.NtsrchMemoryError) throw new Error(`not an NtsrchError: ${err}`);
    equal([err.function, err.lastError], [fn, text], 'error');
};
await run('binding errors', failures, async ([, call, fn, text]) => {
    let thrown;
    try { call(lib, ''); } catch (err) { thrown = err; }
    isModuleError(thrown, fn, text);
    equal(lib.lastError(), text, 'lastError() after the failed call');
    const settled = await Promise.allSettled(failures.flatMap(([, c]) => [c(lib, 'Async'), lib.buildSearchUrlAsync('ok')]));
    const mine = settled[2 * failures.findIndex((f) => f[1] === call)];
    isModuleError(mine.reason, fn, text);
    for (let i = 1; i < settled.length; i += 2) equal(settled[i].status, 'fulfilled', 'interleaved success');
});

const memory = () => lib._engine.e.memory.buffer.byteLength;
await run('binding memory', [
    { name: '10,000 calls keep the module memory within 2x of its size after the first', n: 10000 },
], ({ n }) => {
    const input = JSON.stringify(tracks(100));
    lib.filterAndSortTracks(input, { query: 'love', sort: 1 });
    const first = memory();
    for (let i = 0; i < n; i++) {
        lib.filterAndSortTracks(input, { query: 'love', sort: i % 6, output: i % 2 ? 'bytes' : 'string' });
        if (i % 100 === 0) try { lib.buildSearchUrl(' '); } catch { /* refused, freed all the same */ }
    }
    const after = memory();
    console.log(`note wasm binding memory: ${first} bytes after the first call, ${after} after ${n} more`);
    if (after > 2 * first) throw new Error(`${after} > 2 x ${first}`);
});

await run('binding async', [
    { name: 'timers fire during an async 100k-track call', async check() {
        const input = Buffer.from(JSON.stringify(tracks(100000)));
        let ticks = 0;
        const timer = setInterval(() => { ticks += 1; }, 1);
        const out = await lib.filterAndSortTracksAsync(input, { sort: 1, output: 'bytes' });
        clearInterval(timer);
        if (out.length < input.length / 2) throw new Error('short result');
        if (ticks < 2) throw new Error(`${ticks} timer ticks during the call`);
    } },
    { name: 'close() rejects what is pending; the library stays usable', async check() {
        const pending = lib.filterAndSortTracksAsync(JSON.stringify(tracks(20000)), { sort: 1 }).then(() => null, (e) => e);
        await lib.close();
        const err = await pending;
        equal(err && err.message, 'Library closed', 'pending call');
        equal(await lib.buildSearchUrlAsync('x', 'https://h'), 'https://h/search/api?q=x&format=json', 'after close');
    } },
    { name: 'provides() the eight functions and nothing else', check() {
        const names = ['version', 'abi_version', 'last_error', 'free', 'build_search_url', 'filter_and_sort_tracks_json',
            'normalize_unified_results_json', 'selftest'].map((n) => `ntsrch_${n}`);
        equal([...names, 'malloc', 'memory', 'ntsrch_nothing'].map((n) => lib.provides(n)), [...names.map(() => true), false, false, false]);
    } },
    { name: 'an idle worker does not keep Node running', check() {
        const script = `import(${JSON.stringify(entry)}).then(async (n) => { const l = n.loadSync(${JSON.stringify(wasmFile)}); console.log(await l.buildSearchUrlAsync('x')); })`;
        const r = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8', timeout: 20000 });
        equal([r.status, r.stdout.trim()], [0, 'https://api.nortaveltune.com/search/api?q=x&format=json'], 'child');
    } },
], (row) => row.check());

const loadFails = async (source) => {
    try { await ntsrch.load(source); } catch (err) { return err; }
    throw new Error('loaded');
};
await run('binding load', [
    { name: 'load() from bytes, a path and a file URL', async check() {
        for (const src of [readFileSync(wasmFile), wasmFile, pathToFileURL(wasmFile)]) equal((await ntsrch.load(src)).selftest(), 0, String(src).slice(0, 40));
    } },
    { name: 'the default place is the file beside the binding', async check() { equal((await ntsrch.load()).version(), '1.0.0'); } },
    { name: 'bytes that are no module: ModuleLoadError', async check() {
        const err = await loadFails(new Uint8Array([0, 97, 115, 109, 9, 9, 9, 9]));
        equal(err.name, 'ModuleLoadError');
    } },
    { name: 'a missing file: ModuleLoadError naming it', async check() {
        const err = await loadFails('/nonexistent/x.wasm');
        equal([err.name, err.tried[0].place], ['ModuleLoadError', '/nonexistent/x.wasm']);
    } },
], (row) => row.check());
await lib.close();
