// SPDX-License-Identifier: MIT
// Every row of bindings/contract/cases.json against the WebAssembly binding under Node;
// a row it cannot express is reported as skipped with what it lacks.
//   node bindings/wasm/test/contract.test.mjs MODULE.wasm
import { existsSync, readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { report } from './harness.mjs';

const wasmFile = process.argv[2];
// The table sits in bindings/contract of the checkout holding this file.
let contract = fileURLToPath(new URL('.', import.meta.url));
while (!existsSync(join(contract, 'bindings/contract/cases.json')) && dirname(contract) !== contract) contract = dirname(contract);
contract = join(contract, 'bindings/contract');
const { runCases } = await import(pathToFileURL(join(contract, 'run.mjs')).href);
const ntsrch = await import(pathToFileURL(join(dirname(wasmFile), 'js/ntsrch-wasm.mjs')).href);
const { cases } = JSON.parse(readFileSync(join(contract, 'cases.json'), 'utf8'));
const lib = ntsrch.loadSync(wasmFile);
const results = await runCases(lib, cases, { ntsrch, binding: 'wasm' });
await lib.close();
report('contract', results);
