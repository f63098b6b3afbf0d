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
// Finding the module: an explicit path or prefix, else the file named by $NTSRCH_MODULE, is
// the only place tried. Otherwise the Library tries the prebuild in this package
// (prebuilds/<platform>-<arch>/), then the system library path by file name. A place that
// is cut short, does not load, lacks one of the eight exports or has another ABI is passed
// over with its reason; when none works, ModuleLoadError lists every place and reason.
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

// The C library's strlen and memcpy: results are measured and copied out with them.
// koffi.view() would save the copy, but each view keeps about 230 bytes that are never
// given back, and it throws from inside koffi while a worker is being terminated, which
// aborts the process.
let libc;
function loadLibc() {
    if (libc) return libc;
    const names = process.platform === 'win32' ? ['ucrtbase.dll', 'msvcrt.dll'] : [null, process.platform === 'darwin' ? 'libSystem.B.dylib' : 'libc.so.6'];
    for (const name of names) {
        try {
            const h = koffi.load(name);
            libc = { strlen: h.func('size_t strlen(const void *s)'), memcpy: h.func('void *memcpy(void *dst, const void *src, size_t n)') };
            return libc;
        } catch {
            // next name
        }
    }
    throw new Error(`the C library's strlen and memcpy are not found in ${names.map((n) => n || 'the process').join(', ')}`);
}

// $NTSRCH_MODULE, when set, is the one place tried, as an explicit path is.
function candidates() {
    if (process.env.NTSRCH_MODULE) return [{ file: process.env.NTSRCH_MODULE, how: '$NTSRCH_MODULE' }];
    return [{ file: lookup.bundled, how: 'bundled' }, { file: lookup.system, how: 'system library path' }];
}

// The bytes a module file's own headers say it holds (ELF program headers, PE sections,
// Mach-O segments), or 0 for a file in none of these forms. A partly copied module kills
// the process inside dlopen (SIGBUS) rather than failing, so it is measured first.
function headerExtent(fd, size) {
    const read = (off, n) => {
        const b = Buffer.alloc(n);
        return off + n <= size && fs.readSync(fd, b, 0, n, off) === n ? b : null;
    };
    const head = read(0, Math.min(size, 64));
    if (!head || head.length < 8) return 0;
    let need = 0;
    const grow = (n) => { need = Math.max(need, n); return size >= n; };
    if (head.readUInt32BE(0) === 0x7f454c46) {
        const wide = head[4] === 2;
        const le = head[5] === 1;
        const u16 = (b, o) => (le ? b.readUInt16LE(o) : b.readUInt16BE(o));
        const u32 = (b, o) => (le ? b.readUInt32LE(o) : b.readUInt32BE(o));
        const word = (b, o) => (wide ? Number(le ? b.readBigUInt64LE(o) : b.readBigUInt64BE(o)) : u32(b, o));
        if (!grow(wide ? 64 : 52)) return need;
        const phoff = word(head, wide ? 32 : 28);
        const entry = u16(head, wide ? 54 : 42);
        const count = u16(head, wide ? 56 : 44);
        if (!grow(phoff + entry * count)) return need;
        const table = read(phoff, entry * count);
        for (let i = 0; i < count; i++) {
            const o = i * entry;
            grow(word(table, o + (wide ? 8 : 4)) + word(table, o + (wide ? 32 : 16)));
        }
        return need;
    }
    if (head.readUInt16BE(0) === 0x4d5a) {
        if (!grow(64)) return need;
        const pe = head.readUInt32LE(0x3c);
        const coff = read(pe, 24);
        if (!coff) {
            grow(pe + 24);
            return need;
        }
        if (coff.readUInt32BE(0) !== 0x50450000) return 0;
        const count = coff.readUInt16LE(6);
        const table = pe + 24 + coff.readUInt16LE(20);
        if (!grow(table + 40 * count)) return need;
        const sections = read(table, 40 * count);
        for (let i = 0; i < count; i++) {
            const raw = sections.readUInt32LE(i * 40 + 16);
            if (raw) grow(sections.readUInt32LE(i * 40 + 20) + raw);
        }
        return need;
    }
    if (head.readUInt32BE(0) === 0xcafebabe) {
        const count = head.readUInt32BE(4);
        if (!grow(8 + 20 * count)) return need;
        const archs = read(8, 20 * count);
        for (let i = 0; i < count; i++) grow(archs.readUInt32BE(i * 20 + 8) + archs.readUInt32BE(i * 20 + 12));
        return need;
    }
    const magic = head.readUInt32LE(0);
    const wide = magic === 0xfeedfacf || magic === 0xcffaedfe;
    if (!wide && magic !== 0xfeedface && magic !== 0xcefaedfe) return 0;
    const le = magic === 0xfeedfacf || magic === 0xfeedface;
    const u32 = (b, o) => (le ? b.readUInt32LE(o) : b.readUInt32BE(o));
    const u64 = (b, o) => Number(le ? b.readBigUInt64LE(o) : b.readBigUInt64BE(o));
    const top = wide ? 32 : 28;
    if (!grow(top)) return need;
    const count = u32(head, 16);
    if (!grow(top + u32(head, 20))) return need;
    const cmds = read(top, u32(head, 20));
    for (let i = 0, o = 0; i < count && o + 8 <= cmds.length; i++) {
        const cmd = u32(cmds, o);
        const len = u32(cmds, o + 4);
        if (cmd === 0x19 && o + 56 <= cmds.length) grow(u64(cmds, o + 40) + u64(cmds, o + 48));
        if (cmd === 0x1 && o + 40 <= cmds.length) grow(u32(cmds, o + 32) + u32(cmds, o + 36));
        if (len < 8) break;
        o += len;
    }
    return need;
}

