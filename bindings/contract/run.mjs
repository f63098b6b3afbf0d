// SPDX-License-Identifier: MIT
// Runs rows of cases.json against a JavaScript binding (native Node, or WebAssembly under
// Node or in a page): each row sync and async, with every byte type the host has.
//   const results = await runCases(lib, cases, { binding: 'node', ntsrch });
// results: [{ name, status: 'pass' | 'fail' | 'skip', why }].

const CAPABILITIES = new Set(['utf16', 'json_value', 'dynamic_types', 'options_object', 'value_output',
    'unbounded_int', 'output_argument', 'parse']);
const METHODS = { build_search_url: 'buildSearchUrl', filter_and_sort_tracks: 'filterAndSortTracks',
    normalize_unified_results: 'normalizeUnifiedResults' };
const HAS_BUFFER = typeof Buffer === 'function';

class Track { constructor() { this.title = 'a'; } }
const HOST_VALUES = {
    function: () => () => 1,
    symbol: () => Symbol('s'),
    map: () => new Map(),
    set: () => new Set([1]),
    date: () => new Date(0),
    bigint: () => 2n,
    undefined: () => undefined,
    nan: () => NaN,
    infinity: () => Infinity,
    '-infinity': () => -Infinity,
    float: (arg) => arg.number,
    instance: () => new Track(),
    bytes: () => new Uint8Array([1]),
    symbol_key_object: () => ({ [Symbol('k')]: 1 }),
};

const fromHex = (hex) => new Uint8Array(hex.match(/../g)?.map((h) => parseInt(h, 16)) ?? []);
const toHex = (u8) => [...u8].map((b) => b.toString(16).padStart(2, '0')).join('');

// The host's byte types: every row with bytes runs once per type.
function byteKinds() {
    const kinds = [
        ['Uint8Array at an offset in a larger buffer', (u8) => {
            const big = new Uint8Array(u8.length + 4);
            big.set(u8, 2);
            return big.subarray(2, 2 + u8.length);
        }],
        ['ArrayBuffer', (u8) => u8.slice().buffer],
        ['DataView', (u8) => new DataView(u8.slice().buffer)],
    ];
    if (HAS_BUFFER) kinds.unshift(['Buffer', (u8) => Buffer.from(u8)]);
    return kinds;
}

class Skip extends Error {}

// A JSON value with {"$host": name} markers replaced by host values; "hole" leaves an array
// slot empty, "cycle" is the whole value itself.
function materialize(value) {
    const cycles = [];
    const walk = (v, parent, key) => {
        if (Array.isArray(v)) {
            const out = [];
            v.forEach((x, i) => {
                if (x && x.$host === 'hole') out.length = i + 1;
                else out[i] = walk(x, out, i);
            });
            return out;
        }
        if (v === null || typeof v !== 'object') return v;
        if ('$host' in v) {
            if (v.$host === 'cycle') {
                cycles.push([parent, key]);
                return null;
            }
            const make = HOST_VALUES[v.$host];
            if (!make) throw new Skip(`no ${v.$host} in JavaScript`);
            return make(v);
        }
        const out = {};
        for (const [k, x] of Object.entries(v)) out[k] = walk(x, out, k);
        return out;
    };
    const root = walk(value, null, null);
    for (const [parent, key] of cycles) parent[key] = root;
    return root;
}

function argument(arg, bytes) {
    if (arg === null) return null;
    if ('text' in arg) return arg.text;
    if ('utf16' in arg) return String.fromCharCode(...arg.utf16);
    if ('bytes_hex' in arg) return bytes(fromHex(arg.bytes_hex));
    if ('value' in arg) return materialize(arg.value);
    if ('bool' in arg) return arg.bool;
    if ('int' in arg) return arg.int;
    if ('host' in arg) {
        const make = HOST_VALUES[arg.host];
        if (!make) throw new Skip(`no ${arg.host} in JavaScript`);
        return make(arg);
    }
    throw new Error(`unknown argument ${JSON.stringify(arg)}`);
}

const camel = (name) => name.replace(/_([a-z])/g, (_, c) => c.toUpperCase());

// [method, argument list] for the binding's API.
function callOf(row, bytes) {
    const a = {};
    for (const [name, arg] of Object.entries(row.args)) a[name] = argument(arg, bytes);
    let options = 'options' in a ? a.options : {};
    if (!('options' in a)) {
        for (const key of ['query', 'downloaded_only', 'downloaded', 'sort', 'parse']) {
            if (row.call !== 'build_search_url' && key in a) options[camel(key)] = a[key];
        }
        if (row.output !== undefined) options.output = row.output;
    }
    const method = METHODS[row.call];
    if (row.call === 'build_search_url') return [method, [a.query, a.base_url ?? null, options]];
    return [method, [row.call === 'filter_and_sort_tracks' ? a.tracks : a.unified, options]];
}

function isBytes(r) {
    return r instanceof Uint8Array;
}

