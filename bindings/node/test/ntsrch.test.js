// SPDX-License-Identifier: MIT
'use strict';
// The module under test is the one Library() finds: NTSRCH_MODULE (the build's module), else
// the package's bundled copy, else the system library path.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { Worker } = require('node:worker_threads');
const { spawnSync } = require('node:child_process');
const koffi = require('koffi');
const ntsrch = require('../ntsrch');

const lib = new ntsrch.Library();
const PLATFORM = `${process.platform}-${process.arch}`;

// lib's module file; when it came by bare file name, the file the process mapped.
function loadedFile() {
    if (path.isAbsolute(lib.path)) return lib.path;
    const hit = fs.readFileSync('/proc/self/maps', 'utf8').split('\n').map((l) => l.trim().split(/\s+/))
        .find((f) => f.length === 6 && path.basename(f[5]) === ntsrch.MODULE_FILE);
    assert.ok(hit, `${ntsrch.MODULE_FILE} is not mapped`);
    return hit[5];
}

test('every function is bound', () => {
    const names = ['ntsrch_version', 'ntsrch_abi_version', 'ntsrch_last_error', 'ntsrch_free', 'ntsrch_build_search_url',
        'ntsrch_filter_and_sort_tracks_json', 'ntsrch_normalize_unified_results_json', 'ntsrch_selftest'];
    assert.deepStrictEqual(names.filter((n) => !lib.provides(n)), []);
});

test('version information matches the binding', () => {
    assert.strictEqual(lib.version(), '1.0.0');
    assert.strictEqual(lib.abiVersion(), ntsrch.ABI_VERSION);
});

test('loads from an install prefix, multiarch or not', (t) => {
    for (const sub of ['lib', path.join('lib', 'x86_64-linux-gnu')]) {
        const prefix = fs.mkdtempSync(path.join(os.tmpdir(), 'ntsrch-node-'));
        t.after(() => fs.rmSync(prefix, { recursive: true, force: true }));
        fs.mkdirSync(path.join(prefix, sub), { recursive: true });
        const copy = path.join(prefix, sub, ntsrch.MODULE_FILE);
        fs.copyFileSync(loadedFile(), copy);
        const other = new ntsrch.Library({ prefix });
        assert.strictEqual(other.path, copy);
        assert.strictEqual(other.buildSearchUrl('x', 'https://h'), 'https://h/search/api?q=x&format=json');
    }
});

test('version of the package and the module agree', () => {
    assert.strictEqual(ntsrch.version, lib.version());
});

test('lookup order: $NTSRCH_MODULE alone when set, else bundled, system; the error lists every place tried', (t) => {
    const missing = path.join(os.tmpdir(), 'ntsrch-no-such-dir', ntsrch.MODULE_FILE);
    const noSystem = 'ntsrch-no-such-module.so';
    const real = loadedFile();
    const saved = { env: process.env.NTSRCH_MODULE, ...ntsrch._lookup };
    t.after(() => {
        if (saved.env === undefined) delete process.env.NTSRCH_MODULE;
        else process.env.NTSRCH_MODULE = saved.env;
        Object.assign(ntsrch._lookup, { bundled: saved.bundled, system: saved.system });
    });
    // [NTSRCH_MODULE, bundled copy, system name, expected path or null: all fail]
    const cases = [
        [real, missing, noSystem, real],
        [missing, real, real, null],
        [undefined, real, noSystem, real],
        [undefined, missing, real, real],
        [missing, missing, noSystem, null],
        [undefined, missing, noSystem, null],
    ];
    for (const [env, bundled, system, expected] of cases) {
        if (env === undefined) delete process.env.NTSRCH_MODULE;
        else process.env.NTSRCH_MODULE = env;
        Object.assign(ntsrch._lookup, { bundled, system });
        if (expected !== null) {
            assert.strictEqual(new ntsrch.Library().path, expected);
            continue;
        }
        assert.throws(() => new ntsrch.Library(), (err) => {
            assert.ok(err instanceof ntsrch.ModuleLoadError);
            const want = env ? [`${env} ($NTSRCH_MODULE)`] : [`${bundled} (bundled)`, `${system} (system library path)`];
            assert.deepStrictEqual(err.tried.map((x) => x.place), want);
            for (const { place, reason } of err.tried) {
                assert.ok(reason, place);
                assert.ok(err.message.includes(`${place}: ${reason}`), err.message);
            }
            return true;
        });
    }
});

