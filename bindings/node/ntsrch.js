// SPDX-License-Identifier: MIT
'use strict';
// Node binding of the ntsrch search client module, through koffi.
//
//   const ntsrch = require('ntsrch');
//   const lib = new ntsrch.Library();                                   // see below
//   const lib = new ntsrch.Library({ path: '/opt/app/nortavel-nortaveltune-search-client.so' });
//   const lib = new ntsrch.Library({ prefix: '/usr/local' });           // an install prefix
//   lib.buildSearchUrl('night skies');
//   await lib.filterAndSortTracksAsync(tracks, { sort: ntsrch.SortMode.TITLE_ASC, output: 'bytes' });
//
// Finding the module: an explicit path or prefix is the only place tried. Otherwise the
// Library tries, in order, the file named by $NTSRCH_MODULE, the prebuild in this package
// (prebuilds/<platform>-<arch>/), then the system library path by file name. A place that
// does not load, lacks one of the eight exports or has another ABI is passed over with its
// reason; when none works, ModuleLoadError lists every place and reason.
//
// Inputs go in as bytes (rules.js checks and encodes them), results come back as raw
// pointers: their length is found with strlen, the text is decoded or copied once from
// the module's memory, then handed to ntsrch_free. koffi's own string conversions cost
// about as much as the module call itself on big inputs, hence no 'str' types here.
//
// The async calls run the C call in one worker thread per Library that loads the same
// file and calls synchronously, so the last-error text is read on the thread that failed.

const fs = require('node:fs');
const path = require('node:path');
const rules = require('./rules');

const { SortMode, NtsrchError, NtsrchMemoryError, ModuleLoadError } = rules;

const MODULE_NAME = 'nortavel-nortaveltune-search-client';
const MODULE_FILE = MODULE_NAME + ({ win32: '.dll', darwin: '.dylib' }[process.platform] || '.so');
const ABI_VERSION = 1;
const PLATFORM = `${process.platform}-${process.arch}`;
const PREBUILDS = ['linux-x64', 'linux-arm64', 'win32-x64', 'darwin-x64', 'darwin-arm64'];
const BUNDLED_MODULE = path.join(__dirname, 'prebuilds', PLATFORM, MODULE_FILE);
// The places after $NTSRCH_MODULE; tests point them elsewhere.
const lookup = { bundled: PREBUILDS.includes(PLATFORM) ? BUNDLED_MODULE : null, system: MODULE_FILE };

const EXPORTS = {
    ntsrch_version: 'const char *ntsrch_version(void)',
    ntsrch_abi_version: 'int ntsrch_abi_version(void)',
    ntsrch_last_error: 'const char *ntsrch_last_error(void)',
    ntsrch_free: 'void ntsrch_free(void *p)',
    ntsrch_build_search_url: 'void *ntsrch_build_search_url(const void *base_url, const void *query)',
    ntsrch_filter_and_sort_tracks_json:
        'void *ntsrch_filter_and_sort_tracks_json(const void *tracks, const void *query, int downloaded_only, const void *downloaded, int sort)',
    ntsrch_normalize_unified_results_json: 'void *ntsrch_normalize_unified_results_json(const void *json, size_t len)',
    ntsrch_selftest: 'int ntsrch_selftest(void)',
};

// koffi is an optional dependency: loaded only when a module is, so that an install never
// fails where koffi has no build.
let koffi;
function loadKoffi() {
    if (koffi) return koffi;
    try {
        koffi = require('koffi');
    } catch (err) {
        throw new ModuleLoadError([{ place: 'koffi', reason: `koffi is not installed or has no build for ${PLATFORM} (${err.message.split('\n')[0]})` }], MODULE_FILE);
    }
    return koffi;
}

// The C library's strlen, to measure results without decoding them; null if not found.
let strlen;
function loadStrlen() {
    if (strlen !== undefined) return strlen;
    const names = process.platform === 'win32' ? ['ucrtbase.dll', 'msvcrt.dll'] : [null, process.platform === 'darwin' ? 'libSystem.B.dylib' : 'libc.so.6'];
    strlen = null;
    for (const name of names) {
        try {
            strlen = koffi.load(name).func('size_t strlen(const void *s)');
            break;
        } catch {
            // next name
        }
    }
    return strlen;
}

