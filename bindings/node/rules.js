// SPDX-License-Identifier: MIT
'use strict';
// The input rules every JS binding of ntsrch applies before a call, and its error classes.
// No FFI here: the native (koffi) binding and the WebAssembly binding both use it, so it
// relies on TextEncoder/TextDecoder and Uint8Array, and on Buffer only when it exists.
//
// Interface (all throw TypeError/RangeError naming the parameter, before any call; a NUL,
// a lone surrogate, a detached ArrayBuffer or a value nested past the stack is a TypeError
// with code ERR_INVALID_ARG_VALUE):
//   options(value, keys)            -> a plain options object ({} for undefined)
//   outputOf(opts, json)            -> 'string' | 'bytes' | 'value' (json: false refuses 'value')
//   text(value, name, how)          -> null | Uint8Array holding UTF-8 text
//   json(value, name, how)          -> null | Uint8Array holding JSON text
//       how = { alloc(n) -> Uint8Array, terminate, copy, utf8 }
//         terminate: the result ends with one NUL byte (not part of the text);
//         copy: bytes given by the caller are copied even when they could be lent;
//         utf8: bytes must be valid UTF-8 (strings always are);
//         nullable: false refuses null/undefined.
//   sortMode(value), flag(value, name)
//   decode(bytes) -> string;  finish(bytes, output) -> the result in the chosen output form

const HAS_BUFFER = typeof Buffer === 'function' && typeof Buffer.byteLength === 'function';
const encoder = new TextEncoder();
const decoder = new TextDecoder();
const strictDecoder = new TextDecoder('utf-8', { fatal: true });

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
    constructor(tried, what = 'the ntsrch module') {
        super(`could not load ${what}; tried:${tried.map((t) => `\n  ${t.place}: ${t.reason}`).join('')}`);
        this.name = 'ModuleLoadError';
        this.tried = tried;
    }
}

function typeError(name, message) {
    return new TypeError(`${name}: ${message}`);
}

// Node's code for a value of the right type that cannot be used.
function valueError(name, message) {
    const err = new TypeError(`${name}: ${message}`);
    err.code = 'ERR_INVALID_ARG_VALUE';
    return err;
}

function describe(value) {
    if (value === null) return 'null';
    if (typeof value !== 'object') return typeof value;
    const ctor = Object.getPrototypeOf(value)?.constructor;
    return ctor && ctor.name ? `${/^[AEIOU]/.test(ctor.name) ? 'an' : 'a'} ${ctor.name}` : 'an object';
}

function isPlainObject(value) {
    if (value === null || typeof value !== 'object') return false;
    const proto = Object.getPrototypeOf(value);
    return proto === Object.prototype || proto === null;
}

function options(value, keys) {
    if (value === undefined) return {};
    if (!isPlainObject(value)) throw typeError('options', `must be a plain object, not ${describe(value)}`);
    for (const key of Object.keys(value)) {
        if (!keys.includes(key)) throw typeError('options', `unknown option '${key}'`);
    }
    return value;
}

const OUTPUTS = ['string', 'bytes', 'value'];

function outputOf(opts, json) {
    const { output, parse } = opts;
    if (parse !== undefined && typeof parse !== 'boolean') throw typeError('parse', `must be a boolean, not ${describe(parse)}`);
    if (output !== undefined && !OUTPUTS.includes(output)) {
        throw typeError('output', `must be one of ${OUTPUTS.map((o) => `'${o}'`).join(', ')}, not ${typeof output === 'string' ? `'${output}'` : describe(output)}`);
    }
    if (!json && output === 'value') throw typeError('output', "'value' is for JSON results; a URL is not JSON");
    if (parse && output !== undefined && output !== 'value') throw typeError('parse', `true asks for output 'value', not '${output}'`);
    return parse ? 'value' : output || 'string';
}

// A detached ArrayBuffer (moved to another thread, or transferred) throws when viewed.
function detached(buffer) {
    if (typeof buffer.detached === 'boolean') return buffer.detached;
    try {
        new Uint8Array(buffer); // eslint-disable-line no-new
        return false;
    } catch {
        return true;
    }
}

