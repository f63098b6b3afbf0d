#!/usr/bin/env node
// SPDX-License-Identifier: MIT
'use strict';
// The Node binding against the same jobs done in plain JS, from the same input, timed in
// alternation in one run (median of several runs): string to string, and bytes to bytes
// (plain JS then also decodes and encodes). Then, at the largest size, the binding's own
// share of a string call (the whole call minus the module call, the UTF-8 encode of the
// input and the decode of the result, each timed alone) and the event loop's longest
// stall during one async call with bytes out.
//
// Last, the downloaded cases at 10k x 10k and 100k x 100k (tracks x downloaded URLs): each
// URL shape, a list naming half or all of the tracks, downloaded-only and downloaded-first,
// against JSON.parse, a Set of the list's strings and JSON.stringify (goal: bytes to bytes
// at least 3x).
//
// Usage: node bench/host/node_host.js [DIR]   (DIR: inputs from gen_data.py; made when absent)
// The module is the one Library() finds: set NTSRCH_MODULE to choose it.

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { monitorEventLoopDelay } = require('node:perf_hooks');
const ntsrch = require('../../bindings/node/ntsrch');
const { plainString, call: bindingCall, now, median, alternate, table } = require('./common');

const SIZES = [100, 10000, 100000];
const DL_SIZES = (process.env.DL_SIZES || '10000,100000').split(',').map(Number);
const DL_SHAPES = ['distinct_tails', 'common_suffix', 'prefix60'];
const DL_GOAL = 3;
const here = __dirname;

function inputs() {
    let dir = process.argv[2];
    let temp = null;
    if (!dir) {
        temp = fs.mkdtempSync(path.join(os.tmpdir(), 'ntsrch-host-'));
        dir = temp;
    }
    const missing = SIZES.filter((n) => !fs.existsSync(path.join(dir, `tracks-${n}.json`)));
    if (missing.length) execFileSync('python3', [path.join(here, 'gen_data.py'), dir, ...missing.map(String)], { stdio: 'inherit' });
    const dlMissing = DL_SIZES.filter((n) => !fs.existsSync(path.join(dir, `dl-${DL_SHAPES[2]}-all-${n}.json`)));
    if (dlMissing.length) execFileSync('python3', [path.join(here, 'gen_data.py'), '--downloaded', dir, ...dlMissing.map(String)], { stdio: 'inherit' });
    return { dir, temp };
}

const CASES = [
    { name: 'all tracks', query: '', sort: 0 },
    { name: 'filter "love"', query: 'love', sort: 0 },
    { name: 'by title', query: '', sort: ntsrch.SortMode.TITLE_ASC },
    { name: '"love" by title', query: 'love', sort: ntsrch.SortMode.TITLE_ASC },
    { name: 'newest', query: '', sort: ntsrch.SortMode.NEWEST_FIRST },
    { name: 'normalize', normalize: true },
];

// Downloaded only: the tracks whose non-empty streamURL is a string of the list; first:
// them, then the others.
function plainDownloaded(tracks, dl, first) {
    const have = new Set(Array.isArray(dl) ? dl.filter((u) => typeof u === 'string') : []);
    const down = (t) => typeof t.streamURL === 'string' && t.streamURL !== '' && have.has(t.streamURL);
    const objs = tracks.filter((t) => t !== null && typeof t === 'object' && !Array.isArray(t));
    const kept = objs.filter(down);
    return first ? kept.concat(objs.filter((t) => !down(t))) : kept;
}

function downloadedRows(lib, dir) {
    const rows = [];
    const misses = [];
    for (const n of DL_SIZES) {
        const rounds = n >= 100000 ? 3 : 5;
        for (const shape of DL_SHAPES) {
            const tracks = fs.readFileSync(path.join(dir, `tracks-${shape}-${n}.json`));
            const tracksText = tracks.toString('utf8');
            for (const which of ['half', 'all']) {
                const dl = fs.readFileSync(path.join(dir, `dl-${shape}-${which}-${n}.json`));
                const dlText = dl.toString('utf8');
                for (const first of [false, true]) {
                    const opts = (output, d) => ({ downloadedOnly: !first, downloaded: d, sort: first ? ntsrch.SortMode.DOWNLOADED_FIRST : 0, output });
                    const plainString = () => JSON.stringify(plainDownloaded(JSON.parse(tracksText), JSON.parse(dlText), first));
                    const mine = lib.filterAndSortTracks(tracksText, opts('string', dlText));
                    const same = mine === plainString() ? '' : ' (results differ)';
                    const [ps, bs, pb, bb] = alternate([
                        plainString,
                        () => lib.filterAndSortTracks(tracksText, opts('string', dlText)),
                        () => Buffer.from(JSON.stringify(plainDownloaded(JSON.parse(tracks.toString('utf8')), JSON.parse(dl.toString('utf8')), first)), 'utf8'),
                        () => lib.filterAndSortTracks(tracks, opts('bytes', dl)),
                    ], rounds, 1);
                    const name = `${n} ${shape} ${which} ${first ? 'first' : 'only'}${same}`;
                    const met = pb / bb >= DL_GOAL && !same;
                    if (!met) misses.push(name);
                    rows.push([name, fmt(ps), fmt(bs), fmt(ps / bs) + 'x', fmt(pb), fmt(bb), fmt(pb / bb) + 'x', met ? 'met' : 'MISSED']);
                }
            }
        }
    }
    return { rows, misses };
}

