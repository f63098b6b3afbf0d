// SPDX-License-Identifier: MIT
'use strict';
// What the Node-run hosts share: the plain-JS version of each job, the call of a binding
// (the Node one or the WebAssembly one: the same methods), and alternated timing.

const { SortMode } = require('../../bindings/node/ntsrch');

// Plain JS: title, else artist, contains the trimmed query; toLowerCase folds more than
// ASCII, which changes nothing for these inputs.
function plainFilter(tracks, query) {
    const q = query.trim().toLowerCase();
    if (!q) return tracks;
    const has = (s) => typeof s === 'string' && s.toLowerCase().includes(q);
    return tracks.filter((t) => has(t.title) || has(t.artist));
}

function plainSort(tracks, sort) {
    if (sort === SortMode.TITLE_ASC) {
        const keyed = tracks.map((t) => [typeof t.title === 'string' ? t.title.toLowerCase() : '', t]);
        keyed.sort((a, b) => (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0)); // stable
        return keyed.map((k) => k[1]);
    }
    if (sort === SortMode.NEWEST_FIRST) {
        const ts = (t) => (typeof t.publishTimestamp === 'number' ? t.publishTimestamp : 0);
        return tracks.slice().sort((a, b) => ts(b) - ts(a));
    }
    return tracks;
}

function plainNormalize(u) {
    const cat = u.catalogue && typeof u.catalogue === 'object' ? u.catalogue : {};
    const local = Array.isArray(u.tracks) ? u.tracks : [];
    const catalogue = [...(Array.isArray(cat.albums) ? cat.albums : []), ...(Array.isArray(cat.artists) ? cat.artists : [])];
    return { localCount: local.length, catalogueCount: catalogue.length, local, catalogue };
}

// c: a case, { query, sort } or { normalize: true }.
function plainString(c, text) {
    const v = JSON.parse(text);
    return JSON.stringify(c.normalize ? plainNormalize(v) : plainSort(plainFilter(v, c.query), c.sort));
}

function call(lib, c, input, output) {
    if (c.normalize) return lib.normalizeUnifiedResults(input, { output });
    return lib.filterAndSortTracks(input, { query: c.query || null, sort: c.sort, output });
}

const now = () => Number(process.hrtime.bigint()) / 1e6;

// A full collection before each timed job, so that no job is charged for the garbage the job
// before it left (a 10^5-track parse leaves hundreds of MB); each still pays for the
// collections its own allocations set off.
const collect = (() => {
    require('v8').setFlagsFromString('--expose-gc');
    return require('vm').runInNewContext('gc');
})();
const median = (xs) => xs.slice().sort((a, b) => a - b)[xs.length >> 1];

// Runs each job once per round, in turn, `rounds` times; a round repeats each job `inner`
// times so that small inputs are timed over a few milliseconds. Median (or pick) ms per job call.
function alternate(jobs, rounds, inner = 1, pick = median) {
    const times = jobs.map(() => []);
    for (let r = 0; r < rounds; r++) {
        jobs.forEach((job, i) => {
            collect();
            const t0 = now();
            for (let k = 0; k < inner; k++) job();
            times[i].push((now() - t0) / inner);
        });
    }
    return times.map(pick);
}

function table(head, rows) {
    const all = [head, ...rows];
    const widths = head.map((_, i) => Math.max(...all.map((r) => String(r[i]).length)));
    return all.map((r) => r.map((v, i) => (i === 0 ? String(v).padEnd(widths[i]) : String(v).padStart(widths[i]))).join('  ')).join('\n');
}

module.exports = { plainString, call, now, median, alternate, table };