// A Uint8Array over the bytes of any ArrayBufferView or ArrayBuffer; undefined for others;
// null when its ArrayBuffer is detached.
function bytesOf(value) {
    if (ArrayBuffer.isView(value)) {
        // A DataView over a detached buffer throws on byteLength itself.
        if (detached(value.buffer)) return null;
        return value instanceof Uint8Array ? value : new Uint8Array(value.buffer, value.byteOffset, value.byteLength);
    }
    if (value instanceof ArrayBuffer) return detached(value) ? null : new Uint8Array(value);
    return undefined;
}

// The first lone surrogate in s as a count of code points before it, or -1. UTF-8 cannot
// carry one: encoding would put U+FFFD in its place without a word.
const LONE = /[\uD800-\uDFFF]/u;
function loneSurrogate(s) {
    if (typeof s.isWellFormed === 'function' ? s.isWellFormed() : !LONE.test(s)) return -1;
    const at = LONE.exec(s).index;
    let n = 0;
    for (let i = 0; i < at; i++, n++) {
        const c = s.charCodeAt(i);
        if (c >= 0xd800 && c <= 0xdbff) i++; // a pair: every surrogate before at has its mate
    }
    return n;
}

function checkWellFormed(s, name) {
    const at = loneSurrogate(s);
    if (at >= 0) throw valueError(name, `not encodable as UTF-8 at character ${at}`);
}

function asBuffer(u8) {
    return Buffer.isBuffer(u8) ? u8 : Buffer.from(u8.buffer, u8.byteOffset, u8.length);
}

function defaultAlloc(n) {
    return HAS_BUFFER ? Buffer.allocUnsafe(n) : new Uint8Array(n);
}

// First byte of an invalid UTF-8 sequence (only called once a strict decode failed).
function invalidUtf8At(b) {
    for (let i = 0; i < b.length;) {
        const c = b[i];
        let n = 0;
        let min = 0;
        if (c < 0x80) n = 0;
        else if (c >= 0xc2 && c <= 0xdf) n = 1, min = 0x80;
        else if (c >= 0xe0 && c <= 0xef) n = 2, min = 0x800;
        else if (c >= 0xf0 && c <= 0xf4) n = 3, min = 0x10000;
        else return i;
        if (n && i + n >= b.length) return i;
        let cp = n ? c & (0x3f >> n) : c;
        for (let k = 1; k <= n; k++) {
            if ((b[i + k] & 0xc0) !== 0x80) return i;
            cp = (cp << 6) | (b[i + k] & 0x3f);
        }
        if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return i;
        i += n + 1;
    }
    return -1;
}

function checkNul(bytes, end, name) {
    const at = bytes.indexOf(0);
    if (at >= 0 && at < end) throw valueError(name, `embedded NUL at byte ${at}`);
}

// UTF-8 of a string straight into memory from alloc: no intermediate copy.
function encodeString(s, alloc, terminate) {
    const extra = terminate ? 1 : 0;
    if (HAS_BUFFER) {
        const n = Buffer.byteLength(s, 'utf8');
        const out = alloc(n + extra);
        const written = asBuffer(out).write(s, 0, n, 'utf8');
        if (terminate) out[written] = 0;
        return out;
    }
    const room = alloc(s.length * 3 + extra);
    const { written } = encoder.encodeInto(s, room);
    if (terminate) room[written] = 0;
    return room.subarray(0, written + extra);
}

function text(value, name, how = {}) {
    const { alloc = defaultAlloc, terminate = false, copy = false, utf8 = false, nullable = true } = how;
    if (value === null || value === undefined) {
        if (!nullable) throw typeError(name, `must be text, not ${value}`);
        return null;
    }
    if (typeof value === 'string') {
        checkWellFormed(value, name);
        const out = encodeString(value, alloc, terminate);
        checkNul(out, out.length - (terminate ? 1 : 0), name);
        return out;
    }
    const bytes = bytesOf(value);
    if (bytes === undefined) {
        throw typeError(name, `must be a string, bytes (Buffer, ArrayBufferView, ArrayBuffer) or null, not ${describe(value)}`);
    }
    if (bytes === null) throw valueError(name, 'its ArrayBuffer is detached');
    checkNul(bytes, bytes.length, name);
    if (utf8) {
        try {
            strictDecoder.decode(bytes);
        } catch {
            throw valueError(name, `not valid UTF-8 at byte ${invalidUtf8At(bytes)}`);
        }
    }
    if (!terminate && !copy) return bytes;
    const out = alloc(bytes.length + (terminate ? 1 : 0));
    out.set(bytes);
    if (terminate) out[bytes.length] = 0;
    return out;
}

