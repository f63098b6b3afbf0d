// SPDX-License-Identifier: MIT
// Compiled by bindings/wasm/test/check.sh with tsc --strict, from the build tree, against the
// assembled js/index.d.ts: each output choice gives its type.
import { load, loadSync, SortMode, NtsrchError, WasmLibrary } from './js/index';

async function use(): Promise<void> {
    const lib: WasmLibrary = await load(new URL('file:///m.wasm'));
    const sync: WasmLibrary = loadSync(new Uint8Array(8));
    const url: string = lib.buildSearchUrl('q', null);
    const urlBytes: Uint8Array = lib.buildSearchUrl('q', 'https://h', { output: 'bytes' });
    const text: string = lib.filterAndSortTracks([{ title: 'a' }], { sort: SortMode.TITLE_ASC });
    const rows: Record<string, unknown>[] = lib.filterAndSortTracks('[]', { output: 'value' });
    const parsed: Record<string, unknown>[] = lib.filterAndSortTracks('[]', { parse: true });
    const n: number = lib.normalizeUnifiedResults('{}', { output: 'value' }).localCount;
    const b: Uint8Array = await sync.normalizeUnifiedResultsAsync(new ArrayBuffer(2), { output: 'bytes' });
    const s: string = await lib.filterAndSortTracksAsync(new Uint8Array(2), { downloadedOnly: true });
    // @ts-expect-error a URL is not JSON
    lib.buildSearchUrl('q', null, { output: 'value' });
    try {
        await lib.buildSearchUrlAsync(' ');
    } catch (err) {
        if (err instanceof NtsrchError) console.log(err.function, err.lastError);
    }
    console.log(url, urlBytes, text, rows, parsed, n, b, s);
    await lib.close();
}
void use();