function plainBytes(c, bytes) {
    return Buffer.from(plainString(c, bytes.toString('utf8')), 'utf8');
}

function fmt(x, digits = 2) {
    return x.toFixed(digits);
}

async function main() {
    const lib = new ntsrch.Library();
    const { dir, temp } = inputs();
    console.log(`Node ${process.version}, module ${lib.path}`);
    console.log('Node host: binding vs plain JS, same input, alternating runs (median); ratio = plain time / binding time\n');
    const rows = [];
    const big = {};
    for (const n of SIZES) {
        const rounds = n >= 100000 ? 5 : n >= 10000 ? 7 : 9;
        const inner = n >= 100000 ? 1 : n >= 10000 ? 3 : 200;
        const read = (name) => fs.readFileSync(path.join(dir, `${name}-${n}.json`));
        const tracks = read('tracks');
        const unified = read('unified');
        for (const c of CASES) {
            const bytes = c.normalize ? unified : tracks;
            const text = bytes.toString('utf8');
            // Same result both ways, or the comparison means nothing.
            const mine = bindingCall(lib, c, text, 'string');
            const theirs = plainString(c, text);
            const same = mine === theirs ? '' : ' (results differ)';
            const [ps, bs, pb, bb] = alternate([
                () => plainString(c, text),
                () => bindingCall(lib, c, text, 'string'),
                () => plainBytes(c, bytes),
                () => bindingCall(lib, c, bytes, 'bytes'),
            ], rounds, inner);
            rows.push([`${n} ${c.name}${same}`, fmt(ps), fmt(bs), fmt(ps / bs) + 'x', fmt(pb), fmt(bb), fmt(pb / bb) + 'x']);
            if (n === SIZES[SIZES.length - 1]) big[c.name] = { c, text, bytes };
        }
    }
    console.log(table(['tracks case', 'plain str ms', 'binding str ms', 'str ratio', 'plain bytes ms', 'binding bytes ms', 'bytes ratio'], rows));

    // The string call's own cost: what is left after the parts it cannot avoid.
    const own = [];
    const n = SIZES[SIZES.length - 1];
    for (const { c, text } of Object.values(big)) {
        const encoded = Buffer.from(text + '\0', 'utf8');
        const result = bindingCall(lib, c, text, 'bytes');
        const fn = c.normalize ? 'ntsrch_normalize_unified_results_json' : 'ntsrch_filter_and_sort_tracks_json';
        const moduleCall = () => {
            const p = c.normalize ? lib._fn[fn](encoded, encoded.length - 1) : lib._fn[fn](encoded, c.query ? Buffer.from(c.query + '\0') : null, 0, null, c.sort);
            lib._fn.ntsrch_free(p);
        };
        const parts = [
            () => bindingCall(lib, c, text, 'string'),
            moduleCall,
            () => Buffer.from(text, 'utf8'),
            () => result.toString('utf8'),
        ];
        // The parts of one round are timed back to back; own is taken per round, then the
        // median, so that noise common to a round cancels out.
        const rounds = [];
        for (let r = 0; r < 15; r++) rounds.push(parts.map((job) => { const t0 = now(); job(); return now() - t0; }));
        const [whole, call, enc, dec] = [0, 1, 2, 3].map((i) => median(rounds.map((x) => x[i])));
        const rest = median(rounds.map(([w, m, e, d]) => w - m - e - d));
        own.push([`${n} ${c.name}`, fmt(whole), fmt(call), fmt(enc), fmt(dec), fmt(rest), fmt((100 * rest) / whole, 1) + '%']);
    }
    console.log('\nString call and its parts (ms, medians of 15 rounds); own = whole - module - encode - decode, per round (goal <= 10%):');
    console.log(table(['tracks case', 'whole', 'module', 'encode', 'decode', 'own', 'own share'], own));

    // Longest event loop stall during one async call with bytes in and out (goal < 20 ms).
    const { c, bytes } = big['by title'];
    await lib.filterAndSortTracksAsync('[]'); // the worker is started beforehand
    const stalls = [];
    for (let r = 0; r < 3; r++) {
        const h = monitorEventLoopDelay({ resolution: 1 });
        h.enable();
        const t0 = now();
        await lib.filterAndSortTracksAsync(bytes, { sort: c.sort, output: 'bytes' });
        const took = now() - t0;
        h.disable();
        stalls.push([h.max / 1e6, took]);
    }
    const worst = stalls.reduce((a, b) => (b[0] > a[0] ? b : a));
    console.log(`\nAsync ${n} tracks by title, bytes in and out: longest event loop stall ${fmt(worst[0], 1)} ms `
        + `(worst of ${stalls.length} calls; a call took ${fmt(worst[1], 0)} ms; goal < 20 ms)`);

    const dl = downloadedRows(lib, dir);
    console.log('\nDownloaded cases, tracks x downloaded URLs alike: binding vs JSON + a Set (median ms):');
    console.log(table(['n x m case', 'plain str ms', 'binding str ms', 'str ratio', 'plain bytes ms', 'binding bytes ms', 'bytes ratio', 'goal'], dl.rows));
    console.log(`downloaded goal bytes->bytes >= ${DL_GOAL}x: ${dl.misses.length ? 'missed in ' + dl.misses.join(', ') : 'met in every case'}`);
    await lib.close();
    if (temp) fs.rmSync(temp, { recursive: true, force: true });
}

main().catch((err) => {
    console.error(err);
    process.exit(1);
});
