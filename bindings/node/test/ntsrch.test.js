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

// Sets $NTSRCH_MODULE (undefined: unset) and the lookup's places for one test, and puts
// both back after it.
function lookupPlaces(t) {
    const set = (env, places) => {
        if (env === undefined) delete process.env.NTSRCH_MODULE;
        else process.env.NTSRCH_MODULE = env;
        Object.assign(ntsrch._lookup, places);
    };
    const saved = { env: process.env.NTSRCH_MODULE, ...ntsrch._lookup };
    t.after(() => set(saved.env, { bundled: saved.bundled, system: saved.system }));
    return set;
}

test('lookup order: $NTSRCH_MODULE alone when set, else bundled, system; the error lists every place tried', (t) => {
    const missing = path.join(os.tmpdir(), 'ntsrch-no-such-dir', ntsrch.MODULE_FILE);
    const noSystem = 'ntsrch-no-such-module.so';
    const real = loadedFile();
    const place = lookupPlaces(t);
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
        place(env, { bundled, system });
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
    const place = lookupPlaces(t);
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
        place(env, { bundled, system });
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

// The inputs, outputs and refusals of every call are rows of bindings/contract/cases.json,
// run by contract.test.js.

test('bytes given to an async call stay the caller\'s, unmoved and unchanged', async () => {
    const unified = '{"tracks":[1,2,3]}';
    const lent = Buffer.from(unified);
    const view = new Uint8Array(Buffer.from('xx[{"title":"a"}]yy')).subarray(2, 17);
    assert.strictEqual((await lib.normalizeUnifiedResultsAsync(lent, { output: 'value' })).localCount, 3);
    assert.strictEqual(await lib.filterAndSortTracksAsync(view), '[{"title":"a"}]');
    assert.strictEqual(lent.toString(), unified);
    assert.strictEqual(Buffer.from(view.buffer).toString(), 'xx[{"title":"a"}]yy');
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
