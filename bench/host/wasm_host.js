#!/usr/bin/env node
// SPDX-License-Identifier: MIT
'use strict';
// The WebAssembly binding against the native Node binding and against the same job in plain
// JS, end to end from Node, from the same input: string to string, and bytes to bytes
// (plain JS then also decodes and encodes). Jobs are timed in alternation in one run, the
// median of several rounds; the ratios are what counts on a shared machine.
//
// Usage: node bench/host/wasm_host.js [DIR [N]]
//   DIR: inputs from gen_data.py (made in a temporary folder when absent); N: tracks (100000)
// The .wasm is $NTSRCH_WASM, else build-wasm/ (make wasm); the native module is the one the
// Node binding's Library() finds (set NTSRCH_MODULE to choose it).

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { pathToFileURL } = require('node:url');
const { plainString, call, alternate, table } = require('./common');

const root = path.join(__dirname, '..', '..');
const N = Number(process.argv[3] || 100000);
const ROUNDS = Number(process.env.ROUNDS || 5);

const CASES = [
    { name: 'all tracks', query: '', sort: 0 },
    { name: '"love"', query: 'love', sort: 0 },
    { name: 'by title', query: '', sort: 1 },
    { name: '"love" by title', query: 'love', sort: 1 },
    { name: 'newest', query: '', sort: 3 },
    { name: 'normalize', normalize: true },
];

async function main() {
    let dir = process.argv[2];
    let temp = null;
    if (!dir) dir = temp = fs.mkdtempSync(path.join(os.tmpdir(), 'ntsrch-wasm-host-'));
    if (!fs.existsSync(path.join(dir, `tracks-${N}.json`))) execFileSync('python3', [path.join(__dirname, 'gen_data.py'), dir, String(N)]);
    const wasmFile = process.env.NTSRCH_WASM || path.join(root, 'build-wasm', 'nortavel-nortaveltune-search-client.wasm');
    const { loadSync } = await import(pathToFileURL(path.join(path.dirname(wasmFile), 'js', 'ntsrch-wasm.mjs')).href);
    const wasm = loadSync(wasmFile);
    const native = new (require(path.join(root, 'bindings', 'node', 'ntsrch')).Library)();
    const bytes = { tracks: fs.readFileSync(path.join(dir, `tracks-${N}.json`)), unified: fs.readFileSync(path.join(dir, `unified-${N}.json`)) };
    const text = { tracks: bytes.tracks.toString('utf8'), unified: bytes.unified.toString('utf8') };
    if (temp) fs.rmSync(temp, { recursive: true, force: true });

    console.log(`WebAssembly vs native vs plain JS, ${N} tracks (${(bytes.tracks.length / 1e6).toFixed(1)} MB), median of ${ROUNDS} alternated rounds, Node ${process.version}`);
    console.log(`module: ${wasmFile} (${fs.statSync(wasmFile).size} bytes); native: ${native.path}`);
    const rows = [];
    for (const mode of ['string', 'bytes']) {
        for (const c of CASES) {
            const input = (c.normalize ? (mode === 'bytes' ? bytes : text).unified : (mode === 'bytes' ? bytes : text).tracks);
            const plain = mode === 'bytes'
                ? () => Buffer.from(plainString(c, input.toString('utf8')), 'utf8')
                : () => plainString(c, input);
            // Same result from all three before timing (plain JS compared by length only:
            // its number formatting may differ from the module's).
            const w = call(wasm, c, input, mode);
            const n = call(native, c, input, mode);
            if (Buffer.compare(Buffer.from(w), Buffer.from(n)) !== 0) throw new Error(`${c.name} ${mode}: WebAssembly and native results differ`);
            const [tw, tn, tp] = alternate([() => call(wasm, c, input, mode), () => call(native, c, input, mode), plain], ROUNDS);
            rows.push([`${c.name}, ${mode}`, tw.toFixed(1), tn.toFixed(1), tp.toFixed(1), (tw / tn).toFixed(2), (tp / tw).toFixed(2)]);
        }
    }
    console.log(table(['case', 'wasm ms', 'native ms', 'plain JS ms', 'wasm/native (goal <= 1.5)', 'plain JS/wasm (goal bytes >= 2)'], rows));
    await wasm.close();
}

main().catch((err) => {
    console.error(err);
    process.exit(1);
});
