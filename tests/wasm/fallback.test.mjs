// SPDX-License-Identifier: MIT
// The npm package's load(): the native Library where a module is found, else the WebAssembly
// library from wasm/. Each row runs in its own process on a copy of the package's layout.
//   node tests/wasm/fallback.test.mjs MODULE.wasm NATIVE_TREE
import { spawnSync } from 'node:child_process';
import { cpSync, mkdtempSync, rmSync, symlinkSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { run, equal } from './harness.mjs';

const [wasmFile, nativeTree] = process.argv.slice(2);
const here = fileURLToPath(new URL('.', import.meta.url));
const nodeDir = join(here, '../../bindings/node');
const so = resolve(nativeTree || 'build', 'nortavel-nortaveltune-search-client.so');

function pack(withWasm) {
    const dir = mkdtempSync(join(tmpdir(), 'ntsrch-pkg-'));
    for (const f of ['ntsrch.js', 'rules.js', 'worker.js', 'package.json']) cpSync(join(nodeDir, f), join(dir, f));
    symlinkSync(join(nodeDir, 'node_modules'), join(dir, 'node_modules'));
    if (withWasm) cpSync(join(dirname(wasmFile), 'js'), join(dir, 'wasm'), { recursive: true });
    return dir;
}

// [name, with wasm/, $NTSRCH_MODULE, load() argument, expected first line]
const rows = [
    ['no native module: the WebAssembly library', true, undefined, '', 'WasmLibrary https://api.nortaveltune.com/search/api?q=a&format=json'],
    ['a native module found: the native Library', true, so, '', 'Library https://api.nortaveltune.com/search/api?q=a&format=json'],
    ['an explicit place that fails: no fallback', true, undefined, "{ path: '/nonexistent/m.so' }", 'ModuleLoadError false'],
    ['neither: ModuleLoadError naming the WebAssembly place too', false, undefined, '', 'ModuleLoadError true'],
];
await run('package load', rows, ([, withWasm, module, arg, want]) => {
    const dir = pack(withWasm);
    try {
        const script = `require('./ntsrch.js').load(${arg}).then(
            (lib) => console.log(lib.constructor.name, lib.buildSearchUrl('a')),
            (err) => console.log(err.name, err.tried.some((t) => t.place.includes('WebAssembly'))))`;
        const env = { ...process.env };
        delete env.NTSRCH_MODULE;
        if (module) env.NTSRCH_MODULE = module;
        const r = spawnSync(process.execPath, ['-e', script], { cwd: dir, env, encoding: 'utf8', timeout: 20000 });
        equal(r.stdout.trim().split('\n')[0], want, `stdout (stderr: ${r.stderr.slice(0, 200)})`);
    } finally {
        rmSync(dir, { recursive: true, force: true });
    }
});