test('lookup passes over what is not our module; an explicit place that fails is a ModuleLoadError', (t) => {
    const real = loadedFile();
    const libm = '/lib/x86_64-linux-gnu/libm.so.6';
    const missing = path.join(os.tmpdir(), 'ntsrch-no-such-dir', ntsrch.MODULE_FILE);
    const saved = { env: process.env.NTSRCH_MODULE, ...ntsrch._lookup };
    t.after(() => {
        if (saved.env === undefined) delete process.env.NTSRCH_MODULE;
        else process.env.NTSRCH_MODULE = saved.env;
        Object.assign(ntsrch._lookup, { bundled: saved.bundled, system: saved.system });
    });
    // [NTSRCH_MODULE, bundled (null: no prebuild for this platform), system, loaded path, reasons of the places passed over]
    const rows = [
        [undefined, libm, real, real, [/does not export ntsrch_version, .*ntsrch_selftest/]],
        [undefined, null, real, real, [new RegExp(`no prebuild for ${PLATFORM} \\(there are linux-x64, .*darwin-arm64\\)`)]],
        [undefined, missing, real, real, [/not present/]],
        [undefined, null, 'ntsrch-none.so', null, [/no prebuild/, /ntsrch-none\.so/]],
        [libm, real, real, null, [/does not export/]],
        [missing, real, real, null, [/cannot open|No such file/i]],
    ];
    for (const [env, bundled, system, loaded, reasons] of rows) {
        if (env === undefined) delete process.env.NTSRCH_MODULE;
        else process.env.NTSRCH_MODULE = env;
        Object.assign(ntsrch._lookup, { bundled, system });
        const label = `${env} / ${bundled} / ${system}`;
        let tried;
        if (loaded) {
            // What was passed over is only visible when nothing loads: drop the last place.
            assert.strictEqual(new ntsrch.Library().path, loaded, label);
            Object.assign(ntsrch._lookup, { system: 'ntsrch-none.so' });
            if (bundled === real) Object.assign(ntsrch._lookup, { bundled: missing });
        }
        assert.throws(() => new ntsrch.Library(), (err) => {
            assert.ok(err instanceof ntsrch.ModuleLoadError, label);
            tried = err.tried;
            return true;
        });
        assert.strictEqual(tried.length, env ? 1 : 2, label);
        reasons.forEach((re, i) => assert.match(tried[i].reason, re, `${label}: ${tried[i].place}`));
    }
    // An explicit path or prefix is the only place tried.
    process.env.NTSRCH_MODULE = real;
    for (const [options, reason] of [[{ path: libm }, /does not export/], [{ path: missing }, /cannot open|No such file/i],
        [{ prefix: path.join(os.tmpdir(), 'ntsrch-no-such-prefix') }, /not found under it/]]) {
        assert.throws(() => new ntsrch.Library(options), (err) => {
            assert.ok(err instanceof ntsrch.ModuleLoadError, JSON.stringify(options));
            assert.strictEqual(err.tried.length, 1);
            assert.match(err.tried[0].reason, reason);
            return true;
        });
    }
});

test('without koffi the package still loads, and the load error says koffi is missing', (t) => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ntsrch-nokoffi-'));
    t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
    for (const f of ['ntsrch.js', 'rules.js', 'worker.js', 'package.json']) fs.copyFileSync(path.join(__dirname, '..', f), path.join(dir, f));
    const script = `const n = require(${JSON.stringify(dir)}); try { new n.Library(); } catch (e) { console.log(e.name, e.tried[0].place, e.tried[0].reason); }`;
    const out = spawnSync(process.execPath, ['-e', script], { cwd: dir, encoding: 'utf8', env: { ...process.env, NODE_PATH: '' } });
    assert.strictEqual(out.status, 0, out.stderr);
    assert.ok(out.stdout.startsWith(`ModuleLoadError koffi koffi is not installed or has no build for ${PLATFORM}`), out.stdout);
});

test('search URLs, and failures carrying the last-error text', () => {
    assert.strictEqual(lib.buildSearchUrl(' Été indien', 'https://music.example//'),
        'https://music.example/search/api?q=%C3%89t%C3%A9%20indien&format=json');
    for (const [query, message] of [[null, 'null query'], [' \t\n', 'empty query']]) {
        assert.throws(() => lib.buildSearchUrl(query), (err) => {
            assert.ok(err instanceof ntsrch.NtsrchError);
            assert.ok(!(err instanceof ntsrch.NtsrchMemoryError));
            assert.strictEqual(err.lastError, message);
            assert.strictEqual(err.function, 'ntsrch_build_search_url');
            return true;
        });
        assert.strictEqual(lib.lastError(), message);
    }
    lib.buildSearchUrl('ok');
    assert.strictEqual(lib.lastError(), '');
});

test('a null result with no message is out of memory', () => {
    // The module's own out-of-memory path cannot be forced from here; stand in for it.
    const real = lib._fn.ntsrch_build_search_url;
    lib.buildSearchUrl('clears the text');
    lib._fn.ntsrch_build_search_url = () => null;
    try {
        assert.throws(() => lib.buildSearchUrl('x'), (err) => err instanceof ntsrch.NtsrchMemoryError && err.lastError === '');
    } finally {
        lib._fn.ntsrch_build_search_url = real;
    }
});

