// SPDX-License-Identifier: MIT
// Type-checked (tsc --strict --noEmit) against the package as a user imports it; every
// declared name is used, and misuses must be rejected.
import {
    ABI_VERSION, BUNDLED_MODULE, Library, LoadAttempt, MODULE_FILE, ModuleLoadError, NormalizedResults,
    NtsrchError, NtsrchMemoryError, SortMode, version,
} from 'ntsrch';

const names: string[] = [MODULE_FILE, BUNDLED_MODULE, version];
const abi: 1 = ABI_VERSION;
const lib: Library = new Library();
const byPath = new Library({ path: lib.path });
const byPrefix = (prefix: string): Library => new Library({ prefix });

const url: string = lib.buildSearchUrl('night skies', null);
const url2: string = byPath.buildSearchUrl(new Uint8Array([0x78]), 'https://h');
const text: string = lib.filterAndSortTracks('[]', { query: 'sky', downloadedOnly: true, downloaded: ['u1'] });
const kept: unknown[] = lib.filterAndSortTracks([{ title: 'a' }], { sort: SortMode.TITLE_ASC, parse: true });
const normalized: NormalizedResults = lib.normalizeUnifiedResults({ tracks: [] }, { parse: true });
const normalizedText: string = lib.normalizeUnifiedResults(new Uint8Array(0));
const counts: number = normalized.localCount + normalized.catalogueCount + normalized.local.length + normalized.catalogue.length;
const info: [string, number, string, number, boolean] = [lib.version(), lib.abiVersion(), lib.lastError(), lib.selftest(), lib.provides('ntsrch_free')];
const mode: SortMode = SortMode.DOWNLOADED_FIRST;

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
// @ts-expect-error: path and prefix are strings
new Library({ path: 1 });

export const used = [names, abi, byPrefix, url, url2, text, kept, normalizedText, counts, info, mode, describe, errors, wrong];
