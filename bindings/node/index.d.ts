// SPDX-License-Identifier: MIT
// Types of the ntsrch Node binding (ntsrch.js).

/** The module's file name, loaded by name from the system library path as a last resort. */
export declare const MODULE_FILE: 'nortavel-nortaveltune-search-client.so';
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

/** Text parameters: a string (sent as UTF-8), bytes, or null for a null pointer. */
export type Text = string | Uint8Array | null | undefined;
/** JSON parameters: text as above, or a value that is sent as its JSON text. */
export type JsonInput = Text | readonly unknown[] | { readonly [key: string]: unknown };

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
    constructor(tried: LoadAttempt[]);
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
    /** One of SortMode; other values keep input order. */
    sort?: number;
    /** Return parsed values instead of JSON text. */
    parse?: boolean;
}

/** The normalized unified result. */
export interface NormalizedResults {
    localCount: number;
    catalogueCount: number;
    local: unknown[];
    catalogue: unknown[];
}

/** One loaded module. Results are copied and released before a call returns. */
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
    buildSearchUrl(query: Text, baseUrl?: Text): string;
    filterAndSortTracks(tracks: JsonInput, options: FilterOptions & { parse: true }): unknown[];
    filterAndSortTracks(tracks: JsonInput, options?: FilterOptions & { parse?: false }): string;
    normalizeUnifiedResults(unified: JsonInput, options: { parse: true }): NormalizedResults;
    normalizeUnifiedResults(unified: JsonInput, options?: { parse?: false }): string;
}