// Why the file at place would crash the loader, or null. Bare names are the system's.
function truncated(place) {
    let fd;
    try {
        fd = fs.openSync(place, 'r');
    } catch {
        return null; // the loader says why
    }
    try {
        const { size } = fs.fstatSync(fd);
        const need = headerExtent(fd, size);
        return need > size ? `truncated: ${size} bytes, headers need ${need}` : null;
    } finally {
        fs.closeSync(fd);
    }
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
// Results up to this size are copied out through a Library's result buffer.
const RESULT_MAX = 16 * 1024 * 1024;
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
        const big = (n) => {
            if (n > SCRATCH_MAX) return Buffer.allocUnsafe(n);
            if (!this._scratch || this._scratch.length < n) {
                this._scratch = null;
                this._scratch = Buffer.allocUnsafeSlow(Math.min(SCRATCH_MAX, Math.max(n + (n >> 3), 65536)));
            }
            return this._scratch.subarray(0, n);
        };
        // Made once: an object spread per call grows RSS that V8 does not hand back.
        this._sync = { text: { terminate: true }, utf8: { terminate: true, utf8: true }, big: { alloc: big, terminate: true }, span: { alloc: big } };
        this._next = 0;
        // Results read as text are copied here first, then decoded.
        this._result = Buffer.allocUnsafeSlow(4096);
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
        const cut = truncated(file);
        if (cut) throw new Error(cut);
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
        this._libc = loadLibc();
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
            const len = Number(this._libc.strlen(ptr));
            if (output !== 'bytes' && !fresh) {
                // Decoding copies again, so the buffer is free for the next call.
                if (this._result.length < len) {
                    const room = Math.max(len, this._result.length * 2);
                    if (room > RESULT_MAX) {
                        const once = Buffer.allocUnsafe(len);
                        this._libc.memcpy(once, ptr, len);
                        return rules.finish(once, output);
                    }
                    this._result = Buffer.allocUnsafeSlow(room);
                }
                this._libc.memcpy(this._result, ptr, len);
                return rules.finish(this._result.subarray(0, len), output);
            }
            const out = fresh ? Buffer.allocUnsafeSlow(len) : Buffer.allocUnsafe(len);
            if (len) this._libc.memcpy(out, ptr, len);
            return out;
        } finally {
            this._fn.ntsrch_free(ptr);
        }
    }

    _url(query, baseUrl, options, how) {
        const output = rules.outputOf(rules.options(options, ['output']), false);
        // The C signature's order (base first), so that the first bad argument is the one refused.
        const b = rules.text(baseUrl, 'baseUrl', output === 'string' ? how.utf8 : how.text);
        const q = rules.text(query, 'query', how.text);
        return { name: 'ntsrch_build_search_url', args: [b, q], output };
    }

    _filter(tracks, options, how) {
        const opts = rules.options(options, ['query', 'downloadedOnly', 'downloaded', 'sort', 'output', 'parse']);
        const output = rules.outputOf(opts, true);
        // The C signature's order, so that the first bad argument is the one refused.
        const t = rules.json(tracks, 'tracks', how.big);
        const q = rules.text(opts.query, 'query', how.text);
        const only = rules.flag(opts.downloadedOnly, 'downloadedOnly') ? 1 : 0;
        const d = rules.json(opts.downloaded, 'downloaded', how.text);
        const sort = rules.sortMode(opts.sort);
        return { name: 'ntsrch_filter_and_sort_tracks_json', args: [t, q, only, d, sort], output };
    }

    _normalize(unified, options, how) {
        const output = rules.outputOf(rules.options(options, ['output', 'parse']), true);
        // Passed with its length: bytes are lent as they are, strings need no NUL.
        const u = rules.json(unified, 'unified', how.span);
        const args = u === null ? [null, 0] : u.length ? [u, u.length] : [EMPTY, 0];
        return { name: 'ntsrch_normalize_unified_results_json', args, output };
    }

    buildSearchUrl(query, baseUrl = null, options = undefined) {
        return this._run(this._url(query, baseUrl, options, this._sync));
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
        // Terminating a worker while koffi registers itself there aborts the process
        // (koffi throws into a stopping thread), so close() waits for this first.
        let started;
        worker.started = new Promise((resolve) => { started = resolve; });
        worker.on('message', (msg) => (msg === 'started' ? started() : this._settle(msg)));
        worker.once('exit', () => started());
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
        this._result = Buffer.allocUnsafeSlow(4096);
        const worker = this._worker;
        if (!worker) return;
        this._worker = null;
        this._failAll(new Error('Library closed'));
        await worker.started;
        await worker.terminate();
    }
}

// Async inputs get their own ArrayBuffers, moved to the worker rather than copied again.
const ASYNC = (() => {
    const alloc = (n) => Buffer.allocUnsafeSlow(n);
    const text = { alloc, copy: true, terminate: true };
    return { text, utf8: { ...text, utf8: true }, big: text, span: { alloc, copy: true } };
})();

// The native Library where the lookup finds a module, else the package's WebAssembly build
// (wasm/, ESM: hence a Promise), which has the same calls. Given options or
// $NTSRCH_MODULE, only that native module is tried.
async function load(options = undefined) {
    try {
        return new Library(options);
    } catch (err) {
        if (options !== undefined || process.env.NTSRCH_MODULE || !(err instanceof ModuleLoadError)) throw err;
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
