// SPDX-License-Identifier: MIT
// The binding in Debian's headless Chromium: a localhost server serves the assembled
// binding, samples/ and bindings/wasm/test/page.html; the page loads the module, runs its self-test,
// filters samples/tracks.json in every order (in the page and on its Web Worker) and posts
// the results back, which must equal the native tool's output byte for byte; then the case
// table (bindings/contract) run in the page.
//   node bindings/wasm/test/page.test.mjs MODULE.wasm NATIVE_TREE
import { spawn, spawnSync } from 'node:child_process';
import { createServer } from 'node:http';
import { existsSync, mkdtempSync, readFileSync, readlinkSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, dirname, extname, isAbsolute, join, normalize } from 'node:path';
import { fileURLToPath } from 'node:url';
import { run, equal, report } from './harness.mjs';

const [wasmFile, nativeTree] = process.argv.slice(2);
const here = fileURLToPath(new URL('.', import.meta.url));
const root = join(here, '../../..');
const tool = join(nativeTree || 'build', 'ntsrch');
const browser = ['chromium', '/usr/bin/chromium'].find((b) => spawnSync('sh', ['-c', `command -v ${b}`]).status === 0);

const ORDERS = ['none', 'title', 'artist', 'newest', 'shortest', 'downloaded'];
const cases = [
    ...ORDERS.map((sort, i) => ({ name: `filter --sort ${sort}`, kind: 'filter', options: { sort: i }, args: ['--sort', sort] })),
    { name: 'filter --query sky --sort title', kind: 'filter', options: { query: 'sky', sort: 1 }, args: ['--query', 'sky', '--sort', 'title'] },
    { name: 'filter --downloaded --downloaded-only --sort newest', kind: 'filter', options: { downloaded: 'downloaded.json', downloadedOnly: true, sort: 3 },
        args: ['--downloaded', join(root, 'samples/downloaded.json'), '--downloaded-only', '--sort', 'newest'] },
    { name: 'normalize', kind: 'normalize' },
    { name: 'url', kind: 'url', query: 'Été indien' },
];

function nativeOutput(c) {
    const args = c.kind === 'filter' ? ['filter', ...c.args, join(root, 'samples/tracks.json')]
        : c.kind === 'normalize' ? ['normalize', join(root, 'samples/unified.json')] : ['url', c.query];
    const r = spawnSync(tool, args, { encoding: 'utf8' });
    if (r.status !== 0) throw new Error(`${tool} ${args.join(' ')}: ${r.stderr}`);
    return r.stdout.replace(/\n$/, '');
}

const TYPES = { '.html': 'text/html', '.mjs': 'text/javascript', '.json': 'application/json', '.wasm': 'application/wasm' };
function serve(onResult) {
    const places = { '/js/': join(dirname(wasmFile), 'js/'), '/samples/': join(root, 'samples/'), '/contract/': join(root, 'bindings/contract/') };
    return createServer((req, res) => {
        const url = new URL(req.url, 'http://localhost');
        if (req.method === 'POST' && url.pathname === '/result') {
            const chunks = [];
            req.on('data', (c) => chunks.push(c));
            req.on('end', () => { res.end('ok'); onResult(JSON.parse(Buffer.concat(chunks).toString('utf8'))); });
            return;
        }
        let body;
        if (url.pathname === '/' || url.pathname === '/page.html') body = readFileSync(join(here, 'page.html'));
        else if (url.pathname === '/cases.json') body = JSON.stringify(cases);
        else {
            const prefix = Object.keys(places).find((p) => url.pathname.startsWith(p));
            const file = prefix && normalize(join(places[prefix], decodeURIComponent(url.pathname.slice(prefix.length))));
            if (file && file.startsWith(places[prefix]) && existsSync(file)) body = readFileSync(file);
        }
        if (body === undefined) { res.writeHead(404); res.end(); return; }
        res.writeHead(200, { 'content-type': TYPES[extname(url.pathname) || '.html'] || 'application/octet-stream' });
        res.end(body);
    });
}

async function inBrowser() {
    const profile = mkdtempSync(join(tmpdir(), 'ntsrch-chromium-'));
    let resolve;
    const posted = new Promise((r) => { resolve = r; });
    const server = serve(resolve);
    await new Promise((r) => server.listen(0, '127.0.0.1', r));
    const page = `http://127.0.0.1:${server.address().port}/page.html`;
    const proc = spawn(browser, ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`, page], { stdio: ['ignore', 'ignore', 'pipe'], detached: true });
    let stderr = '';
    proc.stderr.on('data', (d) => { stderr += d; });
    let timer;
    const timeout = new Promise((_, reject) => {
        timer = setTimeout(() => reject(new Error(`no result from the page in 90 s; chromium said: ${stderr.slice(-800)}`)), 90000);
    });
    try {
        return await Promise.race([posted, timeout]);
    } finally {
        clearTimeout(timer);
        // The browser and its helper processes share the group started here. Its singleton
        // socket lives in a folder of TMPDIR that the profile links to; a browser stopped
        // before it cleans up leaves that folder behind.
        const exited = new Promise((r) => (proc.exitCode !== null || proc.signalCode !== null ? r() : proc.once('exit', r)));
        try { process.kill(-proc.pid, 'SIGTERM'); } catch { /* already gone */ }
        server.close();
        const waited = await Promise.race([exited.then(() => true), new Promise((r) => setTimeout(r, 10000, false))]);
        if (!waited) try { process.kill(-proc.pid, 'SIGKILL'); } catch { /* already gone */ }
        await new Promise((r) => setTimeout(r, 300));
        try {
            const socket = readlinkSync(join(profile, 'SingletonSocket'));
            if (isAbsolute(socket) && basename(dirname(socket)).startsWith('org.chromium.')) rmSync(dirname(socket), { recursive: true, force: true });
        } catch { /* no socket was made */ }
        rmSync(profile, { recursive: true, force: true });
    }
}

if (!browser) {
    console.log('skip wasm page: chromium not installed (scripts/install-deps cross)');
} else if (!existsSync(tool)) {
    console.log(`skip wasm page: no native tool at ${tool}`);
} else {
    const posted = await inBrowser();
    if (posted.error) {
        await run('page', [{ name: 'the page ran' }], () => { throw new Error(posted.error); });
    } else {
        const got = posted.results;
        await run('page', [
            { name: 'self-test in the page', check: () => equal([got.selftest, got.version], [0, '1.0.0']) },
            ...cases.flatMap((c) => ['', ' (Web Worker)'].map((where) => ({
                name: `${c.name}${where} equals the native tool`, check: () => equal(got[`${c.name}${where}`], nativeOutput(c)),
            }))),
            { name: 'a refusal on the Web Worker carries the module message', check: () => equal(got['refused (Web Worker)'], 'NtsrchError: empty query') },
            { name: 'lone surrogates are refused in the page, naming the parameter and the character', check: () => equal(got.surrogates, [
                'TypeError: query: not encodable as UTF-8 at character 1', 'TypeError: tracks[1].title: not encodable as UTF-8 at character 1']) },
            { name: "output 'bytes' in a page is a Uint8Array", check: () => equal(got.bytes, 'Uint8Array') },
        ], (row) => row.check());
        report('page contract', got.contract);
    }
}
