// SPDX-License-Identifier: MIT
// WebAssembly binding of the ntsrch search client module, for Node and browsers.
//
//   import { load } from 'ntsrch/wasm';
//   const lib = await load();            // the .wasm beside this file (fetched in a page)
//   const lib = await load(urlOrBytes);  // a URL, a path (Node), bytes or a WebAssembly.Module
//   const lib = loadSync();              // Node only
//   lib.buildSearchUrl('night skies');
//
// Same calls, input rules, errors and output choices as the native Node binding (the rules
// are its rules.js, turned into ESM when this folder is assembled). Input is checked and
// taken whole before it is copied into the module's memory; the result comes back with one
// decode (or one copy for 'bytes'); every block is returned to the module's allocator
// before a call returns. ...Async calls run in
// one Worker per library (worker_threads in Node, a module Web Worker in a page) that
// instantiates the same compiled module and calls it synchronously there.
import * as rules from './rules.mjs';

export const { SortMode, NtsrchError, NtsrchMemoryError, ModuleLoadError } = rules;
export const MODULE_FILE = 'nortavel-nortaveltune-search-client.wasm';
export const ABI_VERSION = 1;

const IS_NODE = typeof process === 'object' && process !== null && typeof process.versions?.node === 'string';
// Files are read synchronously by loadSync; a page never evaluates this import.
const nodeFs = IS_NODE ? await import('node:fs') : null;
const nodeWorkers = IS_NODE ? await import('node:worker_threads') : null;
const DEFAULT_URL = new URL(`./${MODULE_FILE}`, import.meta.url);
const CALLS = {
    url: 'ntsrch_build_search_url',
    filter: 'ntsrch_filter_and_sort_tracks_json',
    normalize: 'ntsrch_normalize_unified_results_json',
};

function loadFailure(place, err) {
    return new ModuleLoadError([{ place: String(place), reason: err && err.message ? err.message : String(err) }], MODULE_FILE);
}

// A compiled module from a URL, a path (Node), bytes, a Response or a WebAssembly.Module.
async function compile(source) {
    if (source instanceof WebAssembly.Module) return source;
    if (typeof Response === 'function' && source instanceof Response) {
        return WebAssembly.compile(await source.arrayBuffer());
    }
    if (ArrayBuffer.isView(source) || source instanceof ArrayBuffer) return WebAssembly.compile(source);
    const url = source instanceof URL ? source : IS_NODE && !/^[a-z][a-z0-9+.-]*:/i.test(source) ? null : new URL(source, import.meta.url);
    if (IS_NODE && (url === null || url.protocol === 'file:')) {
        return WebAssembly.compile(await nodeFs.promises.readFile(url ?? source));
    }
    const response = await fetch(url);
    if (!response.ok) throw new Error(`HTTP ${response.status}`);
    // compileStreaming needs the application/wasm type, which not every server sends.
    return WebAssembly.compile(await response.arrayBuffer());
}

export async function load(source = DEFAULT_URL) {
    let module;
    try {
        module = await compile(source);
    } catch (err) {
        throw loadFailure(source instanceof URL || typeof source === 'string' ? source : 'given bytes', err);
    }
    return new WasmLibrary(module);
}

// Node: compiles and instantiates on the spot (a browser's main thread may refuse that).
export function loadSync(source = DEFAULT_URL) {
    if (source instanceof WebAssembly.Module) return new WasmLibrary(source);
    let bytes = source;
    try {
        if (!(ArrayBuffer.isView(source) || source instanceof ArrayBuffer)) {
            if (!IS_NODE) throw new Error('loadSync reads files only under Node; give bytes or use load()');
            bytes = nodeFs.readFileSync(source);
        }
        return new WasmLibrary(new WebAssembly.Module(bytes));
    } catch (err) {
        if (err instanceof ModuleLoadError) throw err;
        throw loadFailure(bytes === source && typeof source !== 'string' && !(source instanceof URL) ? 'given bytes' : source, err);
    }
}

// Pointers come back from the module as signed i32: above 2 GiB they would read as negative.
const u32 = (p) => p >>> 0;

// One instance of the module: raw calls with text in its memory.
export class Engine {
    constructor(module) {
        this.module = module;
        const { exports: e } = new WebAssembly.Instance(module, {});
        for (const name of ['memory', 'malloc', 'free', '_initialize', ...Object.values(CALLS),
            'ntsrch_version', 'ntsrch_abi_version', 'ntsrch_last_error', 'ntsrch_free', 'ntsrch_selftest']) {
            if (!(name in e)) throw new Error(`the module does not export ${name}`);
        }
        e._initialize();
        const abi = e.ntsrch_abi_version();
        if (abi !== ABI_VERSION) throw new Error(`module ABI ${abi}, this binding needs ${ABI_VERSION}`);
        this.e = e;
        this.owned = [];
    }