test('every owned result is released exactly once, with ntsrch_free', () => {
    const real = lib._fn.ntsrch_free;
    const released = [];
    lib._fn.ntsrch_free = (p) => {
        if (p !== null) released.push(koffi.address(p));
        real(p);
    };
    try {
        for (let i = 0; i < 50; i++) assert.ok(lib.buildSearchUrl(`q${i}`).endsWith(`q=q${i}&format=json`));
        assert.throws(() => lib.buildSearchUrl(null));
    } finally {
        lib._fn.ntsrch_free = real;
    }
    assert.strictEqual(released.length, 50);
});

test('track filter: sort modes, parsed output, errors', () => {
    const tracks = [
        { title: 'Zeta', artist: 'B', streamURL: 'u1', duration: 300, publishTimestamp: 10 },
        { title: 'Alpha', artist: 'A', streamURL: 'u2', duration: 120, publishTimestamp: 20 },
        7,
    ];
    const cases = [
        [ntsrch.SortMode.NONE, ['Zeta', 'Alpha']],
        [ntsrch.SortMode.TITLE_ASC, ['Alpha', 'Zeta']],
        [ntsrch.SortMode.NEWEST_FIRST, ['Alpha', 'Zeta']],
        [ntsrch.SortMode.DOWNLOADED_FIRST, ['Zeta', 'Alpha']],
    ];
    for (const [sort, titles] of cases) {
        const got = lib.filterAndSortTracks(tracks, { sort, downloaded: ['u1'], parse: true });
        assert.deepStrictEqual(got.map((x) => x.title), titles, `sort ${sort}`);
    }
    assert.strictEqual(lib.filterAndSortTracks(JSON.stringify(tracks), { query: ' b ', downloadedOnly: true, downloaded: '["u1"]' }),
        '[{"title":"Zeta","artist":"B","streamURL":"u1","duration":300,"publishTimestamp":10}]');
    assert.strictEqual(lib.filterAndSortTracks(Buffer.from('[]')), '[]');
    for (const [input, message] of [[null, 'null tracks_json'], ['{}', 'tracks_json must be array'], ['[', 'tracks_json must be array']]) {
        assert.throws(() => lib.filterAndSortTracks(input), (err) => err instanceof ntsrch.NtsrchError && err.lastError === message);
    }
});

test('unified results: length-delimited input, errors', () => {
    const unified = { tracks: [1, 'x'], catalogue: { artists: ['b'], albums: ['a'] } };
    assert.deepStrictEqual(lib.normalizeUnifiedResults(unified, { parse: true }),
        { localCount: 2, catalogueCount: 2, local: [1, 'x'], catalogue: ['a', 'b'] });
    // A Buffer is passed with its length: no NUL needed, nothing read past it.
    const text = Buffer.from('{"tracks":["é"]}');
    assert.strictEqual(lib.normalizeUnifiedResults(text), '{"localCount":1,"catalogueCount":0,"local":["é"],"catalogue":[]}');
    // A Uint8Array view is read from its own offset and length, not its whole buffer.
    const view = new Uint8Array(Buffer.from('xx{"tracks":[2]}yy')).subarray(2, 16);
    assert.strictEqual(lib.normalizeUnifiedResults(view), '{"localCount":1,"catalogueCount":0,"local":[2],"catalogue":[]}');
    assert.strictEqual(lib.buildSearchUrl(view.subarray(1, 9), 'https://h'), 'https://h/search/api?q=%22tracks%22&format=json');
    for (const [input, message] of [[null, 'null json'], ['[]', 'invalid search json'], [Buffer.alloc(0), 'invalid search json'], ['{} x', 'invalid search json']]) {
        assert.throws(() => lib.normalizeUnifiedResults(input), (err) => err instanceof ntsrch.NtsrchError && err.lastError === message);
    }
});

test('self-test passes and leaves no message', () => {
    assert.throws(() => lib.buildSearchUrl(null));
    assert.strictEqual(lib.selftest(), 0);
    assert.strictEqual(lib.lastError(), '');
});

test('worker threads each read their own last-error text', async () => {
    const workerSource = `
        const { parentPort, workerData } = require('node:worker_threads');
        const ntsrch = require(workerData.binding);
        const lib = new ntsrch.Library({ path: workerData.module });
        const { query, message, rounds } = workerData;
        let wrong = 0;
        for (let i = 0; i < rounds; i++) {
            try { lib.buildSearchUrl(query); wrong++; } catch (err) { if (err.lastError !== message) wrong++; }
            if (lib.buildSearchUrl('ok ' + i).indexOf('q=ok%20' + i + '&') < 0) wrong++;
            if (lib.lastError() !== '') wrong++;
        }
        parentPort.postMessage(wrong);
    `;
    const runs = [];
    for (let w = 0; w < 4; w++) {
        const [query, message] = w % 2 ? [null, 'null query'] : ['  ', 'empty query'];
        const worker = new Worker(workerSource, {
            eval: true,
            workerData: { binding: path.join(__dirname, '..', 'ntsrch.js'), module: lib.path, query, message, rounds: 2000 },
        });
        runs.push(new Promise((resolve, reject) => {
            worker.once('message', resolve);
            worker.once('error', reject);
        }));
    }
    assert.deepStrictEqual(await Promise.all(runs), [0, 0, 0, 0]);
});

