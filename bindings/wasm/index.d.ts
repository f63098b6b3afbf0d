// SPDX-License-Identifier: MIT
// Types of the ntsrch WebAssembly binding (ntsrch-wasm.mjs). The calls, options and errors
// are the Node binding's, declared once in its rules.d.ts (beside this file once assembled).
import type { Calls } from './rules';

export { SortMode, NtsrchError, NtsrchMemoryError, ModuleLoadError } from './rules';
export type {
    Text, JsonValue, JsonInput, Output, LoadAttempt, FilterOptions, NormalizeOptions, UrlOptions, NormalizedResults, Tracks,
} from './rules';

/** The module file, looked for beside ntsrch-wasm.mjs when load() gets no source. */
export declare const MODULE_FILE: 'nortavel-nortaveltune-search-client.wasm';
/** The module ABI this binding speaks. */
export declare const ABI_VERSION: 1;

/** output 'bytes': a Buffer under Node, a Uint8Array in a page. */
export type Bytes = Uint8Array;

/** Where load() takes the module from: a URL or path, bytes, a fetch Response or a compiled module. */
export type ModuleSource = string | URL | ArrayBuffer | ArrayBufferView | Response | WebAssembly.Module;

/** One instance of the module (path: always MODULE_FILE); async calls run in its Worker. */
export interface WasmLibrary extends Calls<Bytes> {}
export declare class WasmLibrary {
    private constructor();
}

/** Fetches (or reads, under Node), compiles and starts the module; default: MODULE_FILE beside this file. */
export declare function load(source?: ModuleSource): Promise<WasmLibrary>;
/** Node: the same, synchronously (a path, a file URL, bytes or a compiled module). */
export declare function loadSync(source?: string | URL | ArrayBuffer | ArrayBufferView | WebAssembly.Module): WasmLibrary;