function candidates() {
    const list = [];
    if (process.env.NTSRCH_MODULE) list.push({ file: process.env.NTSRCH_MODULE, how: '$NTSRCH_MODULE' });
    list.push({ file: lookup.bundled, how: 'bundled' }, { file: lookup.system, how: 'system library path' });
    return list;
}

function findInPrefix(prefix) {
    const libroot = path.join(prefix, 'lib');
    const places = [path.join(libroot, MODULE_FILE), path.join(prefix, 'lib64', MODULE_FILE), path.join(prefix, 'bin', MODULE_FILE)];
    if (fs.existsSync(libroot)) {
        // multiarch, e.g. lib/x86_64-linux-gnu
        for (const d of fs.readdirSync(libroot).sort()) places.push(path.join(libroot, d, MODULE_FILE));
    }
    const found = places.find((p) => fs.existsSync(p) && fs.statSync(p).isFile());
    if (!found) throw new ModuleLoadError([{ place: `${prefix} (prefix)`, reason: `${MODULE_FILE} not found under it` }], MODULE_FILE);
    return found;
}

// Inputs up to this size reuse a Library's encode buffer (sync calls).
const SCRATCH_MAX = 256 * 1024 * 1024;
// Empty bytes given with their length still need a valid pointer.
const EMPTY = new Uint8Array(1);

class Library {
    constructor({ path: file, prefix, ...rest } = {}) {
        const unknown = Object.keys(rest);
        if (unknown.length) throw new TypeError(`options: unknown option '${unknown[0]}'`);
        if (file && prefix) throw new TypeError('give path or prefix, not both');
        this._worker = null;
        this._pending = new Map();
        // Sync calls encode the big JSON input into one buffer kept for the next call: a
        // fresh one costs a page fault per 4 KiB, about as much as the copy itself.
        this._scratch = null;
        this._sync = {
            big: (n) => {
                if (n > SCRATCH_MAX) return Buffer.allocUnsafe(n);
                if (!this._scratch || this._scratch.length < n) {
                    this._scratch = null;
                    this._scratch = Buffer.allocUnsafeSlow(Math.min(SCRATCH_MAX, Math.max(n + (n >> 3), 65536)));
                }
                return this._scratch.subarray(0, n);
            },
        };
        this._next = 0;
        loadKoffi();
        if (prefix || file) {
            const place = prefix ? findInPrefix(prefix) : file;
            try {
                this._load(place);
            } catch (err) {
                throw new ModuleLoadError([{ place, reason: err.message }], MODULE_FILE);
            }
            return;
        }
        const tried = [];
        for (const { file: place, how } of candidates()) {
            if (how === 'bundled' && place === null) {
                tried.push({ place: `prebuilds/${PLATFORM} (bundled)`, reason: `no prebuild for ${PLATFORM} (there are ${PREBUILDS.join(', ')})` });
                continue;
            }
            if (how === 'bundled' && !fs.existsSync(place)) {
                tried.push({ place: `${place} (${how})`, reason: 'not present' });
                continue;
            }
            try {
                this._load(place);
                return;
            } catch (err) {
                tried.push({ place: `${place} (${how})`, reason: err.message });
            }
        }
        throw new ModuleLoadError(tried, MODULE_FILE);
    }

    _load(file) {
        let handle;
        try {
            handle = koffi.load(file);
        } catch (err) {
            // koffi's message does not always name the file.
            throw new Error(err.message.includes(file) ? err.message : `${file}: ${err.message}`);
        }
        const fn = {};
        const missing = [];
        for (const [name, signature] of Object.entries(EXPORTS)) {
            try {
                fn[name] = handle.func(signature);
            } catch {
                missing.push(name);
            }
        }
        if (missing.length) {
            handle.unload();
            throw new Error(`${file} does not export ${missing.join(', ')}`);
        }
        const abi = fn.ntsrch_abi_version();
        if (abi !== ABI_VERSION) {
            handle.unload();
            throw new Error(`${file}: module ABI ${abi}, this binding needs ${ABI_VERSION}`);
        }
        this.path = file;
        this._lib = handle;
        this._fn = fn;
        this._strlen = loadStrlen();
    }

