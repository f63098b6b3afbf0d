// SPDX-License-Identifier: MIT
// Table runner for the WebAssembly checks: one "pass NAME" / "fail NAME: why" line per row,
// the form scripts/test-stages counts; the exit status is 1 when any row failed.
import { spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = fileURLToPath(new URL('../../..', import.meta.url));
export async function run(group, rows, check) {
    let failed = 0;
    for (const row of rows) {
        const name = `wasm ${group}: ${row.name ?? row[0]}`;
        try {
            await check(row);
            console.log(`pass ${name}`);
        } catch (err) {
            failed += 1;
            console.log(`fail ${name}: ${String(err && err.stack ? err.stack : err).split('\n').slice(0, 4).join(' | ')}`);
        }
    }
    if (failed) process.exitCode = 1;
    return failed;
}

export function equal(actual, expected, what = 'value') {
    const a = typeof actual === 'string' ? actual : JSON.stringify(actual);
    const e = typeof expected === 'string' ? expected : JSON.stringify(expected);
    if (a !== e) throw new Error(`${what}: got ${a.slice(0, 300)}, want ${e.slice(0, 300)}`);
}

// Results of the case table's runner (bindings/contract/run.mjs), one line per row and a count.
export function report(group, results) {
    for (const { name, status, why } of results) console.log(`${status} wasm ${group}: ${name}${why ? `: ${why.split('\n')[0]}` : ''}`);
    const count = (s) => results.filter((r) => r.status === s).length;
    console.log(`note wasm ${group}: ${results.length} rows, ${count('pass')} passed, ${count('skip')} skipped, ${count('fail')} failed`);
    if (count('fail')) process.exitCode = 1;
}

// The checks that hold the native module against the WebAssembly one load the former
// through the Node binding's koffi: why such a check cannot run here, or null.
export function nativeMissing(so) {
    if (!existsSync(join(root, 'bindings/node/node_modules/koffi'))) return 'no koffi (npm ci in bindings/node)';
    if (!existsSync(so)) return `no native module at ${so}`;
    return null;
}

// The bench's generated inputs of n tracks, read as bytes: { tracks, downloaded, unified }.
export function generatedInputs(n) {
    const tmp = mkdtempSync(join(tmpdir(), 'ntsrch-gen-'));
    try {
        spawnSync('python3', [join(root, 'bench/host/gen_data.py'), tmp, String(n)]);
        return Object.fromEntries(['tracks', 'downloaded', 'unified'].map((k) =>
            [k, new Uint8Array(readFileSync(join(tmp, `${k}-${n}.json`)))]));
    } finally {
        rmSync(tmp, { recursive: true, force: true });
    }
}
