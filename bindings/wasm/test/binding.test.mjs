// SPDX-License-Identifier: MIT
// The WebAssembly binding under Node: output choices, errors, async calls in the worker,
// memory returned after each call, and loading.
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
const two = [{ title: 'b' }, { title: 'a' }];
const unified = '{"tracks":[1,2,3]}';
const normalized = '{"localCount":3,"catalogueCount":0,"local":[1,2,3],"catalogue":[]}';
const asText = { string: (r) => r, bytes: (r) => (Buffer.isBuffer(r) ? r.toString('utf8') : `not a Buffer: ${r}`), value: JSON.stringify };

// [name, method, args, output, the result as text]
const outputs = [
    ['url string', 'buildSearchUrl', ['é b', 'https://h/'], 'string', 'https://h/search/api?q=%C3%A9%20b&format=json'],
    ['url bytes', 'buildSearchUrl', ['y', 'https://h'], 'bytes', 'https://h/search/api?q=y&format=json'],
    ['filter string', 'filterAndSortTracks', [two, { sort: ntsrch.SortMode.TITLE_ASC }], 'string', '[{"title":"a"},{"title":"b"}]'],
    ['filter bytes in, bytes out', 'filterAndSortTracks', [Buffer.from(JSON.stringify(two)), { query: 'A' }], 'bytes', '[{"title":"a"}]'],
    ['filter value', 'filterAndSortTracks', [JSON.stringify(two), { sort: 1 }], 'value', '[{"title":"a"},{"title":"b"}]'],
    ['filter parse alias', 'filterAndSortTracks', [two, { sort: 1, parse: true }], 'value', '[{"title":"a"},{"title":"b"}]'],
    ['filter non-ASCII string', 'filterAndSortTracks', [[{ title: 'Été ✓ 𝄞' }]], 'string', '[{"title":"Été ✓ 𝄞"}]'],
    ['normalize ArrayBuffer', 'normalizeUnifiedResults', [new TextEncoder().encode(unified).buffer], 'string', normalized],
    ['normalize value in, value out', 'normalizeUnifiedResults', [JSON.parse(unified), { output: 'value' }], 'value', normalized],
];

await run('binding outputs', outputs, async ([, method, args, output, want]) => {
    const last = args.length - 1;
    const withOutput = (a) => (method === 'buildSearchUrl'
        ? [...a, { output }]
        : typeof a[last] === 'object' && !Array.isArray(a[last]) && last > 0
            ? [...a.slice(0, last), { output: a[last].parse ? undefined : output, ...a[last] }]
            : [...a, { output }]);
    equal(asText[output](lib[method](...withOutput(args))), want, 'sync');
    equal(asText[output](await lib[`${method}Async`](...withOutput(args))), want, 'async');
});

// [name, call, function, last-error text]; run sync, then all async at once, interleaved.
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

// Input refused on the caller's thread before any call: same error sync and async.
const refusals = [
    ['query number', () => ['buildSearchUrl', [123]], TypeError, /^query: /],
    ['NUL in query', () => ['buildSearchUrl', ['a\0b']], TypeError, /^query: embedded NUL at byte 1$/],
    ['sort string', () => ['filterAndSortTracks', [two, { sort: 'title' }]], TypeError, /^sort: /],
    ['sort out of int range', () => ['filterAndSortTracks', [two, { sort: 2 ** 32 + 1 }]], RangeError, /^sort: /],
    ['NaN in tracks', () => ['filterAndSortTracks', [[{ d: NaN }]]], RangeError, /^tracks\[0\]\.d: /],
    ['Map in unified', () => ['normalizeUnifiedResults', [{ tracks: new Map() }]], TypeError, /^unified\.tracks: /],
    ['unknown option', () => ['normalizeUnifiedResults', ['{}', { sort: 1 }]], TypeError, /unknown option 'sort'/],
    ['url value output', () => ['buildSearchUrl', ['q', null, { output: 'value' }]], TypeError, /^output: /],
];
await run('binding refusals', refusals, async ([, make, cls, message]) => {
    const [method, args] = make();
    try { lib.buildSearchUrl(' '); } catch { /* leaves "empty query" as the last error */ }
    const check = (err, how) => {
        if (!err || err.constructor !== cls || !message.test(err.message)) throw new Error(`${how}: got ${err}`);
    };
    let thrown;
    try { lib[method](...args); } catch (err) { thrown = err; }
    check(thrown, 'sync');
    let rejected;
    await lib[`${method}Async`](...args).catch((err) => { rejected = err; });
    check(rejected, 'async');
    equal(lib.lastError(), 'empty query', 'no call made');
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
