// SPDX-License-Identifier: MIT
// needs: module only
// The .wasm file itself: exactly the agreed exports, no import at all, at most 500 KB, and
// the reactor's start-up followed by the self-test.
//   node bindings/wasm/test/module.test.mjs MODULE.wasm
import { readFileSync, statSync } from 'node:fs';
import { run, equal } from './harness.mjs';

const file = process.argv[2];
const bytes = readFileSync(file);
const mod = new WebAssembly.Module(bytes);
// The functions the public header declares, and what the host needs beside them.
const header = readFileSync(new URL('../../../include/ntsrch.h', import.meta.url), 'utf8');
const declared = [...header.matchAll(/NTSRCH_CALL (ntsrch_\w+)\(/g)].map((m) => m[1]);
const EXPORTS = [...declared, '_initialize', 'free', 'malloc', 'memory'];

await run('module', [
    { name: 'exports exactly the functions of include/ntsrch.h, memory, malloc/free and _initialize', check() {
        equal(WebAssembly.Module.exports(mod).map((e) => `${e.name}:${e.kind}`).sort(),
            EXPORTS.map((n) => `${n}:${n === 'memory' ? 'memory' : 'function'}`).sort(), 'exports');
    } },
    { name: 'the header declares the eight functions', check() { equal(declared.length, 8, 'functions'); } },
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
