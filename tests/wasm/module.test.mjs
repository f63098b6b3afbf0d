// SPDX-License-Identifier: MIT
// needs: module only
// The .wasm file itself: exactly the agreed exports, no import at all, at most 500 KB, and
// the reactor's start-up followed by the self-test.
//   node tests/wasm/module.test.mjs MODULE.wasm
import { readFileSync, statSync } from 'node:fs';
import { run, equal } from './harness.mjs';

const file = process.argv[2];
const bytes = readFileSync(file);
const mod = new WebAssembly.Module(bytes);
const EXPORTS = [
    '_initialize', 'free', 'malloc', 'memory',
    'ntsrch_abi_version', 'ntsrch_build_search_url', 'ntsrch_filter_and_sort_tracks_json', 'ntsrch_free',
    'ntsrch_last_error', 'ntsrch_normalize_unified_results_json', 'ntsrch_selftest', 'ntsrch_version',
];

await run('module', [
    { name: 'exports exactly the eight functions, memory, malloc/free and _initialize', check() {
        equal(WebAssembly.Module.exports(mod).map((e) => `${e.name}:${e.kind}`).sort(),
            EXPORTS.map((n) => `${n}:${n === 'memory' ? 'memory' : 'function'}`).sort(), 'exports');
    } },
    { name: 'imports nothing', check() {
        equal(WebAssembly.Module.imports(mod), [], 'imports');
    } },
    { name: 'at most 500 KB', check() {
        const size = statSync(file).size;
        if (size > 500 * 1024) throw new Error(`${size} bytes`);
        console.log(`note wasm module: ${size} bytes`);
    } },
    { name: 'instantiates with no imports and passes its self-test', check() {
        const { exports: e } = new WebAssembly.Instance(mod, {});
        e._initialize();
        equal(e.ntsrch_abi_version(), 1, 'ABI');
        equal(e.ntsrch_selftest(), 0, 'self-test');
    } },
], (row) => row.check());