// Input rules: every row is refused before any call into the module, by the sync call
// (throws) and its async twin (rejects with the same error).
test('input rules: refused before any call, sync and async alike', async (t) => {
    const T = [{ title: 'a' }];
    const url = (...a) => ['buildSearchUrl', ...a];
    const filter = (...a) => ['filterAndSortTracks', ...a];
    const normalize = (...a) => ['normalizeUnifiedResults', ...a];
    class Track { constructor() { this.title = 'a'; } }
    const NUL = 'ERR_INVALID_ARG_VALUE';
    // [call, error class, code, message]
    const rows = [
        [url({ a: 1 }), TypeError, undefined, /^query: must be a string, bytes .* not an Object$/],
        [url(123), TypeError, undefined, /^query: .* not number$/],
        [url('q', 7), TypeError, undefined, /^baseUrl: .* not number$/],
        [url('a\0b'), TypeError, NUL, /^query: embedded NUL at byte 1$/],
        [url('é\0'), TypeError, NUL, /^query: embedded NUL at byte 2$/],
        [url(Buffer.from('ab\0')), TypeError, NUL, /^query: embedded NUL at byte 2$/],
        [url('q', Buffer.from([0x68, 0xc3, 0xa9, 0xff])), TypeError, NUL, /^baseUrl: not valid UTF-8 at byte 3$/],
        [url('q', new Uint8Array([0x68, 0xe2, 0x82]).buffer), TypeError, NUL, /^baseUrl: not valid UTF-8 at byte 1$/],
        [url('q', null, { output: 'value' }), TypeError, undefined, /^output: 'value' is for JSON results/],
        [url('q', null, { parse: true }), TypeError, undefined, /^options: unknown option 'parse'$/],
        [filter('[{"title":"a"}]\0junk'), TypeError, NUL, /^tracks: embedded NUL at byte 15$/],
        [filter(new Uint8Array([0x5b, 0, 0x5d])), TypeError, NUL, /^tracks: embedded NUL at byte 1$/],
        [filter(T, { query: 'x\0' }), TypeError, NUL, /^query: embedded NUL at byte 1$/],
        [filter(T, { downloaded: '["u"]\0' }), TypeError, NUL, /^downloaded: embedded NUL at byte 5$/],
        [filter(T, { sort: 'title' }), TypeError, undefined, /^sort: must be an integer/],
        [filter(T, { sort: true }), TypeError, undefined, /^sort: must be an integer/],
        [filter(T, { sort: 1.5 }), TypeError, undefined, /^sort: must be an integer/],
        [filter(T, { sort: 2 ** 31 }), RangeError, undefined, /^sort: 2147483648 is outside the C int range/],
        [filter(T, { sort: 2 ** 32 + 1 }), RangeError, undefined, /^sort: 4294967297 is outside/],
        [filter(T, { sort: -(2 ** 31) - 1 }), RangeError, undefined, /^sort: -2147483649 is outside/],
        [filter(T, { sort: Infinity }), TypeError, undefined, /^sort: must be an integer .* not Infinity$/],
        [filter(T, { sort: NaN }), TypeError, undefined, /^sort: must be an integer .* not NaN$/],
        [filter(T, { downloadedOnly: 1 }), TypeError, undefined, /^downloadedOnly: must be a boolean, not number$/],
        [filter(T, { order: 1 }), TypeError, undefined, /^options: unknown option 'order'$/],
        [filter(T, []), TypeError, undefined, /^options: must be a plain object, not an Array$/],
        [filter(T, { output: 'json' }), TypeError, undefined, /^output: must be one of 'string', 'bytes', 'value', not 'json'$/],
        [filter(T, { output: 'bytes', parse: true }), TypeError, undefined, /^parse: true asks for output 'value'/],
        [filter(T, { parse: 1 }), TypeError, undefined, /^parse: must be a boolean/],
        [filter(42), TypeError, undefined, /^tracks: must be JSON text, .* not number$/],
        [filter(new Set([1])), TypeError, undefined, /^tracks: .* not a Set$/],
        [filter([{ title: 'a', duration: NaN }]), RangeError, undefined, /^tracks\[0\]\.duration: NaN is not a JSON number$/],
        [filter(T, { downloaded: [Infinity] }), RangeError, undefined, /^downloaded\[0\]: Infinity is not a JSON number$/],
        [filter([{ tags: new Map() }]), TypeError, undefined, /^tracks\[0\]\.tags: a Map is not a JSON value/],
        [filter([{ at: new Date(0) }]), TypeError, undefined, /^tracks\[0\]\.at: a Date is not a JSON value/],
        [filter([{ n: [1, 2n] }]), TypeError, undefined, /^tracks\[0\]\.n\[1\]: bigint is not a JSON value$/],
        [filter([{ 'a b': () => 1 }]), TypeError, undefined, /^tracks\[0\]\["a b"\]: function is not a JSON value$/],
        [filter([{ s: Symbol('s') }]), TypeError, undefined, /^tracks\[0\]\.s: symbol is not a JSON value$/],
        [filter([{ [Symbol('k')]: 1 }]), TypeError, undefined, /^tracks\[0\]: symbol keys are not JSON$/],
        [filter([{ u: undefined }]), TypeError, undefined, /^tracks\[0\]\.u: undefined is not a JSON value$/],
        [filter([1, , 3]), TypeError, undefined, /^tracks\[1\]: undefined is not a JSON value$/], // eslint-disable-line no-sparse-arrays
        [filter([new Track()]), TypeError, undefined, /^tracks\[0\]: a Track is not a JSON value/],
        [filter((() => { const a = [{}]; a[0].self = a; return a; })()), TypeError, undefined, /^tracks\[0\]\.self: refers back to itself$/],
        [normalize(Buffer.from('{"tracks":[]}\0')), TypeError, NUL, /^unified: embedded NUL at byte 13$/],
        [normalize(true), TypeError, undefined, /^unified: .* not boolean$/],
        [normalize({ tracks: [NaN] }), RangeError, undefined, /^unified\.tracks\[0\]: NaN/],
        [normalize('{}', { sort: 1 }), TypeError, undefined, /^options: unknown option 'sort'$/],
    ];
    const calls = [];
    const counted = new Map();
    for (const name of ['ntsrch_build_search_url', 'ntsrch_filter_and_sort_tracks_json', 'ntsrch_normalize_unified_results_json']) {
        const real = lib._fn[name];
        counted.set(name, real);
        lib._fn[name] = (...a) => { calls.push(name); return real(...a); };
    }
    t.after(() => { for (const [name, real] of counted) lib._fn[name] = real; });
    for (const [[method, ...args], cls, code, message] of rows) {
        const label = `${method} ${message}`;
        const check = (err) => {
            assert.strictEqual(err.constructor, cls, `${label}: ${err}`);
            assert.strictEqual(err.code, code, label);
            assert.match(err.message, message, label);
            return true;
        };
        assert.throws(() => lib[method](...args), check, label);
        await assert.rejects(lib[`${method}Async`](...args), check);
    }
    assert.deepStrictEqual(calls, []);
});