// Plain JSON values all the way down; the path names the first value that is not.
function checkPlain(value, name) {
    const path = [];
    const open = new Set();
    const where = () => name + path.map((k) => (typeof k === 'number' ? `[${k}]` : /^[A-Za-z_$][\w$]*$/.test(k) ? `.${k}` : `[${JSON.stringify(k)}]`)).join('');
    const walk = (v) => {
        switch (typeof v) {
        case 'string':
            checkWellFormed(v, where());
            return;
        case 'boolean':
            return;
        case 'number':
            if (!Number.isFinite(v)) throw new RangeError(`${where()}: ${v} is not a JSON number`);
            return;
        case 'object':
            if (v === null) return;
            break;
        default:
            throw typeError(where(), `${typeof v} is not a JSON value`);
        }
        const isArray = Array.isArray(v);
        if (!isArray && !isPlainObject(v)) throw typeError(where(), `${describe(v)} is not a JSON value (only arrays and plain objects)`);
        if (open.has(v)) throw typeError(where(), 'refers back to itself');
        open.add(v);
        if (isArray) {
            for (let i = 0; i < v.length; i++) {
                if (!(i in v)) {
                    path.push(i);
                    throw typeError(where(), 'undefined is not a JSON value');
                }
                path.push(i);
                walk(v[i]);
                path.pop();
            }
        } else {
            if (Object.getOwnPropertySymbols(v).length) throw typeError(where(), 'symbol keys are not JSON');
            for (const key of Object.keys(v)) {
                if (loneSurrogate(key) >= 0) throw valueError(where(), `key ${JSON.stringify(key)} not encodable as UTF-8 at character ${loneSurrogate(key)}`);
                path.push(key);
                walk(v[key]);
                path.pop();
            }
        }
        open.delete(v);
    };
    walk(value);
}

// V8 says RangeError, SpiderMonkey InternalError.
function stackOverflow(err) {
    return (err instanceof RangeError && /call stack/i.test(err.message)) || (err instanceof Error && err.name === 'InternalError');
}

function json(value, name, how = {}) {
    if (value !== null && typeof value === 'object' && (Array.isArray(value) || isPlainObject(value))) {
        let s;
        try {
            checkPlain(value, name);
            s = JSON.stringify(value);
        } catch (err) {
            if (stackOverflow(err)) throw valueError(name, 'nested too deeply');
            throw err;
        }
        return text(s, name, how);
    }
    if (value === null || value === undefined || typeof value === 'string' || ArrayBuffer.isView(value) || value instanceof ArrayBuffer) return text(value, name, how);
    throw typeError(name, `must be JSON text, bytes, an array, a plain object or null, not ${describe(value)}`);
}

const INT_MIN = -(2 ** 31);
const INT_MAX = 2 ** 31 - 1;

function sortMode(value) {
    if (value === undefined) return SortMode.NONE;
    if (typeof value !== 'number' || !Number.isInteger(value)) {
        throw typeError('sort', `must be an integer (see SortMode), not ${typeof value === 'number' ? value : describe(value)}`);
    }
    if (value < INT_MIN || value > INT_MAX) throw new RangeError(`sort: ${value} is outside the C int range [${INT_MIN}, ${INT_MAX}]`);
    return value;
}

function flag(value, name) {
    if (value === undefined) return false;
    if (typeof value !== 'boolean') throw typeError(name, `must be a boolean, not ${describe(value)}`);
    return value;
}

function decode(bytes) {
    if (HAS_BUFFER) return asBuffer(bytes).toString('utf8');
    return decoder.decode(bytes);
}

// bytes: the result's UTF-8; under Node pass a Buffer so 'bytes' hands back a Buffer.
function finish(bytes, output) {
    if (output === 'bytes') return bytes;
    const s = decode(bytes);
    return output === 'value' ? JSON.parse(s) : s;
}

module.exports = {
    SortMode, NtsrchError, NtsrchMemoryError, ModuleLoadError,
    options, outputOf, text, json, sortMode, flag, decode, finish, bytesOf,
};
