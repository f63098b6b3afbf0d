// SPDX-License-Identifier: MIT
// The native Node binding and the WebAssembly binding given the same calls, inputs from the
// bindings' test tables (accepted and refused): every result, in every output form, and
// every error (class, code, message, function, last-error text) must be the same.
//   node bindings/wasm/test/bindings-diff.test.mjs MODULE.wasm NATIVE_TREE
import { createRequire } from 'node:module';
import { existsSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { run } from './harness.mjs';

const [wasmFile, nativeTree] = process.argv.slice(2);
const here = fileURLToPath(new URL('.', import.meta.url));
const nodeDir = join(here, '../../node');
const so = join(nativeTree || 'build', 'nortavel-nortaveltune-search-client.so');

class Track { constructor() { this.title = 'a'; } }
const T = [{ title: 'b', artist: 'Zed' }, { title: 'A', artist: 'y', streamURL: 'u1', publishTimestamp: 5 }];
const enc = (s) => new TextEncoder().encode(s);
const selfRef = () => { const a = [{}]; a[0].self = a; return a; };
// [method, ...args]; each row runs with every output choice the call takes.
const ROWS = [
    ['buildSearchUrl', 'night skies'], ['buildSearchUrl', 'Été indien', 'https://music.example/'],
    ['buildSearchUrl', enc('x y'), enc('https://h//')], ['buildSearchUrl', '  '], ['buildSearchUrl', null],
    ['buildSearchUrl', { a: 1 }], ['buildSearchUrl', 123], ['buildSearchUrl', 'q', 7], ['buildSearchUrl', 'a\0b'],
    ['buildSearchUrl', 'é\0'], ['buildSearchUrl', Buffer.from('ab\0')], ['buildSearchUrl', 'q', new Uint8Array([0x68, 0xc3, 0xa9, 0xff])],
    ['buildSearchUrl', 'q', new Uint8Array([0x68, 0xe2, 0x82]).buffer], ['buildSearchUrl', 'q', null, { parse: true }],
    ['buildSearchUrl', new Uint8Array([0x78, 0x79]).subarray(1), 'https://h'], ['buildSearchUrl', 'q', new Uint8Array([0x68, 0xff])],
    ['filterAndSortTracks', T], ['filterAndSortTracks', JSON.stringify(T), { query: 'a' }],
    ['filterAndSortTracks', T, { sort: 1 }], ['filterAndSortTracks', T, { sort: 2 }], ['filterAndSortTracks', T, { sort: 3 }],
    ['filterAndSortTracks', T, { sort: 99 }], ['filterAndSortTracks', T, { sort: -(2 ** 31) }],
    ['filterAndSortTracks', T, { downloaded: ['u1'], downloadedOnly: true }], ['filterAndSortTracks', T, { downloaded: '["u1"]', sort: 5 }],
    ['filterAndSortTracks', '{}'], ['filterAndSortTracks', null], ['filterAndSortTracks', 'not json'],
    ['filterAndSortTracks', '[{"title":"a"}]\0junk'], ['filterAndSortTracks', new Uint8Array([0x5b, 0, 0x5d])],
    ['filterAndSortTracks', T, { query: 'x\0' }], ['filterAndSortTracks', T, { downloaded: '["u"]\0' }],
    ['filterAndSortTracks', T, { sort: 'title' }], ['filterAndSortTracks', T, { sort: true }], ['filterAndSortTracks', T, { sort: 1.5 }],
    ['filterAndSortTracks', T, { sort: 2 ** 31 }], ['filterAndSortTracks', T, { sort: 2 ** 32 + 1 }], ['filterAndSortTracks', T, { sort: Infinity }],
    ['filterAndSortTracks', T, { downloadedOnly: 1 }], ['filterAndSortTracks', T, { order: 1 }], ['filterAndSortTracks', T, []],
    ['filterAndSortTracks', T, { output: 'json' }], ['filterAndSortTracks', T, { output: 'bytes', parse: true }], ['filterAndSortTracks', T, { parse: 1 }],
    ['filterAndSortTracks', 42], ['filterAndSortTracks', new Set([1])], ['filterAndSortTracks', [{ title: 'a', duration: NaN }]],
    ['filterAndSortTracks', T, { downloaded: [Infinity] }], ['filterAndSortTracks', [{ tags: new Map() }]], ['filterAndSortTracks', [{ at: new Date(0) }]],
    ['filterAndSortTracks', [{ n: [1, 2n] }]], ['filterAndSortTracks', [{ 'a b': () => 1 }]], ['filterAndSortTracks', [{ s: Symbol('s') }]],
    ['filterAndSortTracks', [{ [Symbol('k')]: 1 }]], ['filterAndSortTracks', [{ u: undefined }]], ['filterAndSortTracks', [1, , 3]], // eslint-disable-line no-sparse-arrays
    ['filterAndSortTracks', [new Track()]], ['filterAndSortTracks', selfRef()],
    ['filterAndSortTracks', new Uint16Array(new Uint8Array([0x5b, 0x5d]).buffer)],
    ['filterAndSortTracks', [{ title: 'é', n: -0.5e-7, o: null, b: false }], { downloaded: undefined, query: undefined }],
    ['normalizeUnifiedResults', '{"tracks":[1,2,3]}'], ['normalizeUnifiedResults', enc('{"tracks":[1]}').buffer],
    ['normalizeUnifiedResults', { tracks: [1], catalogue: { albums: [2], artists: [3] } }], ['normalizeUnifiedResults', new DataView(enc('{"tracks":[]}').buffer)],
    ['normalizeUnifiedResults', Buffer.from('{"tracks":[]}\0')], ['normalizeUnifiedResults', true], ['normalizeUnifiedResults', { tracks: [NaN] }],
    ['normalizeUnifiedResults', '{}', { sort: 1 }], ['normalizeUnifiedResults', new Uint8Array(0)], ['normalizeUnifiedResults', null],
    ['normalizeUnifiedResults', '[1]'], ['normalizeUnifiedResults', '{"tracks":[1]} x'],
];

function outcome(fn) {
    try {
        const r = fn();
        return { ok: typeof r === 'string' ? r : r instanceof Uint8Array ? `bytes ${Buffer.from(r).toString('hex')} ${Buffer.isBuffer(r)}` : JSON.stringify(r) };
    } catch (err) {
        return { error: [err.constructor.name, err.name, err.code, err.message, err.function, err.lastError] };
    }
}
async function outcomeAsync(fn) {
    let r;
    try {
        r = await fn();
    } catch (err) {
        return outcome(() => { throw err; });
    }
    return outcome(() => r);
}

const withOutput = (row, output) => {
    const [method, ...args] = row;
    if (output === undefined) return args;
    const at = method === 'buildSearchUrl' ? 2 : 1;
    const a = args.slice();
    while (a.length < at) a.push(null);
    a[at] = a[at] && typeof a[at] === 'object' && !Array.isArray(a[at]) ? { ...a[at], output } : a[at] === undefined || a[at] === null ? { output } : a[at];
    return a;
};

if (!existsSync(join(nodeDir, 'rules.js')) || !existsSync(join(nodeDir, 'node_modules/koffi'))) {
    console.log('skip wasm bindings-diff: the Node binding here has no rules.js or no koffi');
} else if (!existsSync(so)) {
    console.log(`skip wasm bindings-diff: no native module at ${so}`);
} else {
    const ntsrch = createRequire(import.meta.url)(join(nodeDir, 'ntsrch.js'));
    const native = new ntsrch.Library({ path: so });
    const wasm = (await import(pathToFileURL(join(dirname(wasmFile), 'js/ntsrch-wasm.mjs')).href)).loadSync(wasmFile);
    let compared = 0;
    const groups = ['buildSearchUrl', 'filterAndSortTracks', 'normalizeUnifiedResults'].map((m) => ({ name: m, rows: ROWS.filter((r) => r[0] === m) }));
    const failed = await run('bindings-diff', groups, async ({ name, rows }) => {
        const bad = [];
        for (const row of rows) {
            for (const output of [undefined, 'string', 'bytes', ...(name === 'buildSearchUrl' ? [] : ['value'])]) {
                const args = withOutput(row, output);
                const a = JSON.stringify(outcome(() => native[name](...args)));
                const b = JSON.stringify(outcome(() => wasm[name](...args)));
                const c = JSON.stringify(await outcomeAsync(() => native[`${name}Async`](...args)));
                const d = JSON.stringify(await outcomeAsync(() => wasm[`${name}Async`](...args)));
                compared += 4;
                if (a !== b || c !== d || a !== c) bad.push(`row ${ROWS.indexOf(row)} ${output}: native ${a.slice(0, 160)} / wasm ${b.slice(0, 160)} / async ${c.slice(0, 80)} / ${d.slice(0, 80)}`);
            }
        }
        if (bad.length) throw new Error(`${bad.length} differ: ${bad.slice(0, 3).join(' || ')}`);
    });
    if (!failed) console.log(`note wasm bindings-diff: ${compared} outcomes (sync and async, every output) equal between the native and WebAssembly bindings`);
    await wasm.close();
    native.close?.();
}