    provides(name) {
        return name in this._fn;
    }

    version() {
        return this._fn.ntsrch_version();
    }

    abiVersion() {
        return this._fn.ntsrch_abi_version();
    }

    lastError() {
        return this._fn.ntsrch_last_error();
    }

    selftest() {
        return this._fn.ntsrch_selftest();
    }

    // Makes a prepared call on this thread. fresh: the result is copied into its own
    // ArrayBuffer (to be transferred), not read in place.
    _run({ name, args, output }, fresh = false) {
        const ptr = this._fn[name](...args);
        if (ptr === null) {
            const message = this.lastError();
            throw message ? new NtsrchError(name, message) : new NtsrchMemoryError(name);
        }
        try {
            let len;
            if (this._strlen) len = Number(this._strlen(ptr));
            else len = Buffer.byteLength(koffi.decode(ptr, 'char', -1));
            const src = len ? new Uint8Array(koffi.view(ptr, len)) : EMPTY.subarray(0, 0);
            if (output !== 'bytes' && !fresh) return rules.finish(src, output);
            const out = fresh ? Buffer.allocUnsafeSlow(len) : Buffer.allocUnsafe(len);
            out.set(src);
            return out;
        } finally {
            this._fn.ntsrch_free(ptr);
        }
    }

    _url(query, baseUrl, options, how) {
        const output = rules.outputOf(rules.options(options, ['output']), false);
        const q = rules.text(query, 'query', { ...how, terminate: true });
        const b = rules.text(baseUrl, 'baseUrl', { ...how, terminate: true, utf8: output === 'string' });
        return { name: 'ntsrch_build_search_url', args: [b, q], output };
    }

    _filter(tracks, options, how) {
        const opts = rules.options(options, ['query', 'downloadedOnly', 'downloaded', 'sort', 'output', 'parse']);
        const output = rules.outputOf(opts, true);
        // The C signature's order, so that the first bad argument is the one refused.
        const t = rules.json(tracks, 'tracks', { ...how, alloc: how.big || how.alloc, terminate: true });
        const q = rules.text(opts.query, 'query', { ...how, terminate: true });
        const only = rules.flag(opts.downloadedOnly, 'downloadedOnly') ? 1 : 0;
        const d = rules.json(opts.downloaded, 'downloaded', { ...how, terminate: true });
        const sort = rules.sortMode(opts.sort);
        return { name: 'ntsrch_filter_and_sort_tracks_json', args: [t, q, only, d, sort], output };
    }

    _normalize(unified, options, how) {
        const output = rules.outputOf(rules.options(options, ['output', 'parse']), true);
        // Passed with its length: bytes are lent as they are, strings need no NUL.
        const u = rules.json(unified, 'unified', { ...how, alloc: how.big || how.alloc });
        const args = u === null ? [null, 0] : u.length ? [u, u.length] : [EMPTY, 0];
        return { name: 'ntsrch_normalize_unified_results_json', args, output };
    }

    buildSearchUrl(query, baseUrl = null, options = undefined) {
        return this._run(this._url(query, baseUrl, options, {}));
    }

    filterAndSortTracks(tracks, options = undefined) {
        return this._run(this._filter(tracks, options, this._sync));
    }

    normalizeUnifiedResults(unified, options = undefined) {
        return this._run(this._normalize(unified, options, this._sync));
    }

    buildSearchUrlAsync(query, baseUrl = null, options = undefined) {
        return this._async(() => this._url(query, baseUrl, options, ASYNC));
    }

    filterAndSortTracksAsync(tracks, options = undefined) {
        return this._async(() => this._filter(tracks, options, ASYNC));
    }

