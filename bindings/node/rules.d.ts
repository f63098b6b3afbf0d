// SPDX-License-Identifier: MIT
// Types of rules.js and of the calls every JS binding of ntsrch makes (the native one in
// index.d.ts, the WebAssembly one in wasm/index.d.ts): one declaration for both. B is the
// type of output 'bytes'.

/** Orders of filterAndSortTracks (NTSRCH_SORT_* in the C header). */
export declare const SortMode: Readonly<{
    NONE: 0;
    TITLE_ASC: 1;
    ARTIST_ASC: 2;
    NEWEST_FIRST: 3;
    SHORTEST_FIRST: 4;
    DOWNLOADED_FIRST: 5;
}>;
export type SortMode = (typeof SortMode)[keyof typeof SortMode];

/** Text parameters: a string (sent as UTF-8), bytes, or null for a null pointer. NUL bytes are refused. */
export type Text = string | ArrayBufferView | ArrayBuffer | null | undefined;
/** A plain JSON value: checked all the way down (no Map, Date, BigInt, NaN, ...). */
export type JsonValue = null | boolean | number | string | readonly JsonValue[] | { readonly [key: string]: JsonValue };
/** JSON parameters: text as above, or an array or plain object sent as its JSON text. */
export type JsonInput = Text | readonly unknown[] | { readonly [key: string]: unknown };
/** What a producing call returns: a string (default), UTF-8 bytes, or the parsed value. */
export type Output = 'string' | 'bytes' | 'value';

/** A call refused because of its input; lastError is the module's message. */
export declare class NtsrchError extends Error {
    constructor(fn: string, lastError: string);
    /** The C function that failed, e.g. "ntsrch_build_search_url". */
    readonly function: string;
    /** The module's last-error text ("" for lack of memory). */
    readonly lastError: string;
}

/** A call that failed for lack of memory; the module leaves no message then. */
export declare class NtsrchMemoryError extends NtsrchError {
    constructor(fn: string);
}

/** One place that was tried, and why it failed. */
export interface LoadAttempt {
    place: string;
    reason: string;
}

/** No module could be loaded; tried lists every place, in the order tried. */
export declare class ModuleLoadError extends Error {
    constructor(tried: LoadAttempt[], what?: string);
    readonly tried: LoadAttempt[];
}

export interface FilterOptions {
    /** Filter text, matched against title, else artist, ignoring ASCII case. */
    query?: Text;
    /** Keep downloaded tracks only. */
    downloadedOnly?: boolean;
    /** Stream URLs of the downloaded tracks: JSON text or an array. */
    downloaded?: JsonInput;
    /** An integer in the C int range; one of SortMode, other values keep input order. */
    sort?: number;
    output?: Output;
    /** Alias of output: 'value'. */
    parse?: boolean;
}

export interface NormalizeOptions {
    output?: Output;
    /** Alias of output: 'value'. */
    parse?: boolean;
}

export interface UrlOptions {
    /** A URL is not JSON: no 'value'. */
    output?: 'string' | 'bytes';
}

export type AsValue = { output: 'value'; parse?: boolean } | { output?: 'value'; parse: true };
export type AsBytes = { output: 'bytes'; parse?: false };
export type AsString = { output?: 'string'; parse?: false };

/** The normalized unified result. */
export interface NormalizedResults {
    localCount: number;
    catalogueCount: number;
    local: unknown[];
    catalogue: unknown[];
}

/** The kept tracks, parsed. */
export type Tracks = Record<string, unknown>[];

/** One loaded module. Results are copied and released before a call returns. */
export interface Calls<B> {
    /** The module that was loaded. */
    readonly path: string;
    /** True when the module exports the named ntsrch_ function. */
    provides(name: string): boolean;
    version(): string;
    abiVersion(): number;
    /** The calling thread's last-error text ("" when none). */
    lastError(): string;
    /** 0 when the built-in checks pass, 1 (URL) or 2 (ordering) otherwise. */
    selftest(): number;
    /** The search request URL; a null or empty base means the default base. */
    buildSearchUrl(query: Text, baseUrl: Text | undefined, options: UrlOptions & { output: 'bytes' }): B;
    buildSearchUrl(query: Text, baseUrl?: Text, options?: UrlOptions & { output?: 'string' }): string;
    buildSearchUrl(query: Text, baseUrl?: Text, options?: UrlOptions): string | B;
    filterAndSortTracks(tracks: JsonInput, options: FilterOptions & AsValue): Tracks;
    filterAndSortTracks(tracks: JsonInput, options: FilterOptions & AsBytes): B;
    filterAndSortTracks(tracks: JsonInput, options?: FilterOptions & AsString): string;
    filterAndSortTracks(tracks: JsonInput, options?: FilterOptions): string | B | Tracks;
    normalizeUnifiedResults(unified: JsonInput, options: NormalizeOptions & AsValue): NormalizedResults;
    normalizeUnifiedResults(unified: JsonInput, options: NormalizeOptions & AsBytes): B;
    normalizeUnifiedResults(unified: JsonInput, options?: NormalizeOptions & AsString): string;
    normalizeUnifiedResults(unified: JsonInput, options?: NormalizeOptions): string | B | NormalizedResults;
    /**
     * The same calls off the event loop, in the library's worker thread. Bad input
     * rejects the Promise with the error the synchronous call throws.
     */
    buildSearchUrlAsync(query: Text, baseUrl: Text | undefined, options: UrlOptions & { output: 'bytes' }): Promise<B>;
    buildSearchUrlAsync(query: Text, baseUrl?: Text, options?: UrlOptions & { output?: 'string' }): Promise<string>;
    buildSearchUrlAsync(query: Text, baseUrl?: Text, options?: UrlOptions): Promise<string | B>;
    filterAndSortTracksAsync(tracks: JsonInput, options: FilterOptions & AsValue): Promise<Tracks>;
    filterAndSortTracksAsync(tracks: JsonInput, options: FilterOptions & AsBytes): Promise<B>;
    filterAndSortTracksAsync(tracks: JsonInput, options?: FilterOptions & AsString): Promise<string>;
    filterAndSortTracksAsync(tracks: JsonInput, options?: FilterOptions): Promise<string | B | Tracks>;
    normalizeUnifiedResultsAsync(unified: JsonInput, options: NormalizeOptions & AsValue): Promise<NormalizedResults>;
    normalizeUnifiedResultsAsync(unified: JsonInput, options: NormalizeOptions & AsBytes): Promise<B>;
    normalizeUnifiedResultsAsync(unified: JsonInput, options?: NormalizeOptions & AsString): Promise<string>;
    normalizeUnifiedResultsAsync(unified: JsonInput, options?: NormalizeOptions): Promise<string | B | NormalizedResults>;
    /** Stops the worker thread (pending async calls are rejected); the library stays usable. */
    close(): Promise<void>;
}
