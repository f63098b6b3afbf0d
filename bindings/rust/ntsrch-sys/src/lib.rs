// SPDX-License-Identifier: MIT
//! Raw declarations of the ntsrch module's eight C functions (`ntsrch.h`).
//!
//! With the default `bundled` feature the module is compiled into this crate: the binary
//! needs no shared library beside it. Without it, the installed module is linked (found
//! through `pkg-config ntsrch` or the folder in `NTSRCH_LIB_DIR`).
//!
//! Every producing function returns a new NUL-terminated string that must be released
//! exactly once with [`ntsrch_free`], or NULL; after a NULL, [`ntsrch_last_error`] on the
//! same thread says why (empty: out of memory). The safe API is the `ntsrch` crate.

#![deny(missing_docs)]

use std::os::raw::{c_char, c_int, c_void};

/// Header version, `"1.0.0"`: compare with [`ntsrch_version`].
pub const NTSRCH_VERSION_STRING: &str = "1.0.0";
/// ABI version this crate declares: compare with [`ntsrch_abi_version`].
pub const NTSRCH_ABI_VERSION: c_int = 1;

/// Keep input order.
pub const NTSRCH_SORT_NONE: c_int = 0;
/// Title, ASCII case folded, ties in input order.
pub const NTSRCH_SORT_TITLE_ASC: c_int = 1;
/// Artist, ASCII case folded, ties in input order.
pub const NTSRCH_SORT_ARTIST_ASC: c_int = 2;
/// Newest `publishTimestamp` first.
pub const NTSRCH_SORT_NEWEST_FIRST: c_int = 3;
/// Shortest `duration` first.
pub const NTSRCH_SORT_SHORTEST_FIRST: c_int = 4;
/// Downloaded tracks first.
pub const NTSRCH_SORT_DOWNLOADED_FIRST: c_int = 5;

extern "C" {
    /// Library version text; owned by the library.
    pub fn ntsrch_version() -> *const c_char;
    /// ABI version of the module.
    pub fn ntsrch_abi_version() -> c_int;
    /// The calling thread's last-error text; never NULL, empty when there is none.
    pub fn ntsrch_last_error() -> *const c_char;
    /// Releases a string returned by a producing function; NULL is accepted.
    pub fn ntsrch_free(p: *mut c_void);
    /// Search request URL for `query` on `base_url` (NULL: the built-in base).
    pub fn ntsrch_build_search_url(base_url: *const c_char, query: *const c_char) -> *mut c_char;
    /// Filters and orders a JSON track array.
    pub fn ntsrch_filter_and_sort_tracks_json(
        tracks_json: *const c_char,
        query: *const c_char,
        downloaded_only: c_int,
        downloaded_json: *const c_char,
        sort_mode: c_int,
    ) -> *mut c_char;
    /// Reshapes a unified search result; `len` 0 means NUL-terminated.
    pub fn ntsrch_normalize_unified_results_json(json: *const c_char, len: usize) -> *mut c_char;
    /// Runs the built-in checks: 0 when all pass.
    pub fn ntsrch_selftest() -> c_int;
}
