// SPDX-License-Identifier: MIT
'use strict';
// Node binding of the ntsrch search client module, through koffi.
//
//   const ntsrch = require('ntsrch');
//   const lib = new ntsrch.Library();                                   // see below
//   const lib = new ntsrch.Library({ path: '/opt/app/nortavel-nortaveltune-search-client.so' });
//   const lib = new ntsrch.Library({ prefix: '/usr/local' });           // an install prefix
//   lib.buildSearchUrl('night skies');
//
// Finding the module: an explicit path or prefix is the only place tried. Otherwise the
// Library tries, in order, the file named by $NTSRCH_MODULE, the copy bundled in this
// package (prebuilds/<platform>-<arch>/, with its libyyjson.so.0), then the system
// library path by file name; the first that loads and has this binding's ABI wins. When
// none does, ModuleLoadError lists every place tried and why each failed.
//
// Owned results are declared as a disposable string type whose disposal function is
// ntsrch_free: koffi copies the text into a JS string, then releases the pointer. Calls are
// synchronous, so the last-error text is read on the thread that made the failed call. A
// failure throws NtsrchError with that text; lack of memory throws NtsrchMemoryError.
// In worker threads, create one Library per worker.

const fs = require('node:fs');
const path = require('node:path');
const koffi = require('koffi');

const MODULE_FILE = 'nortavel-nortaveltune-search-client.so';
const ABI_VERSION = 1;
const BUNDLED_MODULE = path.join(__dirname, 'prebuilds', `${process.platform}-${process.arch}`, MODULE_FILE);
// The places after $NTSRCH_MODULE; tests point them elsewhere.
const lookup = { bundled: BUNDLED_MODULE, system: MODULE_FILE };

const SortMode = Object.freeze({
    NONE: 0,
    TITLE_ASC: 1,
    ARTIST_ASC: 2,
    NEWEST_FIRST: 3,
    SHORTEST_FIRST: 4,
    DOWNLOADED_FIRST: 5,
});

class NtsrchError extends Error {
    constructor(fn, lastError) {
        super(lastError ? `${fn}: ${lastError}` : `${fn}: out of memory`);
        this.name = 'NtsrchError';
        this.function = fn;
        this.lastError = lastError;
    }
}

class NtsrchMemoryError extends NtsrchError {
    constructor(fn) {
        super(fn, '');
        this.name = 'NtsrchMemoryError';
    }
}

class ModuleLoadError extends Error {
    constructor(tried) {
        super(`could not load ${MODULE_FILE}; tried:${tried.map((t) => `\n  ${t.place}: ${t.reason}`).join('')}`);
        this.name = 'ModuleLoadError';
        this.tried = tried;
    }
}

function candidates() {
    const list = [];
    if (process.env.NTSRCH_MODULE) list.push({ file: process.env.NTSRCH_MODULE, how: '$NTSRCH_MODULE' });
    list.push({ file: lookup.bundled, how: 'bundled' }, { file: lookup.system, how: 'system library path' });
    return list;
}

function findInPrefix(prefix) {
    const libroot = path.join(prefix, 'lib');
    const candidates = [path.join(libroot, MODULE_FILE), path.join(prefix, 'lib64', MODULE_FILE)];
    if (fs.existsSync(libroot)) {
        // multiarch, e.g. lib/x86_64-linux-gnu
        for (const d of fs.readdirSync(libroot).sort()) candidates.push(path.join(libroot, d, MODULE_FILE));
    }
    const found = candidates.find((p) => fs.existsSync(p) && fs.statSync(p).isFile());
    if (!found) throw new Error(`${MODULE_FILE} not found under ${prefix}`);
    return found;
}

function bytesOf(view) {
    return Buffer.isBuffer(view) ? view : Buffer.from(view.buffer, view.byteOffset, view.byteLength);
}

// Text for a NUL-terminated parameter: strings as UTF-8, bytes (Buffer, Uint8Array) with a
// NUL appended (they have none of their own), other values (arrays, objects) as their
// JSON text.
function cText(value) {
    if (value === null || value === undefined) return null;
    if (typeof value === 'string') return value;
    if (value instanceof Uint8Array) return Buffer.concat([bytesOf(value), Buffer.alloc(1)]);
    return JSON.stringify(value);
}