// What the rules accept, and each output choice: [call, result as a string].
test('accepted inputs and output choices', async () => {
    const unified = '{"tracks":[1,2,3]}';
    const normalized = '{"localCount":3,"catalogueCount":0,"local":[1,2,3],"catalogue":[]}';
    const u8 = new TextEncoder().encode(unified);
    const two = [{ title: 'b' }, { title: 'a' }];
    const rows = [
        [['normalizeUnifiedResults', u8.buffer], normalized],
        [['normalizeUnifiedResults', new DataView(u8.buffer, 0, u8.length)], normalized],
        [['normalizeUnifiedResults', JSON.parse(unified)], normalized],
        [['filterAndSortTracks', new Uint16Array(new Uint8Array([0x5b, 0x5d]).buffer)], '[]'],
        [['filterAndSortTracks', two, { sort: 99 }], JSON.stringify(two)],
        [['filterAndSortTracks', two, { sort: -(2 ** 31) }], JSON.stringify(two)],
        [['filterAndSortTracks', two, { sort: ntsrch.SortMode.TITLE_ASC, query: new TextEncoder().encode('A').buffer }], '[{"title":"a"}]'],
        [['filterAndSortTracks', [{ title: 'é', n: -0.5e-7, o: null, b: false }], { downloaded: undefined, query: undefined }],
            '[{"title":"é","n":-5e-8,"o":null,"b":false}]'],
        [['buildSearchUrl', new Uint8Array([0x78, 0x79]).subarray(1), 'https://h'], 'https://h/search/api?q=y&format=json'],
    ];
    for (const [[method, input, options = {}, extra], want] of rows) {
        const args = method === 'buildSearchUrl' ? [input, options] : [input];
        const opts = method === 'buildSearchUrl' ? extra : options;
        for (const [output, got] of [
            ['string', (r) => r], ['bytes', (r) => (assert.ok(Buffer.isBuffer(r)), r.toString('utf8'))],
            ...(method === 'buildSearchUrl' ? [] : [['value', (r) => JSON.stringify(r)], ['parse', (r) => JSON.stringify(r)]]),
        ]) {
            const o = { ...opts, ...(output === 'parse' ? { parse: true } : { output }) };
            const label = `${method} ${want} ${output}`;
            assert.strictEqual(got(lib[method](...args, o)), want, label);
            assert.strictEqual(got(await lib[`${method}Async`](...args, o)), want, `${label} async`);
        }
    }
    // Bytes out take any base URL bytes; a string needs them to be UTF-8.
    assert.deepStrictEqual([...lib.buildSearchUrl('q', new Uint8Array([0x68, 0xff]), { output: 'bytes' }).subarray(0, 3)], [0x68, 0xff, 0x2f]);
    // Bytes given to normalize are read in place: the caller's bytes are not moved or changed.
    const lent = Buffer.from(unified);
    await lib.normalizeUnifiedResultsAsync(lent);
    assert.strictEqual(lent.toString(), unified);
});

