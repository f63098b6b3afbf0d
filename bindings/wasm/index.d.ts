// SPDX-License-Identifier: MIT
// Types of the ntsrch WebAssembly binding (ntsrch-wasm.mjs).

/** The module file, looked for beside ntsrch-wasm.mjs when load() gets no source. */
export declare const MODULE_FILE: 'nortavel-nortaveltune-search-client.wasm';
/** The module ABI this binding speaks. */
export declare const ABI_VERSION: 1;

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
/** output 'bytes': a Buffer under Node, a Uint8Array in a page. */
export type Bytes = Uint8Array;

/** A call refused because of its input; lastError is the module's message. */
export declare class NtsrchError extends Error {
    constructor(fn: string, lastError: string);
    /** The C function that failed, e.g. "ntsrch_build_search_url". */
    readonly function: string;
    /** The module's last-error text ("" for lack of memory). */
    readonly lastError: string;
}

/** A call that failed for lack of memory in the module's heap. */
export declare class NtsrchMemoryError extends NtsrchError {
    constructor(fn: string);
}

export interface LoadAttempt {
    place: string;
    reason: string;
}

/** The module could not be fetched, compiled or started; tried says where and why. */
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

type AsValue = { output: 'value'; parse?: boolean } | { output?: 'value'; parse: true };
type AsBytes = { output: 'bytes'; parse?: false };
type AsString = { output?: 'string'; parse?: false };

/** The normalized unified result. */
export interface NormalizedResults {
    localCount: number;
    catalogueCount: number;
    local: unknown[];
    catalogue: unknown[];
}

/** Where load() takes the module from: a URL or path, bytes, a fetch Response or a compiled module. */
export type ModuleSource = string | URL | ArrayBuffer | ArrayBufferView | Response | WebAssembly.Module;

/** One instance of the module. Results are copied out and their blocks freed before a call returns. */
export declare class WasmLibrary {
    private constructor();
    /** Always MODULE_FILE. */
    readonly path: string;
    version(): string;
    abiVersion(): number;
    /** This thread's last-error text of the module. */
    lastError(): string;
    /** 0 passed, 1 URL check failed, 2 ordering check failed. */
    selftest(): number;

    buildSearchUrl(query: Text, baseUrl?: Text, options?: { output?: 'string' }): string;
    buildSearchUrl(query: Text, baseUrl: Text, options: { output: 'bytes' }): Bytes;
    buildSearchUrl(query: Text, baseUrl?: Text, options?: UrlOptions): string | Bytes;

    filterAndSortTracks(tracks: JsonInput, options: FilterOptions & AsValue): Record<string, unknown>[];
    filterAndSortTracks(tracks: JsonInput, options: FilterOptions & AsBytes): Bytes;
    filterAndSortTracks(tracks: JsonInput, options?: FilterOptions & AsString): string;
    filterAndSortTracks(tracks: JsonInput, options?: FilterOptions): string | Bytes | Record<string, unknown>[];

    normalizeUnifiedResults(unified: JsonInput, options: NormalizeOptions & AsValue): NormalizedResults;
    normalizeUnifiedResults(unified: JsonInput, options: NormalizeOptions & AsBytes): Bytes;
    normalizeUnifiedResults(unified: JsonInput, options?: NormalizeOptions & AsString): string;
    normalizeUnifiedResults(unified: JsonInput, options?: NormalizeOptions): string | Bytes | NormalizedResults;

    /** In the library's Worker; bad input rejects the Promise with the error the sync call throws. */
    buildSearchUrlAsync(query: Text, baseUrl?: Text, options?: { output?: 'string' }): Promise<string>;
    buildSearchUrlAsync(query: Text, baseUrl: Text, options: { output: 'bytes' }): Promise<Bytes>;
    buildSearchUrlAsync(query: Text, baseUrl?: Text, options?: UrlOptions): Promise<string | Bytes>;

    filterAndSortTracksAsync(tracks: JsonInput, options: FilterOptions & AsValue): Promise<Record<string, unknown>[]>;
    filterAndSortTracksAsync(tracks: JsonInput, options: FilterOptions & AsBytes): Promise<Bytes>;
    filterAndSortTracksAsync(tracks: JsonInput, options?: FilterOptions & AsString): Promise<string>;
    filterAndSortTracksAsync(tracks: JsonInput, options?: FilterOptions): Promise<string | Bytes | Record<string, unknown>[]>;

    normalizeUnifiedResultsAsync(unified: JsonInput, options: NormalizeOptions & AsValue): Promise<NormalizedResults>;
    normalizeUnifiedResultsAsync(unified: JsonInput, options: NormalizeOptions & AsBytes): Promise<Bytes>;
    normalizeUnifiedResultsAsync(unified: JsonInput, options?: NormalizeOptions & AsString): Promise<string>;
    normalizeUnifiedResultsAsync(unified: JsonInput, options?: NormalizeOptions): Promise<string | Bytes | NormalizedResults>;

    /** Stops the Worker of the async calls, if one was started. */
    close(): Promise<void>;
}

/** Fetches (or reads, under Node), compiles and starts the module; default: MODULE_FILE beside this file. */
export declare function load(source?: ModuleSource): Promise<WasmLibrary>;
/** Node: the same, synchronously (a path, a file URL, bytes or a compiled module). */
export declare function loadSync(source?: string | URL | ArrayBuffer | ArrayBufferView | WebAssembly.Module): WasmLibrary;
