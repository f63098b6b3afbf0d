// SPDX-License-Identifier: MIT
// Every row of bindings/contract/cases.json against the WebAssembly binding under Node;
// a row it cannot express is reported as skipped with what it lacks.
//   node tests/wasm/contract.test.mjs MODULE.wasm
import { readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { runCases } from '../../bindings/contract/run.mjs';
import { report } from './harness.mjs';

const wasmFile = process.argv[2];
const here = fileURLToPath(new URL('.', import.meta.url));
const ntsrch = await import(pathToFileURL(join(dirname(wasmFile), 'js/ntsrch-wasm.mjs')).href);
const { cases } = JSON.parse(readFileSync(join(here, '../../bindings/contract/cases.json'), 'utf8'));
const lib = ntsrch.loadSync(wasmFile);
const results = await runCases(lib, cases, { ntsrch, binding: 'wasm' });
await lib.close();
report('contract', results);