class Library {
    constructor({ path: file, prefix } = {}) {
        if (file && prefix) throw new TypeError('give path or prefix, not both');
        if (prefix || file) {
            this._load(prefix ? findInPrefix(prefix) : file);
            return;
        }
        const tried = [];
        for (const { file: place, how } of candidates()) {
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
        throw new ModuleLoadError(tried);
    }

    _load(file) {
        this.path = file;
        try {
            this._lib = koffi.load(file);
        } catch (err) {
            // koffi's message does not always name the file.
            throw new Error(err.message.includes(file) ? err.message : `${file}: ${err.message}`);
        }
        const release = this._lib.func('void ntsrch_free(void *p)');
        // Looked up at each release, so a test can trace it.
        const Owned = koffi.disposable('str', (p) => this._fn.ntsrch_free(p));
        const signatures = {
            ntsrch_version: ['const char *', []],
            ntsrch_abi_version: ['int', []],
            ntsrch_last_error: ['const char *', []],
            ntsrch_build_search_url: [Owned, ['const char *', 'const char *']],
            ntsrch_filter_and_sort_tracks_json: [Owned, ['const char *', 'const char *', 'int', 'const char *', 'int']],
            ntsrch_normalize_unified_results_json: [Owned, ['const char *', 'size_t']],
            ntsrch_selftest: ['int', []],
        };
        this._fn = { ntsrch_free: release };
        for (const [name, [result, args]] of Object.entries(signatures)) {
            try {
                this._fn[name] = this._lib.func(name, result, args);
            } catch {
                // reported when called, see _call
            }
        }
        const abi = this.abiVersion();
        if (abi !== ABI_VERSION) {
            this._lib.unload();
            throw new Error(`${file}: module ABI ${abi}, this binding needs ${ABI_VERSION}`);
        }
    }

    provides(name) {
        return name in this._fn;
    }

    _call(name, ...args) {
        const fn = this._fn[name];
        if (!fn) throw new Error(`${this.path} does not export ${name}`);
        return fn(...args);
    }

    // Owned text comes back already copied and released; null means the call failed.
    _produce(name, ...args) {
        const out = this._call(name, ...args);
        if (out !== null) return out;
        const message = this.lastError();
        throw message ? new NtsrchError(name, message) : new NtsrchMemoryError(name);
    }

    version() {
        return this._call('ntsrch_version');
    }

    abiVersion() {
        return this._call('ntsrch_abi_version');
    }

    lastError() {
        return this._call('ntsrch_last_error');
    }

    selftest() {
        return this._call('ntsrch_selftest');
    }

    buildSearchUrl(query, baseUrl = null) {
        return this._produce('ntsrch_build_search_url', cText(baseUrl), cText(query));
    }

    // tracks, downloaded: JSON text or JS values. parse: return JS values, not JSON text.
    filterAndSortTracks(tracks, { query = null, downloadedOnly = false, downloaded = null, sort = SortMode.NONE, parse = false } = {}) {
        const out = this._produce('ntsrch_filter_and_sort_tracks_json', cText(tracks), cText(query),
            downloadedOnly ? 1 : 0, cText(downloaded), sort | 0);
        return parse ? JSON.parse(out) : out;
    }

    // unified: JSON text, bytes holding it (Buffer or Uint8Array, passed with their length)
    // or a JS value.
    normalizeUnifiedResults(unified, { parse = false } = {}) {
        let text = unified instanceof Uint8Array ? bytesOf(unified) : cText(unified);
        let len = 0; // 0: NUL-terminated
        if (Buffer.isBuffer(text)) {
            len = text.length;
            if (len === 0) text = '';
        } else if (text !== null) {
            len = Buffer.byteLength(text, 'utf8');
        }
        const out = this._produce('ntsrch_normalize_unified_results_json', text, len);
        return parse ? JSON.parse(out) : out;
    }
}

module.exports = {
    Library, SortMode, NtsrchError, NtsrchMemoryError, ModuleLoadError, MODULE_FILE, ABI_VERSION, BUNDLED_MODULE,
    version: require('./package.json').version,
    _lookup: lookup,
};
