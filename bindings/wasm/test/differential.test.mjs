// SPDX-License-Identifier: MIT
// The native module (through koffi) and the WebAssembly one, fed the same C calls: every
// fuzz corpus input (fuzz/corpus/, and what the fuzz stage added in NATIVE_TREE-asan/corpus/
// when it ran first), decoded as its fuzz target decodes it, and generated track lists in
// every order. Results and last-error texts must match byte for byte.
//   node bindings/wasm/test/differential.test.mjs MODULE.wasm NATIVE_TREE
import { createRequire } from 'node:module';
import { existsSync, readdirSync, readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { generatedInputs, nativeMissing, run } from './harness.mjs';

const [wasmFile, nativeTree] = process.argv.slice(2);
const here = fileURLToPath(new URL('.', import.meta.url));
const root = join(here, '../../..');
const so = join(nativeTree || 'build', 'nortavel-nortaveltune-search-client.so');

// Each side takes [name, args] with args as Uint8Array (text, NUL added here), null or
// integers, and gives { out: bytes or null, err: last-error bytes }.
function nativeSide() {
    const koffi = createRequire(import.meta.url)(join(root, 'bindings/node/node_modules/koffi'));
    const lib = koffi.load(so);
    const libc = koffi.load('libc.so.6');
    const strlen = libc.func('size_t strlen(const void *)');
    const release = lib.func('void ntsrch_free(void *)');
    const lastError = lib.func('const void *ntsrch_last_error(void)');
    const fns = {
        ntsrch_build_search_url: lib.func('void *ntsrch_build_search_url(const uint8_t *, const uint8_t *)'),
        ntsrch_filter_and_sort_tracks_json: lib.func('void *ntsrch_filter_and_sort_tracks_json(const uint8_t *, const uint8_t *, int, const uint8_t *, int)'),
        ntsrch_normalize_unified_results_json: lib.func('void *ntsrch_normalize_unified_results_json(const uint8_t *, size_t)'),
    };
    // A real copy before the block is freed (Buffer.from(ArrayBuffer) would alias it).
    const take = (p) => new Uint8Array(koffi.view(p, strlen(p))).slice();
    return ([name, args]) => {
        const cargs = args.map((a) => (a instanceof Uint8Array ? Buffer.concat([a, Buffer.alloc(1)]) : a));
        const p = fns[name](...cargs);
        const err = take(lastError());
        if (p === null) return { out: null, err };
        const out = take(p);
        release(p);
        return { out, err };
    };
}

async function wasmSide() {
    const { Engine } = await import(pathToFileURL(join(dirname(wasmFile), 'js/ntsrch-wasm.mjs')));
    const engine = new Engine(new WebAssembly.Module(readFileSync(wasmFile)));
    const kinds = { ntsrch_build_search_url: 'url', ntsrch_filter_and_sort_tracks_json: 'filter', ntsrch_normalize_unified_results_json: 'normalize' };
    const e = engine.e;
    return ([name, args]) => {
        const cargs = args.map((a) => (a instanceof Uint8Array ? engine.put(a) : a === null ? 0 : a));
        let out = null;
        try {
            out = engine.call(kinds[name], cargs, (v) => v.slice());
        } catch (err) {
            if (!(err.name === 'NtsrchError' || err.name === 'NtsrchMemoryError')) throw err;
        }
        return { out, err: engine.cString(e.ntsrch_last_error()).slice() };
    };
}

const sub = (b, i, j) => b.subarray(i, j);
function splitParts(b, flagBytes, n) {
    let i = Math.min(flagBytes, b.length);
    const parts = [];
    for (let p = 0; p < n; p++) {
        let j = b.length;
        if (p + 1 < n) { j = b.indexOf(0, i); if (j < 0) j = b.length; }
        let part = sub(b, i, j);
        if (p + 1 === n && part.indexOf(0) >= 0) part = sub(part, 0, part.indexOf(0));
        parts.push(part);
        i = j < b.length ? j + 1 : b.length;
    }
    return parts;
}
const cut = (part) => (part.indexOf(0) >= 0 ? part.subarray(0, part.indexOf(0)) : part);
const concat = (a, b) => { const c = new Uint8Array(a.length + b.length); c.set(a); c.set(b, a.length); return c; };

// The calls each fuzz target makes for one input (fuzz/fuzz_*.cpp).
const decoders = {
    search_url(b) {
        const flags = b[0] ?? 0;
        const [base, query] = splitParts(b, 1, 2);
        const q = flags & 1 ? query : concat(base, query);
        return [['ntsrch_build_search_url', [flags & 1 ? cut(base) : null, flags & 2 ? null : cut(q)]]];
    },
    filter(b) {
        const [tracks, query, downloaded] = splitParts(b, 2, 3);
        const mode = ((b[0] ?? 0) << 24) >> 24;
        const b1 = b[1] ?? 0;
        const call = (m) => ['ntsrch_filter_and_sort_tracks_json',
            [cut(tracks), b1 & 2 ? cut(query) : null, b1 & 1, b1 & 4 ? cut(downloaded) : null, m]];
        // The input's own mode, and every documented one.
        return [call(mode), ...[0, 1, 2, 3, 4, 5].filter((m) => m !== mode).map(call)];
    },
    normalize(b) {
        const flags = b[0] ?? 0;
        const text = b.subarray(b.length > 0 ? 1 : 0);
        if (flags & 2) return [['ntsrch_normalize_unified_results_json', [null, text.length]]];
        return [['ntsrch_normalize_unified_results_json', [text, 0]], ['ntsrch_normalize_unified_results_json', [text, text.length]]];
    },
};

function same(a, b) {
    if (a === null || b === null) return a === b;
    return a.length === b.length && Buffer.compare(Buffer.from(a.buffer, a.byteOffset, a.length), Buffer.from(b.buffer, b.byteOffset, b.length)) === 0;
}

const missing = nativeMissing(so);
if (missing) {
    console.log(`skip wasm differential: ${missing}`);
} else {
    const native = nativeSide();
    const wasm = await wasmSide();
    const enc = new TextEncoder();
    const { tracks, downloaded, unified } = generatedInputs(3000);
    const inputs = (dir, limit) => (existsSync(dir) ? readdirSync(dir).sort().slice(0, limit).map((f) => join(dir, f)) : []);
    const groups = Object.keys(decoders).flatMap((target) => [
        ['fuzz corpus', inputs(join(root, 'fuzz/corpus', target))],
        ['fuzz stage corpus', inputs(join(`${nativeTree || 'build'}-asan`, 'corpus', target), 3000)],
    ].filter(([, files]) => files.length).map(([what, files]) => ({
        name: `${what} ${target}`,
        inputs: files.length,
        calls: files.flatMap((f) => decoders[target](new Uint8Array(readFileSync(f)))),
    })));
    groups.push({
        name: 'generated 3000 tracks, every order, query and downloaded list',
        calls: [-1, 0, 1, 2, 3, 4, 5, 6].flatMap((m) => [null, enc.encode('love'), enc.encode('ÉTÉ')].flatMap((q) => [0, 1].map((only) =>
            ['ntsrch_filter_and_sort_tracks_json', [tracks, q, only, only ? downloaded : null, m]])))
            .concat([['ntsrch_normalize_unified_results_json', [unified, 0]], ['ntsrch_normalize_unified_results_json', [unified, unified.length - 1]]]),
    });
    let total = 0;
    await run('differential', groups, ({ calls }) => {
        const bad = [];
        for (const c of calls) {
            const a = native(c);
            const b = wasm(c);
            if (!same(a.out, b.out) || !same(a.err, b.err)) bad.push(`${c[0]} #${calls.indexOf(c)}`);
        }
        total += calls.length;
        if (bad.length) throw new Error(`${bad.length} of ${calls.length} differ: ${bad.slice(0, 5).join(', ')}`);
    });
    console.log(`note wasm differential: ${total} calls from ${groups.map((g) => `${g.inputs ?? 1} ${g.name}`).join(', ')}; results and last-error texts compared byte for byte`);
}