test('async calls report the module message of the failed call', async () => {
    const rows = [
        [() => lib.buildSearchUrlAsync(null), 'ntsrch_build_search_url', 'null query'],
        [() => lib.buildSearchUrlAsync(' \t'), 'ntsrch_build_search_url', 'empty query'],
        [() => lib.filterAndSortTracksAsync('{}'), 'ntsrch_filter_and_sort_tracks_json', 'tracks_json must be array'],
        [() => lib.filterAndSortTracksAsync(null), 'ntsrch_filter_and_sort_tracks_json', 'null tracks_json'],
        [() => lib.normalizeUnifiedResultsAsync(Buffer.alloc(0)), 'ntsrch_normalize_unified_results_json', 'invalid search json'],
        [() => lib.normalizeUnifiedResultsAsync(null), 'ntsrch_normalize_unified_results_json', 'null json'],
    ];
    // All at once, interleaved with calls that succeed: each failure keeps its own message.
    const runs = rows.flatMap(([call, fn, message]) => [
        assert.rejects(call(), (err) => {
            assert.ok(err instanceof ntsrch.NtsrchError && !(err instanceof ntsrch.NtsrchMemoryError), String(err));
            assert.deepStrictEqual([err.function, err.lastError], [fn, message]);
            return true;
        }),
        lib.buildSearchUrlAsync('ok').then((u) => assert.ok(u.endsWith('q=ok&format=json'))),
    ]);
    await Promise.all(runs);
});

function bigTracks(n) {
    const words = ['Love', 'Night', 'Sky', 'Été', 'River'];
    const out = [];
    for (let i = 0; i < n; i++) {
        out.push({ id: i, title: `${words[i % 5]} ${words[(i * 7) % 5]} ${i % 997}`, artist: `A${i % 101}`, duration: 90 + (i % 400),
            publishTimestamp: 1500000000 + ((i * 7919) % 250000000), streamURL: `https://cdn.example/s/${i}.mp3` });
    }
    return Buffer.from(JSON.stringify(out));
}

test('the event loop keeps running during an async 100k-track call', async () => {
    const input = bigTracks(100000);
    const want = lib.filterAndSortTracks(input, { sort: ntsrch.SortMode.TITLE_ASC, query: 'love', output: 'bytes' });
    let ticks = 0;
    let done = false;
    const timer = setInterval(() => { if (!done) ticks++; }, 1);
    try {
        const got = await lib.filterAndSortTracksAsync(input, { sort: ntsrch.SortMode.TITLE_ASC, query: 'love', output: 'bytes' });
        done = true;
        assert.ok(got.equals(want));
    } finally {
        clearInterval(timer);
    }
    assert.ok(ticks > 0, 'no timer fired while the call ran');
});

test('the worker never keeps the process alive; close() stops it and rejects what is pending', async () => {
    const script = `
        const ntsrch = require(${JSON.stringify(path.join(__dirname, '..', 'ntsrch.js'))});
        const lib = new ntsrch.Library();
        lib.buildSearchUrlAsync('x').then((u) => console.log(u));`;
    const out = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8', timeout: 20000 });
    assert.deepStrictEqual([out.status, out.stdout, out.stderr], [0, 'https://api.nortaveltune.com/search/api?q=x&format=json\n', '']);
    const other = new ntsrch.Library({ path: lib.path });
    const pending = other.filterAndSortTracksAsync(bigTracks(20000), { sort: 1 });
    const rejected = assert.rejects(pending, /Library closed/);
    // A later async call starts a new worker, even while the old one is still stopping.
    const closing = other.close();
    const next = other.buildSearchUrlAsync('y', 'https://h');
    await closing;
    await rejected;
    assert.strictEqual(await next, 'https://h/search/api?q=y&format=json');
    assert.strictEqual(await other.buildSearchUrlAsync('z', 'https://h'), 'https://h/search/api?q=z&format=json');
    await other.close();
});