    release() {
        for (const p of this.owned) this.e.free(p);
        this.owned.length = 0;
    }

    cString(p) {
        const heap = new Uint8Array(this.e.memory.buffer);
        return heap.subarray(p, heap.indexOf(0, p));
    }

    text(p) {
        return rules.decode(this.cString(u32(p)));
    }

    // args: pointers (from put) and integers. The result's bytes are handed to take() while
    // the block is still the module's, then the block is freed.
    call(kind, args, take) {
        const name = CALLS[kind];
        try {
            const p = u32(this.e[name](...args));
            if (p === 0) {
                const why = this.text(this.e.ntsrch_last_error());
                throw why ? new NtsrchError(name, why) : new NtsrchMemoryError(name);
            }
            try {
                return take(this.cString(p));
            } finally {
                this.e.ntsrch_free(p);
            }
        } finally {
            this.release();
        }
    }

    // Checked text, copied into a block of the module's heap with a NUL after it. Any malloc
    // may grow the memory and so detach every view over it: the view is made after the
    // malloc and dropped at once, and only the address is kept.
    put(bytes) {
        if (bytes === null) return 0;
        const n = bytes.length + 1;
        // wasm32's size_t: a larger request would wrap to a small block.
        const p = n <= 0xffffffff ? u32(this.e.malloc(n)) : 0;
        if (p === 0) throw new NtsrchMemoryError('malloc');
        this.owned.push(p);
        const room = new Uint8Array(this.e.memory.buffer, p, n);
        room.set(bytes);
        room[bytes.length] = 0;
        return p;
    }

    // Every input's bytes are taken before the first write into the module's memory: a
    // getter inside a value may call this same instance, and a later malloc may grow the
    // memory under an earlier view.
    run(kind, args, take) {
        try {
            const cargs = args.map((a) => (typeof a === 'number' ? a : this.put(a)));
            return this.call(kind, cargs, take);
        } finally {
            this.release();
        }
    }
}

const copyOut = IS_NODE ? (view) => Buffer.from(view) : (view) => view.slice();

const SYNC = {};

function finisher(output) {
    return output === 'bytes' ? copyOut : (view) => rules.finish(view, output);
}

export class WasmLibrary {
    constructor(module) {
        try {
            this._engine = new Engine(module);
        } catch (err) {
            throw loadFailure('WebAssembly module', err);
        }
        this.path = MODULE_FILE;
        this._worker = null;
        this._pending = new Map();
        this._nextId = 1;
    }

    provides(name) {
        return name.startsWith('ntsrch_') && typeof this._engine.e[name] === 'function';
    }

    version() {
        return this._engine.text(this._engine.e.ntsrch_version());
    }

    abiVersion() {
        return this._engine.e.ntsrch_abi_version();
    }

    lastError() {
        return this._engine.text(this._engine.e.ntsrch_last_error());
    }

    selftest() {
        return this._engine.e.ntsrch_selftest();
    }

    // Each prepare* checks the inputs and takes their bytes (into plain memory from
    // how.alloc, or lent from the caller's own bytes), and returns the C arguments as
    // [kind, [bytes, null or integer...], output]. The order of checks: the options object,
    // then the parameters in the order of bindings/contract/README.md. Nothing touches the
    // module's memory before every input is taken.
    _prepareUrl(query, baseUrl, opts, how) {
        const output = rules.outputOf(rules.options(opts, ['output']), false);
        // A base URL given as bytes must decode when a string is asked for.
        const base = rules.text(baseUrl, 'baseUrl', output === 'string' ? { ...how, utf8: true } : how);
        const q = rules.text(query, 'query', how);
        return ['url', [base, q], output];
    }

    _prepareFilter(tracks, opts, how) {
        const o = rules.options(opts, ['query', 'downloadedOnly', 'downloaded', 'sort', 'output', 'parse']);
        const output = rules.outputOf(o, true);
        const t = rules.json(tracks, 'tracks', how);
        const q = rules.text(o.query, 'query', how);
        const only = rules.flag(o.downloadedOnly, 'downloadedOnly');
        const d = rules.json(o.downloaded, 'downloaded', how);
        const sort = rules.sortMode(o.sort);
        return ['filter', [t, q, only ? 1 : 0, d, sort], output];
    }

    _prepareNormalize(unified, opts, how) {
        const output = rules.outputOf(rules.options(opts, ['output', 'parse']), true);
        const u = rules.json(unified, 'unified', how);
        // The length keeps the call exact whatever the bytes hold; 0 would mean "up to the NUL".
        return ['normalize', [u, u === null ? 0 : u.length], output];
    }

