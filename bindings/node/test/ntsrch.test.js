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

test('lookup order: $NTSRCH_MODULE, bundled, system; the error lists every place tried', (t) => {
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
        [missing, real, noSystem, real],
        [undefined, real, noSystem, real],
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
            const want = [...(env ? [`${env} ($NTSRCH_MODULE)`] : []), `${bundled} (bundled)`, `${system} (system library path)`];
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
        [libm, real, 'ntsrch-none.so', real, [/does not export ntsrch_version, .*ntsrch_selftest/]],
        [libm, null, real, real, [/does not export/, /no prebuild for linux-x64 \(there are linux-x64, .*darwin-arm64\)/]],
        [missing, libm, real, real, [/cannot open|No such file/i, /does not export/]],
        [libm, null, 'ntsrch-none.so', null, [/does not export/, /no prebuild/, /ntsrch-none\.so/]],
    ];
    for (const [env, bundled, system, loaded, reasons] of rows) {
        process.env.NTSRCH_MODULE = env;
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
    assert.match(out.stdout, /^ModuleLoadError koffi koffi is not installed or has no build for linux-x64/);
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