test('sync calls reuse their encode buffer without mixing inputs or results', () => {
    // Each row: [tracks, options, kept titles]; big, then small, then big inputs again.
    const big = JSON.stringify(Array.from({ length: 5000 }, (_, i) => ({ title: `t${i}` })));
    const rows = [
        [big, { query: 't4999' }, ['t4999']],
        ['[{"title":"b"},{"title":"a"}]', { sort: 1 }, ['a', 'b']],
        [Buffer.from('[{"title":"x"}]'), {}, ['x']],
        [big.replace('t0"', 'zz"'), { query: 'zz' }, ['zz']],
        [[{ title: 'v' }], {}, ['v']],
    ];
    const kept = [];
    for (const [tracks, options, titles] of rows) {
        const out = lib.filterAndSortTracks(tracks, { ...options, output: 'bytes' });
        kept.push([out, Buffer.from(out)]);
        assert.deepStrictEqual(JSON.parse(out).map((t) => t.title), titles);
        assert.strictEqual(lib.normalizeUnifiedResults(`{"tracks":[${JSON.stringify(titles)}]}`, { output: 'value' }).localCount, 1);
    }
    for (const [out, copy] of kept) assert.ok(out.equals(copy), 'an earlier result changed');
});

// A child process of its own: gc() between counts, and a young generation held small so
// that V8 growing it to its full size is not read as a leak.
test('RSS stays flat over 200k calls, sync and async', () => {
    const script = `
        const ntsrch = require(${JSON.stringify(path.join(__dirname, '..', 'ntsrch.js'))});
        const lib = new ntsrch.Library({ path: ${JSON.stringify(lib.path)} });
        const rss = () => { gc(); return process.memoryUsage().rss; };
        const sync = (n) => { for (let i = 0; i < n; i++) lib.normalizeUnifiedResults('{}'); };
        const async = async (n) => {
            for (let i = 0; i < n; i += 64) await Promise.all(Array.from({ length: 64 }, () => lib.normalizeUnifiedResultsAsync('{}')));
        };
        (async () => {
            const out = {};
            for (const [name, run] of [['sync', sync], ['async', async]]) {
                await run(10000);
                const first = rss();
                await run(190000);
                out[name] = rss() - first;
            }
            await lib.close();
            console.log(JSON.stringify(out));
        })();`;
    const out = spawnSync(process.execPath, ['--expose-gc', '--max-semi-space-size=1', '-e', script], { encoding: 'utf8' });
    assert.strictEqual(out.status, 0, out.stderr);
    const grew = JSON.parse(out.stdout);
    for (const name of ['sync', 'async']) assert.ok(grew[name] < 8 * 1048576, `${name}: RSS grew ${(grew[name] / 1048576).toFixed(1)} MB`);
});

// The first `length` bytes of a file, in a file of their own.
function cutCopy(t, from, length) {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ntsrch-cut-'));
    t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
    const file = path.join(dir, ntsrch.MODULE_FILE);
    fs.writeFileSync(file, Buffer.isBuffer(from) ? from.subarray(0, length) : fs.readFileSync(from).subarray(0, length));
    return file;
}

// Headers alone, for the forms this machine does not load: [bytes, what they claim].
function peHeaders() {
    const b = Buffer.alloc(600);
    b.write('MZ', 0, 'latin1');
    b.writeUInt32LE(64, 0x3c);
    b.writeUInt32BE(0x50450000, 64);
    b.writeUInt16LE(2, 64 + 6); // sections
    b.writeUInt16LE(16, 64 + 20); // optional header size
    const table = 64 + 24 + 16;
    for (const [i, ptr, size] of [[0, 512, 512], [1, 1024, 3072]]) {
        b.writeUInt32LE(size, table + i * 40 + 16);
        b.writeUInt32LE(ptr, table + i * 40 + 20);
    }
    return [b, 4096];
}

function machoHeaders() {
    const b = Buffer.alloc(300);
    b.writeUInt32LE(0xfeedfacf, 0);
    b.writeUInt32LE(2, 16); // commands
    b.writeUInt32LE(72 + 16, 20);
    b.writeUInt32LE(0x19, 32); // LC_SEGMENT_64
    b.writeUInt32LE(72, 36);
    b.writeBigUInt64LE(4096n, 32 + 40);
    b.writeBigUInt64LE(8192n, 32 + 48);
    b.writeUInt32LE(0x2, 32 + 72); // a command that names no file range
    b.writeUInt32LE(16, 32 + 76);
    return [b, 12288];
}

test('a truncated module is passed over with its reason, never loaded', (t) => {
    const real = loadedFile();
    const size = fs.statSync(real).size;
    const [pe, peNeed] = peHeaders();
    const [macho, machoNeed] = machoHeaders();
    // [file, bytes kept, what the headers need (null: more than kept)]
    const rows = [
        ...[100, 1000, 5000, 200000].filter((n) => n < size).map((n) => [real, n, null]),
        [pe, 600, peNeed],
        [pe, 100, 104 + 80],
        [macho, 300, machoNeed],
        [macho, 20, 32],
    ];
    const saved = process.env.NTSRCH_MODULE;
    t.after(() => { process.env.NTSRCH_MODULE = saved; });
    for (const [from, n, need] of rows) {
        const file = cutCopy(t, from, n);
        const check = (err) => {
            assert.ok(err instanceof ntsrch.ModuleLoadError, String(err));
            const m = /^truncated: (\d+) bytes, headers need (\d+)$/.exec(err.tried[0].reason);
            assert.ok(m, err.tried[0].reason);
            assert.strictEqual(Number(m[1]), n);
            if (need === null) assert.ok(Number(m[2]) > n, err.tried[0].reason);
            else assert.strictEqual(Number(m[2]), need);
            return true;
        };
        assert.throws(() => new ntsrch.Library({ path: file }), check);
        process.env.NTSRCH_MODULE = file;
        assert.throws(() => new ntsrch.Library(), check);
    }
    // A whole file passes the check.
    assert.strictEqual(new ntsrch.Library({ path: cutCopy(t, real, size) }).abiVersion(), ntsrch.ABI_VERSION);
});