    normalizeUnifiedResultsAsync(unified, options = undefined) {
        return this._async(() => this._normalize(unified, options, ASYNC));
    }

    // Input errors become rejections too, so callers handle one path.
    _async(prepare) {
        let call;
        try {
            call = prepare();
        } catch (err) {
            return Promise.reject(err);
        }
        const worker = this._ensureWorker();
        const id = this._next++;
        const buffers = [...new Set(call.args.filter((a) => a instanceof Uint8Array && a !== EMPTY).map((a) => a.buffer))];
        return new Promise((resolve, reject) => {
            this._pending.set(id, { resolve, reject, output: call.output });
            // Only the worker keeps the process alive, and only while calls are pending.
            if (this._pending.size === 1) worker.ref();
            worker.postMessage({ id, name: call.name, args: call.args.map((a) => (a === EMPTY ? 'EMPTY' : a)) }, buffers);
        });
    }

    _ensureWorker() {
        if (this._worker) return this._worker;
        const { Worker } = require('node:worker_threads');
        const worker = new Worker(path.join(__dirname, 'worker.js'), { workerData: { path: this.path } });
        worker.unref();
        worker.on('message', (msg) => this._settle(msg));
        // A worker that close() already let go of has no calls left to fail.
        const stopped = (err) => {
            if (this._worker !== worker) return;
            this._worker = null;
            this._failAll(err);
        };
        worker.on('error', stopped);
        worker.on('exit', () => stopped(new Error('the ntsrch worker thread stopped')));
        this._worker = worker;
        return worker;
    }

    _settle({ id, bytes, error }) {
        const call = this._pending.get(id);
        if (!call) return;
        this._pending.delete(id);
        if (this._pending.size === 0 && this._worker) this._worker.unref();
        if (error) {
            const err = error.kind === 'memory' ? new NtsrchMemoryError(error.fn)
                : error.kind === 'ntsrch' ? new NtsrchError(error.fn, error.lastError)
                    : error.kind === 'load' ? new ModuleLoadError(error.tried, MODULE_FILE) : new Error(error.message);
            call.reject(err);
            return;
        }
        try {
            call.resolve(rules.finish(Buffer.from(bytes.buffer, bytes.byteOffset, bytes.byteLength), call.output));
        } catch (err) {
            call.reject(err);
        }
    }

    _failAll(err) {
        const calls = [...this._pending.values()];
        this._pending.clear();
        if (this._worker) this._worker.unref();
        for (const call of calls) call.reject(err);
    }

    // Stops the worker thread; pending async calls are rejected. The Library stays usable.
    async close() {
        this._scratch = null;
        const worker = this._worker;
        if (!worker) return;
        this._worker = null;
        this._failAll(new Error('Library closed'));
        await worker.terminate();
    }
}

// Async inputs get their own ArrayBuffers, moved to the worker rather than copied again.
const ASYNC = { alloc: (n) => Buffer.allocUnsafeSlow(n), copy: true };

// The native Library where the lookup finds a module, else the package's WebAssembly build
// (wasm/, ESM: hence a Promise), which has the same calls. Given options, only that native
// module is tried.
async function load(options = undefined) {
    try {
        return new Library(options);
    } catch (err) {
        if (options !== undefined || !(err instanceof ModuleLoadError)) throw err;
        const place = path.join(__dirname, 'wasm', 'ntsrch-wasm.mjs');
        try {
            const wasm = await import(require('node:url').pathToFileURL(place).href);
            return await wasm.load();
        } catch (wasmErr) {
            throw new ModuleLoadError([...err.tried, { place: `${place} (WebAssembly)`, reason: wasmErr.message }]);
        }
    }
}

module.exports = {
    load, Library, SortMode, NtsrchError, NtsrchMemoryError, ModuleLoadError, MODULE_FILE, ABI_VERSION, BUNDLED_MODULE,
    version: require('./package.json').version,
    _lookup: lookup,
    _EMPTY: EMPTY,
};
