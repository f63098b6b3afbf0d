// SPDX-License-Identifier: MIT
//! Safe API of the ntsrch music search module: search request URLs, filtering and
//! ordering of JSON track lists, and the reshaping of unified search results.
//!
//! Every function may be called from any number of threads at once. Each one makes the C
//! call and reads that thread's last-error text in the same function, so an error can
//! never be another call's. The calls are blocking and CPU-bound: an async application
//! runs them on a blocking pool (`tokio::task::spawn_blocking`, see the README).
//!
//! ```
//! let url = ntsrch::build_search_url("night skies", None)?;
//! assert!(url.ends_with("/search/api?q=night%20skies&format=json"));
//!
//! let options = ntsrch::FilterOptions { sort: ntsrch::SortMode::TitleAsc, ..Default::default() };
//! let kept = ntsrch::filter_and_sort_tracks(r#"[{"title":"Zeta"},{"title":"alpha"}]"#, &options)?;
//! assert_eq!(kept, r#"[{"title":"alpha"},{"title":"Zeta"}]"#);
//! # Ok::<(), ntsrch::Error>(())
//! ```

#![deny(missing_docs)]

use std::ffi::{CStr, CString};
use std::fmt;
use std::os::raw::{c_char, c_int, c_void};
use std::ptr::{self, NonNull};

/// The raw C declarations this crate wraps, for the version and ABI constants.
pub use ntsrch_sys as sys;

/// Why a call failed.
#[non_exhaustive]
#[derive(Clone, Debug, PartialEq, Eq)]
pub enum Error {
    /// The module refused the input: `message` is its last-error text (such as
    /// `"tracks_json must be array"`), `function` the C function that refused it.
    Refused {
        /// Name of the C function, e.g. `"ntsrch_filter_and_sort_tracks_json"`.
        function: &'static str,
        /// The module's message.
        message: String,
    },
    /// The module ran out of memory (it left no message).
    OutOfMemory {
        /// Name of the C function.
        function: &'static str,
    },
    /// A text argument holds a NUL byte, which a C string cannot carry; nothing was called.
    InteriorNul {
        /// The parameter's name, e.g. `"query"`.
        param: &'static str,
        /// Byte offset of the first NUL.
        position: usize,
    },
}

impl fmt::Display for Error {
    fn fmt(&self, f: &mut fmt::Formatter<'_>) -> fmt::Result {
        match self {
            Error::Refused { function, message } => write!(f, "{function}: {message}"),
            Error::OutOfMemory { function } => write!(f, "{function}: out of memory"),
            Error::InteriorNul { param, position } => {
                write!(f, "{param}: embedded NUL at byte {position}")
            }
        }
    }
}

impl std::error::Error for Error {}

/// A result left in the module's own buffer, read as `&str` (or bytes) without a copy and
/// released when dropped. The `String` and `Vec<u8>` functions copy it out once; the
/// `_text` functions hand it over as it is, for a caller that only reads or writes it out.
///
/// It is UTF-8: the module's JSON reader refuses invalid UTF-8, its writer copies strings
/// as read, and a URL is ASCII after a base that is a `&str`.
pub struct Text {
    ptr: NonNull<c_char>,
    len: usize,
}

// SAFETY: the buffer is never written after the call, and ntsrch_free may run on any thread.
unsafe impl Send for Text {}
// SAFETY: as above; shared access only reads.
unsafe impl Sync for Text {}

impl Text {
    /// The result's bytes, without its NUL terminator.
    pub fn as_bytes(&self) -> &[u8] {
        // SAFETY: ptr holds len bytes (then a NUL) until drop.
        unsafe { std::slice::from_raw_parts(self.ptr.as_ptr().cast::<u8>(), self.len) }
    }
}

impl std::ops::Deref for Text {
    type Target = str;
    fn deref(&self) -> &str {
        debug_assert!(std::str::from_utf8(self.as_bytes()).is_ok(), "the module returned text that is not UTF-8");
        // SAFETY: the module's results are UTF-8 (see the type's documentation); checking
        // again would be one more pass over every result.
        unsafe { std::str::from_utf8_unchecked(self.as_bytes()) }
    }
}

impl AsRef<[u8]> for Text {
    fn as_ref(&self) -> &[u8] {
        self.as_bytes()
    }
}

impl AsRef<str> for Text {
    fn as_ref(&self) -> &str {
        self
    }
}

impl fmt::Display for Text {
    fn fmt(&self, f: &mut fmt::Formatter<'_>) -> fmt::Result {
        f.write_str(self)
    }
}