test('load() with $NTSRCH_MODULE set tries that module alone: no WebAssembly fallback', async (t) => {
    const saved = process.env.NTSRCH_MODULE;
    t.after(() => { process.env.NTSRCH_MODULE = saved; });
    process.env.NTSRCH_MODULE = path.join(os.tmpdir(), 'ntsrch-no-such-dir', ntsrch.MODULE_FILE);
    await assert.rejects(ntsrch.load(), (err) => {
        assert.ok(err instanceof ntsrch.ModuleLoadError, String(err));
        assert.deepStrictEqual(err.tried.map((x) => x.place), [`${process.env.NTSRCH_MODULE} ($NTSRCH_MODULE)`]);
        return true;
    });
});

// Each run: 40 workers that make sync calls, terminated 0-60 ms after they have their
// Library, and Libraries closed 0-40 ms after their first async call.
test('terminating threads that use a Library never aborts the process (20 runs)', () => {
    const binding = JSON.stringify(path.join(__dirname, '..', 'ntsrch.js'));
    const script = `
        const { Worker } = require('node:worker_threads');
        const ntsrch = require(${binding});
        const src = 'const { parentPort, workerData } = require("node:worker_threads");'
            + 'const lib = new (require(workerData.binding).Library)({ path: workerData.module });'
            + 'parentPort.postMessage(0);'
            + 'for (let i = 0;; i++) { lib.filterAndSortTracks([{ title: "a" }], { output: "value" });'
            + '  try { lib.buildSearchUrl(null); } catch {} }';
        const workerData = { binding: ${binding}, module: ${JSON.stringify(lib.path)} };
        const runs = [];
        for (let i = 0; i < 40; i++) {
            const w = new Worker(src, { eval: true, workerData });
            runs.push(new Promise((resolve) => {
                w.once('message', () => setTimeout(() => w.terminate(), Math.random() * 60));
                w.once('exit', resolve);
            }));
        }
        runs.push((async () => {
            for (let i = 0; i < 10; i++) {
                const lib = new ntsrch.Library({ path: ${JSON.stringify(lib.path)} });
                const call = lib.buildSearchUrlAsync('x').catch(() => {});
                await new Promise((r) => setTimeout(r, Math.random() * 40));
                await lib.close();
                await call;
            }
        })());
        Promise.all(runs).then(() => console.log('done'));`;
    const results = [];
    for (let run = 0; run < 20; run++) {
        const out = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8' });
        results.push(out.status === 0 && out.stdout === 'done\n' ? 'ok' : `${out.status ?? out.signal} ${out.stderr.split('\n')[0]}`);
    }
    assert.deepStrictEqual(results.filter((r) => r !== 'ok'), []);
});

// Host values no case-table row can carry: [call, message], each refused with
// ERR_INVALID_ARG_VALUE before any call, sync and async.
test('values deeper than the stack, and detached buffers, are refused by name', async () => {
    const deep = (n, wrap) => { let v = []; for (let i = 0; i < n; i++) v = wrap(v); return v; };
    const cut = () => { const ab = new ArrayBuffer(8); const views = [new Uint8Array(ab), new DataView(ab, 2)]; structuredClone(ab, { transfer: [ab] }); return [ab, ...views]; };
    const [ab, u8, dv] = cut();
    const rows = [
        [['filterAndSortTracks', deep(20000, (v) => [v])], /^tracks: nested too deeply$/],
        [['normalizeUnifiedResults', { tracks: deep(20000, (v) => ({ a: v })) }], /^unified: nested too deeply$/],
        [['normalizeUnifiedResults', ab], /^unified: its ArrayBuffer is detached$/],
        [['buildSearchUrl', u8], /^query: its ArrayBuffer is detached$/],
        [['filterAndSortTracks', '[]', { downloaded: dv }], /^downloaded: its ArrayBuffer is detached$/],
    ];
    for (const [[method, ...args], message] of rows) {
        const check = (err) => {
            assert.strictEqual(err.constructor, TypeError, `${message}: ${err}`);
            assert.strictEqual(err.code, 'ERR_INVALID_ARG_VALUE');
            assert.match(err.message, message);
            return true;
        };
        assert.throws(() => lib[method](...args), check);
        await assert.rejects(lib[`${method}Async`](...args), check);
    }
});
