// SPDX-License-Identifier: MIT
'use strict';
// Node binding of the ntsrch search client module, through koffi.
//
//   const ntsrch = require('./ntsrch');
//   const lib = new ntsrch.Library();                                   // system library path
//   const lib = new ntsrch.Library({ path: '/opt/app/nortavel-nortaveltune-search-client.so' });
//   const lib = new ntsrch.Library({ prefix: '/usr/local' });           // an install prefix
//   lib.buildSearchUrl('night skies');
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

// Text for a NUL-terminated parameter: strings as UTF-8, Buffers with a NUL appended (a
// Buffer has none of its own), other values (arrays, objects) as their JSON text.
function cText(value) {
    if (value === null || value === undefined) return null;
    if (typeof value === 'string') return value;
    if (Buffer.isBuffer(value)) return Buffer.concat([value, Buffer.alloc(1)]);
    return JSON.stringify(value);
}

class Library {
    constructor({ path: file, prefix } = {}) {
        if (file && prefix) throw new TypeError('give path or prefix, not both');
        this.path = prefix ? findInPrefix(prefix) : file || MODULE_FILE;
        this._lib = koffi.load(this.path);
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
            throw new Error(`${this.path}: module ABI ${abi}, this binding needs ${ABI_VERSION}`);
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

    // unified: JSON text, a Buffer holding it (passed with its length) or a JS value.
    normalizeUnifiedResults(unified, { parse = false } = {}) {
        let text = Buffer.isBuffer(unified) ? unified : cText(unified);
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

module.exports = { Library, SortMode, NtsrchError, NtsrchMemoryError, MODULE_FILE, ABI_VERSION };