impl fmt::Debug for Text {
    fn fmt(&self, f: &mut fmt::Formatter<'_>) -> fmt::Result {
        fmt::Debug::fmt(&**self, f)
    }
}

impl From<Text> for String {
    fn from(t: Text) -> String {
        String::from(&*t)
    }
}

impl Drop for Text {
    fn drop(&mut self) {
        // SAFETY: the module's buffer, released exactly once, here.
        unsafe { sys::ntsrch_free(self.ptr.as_ptr().cast::<c_void>()) }
    }
}

/// Order of [`filter_and_sort_tracks`]' result. Every order is stable: ties keep input order.
#[derive(Clone, Copy, Debug, Default, PartialEq, Eq, Hash)]
pub enum SortMode {
    /// Input order.
    #[default]
    None,
    /// By `"title"`, ASCII letters compared case-insensitively.
    TitleAsc,
    /// By `"artist"`, ASCII letters compared case-insensitively.
    ArtistAsc,
    /// Largest `"publishTimestamp"` first.
    NewestFirst,
    /// Smallest `"duration"` first.
    ShortestFirst,
    /// Tracks whose `"streamURL"` is in the downloaded list first.
    DownloadedFirst,
}

impl SortMode {
    /// The C value (`NTSRCH_SORT_*`).
    pub fn raw(self) -> i32 {
        match self {
            SortMode::None => sys::NTSRCH_SORT_NONE,
            SortMode::TitleAsc => sys::NTSRCH_SORT_TITLE_ASC,
            SortMode::ArtistAsc => sys::NTSRCH_SORT_ARTIST_ASC,
            SortMode::NewestFirst => sys::NTSRCH_SORT_NEWEST_FIRST,
            SortMode::ShortestFirst => sys::NTSRCH_SORT_SHORTEST_FIRST,
            SortMode::DownloadedFirst => sys::NTSRCH_SORT_DOWNLOADED_FIRST,
        }
    }
}

/// What [`filter_and_sort_tracks`] keeps and how it orders it; `Default` keeps every
/// track in input order.
#[derive(Clone, Copy, Debug, Default, PartialEq, Eq)]
pub struct FilterOptions<'a> {
    /// Keep tracks whose title or artist contains this text (ASCII case ignored,
    /// surrounding whitespace trimmed); `None` or blank keeps all.
    pub query: Option<&'a str>,
    /// Keep only tracks whose `"streamURL"` is in `downloaded`.
    pub downloaded_only: bool,
    /// JSON array of the downloaded tracks' stream URLs.
    pub downloaded: Option<&'a str>,
    /// Order of the result.
    pub sort: SortMode,
}

const URL_FN: &str = "ntsrch_build_search_url";
const FILTER_FN: &str = "ntsrch_filter_and_sort_tracks_json";
const NORMALIZE_FN: &str = "ntsrch_normalize_unified_results_json";

/// The search request URL: `base_url` (default: the module's own; trailing slashes
/// dropped) + `/search/api?q=` + the percent-encoded query + `&format=json`.
///
/// Errors: [`Error::Refused`] with `"empty query"` for a blank query,
/// [`Error::InteriorNul`] for a NUL in either text.
pub fn build_search_url(query: &str, base_url: Option<&str>) -> Result<String, Error> {
    // The C signature's order: base_url is checked before query.
    let base = base_url.map(|b| c_text("base_url", b.as_bytes())).transpose()?;
    let query = c_text("query", query.as_bytes())?;
    // SAFETY: both pointers are NUL-terminated strings (or NULL) alive for the call.
    call(URL_FN, || unsafe { sys::ntsrch_build_search_url(opt_ptr(&base), query.as_ptr()) }).map(String::from)
}

/// Filters the JSON array `tracks` as `options` say and returns the kept objects as a
/// compact JSON array.
///
/// Errors: [`Error::Refused`] with `"tracks_json must be array"` for anything but a JSON
/// array, [`Error::InteriorNul`] for a NUL in a text.
pub fn filter_and_sort_tracks(tracks: &str, options: &FilterOptions<'_>) -> Result<String, Error> {
    filter(tracks.as_bytes(), options).map(String::from)
}

/// [`filter_and_sort_tracks`] from and to bytes (UTF-8 JSON), for input read from a file
/// or the network; the module refuses invalid UTF-8 itself.
pub fn filter_and_sort_tracks_bytes(tracks: &[u8], options: &FilterOptions<'_>) -> Result<Vec<u8>, Error> {
    filter(tracks, options).map(|t| t.as_bytes().to_vec())
}