    // Sync calls lend the caller's bytes (they are copied into the module once, all after
    // the last getter has run) and encode strings into scratch memory.
    _sync(prepare) {
        const [kind, args, output] = prepare(SYNC);
        return this._engine.run(kind, args, finisher(output));
    }

    // Inputs are checked here, on the caller's thread, so bad input rejects the Promise with
    // the same error the sync call throws; the text travels as bytes moved to the worker.
    _async(prepare) {
        let call;
        try {
            // Own buffers (never Buffer's shared pool), so they can be moved to the worker.
            call = prepare({ alloc: (n) => new Uint8Array(n), copy: true });
        } catch (err) {
            return Promise.reject(err);
        }
        const [kind, args, output] = call;
        const transfer = args.filter((a) => a !== null && typeof a === 'object').map((a) => a.buffer);
        return this._post({ kind, args }, transfer).then((bytes) => {
            if (output === 'bytes') return IS_NODE ? Buffer.from(bytes.buffer, bytes.byteOffset, bytes.length) : bytes;
            return rules.finish(bytes, output);
        });
    }

    async _post(message, transfer) {
        const worker = this._ensureWorker();
        const id = this._nextId++;
        return new Promise((resolve, reject) => {
            this._pending.set(id, { resolve, reject });
            if (this._pending.size === 1 && worker.ref) worker.ref();
            worker.postMessage({ id, ...message }, transfer);
        });
    }

    _settle({ id, bytes, error }) {
        const pending = this._pending.get(id);
        if (!pending) return;
        this._pending.delete(id);
        // An idle worker must not keep a Node process alive.
        if (this._pending.size === 0 && this._worker?.unref) this._worker.unref();
        if (!error) return pending.resolve(bytes);
        if (error.kind === 'memory') return pending.reject(new NtsrchMemoryError(error.fn));
        if (error.kind === 'ntsrch') return pending.reject(new NtsrchError(error.fn, error.lastError));
        return pending.reject(new Error(error.message));
    }

    _failAll(err) {
        const calls = [...this._pending.values()];
        this._pending.clear();
        for (const { reject } of calls) reject(err);
    }

    // A worker that failed or stopped takes its pending calls with it; a successor started
    // since then is left alone.
    _lost(worker, err) {
        if (this._worker !== worker) return;
        this._worker = null;
        this._failAll(err);
    }

    _ensureWorker() {
        if (!this._worker) this._worker = this._startWorker();
        return this._worker;
    }

    _startWorker() {
        const url = new URL('./worker.mjs', import.meta.url);
        let worker;
        if (IS_NODE) {
            // --input-type (node -e) would refuse the worker's file.
            const execArgv = process.execArgv.filter((a) => !a.startsWith('--input-type'));
            worker = new nodeWorkers.Worker(url, { workerData: { module: this._engine.module }, execArgv });
            worker.on('message', (m) => this._settle(m));
            worker.on('error', (err) => this._lost(worker, err));
            worker.on('exit', (code) => this._lost(worker, new Error(`worker exited with code ${code}`)));
            worker.unref();
        } else {
            worker = new Worker(url, { type: 'module' });
            worker.onmessage = (ev) => this._settle(ev.data);
            worker.onerror = (ev) => this._lost(worker, new Error(ev.message || 'worker failed'));
            worker.postMessage({ module: this._engine.module });
        }
        return worker;
    }

    // Stops the worker thread; pending async calls are rejected. The library stays usable.
    async close() {
        const worker = this._worker;
        if (!worker) return;
        this._worker = null;
        this._failAll(new Error('Library closed'));
        await worker.terminate();
    }
}

// Each call as a value and as a Promise (name + 'Async'): the same arguments, the same checks.
const PUBLIC_CALLS = {
    buildSearchUrl: (lib, how, query, baseUrl = null, options = undefined) =>
        lib._prepareUrl(query, baseUrl, options, how),
    filterAndSortTracks: (lib, how, tracks, options = undefined) => lib._prepareFilter(tracks, options, how),
    normalizeUnifiedResults: (lib, how, unified, options = undefined) =>
        lib._prepareNormalize(unified, options, how),
};
for (const [name, prepare] of Object.entries(PUBLIC_CALLS)) {
    const methods = {
        [name](...args) {
            return this._sync((how) => prepare(this, how, ...args));
        },
        [`${name}Async`](...args) {
            return this._async((how) => prepare(this, how, ...args));
        },
    };
    // As a class body would define them: not enumerable.
    for (const [key, value] of Object.entries(methods))
        Object.defineProperty(WasmLibrary.prototype, key, { value, writable: true, configurable: true });
}
