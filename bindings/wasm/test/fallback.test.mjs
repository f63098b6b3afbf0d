// SPDX-License-Identifier: MIT
// The npm package's load(): the native Library where a module is found, else the WebAssembly
// library from wasm/. Each row runs in its own process on a copy of the package's layout.
//   node bindings/wasm/test/fallback.test.mjs MODULE.wasm NATIVE_TREE
import { spawnSync } from 'node:child_process';
import { cpSync, existsSync, mkdtempSync, readFileSync, rmSync, symlinkSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { run, equal } from './harness.mjs';

const [wasmFile, nativeTree] = process.argv.slice(2);
const here = fileURLToPath(new URL('.', import.meta.url));
const nodeDir = join(here, '../../node');
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
function inPackage(withWasm, module, script) {
    const dir = pack(withWasm);
    try {
        const env = { ...process.env };
        delete env.NTSRCH_MODULE;
        if (module) env.NTSRCH_MODULE = module;
        writeFileSync(join(dir, 'app.js'), script);
        const r = spawnSync(process.execPath, ['app.js'], { cwd: dir, env, encoding: 'utf8', timeout: 60000 });
        return { out: r.stdout.trim(), err: r.stderr.slice(0, 300) };
    } finally {
        rmSync(dir, { recursive: true, force: true });
    }
}

await run('package load', rows, ([, withWasm, module, arg, want]) => {
    const r = inPackage(withWasm, module, `require('./ntsrch.js').load(${arg}).then(
        (lib) => console.log(lib.constructor.name, lib.buildSearchUrl('a')),
        (err) => console.log(err.name, err.tried.some((t) => t.place.includes('WebAssembly'))))`);
    equal(r.out.split('\n')[0], want, `stdout (stderr: ${r.err})`);
});

// The Node example of the README with its Library from load(), no native module beside it.
function readmeExample() {
    for (const file of ['README.md', 'bindings/node/README.md']) {
        const text = existsSync(join(here, '../../..', file)) ? readFileSync(join(here, '../../..', file), 'utf8') : '';
        const m = /```js\n\/\/ node-app\/app\.js\n([\s\S]*?)```[\s\S]*?```text\n([\s\S]*?)```/.exec(text);
        if (m) return { code: m[1], want: m[2].trim() };
    }
    throw new Error('no node-app/app.js example in README.md or bindings/node/README.md');
}

// One set of error classes, whichever library the fallback gave.
const classes = `const ntsrch = require('./ntsrch.js');
ntsrch.load().then(async (lib) => {
    const is = (err) => [err instanceof ntsrch.NtsrchError, err instanceof ntsrch.NtsrchMemoryError];
    const out = [lib.constructor.name];
    try { lib.buildSearchUrl(' '); } catch (err) { out.push(is(err)); }
    await lib.buildSearchUrlAsync(' ').catch((err) => out.push(is(err)));
    // A block the module's heap cannot give: its memory is at the 4 GiB limit.
    const memory = lib._engine.e.memory;
    while (memory.buffer.byteLength < 2 ** 32 - 2 ** 20) memory.grow(Math.min(8192, (2 ** 32 - memory.buffer.byteLength) / 65536 - 1));
    try { lib.buildSearchUrl('x'.repeat(4 << 20)); } catch (err) { out.push(is(err)); }
    console.log(JSON.stringify(out));
    await lib.close();
});`;

await run('package fallback', [
    { name: "the README's Node example runs as written on the WebAssembly library", check() {
        const { code, want } = readmeExample();
        const r = inPackage(true, undefined, `(async () => {\n${code.replace('new ntsrch.Library()', 'await ntsrch.load()')}\n})();`);
        equal(r.out, want, `stdout (stderr: ${r.err})`);
    } },
    { name: 'its refusals are instances of the package NtsrchError and NtsrchMemoryError, sync and async', check() {
        const r = inPackage(true, undefined, classes);
        equal(r.out, '["WasmLibrary",[true,false],[true,false],[true,true]]', `stdout (stderr: ${r.err})`);
    } },
], (row) => row.check());
