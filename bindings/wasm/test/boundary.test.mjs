// SPDX-License-Identifier: MIT
// The WebAssembly binding at the edges of its host boundary: memory that grows inside a
// call, addresses above 2 GiB, the writer near the 4 GiB top, calls made from inside an
// input's getter, the order in which bad arguments are refused, and text that is not
// well-formed Unicode. Rows that change an instance's memory each get a fresh one.
//   node bindings/wasm/test/boundary.test.mjs MODULE.wasm
import { readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { run, equal } from './harness.mjs';

const wasmFile = process.argv[2];
const ntsrch = await import(pathToFileURL(join(dirname(wasmFile), 'js/ntsrch-wasm.mjs')).href);
const compiled = new WebAssembly.Module(readFileSync(wasmFile));
const fresh = () => ntsrch.loadSync(compiled);
const lib = fresh();
const PAGE = 65536;

// Grows the memory to `total` bytes and takes the free heap below `top` bytes from its end,
// so the call's own blocks all lie in that last stretch.
function crowd(l, total, top) {
    const { memory, malloc, free } = l._engine.e;
    while (memory.buffer.byteLength < total) memory.grow(Math.min(8192, (total - memory.buffer.byteLength) / PAGE));
    const first = malloc(16) >>> 0;
    free(first);
    if (malloc(memory.buffer.byteLength - first - top) === 0) throw new Error('could not take the low heap');
    return l;
}
const high = () => crowd(fresh(), 2 ** 31 + 2 ** 24, 2 ** 24 - 2 ** 20);

const tracks = Array.from({ length: 50 }, (_, i) => ({ title: `T${i}`, streamURL: `https://s/${i}` }));
const downloaded = (n) => Array.from({ length: n }, (_, i) => `https://s/${i * 7}`);
const sorted = '[{"title":"a"},{"title":"b"}]';

await run('boundary growth', [
    { name: 'a 50,000-byte query on a fresh instance keeps the given base', check() {
        equal(fresh().buildSearchUrl('x'.repeat(50000), 'https://my.example').slice(0, 40), 'https://my.example/search/api?q=xxxxxxxx');
    } },
    { name: '50 tracks with 0 to 6,000 downloaded URLs, each on a fresh instance, as on a used one', check() {
        const bad = [];
        for (let n = 0; n <= 6000; n += 250) {
            const opts = { downloaded: downloaded(n), downloadedOnly: true };
            const want = lib.filterAndSortTracks(tracks, opts);
            if (n > 0 && want === '[]') throw new Error(`nothing kept with ${n} URLs`);
            let got;
            try { got = fresh().filterAndSortTracks(tracks, opts); } catch (err) { got = String(err); }
            if (got !== want) bad.push(`${n}: ${got.slice(0, 60)}`);
        }
        equal(bad, [], 'list sizes that differ');
    } },
], (row) => row.check());

await run('boundary above 2 GiB', [
    ['url', (l) => l.buildSearchUrl('a b', 'https://h'), 'https://h/search/api?q=a%20b&format=json'],
    ['filter', (l) => l.filterAndSortTracks([{ title: 'b' }, { title: 'a' }], { sort: 1, query: 'A', downloaded: [] }), '[{"title":"a"}]'],
    ['normalize from bytes', (l) => l.normalizeUnifiedResults(Buffer.from('{"tracks":[1]}')), '{"localCount":1,"catalogueCount":0,"local":[1],"catalogue":[]}'],
    ['a 2 MB result', (l) => l.filterAndSortTracks(`[{"t":"${'z'.repeat(2 << 20)}"}]`).length, 2 * 2 ** 20 + 10],
    ['version and last error', (l) => { try { l.buildSearchUrl(' '); } catch { /* refused */ } return [l.version(), l.lastError()]; }, ['1.0.0', 'empty query']],
], ([, call, want]) => {
    const l = high();
    const p = l._engine.e.malloc(1) >>> 0;
    l._engine.e.free(p);
    if (p < 2 ** 31) throw new Error(`the heap still hands out ${p}`);
    equal(call(l), want);
});

// The writer's block lies within 60 MB of the 4 GiB top; a 12 MB string may ask 72 MB.
await run('boundary writer near the top', [
    ['normalize: one 12 MB track string', (l, s) => l.normalizeUnifiedResults(`{"tracks":["${s}"]}`), 'ntsrch_normalize_unified_results_json'],
    ['filter: a 12 MB title', (l, s) => l.filterAndSortTracks(`[{"title":"${s}"}]`), 'ntsrch_filter_and_sort_tracks_json'],
], ([, call, fn]) => {
    const l = crowd(fresh(), 2 ** 32, 64 << 20);
    let err;
    try { call(l, 'a'.repeat(12 << 20)); } catch (e) { err = e; }
    if (!(err instanceof ntsrch.NtsrchMemoryError)) throw new Error(`not an NtsrchMemoryError: ${err}`);
    equal([err.function, l.lastError()], [fn, ''], 'function and last error');
    equal(l.filterAndSortTracks('[{"title":"b"},{"title":"a"}]', { sort: 1 }), sorted, 'the next call');
});
await run('boundary writer near the top', [
    { name: 'a 4 MB string there is written whole', check() {
        const l = crowd(fresh(), 2 ** 32, 64 << 20);
        const s = 'é'.repeat(2 << 20);
        equal(l.normalizeUnifiedResults(`{"tracks":["${s}"]}`), `{"localCount":1,"catalogueCount":0,"local":["${s}"],"catalogue":[]}`);
    } },
], (row) => row.check());

// A getter inside an input calls the same library: the outer call still sees its own input.
// [name, the inner call]; each is made from a getter on the options, inside the downloaded
// list and inside a track, sync and async.
await run('boundary re-entry', [
    ['a URL', () => lib.buildSearchUrl('inner')],
    ['a filter', () => lib.filterAndSortTracks('[{"title":"x"}]', { sort: 2 })],
    ['a refused call', () => { try { lib.buildSearchUrl(null); } catch { /* refused */ } }],
], async ([, inner]) => {
    const input = () => [{ title: 'b', streamURL: 'https://s/1' }, { title: 'a', streamURL: 'https://s/2' }];
    const places = {
        options: () => [input(), { downloadedOnly: true, get downloaded() { inner(); return ['https://s/1']; } }],
        'downloaded list': () => [input(), { downloadedOnly: true, downloaded: Object.defineProperty([''], 0, { get() { inner(); return 'https://s/1'; }, enumerable: true }) }],
        'a track': () => [[{ get title() { inner(); return 'b'; }, streamURL: 'https://s/1' }, input()[1]], { downloadedOnly: true, downloaded: ['https://s/1'] }],
    };
    for (const [where, args] of Object.entries(places)) {
        equal(lib.filterAndSortTracks(...args()), '[{"title":"b","streamURL":"https://s/1"}]', `sync, getter on ${where}`);
        equal(await lib.filterAndSortTracksAsync(...args()), '[{"title":"b","streamURL":"https://s/1"}]', `async, getter on ${where}`);
    }
});

// [name, method, args, the parameter refused]: the options object first, then the
// parameters in the order of bindings/contract/README.md.
const E = { get x() { return 1; } };
await run('boundary order of checks', [
    ['filter(5, {query: 7})', 'filterAndSortTracks', [5, { query: 7 }], 'tracks'],
    ['filter(5, {sort: "x"})', 'filterAndSortTracks', [5, { sort: 'x' }], 'tracks'],
    ['filter(5, {downloadedOnly: 1})', 'filterAndSortTracks', [5, { downloadedOnly: 1 }], 'tracks'],
    ['filter([], {query: 7, downloadedOnly: 1, sort: "x"})', 'filterAndSortTracks', [[], { query: 7, downloadedOnly: 1, sort: 'x' }], 'query'],
    ['filter([], {downloadedOnly: 1, downloaded: 5})', 'filterAndSortTracks', [[], { downloadedOnly: 1, downloaded: 5 }], 'downloadedOnly'],
    ['filter([], {downloaded: 5, sort: "x"})', 'filterAndSortTracks', [[], { downloaded: 5, sort: 'x' }], 'downloaded'],
    ['filter(5, {query: 7, bogus: 1})', 'filterAndSortTracks', [5, { query: 7, bogus: 1 }], 'options'],
    ['url(5, 7)', 'buildSearchUrl', [5, 7], 'baseUrl'],
    ['url(5, "h", {output: "value"})', 'buildSearchUrl', [5, 'h', { output: 'value' }], 'output'],
    ['normalize(5, new Map())', 'normalizeUnifiedResults', [5, new Map()], 'options'],
    ['url(5, 7, getter options)', 'buildSearchUrl', [5, 7, E], 'options'],
], async ([, method, args, param]) => {
    let thrown;
    try { lib[method](...args); } catch (err) { thrown = err; }
    equal(String(thrown && thrown.message).split(':')[0], param, 'sync');
    const rejected = await lib[`${method}Async`](...args).then(() => null, (err) => err);
    equal(String(rejected && rejected.message).split(':')[0], param, 'async');
});

// [name, method, args, message]: a lone UTF-16 surrogate is refused before any call, naming
// the parameter (and the place inside a value) and how many characters (code points, as
// Python counts them) come before it in that string.
await run('boundary lone surrogates', [
    ['query', 'buildSearchUrl', ['a\uD800b'], 'query: not encodable as UTF-8 at character 1'],
    ['query, after a pair', 'buildSearchUrl', ['\uD834\uDD1E\uD800'], 'query: not encodable as UTF-8 at character 1'],
    ['base URL', 'buildSearchUrl', ['q', 'https://h/\uDC00'], 'baseUrl: not encodable as UTF-8 at character 10'],
    ['filter query', 'filterAndSortTracks', [[], { query: '\uDC00' }], 'query: not encodable as UTF-8 at character 0'],
    ['tracks as text', 'filterAndSortTracks', ['[{"title":"x\uD800"}]'], 'tracks: not encodable as UTF-8 at character 12'],
    ['a title inside a value', 'filterAndSortTracks', [[{ title: 'ok' }, { title: 'x\uD800' }]], 'tracks[1].title: not encodable as UTF-8 at character 1'],
    ['a key inside a value', 'normalizeUnifiedResults', [{ tracks: [{ '\uDBFFk': 1 }] }], 'unified.tracks[0]: key "\\udbffk" not encodable as UTF-8 at character 0'],
    ['downloaded inside a value', 'filterAndSortTracks', [[], { downloaded: ['\uD800\uD800'] }], 'downloaded[0]: not encodable as UTF-8 at character 0'],
], async ([, method, args, message]) => {
    try { lib.buildSearchUrl(' '); } catch { /* leaves "empty query" as the last error */ }
    const check = (err, how) => {
        if (!(err instanceof TypeError) || err.code !== 'ERR_INVALID_ARG_VALUE') throw new Error(`${how}: not a TypeError with code ERR_INVALID_ARG_VALUE: ${err}`);
        equal(err.message, message, how);
    };
    let thrown;
    try { lib[method](...args); } catch (err) { thrown = err; }
    check(thrown, 'sync');
    check(await lib[`${method}Async`](...args).then(() => null, (err) => err), 'async');
    equal(lib.lastError(), 'empty query', 'no call made');
});
await run('boundary well-formed text', [
    { name: 'a surrogate pair is one character, kept', check() {
        equal(lib.filterAndSortTracks([{ title: '\uD834\uDD1E' }], { query: '\uD834\uDD1E' }), '[{"title":"𝄞"}]');
    } },
], (row) => row.check());
await lib.close();
