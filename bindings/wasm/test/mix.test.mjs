// SPDX-License-Identifier: MIT
// needs: module only
// Native module (through koffi) and WebAssembly module in one process.
//   node bindings/wasm/test/mix.test.mjs MODULE.wasm NATIVE_TREE
// The crash once seen there came from the probe, not from the mix: Buffer.from(arrayBuffer)
// makes a Buffer over the same memory, so its "copy" of a koffi.view was the module's
// block itself, read after ntsrch_free had returned it (a large block goes back to the
// system at once, so the read faults). The same probe without any WebAssembly faults
// alike; with real copies, the mix is identical byte for byte.
import { spawnSync } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { equal, nativeMissing, run } from './harness.mjs';

const [wasm, nativeTree] = process.argv.slice(2);
const so = join(nativeTree || 'build', 'nortavel-nortaveltune-search-client.so');
const here = fileURLToPath(new URL('.', import.meta.url));
const probe = join(here, 'mix_probe.cjs');
const tmp = mkdtempSync(join(tmpdir(), 'ntsrch-mix-'));
// About the spike's 2.6 MB list; large enough for glibc to map its results on their own.
spawnSync('python3', [join(here, '../../../bench/host/gen_data.py'), tmp, '9000']);
const tracks = join(tmp, 'tracks-9000.json');

function probeRun(module, how) {
    return spawnSync(process.execPath, [probe, so, module, tracks, how], { encoding: 'utf8' });
}

const missing = nativeMissing(so);
if (missing) {
    console.log(`skip wasm mix: ${missing}`);
} else {
    await run('mix', [
        { name: 'koffi calls with copied results, then the WebAssembly module: same bytes', check() {
            const r = probeRun(wasm, 'copy');
            equal(r.signal, null, 'signal');
            equal(r.stderr.trim().split('\n').pop(), 'same', 'last step');
        } },
    ], (row) => row.check());
    // Evidence for the cause, not a pass/fail row: it depends on the allocator.
    const alias = probeRun('none', 'alias');
    console.log(`note wasm mix: Buffer.from(koffi.view) read after ntsrch_free, no WebAssembly loaded: ${alias.signal || `exit ${alias.status}`}`);
}
rmSync(tmp, { recursive: true, force: true });
