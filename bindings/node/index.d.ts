// SPDX-License-Identifier: MIT
// Types of the ntsrch Node binding (ntsrch.js); what it shares with the WebAssembly binding
// is declared once, in rules.d.ts.
import type { Calls } from './rules';

export { SortMode, NtsrchError, NtsrchMemoryError, ModuleLoadError } from './rules';
export type {
    Text, JsonValue, JsonInput, Output, LoadAttempt, FilterOptions, NormalizeOptions, UrlOptions, NormalizedResults, Tracks,
} from './rules';

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

/** output 'bytes': a Node Buffer of UTF-8 (typed without @types/node). */
export interface Bytes extends Uint8Array {
    toString(encoding?: 'utf8' | 'utf-8', start?: number, end?: number): string;
}

export interface LibraryOptions {
    /** Load exactly this file (nothing else is tried). */
    path?: string;
    /** Load the module installed under this prefix (lib/, lib64/ or lib/<multiarch>/). */
    prefix?: string;
}

/**
 * The native Library where the lookup finds a module, else the package's WebAssembly library
 * (`ntsrch/wasm`), which has the same calls. Given options, only that native module is tried.
 */
export declare function load(options?: LibraryOptions): Promise<Library>;

/** One loaded module (path: the file, or the bare file name when the system path supplied it). */
export interface Library extends Calls<Bytes> {}
export declare class Library {
    /**
     * Without options: $NTSRCH_MODULE, the bundled module, then the system library path;
     * throws ModuleLoadError listing every place tried when none loads.
     */
    constructor(options?: LibraryOptions);
}