/// [`filter_and_sort_tracks`] from text or bytes, its result left in the module's buffer:
/// no copy on the way out.
pub fn filter_and_sort_tracks_text(tracks: impl AsRef<[u8]>, options: &FilterOptions<'_>) -> Result<Text, Error> {
    filter(tracks.as_ref(), options)
}

/// Reshapes a unified search result into
/// `{"localCount":N,"catalogueCount":M,"local":[...],"catalogue":[...]}`.
///
/// The length is passed with the bytes: nothing is copied and no NUL is needed.
/// Errors: [`Error::Refused`] with `"invalid search json"`, [`Error::InteriorNul`] for a
/// NUL byte.
pub fn normalize_unified_results(unified: &[u8]) -> Result<String, Error> {
    normalize_unified_results_text(unified).map(String::from)
}

/// [`normalize_unified_results`] with its result left in the module's buffer: no copy
/// either way.
pub fn normalize_unified_results_text(unified: &[u8]) -> Result<Text, Error> {
    // The length goes with the bytes, but a NUL is refused as in every other text: no JSON
    // text holds one, and every binding names it the same way.
    // (`contains` on bytes is memchr: one fast pass, the position only when there is one.)
    if unified.contains(&0) {
        let position = unified.iter().position(|&b| b == 0).unwrap_or_default();
        return Err(Error::InteriorNul { param: "unified", position });
    }
    // Length 0 means "NUL-terminated" to the module, so an empty input goes as "".
    let (p, len) = if unified.is_empty() {
        (b"\0".as_ptr(), 0)
    } else {
        (unified.as_ptr(), unified.len())
    };
    // SAFETY: p points to len readable bytes (or to a NUL when len is 0).
    call(NORMALIZE_FN, || unsafe { sys::ntsrch_normalize_unified_results_json(p.cast(), len) })
}

/// Runs the module's built-in checks: `Err(1)` when search URL building fails, `Err(2)`
/// when title ordering fails.
pub fn selftest() -> Result<(), i32> {
    // SAFETY: no arguments, no state.
    match unsafe { sys::ntsrch_selftest() } {
        0 => Ok(()),
        code => Err(code),
    }
}

/// The module's version text, such as `"1.0.0"`.
pub fn version() -> &'static str {
    // SAFETY: the module returns a static NUL-terminated ASCII string.
    let v = unsafe { CStr::from_ptr(sys::ntsrch_version()) };
    v.to_str().unwrap_or("")
}

/// The module's ABI version; this crate is built for [`ntsrch_sys::NTSRCH_ABI_VERSION`].
pub fn abi_version() -> i32 {
    // SAFETY: no arguments, no state.
    unsafe { sys::ntsrch_abi_version() }
}

fn filter(tracks: &[u8], o: &FilterOptions<'_>) -> Result<Text, Error> {
    // Checked in the C signature's order, so the first bad argument is the one named.
    // The copy of `tracks` is the one a C string forces: it needs a NUL after it.
    let tracks = c_text("tracks", tracks)?;
    let query = o.query.map(|q| c_text("query", q.as_bytes())).transpose()?;
    let downloaded = o.downloaded.map(|d| c_text("downloaded", d.as_bytes())).transpose()?;
    let (only, sort) = (c_int::from(o.downloaded_only), o.sort.raw());
    // SAFETY: every pointer is a NUL-terminated string (or NULL) alive for the call.
    call(FILTER_FN, || unsafe {
        sys::ntsrch_filter_and_sort_tracks_json(tracks.as_ptr(), opt_ptr(&query), only, opt_ptr(&downloaded), sort)
    })
}

fn c_text(param: &'static str, text: &[u8]) -> Result<CString, Error> {
    CString::new(text).map_err(|e| Error::InteriorNul { param, position: e.nul_position() })
}

fn opt_ptr(s: &Option<CString>) -> *const c_char {
    s.as_ref().map_or(ptr::null(), |s| s.as_ptr())
}

/// Makes the C call and, on NULL, reads this thread's last error before anything else can
/// run on it.
fn call(function: &'static str, c: impl FnOnce() -> *mut c_char) -> Result<Text, Error> {
    let out = c();
    match NonNull::new(out) {
        // SAFETY: a non-NULL result is a NUL-terminated string we own until ntsrch_free.
        Some(ptr) => Ok(Text { ptr, len: unsafe { CStr::from_ptr(out) }.to_bytes().len() }),
        None => {
            // SAFETY: never NULL; valid until this thread's next producing call.
            let why = unsafe { CStr::from_ptr(sys::ntsrch_last_error()) };
            Err(if why.to_bytes().is_empty() {
                Error::OutOfMemory { function }
            } else {
                Error::Refused { function, message: why.to_string_lossy().into_owned() }
            })
        }
    }
}

