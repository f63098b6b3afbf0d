// SPDX-License-Identifier: MIT
// The native Node binding and the WebAssembly binding given the same calls, those of the
// case table (bindings/contract/cases.json): every result, in every output form, and every
// error (class, code, message, function, last-error text) must be the same.
//   node bindings/wasm/test/bindings-diff.test.mjs MODULE.wasm NATIVE_TREE
import { createRequire } from 'node:module';
import { existsSync, readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { run } from './harness.mjs';

const [wasmFile, nativeTree] = process.argv.slice(2);
const here = fileURLToPath(new URL('.', import.meta.url));
const nodeDir = join(here, '../../node');
const so = join(nativeTree || 'build', 'nortavel-nortaveltune-search-client.so');

// The table's calls, each with every output choice the call takes.
let top = here;
while (!existsSync(join(top, 'bindings/contract/cases.json')) && dirname(top) !== top) top = dirname(top);
const { callFor, skipReason } = await import(pathToFileURL(join(top, 'bindings/contract/run.mjs')).href);
const ROWS = JSON.parse(readFileSync(join(top, 'bindings/contract/cases.json'), 'utf8')).cases
    .filter((row) => !skipReason(row))
    .flatMap((row) => {
        try {
            const [method, args] = callFor(row, (u8) => Buffer.from(u8));
            return [[method, ...args]];
        } catch {
            return []; // a host value JavaScript lacks
        }
    });

function outcome(fn) {
    try {
        const r = fn();
        return { ok: typeof r === 'string' ? r : r instanceof Uint8Array ? `bytes ${Buffer.from(r).toString('hex')} ${Buffer.isBuffer(r)}` : JSON.stringify(r) };
    } catch (err) {
        return { error: [err.constructor.name, err.name, err.code, err.message, err.function, err.lastError] };
    }
}
async function outcomeAsync(fn) {
    let r;
    try {
        r = await fn();
    } catch (err) {
        return outcome(() => { throw err; });
    }
    return outcome(() => r);
}

const withOutput = (row, output) => {
    const [method, ...args] = row;
    if (output === undefined) return args;
    const at = method === 'buildSearchUrl' ? 2 : 1;
    const a = args.slice();
    while (a.length < at) a.push(null);
    a[at] = a[at] && typeof a[at] === 'object' && !Array.isArray(a[at]) ? { ...a[at], output } : a[at] === undefined || a[at] === null ? { output } : a[at];
    return a;
};

if (!existsSync(join(nodeDir, 'rules.js')) || !existsSync(join(nodeDir, 'node_modules/koffi'))) {
    console.log('skip wasm bindings-diff: the Node binding here has no rules.js or no koffi');
} else if (!existsSync(so)) {
    console.log(`skip wasm bindings-diff: no native module at ${so}`);
} else {
    const ntsrch = createRequire(import.meta.url)(join(nodeDir, 'ntsrch.js'));
    const native = new ntsrch.Library({ path: so });
    const wasm = (await import(pathToFileURL(join(dirname(wasmFile), 'js/ntsrch-wasm.mjs')).href)).loadSync(wasmFile);
    let compared = 0;
    const groups = ['buildSearchUrl', 'filterAndSortTracks', 'normalizeUnifiedResults'].map((m) => ({ name: m, rows: ROWS.filter((r) => r[0] === m) }));
    const failed = await run('bindings-diff', groups, async ({ name, rows }) => {
        const bad = [];
        for (const row of rows) {
            for (const output of [undefined, 'string', 'bytes', ...(name === 'buildSearchUrl' ? [] : ['value'])]) {
                const args = withOutput(row, output);
                const a = JSON.stringify(outcome(() => native[name](...args)));
                const b = JSON.stringify(outcome(() => wasm[name](...args)));
                const c = JSON.stringify(await outcomeAsync(() => native[`${name}Async`](...args)));
                const d = JSON.stringify(await outcomeAsync(() => wasm[`${name}Async`](...args)));
                compared += 4;
                if (a !== b || c !== d || a !== c) bad.push(`row ${ROWS.indexOf(row)} ${output}: native ${a.slice(0, 160)} / wasm ${b.slice(0, 160)} / async ${c.slice(0, 80)} / ${d.slice(0, 80)}`);
            }
        }
        if (bad.length) throw new Error(`${bad.length} differ: ${bad.slice(0, 3).join(' || ')}`);
    });
    if (!failed) console.log(`note wasm bindings-diff: ${compared} outcomes (sync and async, every output) equal between the native and WebAssembly bindings`);
    await wasm.close();
    native.close?.();
}
