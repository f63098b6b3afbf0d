// SPDX-License-Identifier: MIT
// Types of the ntsrch Node binding (ntsrch.js).

/** The module's file name on this platform, loaded by name from the system library path as a last resort. */
export declare const MODULE_FILE:
    | 'nortavel-nortaveltune-search-client.so'
    | 'nortavel-nortaveltune-search-client.dll'
    | 'nortavel-nortaveltune-search-client.dylib';
/** The module ABI this binding speaks; a module with another one is not used. */
export declare const ABI_VERSION: 1;
/** Where this package carries its own copy of the module for this platform. */
export declare const BUNDLED_MODULE: string;
/** This package's version. */
export declare const version: string;

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
/** output 'bytes': a Node Buffer of UTF-8 (typed without @types/node). */
export interface Bytes extends Uint8Array {
    toString(encoding?: 'utf8' | 'utf-8', start?: number, end?: number): string;
}
/** What a producing call returns: a string (default), a Buffer of UTF-8, or the parsed value. */
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

/** One place Library() tried, and why it failed. */
export interface LoadAttempt {
    place: string;
    reason: string;
}

/** No module could be loaded; tried lists every place, in lookup order. */
export declare class ModuleLoadError extends Error {
    constructor(tried: LoadAttempt[], what?: string);
    readonly tried: LoadAttempt[];
}

export interface LibraryOptions {
    /** Load exactly this file (nothing else is tried). */
    path?: string;
    /** Load the module installed under this prefix (lib/, lib64/ or lib/<multiarch>/). */
    prefix?: string;
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

/** One loaded module. Results are copied and released before a call returns. */
/**
 * The native Library where the lookup finds a module, else the package's WebAssembly library
 * (`ntsrch/wasm`), which has the same calls. Given options, only that native module is tried.
 */
export declare function load(options?: LibraryOptions): Promise<Library>;

export declare class Library {
    /**
     * Without options: $NTSRCH_MODULE, the bundled module, then the system library path;
     * throws ModuleLoadError listing every place tried when none loads.
     */
    constructor(options?: LibraryOptions);
    /** The file that was loaded (the bare file name when the system path supplied it). */
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
    buildSearchUrl(query: Text, baseUrl: Text | undefined, options: UrlOptions & { output: 'bytes' }): Bytes;
    buildSearchUrl(query: Text, baseUrl?: Text, options?: UrlOptions & { output?: 'string' }): string;
    filterAndSortTracks(tracks: JsonInput, options: FilterOptions & AsValue): unknown[];
    filterAndSortTracks(tracks: JsonInput, options: FilterOptions & AsBytes): Bytes;
    filterAndSortTracks(tracks: JsonInput, options?: FilterOptions & AsString): string;
    normalizeUnifiedResults(unified: JsonInput, options: NormalizeOptions & AsValue): NormalizedResults;
    normalizeUnifiedResults(unified: JsonInput, options: NormalizeOptions & AsBytes): Bytes;
    normalizeUnifiedResults(unified: JsonInput, options?: NormalizeOptions & AsString): string;
    /**
     * The same calls off the event loop, in this Library's worker thread. Bad input
     * rejects the Promise with the error the synchronous call throws.
     */
    buildSearchUrlAsync(query: Text, baseUrl: Text | undefined, options: UrlOptions & { output: 'bytes' }): Promise<Bytes>;
    buildSearchUrlAsync(query: Text, baseUrl?: Text, options?: UrlOptions & { output?: 'string' }): Promise<string>;
    filterAndSortTracksAsync(tracks: JsonInput, options: FilterOptions & AsValue): Promise<unknown[]>;
    filterAndSortTracksAsync(tracks: JsonInput, options: FilterOptions & AsBytes): Promise<Bytes>;
    filterAndSortTracksAsync(tracks: JsonInput, options?: FilterOptions & AsString): Promise<string>;
    normalizeUnifiedResultsAsync(unified: JsonInput, options: NormalizeOptions & AsValue): Promise<NormalizedResults>;
    normalizeUnifiedResultsAsync(unified: JsonInput, options: NormalizeOptions & AsBytes): Promise<Bytes>;
    normalizeUnifiedResultsAsync(unified: JsonInput, options?: NormalizeOptions & AsString): Promise<string>;
    /**
     * Stops the worker thread (pending async calls are rejected) and drops the buffer kept
     * for encoding inputs; the Library stays usable.
     */
    close(): Promise<void>;
}
