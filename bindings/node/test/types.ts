// SPDX-License-Identifier: MIT
// Type-checked (tsc --strict --noEmit) against the package as a user imports it; every
// declared name is used, and misuses must be rejected.
import {
    ABI_VERSION, BUNDLED_MODULE, Bytes, JsonValue, Library, LoadAttempt, MODULE_FILE, ModuleLoadError, NormalizedResults,
    NtsrchError, NtsrchMemoryError, Output, SortMode, version,
} from 'ntsrch';

const names: string[] = [MODULE_FILE, BUNDLED_MODULE, version];
const file: 'nortavel-nortaveltune-search-client.dll' | typeof MODULE_FILE = MODULE_FILE;
const abi: 1 = ABI_VERSION;
const lib: Library = new Library();
const byPath = new Library({ path: lib.path });
const byPrefix = (prefix: string): Library => new Library({ prefix });

const url: string = lib.buildSearchUrl('night skies', null);
const url2: string = byPath.buildSearchUrl(new Uint8Array([0x78]), 'https://h', { output: 'string' });
const urlBytes: Bytes = lib.buildSearchUrl(new ArrayBuffer(1), new DataView(new ArrayBuffer(1)), { output: 'bytes' });
const text: string = lib.filterAndSortTracks('[]', { query: 'sky', downloadedOnly: true, downloaded: ['u1'] });
const kept: unknown[] = lib.filterAndSortTracks([{ title: 'a' }], { sort: SortMode.TITLE_ASC, parse: true });
const keptValue: unknown[] = lib.filterAndSortTracks([{ title: 'a' }], { output: 'value' });
const keptBytes: Bytes = lib.filterAndSortTracks(new Uint8Array(0), { output: 'bytes' });
const normalized: NormalizedResults = lib.normalizeUnifiedResults({ tracks: [] }, { parse: true });
const normalizedText: string = lib.normalizeUnifiedResults(new Uint8Array(0));
const normalizedBytes: string = lib.normalizeUnifiedResults('{}', { output: 'bytes' }).toString('utf8');
const counts: number = normalized.localCount + normalized.catalogueCount + normalized.local.length + normalized.catalogue.length;
const info: [string, number, string, number, boolean] = [lib.version(), lib.abiVersion(), lib.lastError(), lib.selftest(), lib.provides('ntsrch_free')];
const mode: SortMode = SortMode.DOWNLOADED_FIRST;
const outputs: Output[] = ['string', 'bytes', 'value'];
const plain: JsonValue = { a: [1, 'x', null, true, { b: 2 }] };

async function later(): Promise<[string, Bytes, string, unknown[], Bytes, NormalizedResults, string, Bytes, void]> {
    return [
        await lib.buildSearchUrlAsync('q'),
        await lib.buildSearchUrlAsync('q', null, { output: 'bytes' }),
        await lib.filterAndSortTracksAsync('[]', { sort: 1 }),
        await lib.filterAndSortTracksAsync([], { parse: true }),
        await lib.filterAndSortTracksAsync([], { output: 'bytes' }),
        await lib.normalizeUnifiedResultsAsync('{}', { output: 'value' }),
        await lib.normalizeUnifiedResultsAsync('{}'),
        await lib.normalizeUnifiedResultsAsync('{}', { output: 'bytes' }),
        await lib.close(),
    ];
}

function describe(err: unknown): string {
    if (err instanceof NtsrchMemoryError) return `out of memory in ${err.function}`;
    if (err instanceof NtsrchError) return `${err.function}: ${err.lastError}`;
    if (err instanceof ModuleLoadError) return err.tried.map((t: LoadAttempt) => `${t.place}: ${t.reason}`).join('\n');
    return String(err);
}
const errors = [new NtsrchError('f', 'm'), new NtsrchMemoryError('f'), new ModuleLoadError([{ place: 'p', reason: 'r' }])];

// @ts-expect-error: a query is text, not a number
lib.buildSearchUrl(42);
// @ts-expect-error: SortMode is read-only
SortMode.NONE = 1;
// @ts-expect-error: parsed normalized results are not a string
const wrong: string = lib.normalizeUnifiedResults('{}', { parse: true });
// @ts-expect-error: bytes are not a string
const wrongBytes: string = lib.filterAndSortTracks('[]', { output: 'bytes' });
// @ts-expect-error: an async call gives a Promise
const notAwaited: string = lib.filterAndSortTracksAsync('[]');
// @ts-expect-error: a URL is not JSON
lib.buildSearchUrl('q', null, { output: 'value' });
// @ts-expect-error: no such output
lib.filterAndSortTracks('[]', { output: 'json' });
// @ts-expect-error: path and prefix are strings
new Library({ path: 1 });

export const used = [names, file, abi, byPrefix, url, url2, urlBytes, text, kept, keptValue, keptBytes, normalizedText, normalizedBytes,
    counts, info, mode, outputs, plain, later, describe, errors, wrong, wrongBytes, notAwaited];
