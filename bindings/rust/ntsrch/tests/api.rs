// SPDX-License-Identifier: MIT
//! What the case table does not hold: errors raised on many threads at once, the crates'
//! versions against the project's, and the edges of the byte-length call.

use std::path::Path;
use std::thread;

use ntsrch::{Error, FilterOptions, SortMode};

/// Each thread makes a call that succeeds, then one that fails, in turn; its own refusals
/// must come back with its own function and message, whatever the others are doing.
#[test]
fn errors_are_per_thread() {
    const THREADS: usize = 8;
    const CALLS: usize = 5000;
    let workers: Vec<_> = (0..THREADS)
        .map(|t| {
            thread::spawn(move || {
                for i in 0..CALLS {
                    let ok = match t % 3 {
                        0 => ntsrch::build_search_url(&format!("q{t} {i}"), None).map(|u| u.contains(&format!("q{t}%20{i}"))),
                        1 => ntsrch::filter_and_sort_tracks(&format!(r#"[{{"title":"t{t}"}}]"#), &FilterOptions::default())
                            .map(|r| r == format!(r#"[{{"title":"t{t}"}}]"#)),
                        _ => ntsrch::normalize_unified_results(br#"{"tracks":[1]}"#).map(|r| r.starts_with(r#"{"localCount":1,"#)),
                    };
                    assert_eq!(ok, Ok(true), "thread {t} call {i}");
                    let (err, function, message) = match t % 3 {
                        0 => (ntsrch::build_search_url("  ", None), "ntsrch_build_search_url", "empty query"),
                        1 => (
                            ntsrch::filter_and_sort_tracks("{}", &FilterOptions::default()),
                            "ntsrch_filter_and_sort_tracks_json",
                            "tracks_json must be array",
                        ),
                        _ => (
                            ntsrch::normalize_unified_results(b"[1"),
                            "ntsrch_normalize_unified_results_json",
                            "invalid search json",
                        ),
                    };
                    assert_eq!(err, Err(Error::Refused { function, message: message.into() }), "thread {t} call {i}");
                }
            })
        })
        .collect();
    for w in workers {
        w.join().expect("a thread failed");
    }
}

#[test]
fn errors_name_what_failed() {
    let cases: &[(Result<String, Error>, Error, &str)] = &[
        (
            ntsrch::build_search_url("a\0b", None),
            Error::InteriorNul { param: "query", position: 1 },
            "query: embedded NUL at byte 1",
        ),
        (
            ntsrch::build_search_url("x", Some("h\0")),
            Error::InteriorNul { param: "base_url", position: 1 },
            "base_url: embedded NUL at byte 1",
        ),
        // The first bad argument in the C signature's order is the one named.
        (
            ntsrch::build_search_url("\0", Some("ab\0")),
            Error::InteriorNul { param: "base_url", position: 2 },
            "base_url: embedded NUL at byte 2",
        ),
        (
            ntsrch::filter_and_sort_tracks("[\0]", &FilterOptions { query: Some("\0"), ..Default::default() }),
            Error::InteriorNul { param: "tracks", position: 1 },
            "tracks: embedded NUL at byte 1",
        ),
        (
            ntsrch::filter_and_sort_tracks("[]", &FilterOptions { query: Some("ab\0"), downloaded: Some("\0"), ..Default::default() }),
            Error::InteriorNul { param: "query", position: 2 },
            "query: embedded NUL at byte 2",
        ),
        (
            ntsrch::filter_and_sort_tracks("[]", &FilterOptions { downloaded: Some("[\"\0\"]"), ..Default::default() }),
            Error::InteriorNul { param: "downloaded", position: 2 },
            "downloaded: embedded NUL at byte 2",
        ),
        (
            ntsrch::normalize_unified_results(b""),
            Error::Refused { function: "ntsrch_normalize_unified_results_json", message: "invalid search json".into() },
            "ntsrch_normalize_unified_results_json: invalid search json",
        ),
        // The length is passed, yet a NUL is refused before the call, as in any text.
        (
            ntsrch::normalize_unified_results(b"{}\0"),
            Error::InteriorNul { param: "unified", position: 2 },
            "unified: embedded NUL at byte 2",
        ),
    ];
    for (got, want, text) in cases {
        assert_eq!(got.as_ref(), Err(want));
        assert_eq!(want.to_string(), *text);
    }
    let oom = Error::OutOfMemory { function: "ntsrch_build_search_url" };
    assert_eq!(oom.to_string(), "ntsrch_build_search_url: out of memory");
    let _: &dyn std::error::Error = &oom;
}

#[test]
fn normalize_reads_only_the_slice() {
    // The slice ends inside a longer buffer: what follows it must not be read.
    let buf = br#"{"tracks":[1]}{"tracks":[1,2]}"#;
    let got = ntsrch::normalize_unified_results(&buf[..14]).expect("first object");
    assert_eq!(got, r#"{"localCount":1,"catalogueCount":0,"local":[1],"catalogue":[]}"#);
}

#[test]
fn bytes_and_text_give_the_same_result() {
    let tracks = r#"[{"title":"b","artist":"Été"},{"title":"A"},{"title":"é"}]"#;
    for sort in [SortMode::None, SortMode::TitleAsc, SortMode::ArtistAsc] {
        let o = FilterOptions { sort, ..Default::default() };
        let text = ntsrch::filter_and_sort_tracks(tracks, &o).expect("text");
        let bytes = ntsrch::filter_and_sort_tracks_bytes(tracks.as_bytes(), &o).expect("bytes");
        assert_eq!(text.as_bytes(), &bytes[..], "{sort:?}");
    }
    // Left in the module's buffer: the same text, readable from another thread.
    let o = FilterOptions { sort: SortMode::TitleAsc, ..Default::default() };
    let kept = ntsrch::filter_and_sort_tracks_text(tracks, &o).expect("text");
    let copied = ntsrch::filter_and_sort_tracks(tracks, &o).expect("string");
    assert_eq!(thread::spawn(move || kept.to_string()).join().expect("thread"), copied);
    let unified = br#"{"tracks":[{"title":"x"}]}"#;
    let kept = ntsrch::normalize_unified_results_text(unified).expect("text");
    assert_eq!(&*kept, ntsrch::normalize_unified_results(unified).expect("string"));
    assert_eq!(kept.as_bytes(), AsRef::<[u8]>::as_ref(&kept));
    assert!(matches!(ntsrch::normalize_unified_results_text(b"["), Err(Error::Refused { .. })));

    // Invalid UTF-8 goes in as bytes only, and the module refuses it.
    assert!(matches!(
        ntsrch::filter_and_sort_tracks_bytes(b"[\"\xff\"]", &FilterOptions::default()),
        Err(Error::Refused { .. })
    ));
}

/// The project has one version: the header's. Both crates carry it (`ntsrch-sys` as
/// `X+ntsrch.X`), and so does the module they link.
#[test]
fn versions_are_the_projects() {
    let root = Path::new(env!("CARGO_MANIFEST_DIR")).join("../../..");
    let header = std::fs::read_to_string(root.join("include/ntsrch.h")).expect("ntsrch.h");
    let define = |name: &str| {
        header
            .lines()
            .find_map(|l| l.strip_prefix(&format!("#define {name} ")))
            .unwrap_or_else(|| panic!("{name} not in ntsrch.h"))
            .trim()
            .trim_matches('"')
            .to_owned()
    };
    let version = define("NTSRCH_VERSION_STRING");
    let abi: i32 = define("NTSRCH_ABI_VERSION").parse().expect("ABI number");
    let cmake = std::fs::read_to_string(root.join("CMakeLists.txt")).expect("CMakeLists.txt");
    assert!(cmake.contains("project(ntsrch VERSION ${NTSRCH_HEADER_VERSION_STRING}"), "CMake takes its version from the header");

    let manifest_version = |crate_dir: &str| {
        let text = std::fs::read_to_string(root.join("bindings/rust").join(crate_dir).join("Cargo.toml")).expect("Cargo.toml");
        text.lines()
            .find_map(|l| l.strip_prefix("version = "))
            .expect("version")
            .trim_matches('"')
            .to_owned()
    };
    assert_eq!(env!("CARGO_PKG_VERSION"), version);
    assert_eq!(manifest_version("ntsrch"), version);
    assert_eq!(manifest_version("ntsrch-sys"), format!("{version}+ntsrch.{version}"));
    assert_eq!(ntsrch::sys::NTSRCH_VERSION_STRING, version);
    assert_eq!(ntsrch::sys::NTSRCH_ABI_VERSION, abi);
    assert_eq!(ntsrch::version(), version);
    assert_eq!(ntsrch::abi_version(), abi);
    assert_eq!(ntsrch::selftest(), Ok(()));
}