function checkResult(row, got) {
    const { result } = row;
    const output = row.output ?? (row.args.parse?.bool ? 'value' : 'string');
    const wantHex = result.bytes_hex ?? toHex(new TextEncoder().encode(result.text));
    if (output === 'bytes') {
        if (!isBytes(got) || (HAS_BUFFER && !Buffer.isBuffer(got) && typeof process === 'object')) throw new Error(`not the host's bytes: ${got}`);
        if (toHex(got) !== wantHex) throw new Error(`got ${toHex(got)}, want ${wantHex}`);
    } else if (output === 'value') {
        const a = JSON.stringify(got);
        const e = JSON.stringify(JSON.parse(result.text));
        if (a !== e) throw new Error(`got ${a}, want ${e}`);
    } else if (got !== result.text) {
        throw new Error(`got ${JSON.stringify(got)}, want ${JSON.stringify(result.text)}`);
    }
}

function checkError(row, err, ntsrch, binding) {
    const want = { ...row.error, ...(row.error.except?.[binding] ?? {}) };
    const says = `${err && err.constructor && err.constructor.name}: ${err && err.message}`;
    if (want.kind === 'refused' || want.kind === 'out_of_memory') {
        const memory = err instanceof ntsrch.NtsrchMemoryError;
        if (!(err instanceof ntsrch.NtsrchError) || memory !== (want.kind === 'out_of_memory')) throw new Error(`want ${want.kind}, got ${says}`);
        if (want.function !== undefined && err.function !== want.function) throw new Error(`function ${err.function}, want ${want.function}`);
        if (want.message !== undefined && err.lastError !== want.message) throw new Error(`lastError <${err.lastError}>, want <${want.message}>`);
        return;
    }
    const cls = { type: TypeError, value: TypeError, range: RangeError }[want.kind];
    const code = want.kind === 'value' ? 'ERR_INVALID_ARG_VALUE' : undefined;
    if (!err || err.constructor !== cls || err.code !== code) throw new Error(`want ${want.kind}, got ${says} (code ${err && err.code})`);
    const prefix = `${camel(want.param)}${want.path ?? ''}: `;
    const full = want.message === undefined ? null : prefix + want.message;
    if (full !== null ? err.message !== full : !err.message.startsWith(prefix)) throw new Error(`message <${err.message}>, want <${full ?? `${prefix}...`}>`);
}

// One run of a row: the sync call, then the async one; a refusal of the binding's own
// must leave the last-error text of the module call made before it.
async function once(lib, row, bytes, ntsrch, binding) {
    const [method, args] = callOf(row, bytes);
    try { lib.buildSearchUrl(' '); } catch { /* "empty query", the mark of no later call */ }
    const binding_refusal = row.error && !['refused', 'out_of_memory'].includes(row.error.kind);
    for (const how of ['sync', 'async']) {
        let got;
        let thrown;
        let failed = false;
        try {
            got = how === 'sync' ? lib[method](...args) : await lib[`${method}Async`](...args);
        } catch (err) {
            failed = true;
            thrown = err;
        }
        try {
            if (row.result) {
                if (failed) throw new Error(`threw ${thrown && thrown.constructor.name}: ${thrown && thrown.message}`);
                checkResult(row, got);
            } else {
                if (!failed) throw new Error(`no error; returned ${String(got).slice(0, 200)}`);
                checkError(row, thrown, ntsrch, binding);
                if (how === 'sync') {
                    const last = lib.lastError();
                    const want = binding_refusal ? 'empty query' : row.error.message;
                    if (want !== undefined && last !== want) throw new Error(`lastError() <${last}> after the call, want <${want}>`);
                }
            }
        } catch (err) {
            err.message = `${how}: ${err.message}`;
            throw err;
        }
    }
}

export function skipReason(row, have = CAPABILITIES) {
    const lacking = (row.needs ?? []).filter((n) => !have.has(n));
    return lacking.length ? `lacks ${lacking.join(', ')}` : null;
}

function hasBytes(row) {
    return Object.values(row.args).some((s) => s && 'bytes_hex' in s);
}

// Throws (Skip for a row this host cannot express) when the row fails.
export async function checkRow(lib, row, { ntsrch, binding }) {
    const reason = skipReason(row);
    if (reason) throw new Skip(reason);
    const kinds = hasBytes(row) ? byteKinds() : [['', (u8) => u8]];
    for (const [kind, bytes] of kinds) {
        try {
            await once(lib, row, bytes, ntsrch, binding);
        } catch (err) {
            if (!(err instanceof Skip) && kind) err.message = `${kind}: ${err.message}`;
            throw err;
        }
    }
}

export async function runCases(lib, cases, env) {
    const results = [];
    for (const row of cases) {
        try {
            await checkRow(lib, row, env);
            results.push({ name: row.name, status: 'pass' });
        } catch (err) {
            results.push({ name: row.name, status: err instanceof Skip ? 'skip' : 'fail', why: err.message });
        }
    }
    return results;
}

export { Skip, callOf as callFor };
