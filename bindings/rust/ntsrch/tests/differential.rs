// SPDX-License-Identifier: MIT
//! The crate against the command-line tool (`ntsrch filter`, `ntsrch normalize`) on
//! generated track lists, in every sort order, with and without the text and downloaded
//! filters: both must give the same bytes. The tool is $NTSRCH_TOOL, else build/ntsrch.

use std::path::{Path, PathBuf};
use std::process::Command;

use ntsrch::{FilterOptions, SortMode};

/// Small, seeded and dependency-free: the lists only need to be varied and repeatable.
struct Rng(u64);

impl Rng {
    fn next(&mut self) -> u64 {
        self.0 ^= self.0 << 13;
        self.0 ^= self.0 >> 7;
        self.0 ^= self.0 << 17;
        self.0
    }
    fn below(&mut self, n: u64) -> u64 {
        self.next() % n
    }
}

/// Titles and artists that tie, differ only in ASCII case, hold non-ASCII letters or are
/// missing; numbers that tie, are fractional, negative or not numbers at all.
fn tracks(n: usize, rng: &mut Rng) -> (String, String) {
    const WORDS: &[&str] = &["love", "Love", "LOVE", "night", "Été", "été", "Zeta", "alpha", "b", "B", ""];
    let mut out = Vec::new();
    let mut downloaded = Vec::new();
    for i in 0..n {
        let mut fields = vec![format!(r#""id":{i}"#)];
        if rng.below(8) != 0 {
            let (a, b) = (WORDS[rng.below(11) as usize], WORDS[rng.below(11) as usize]);
            fields.push(format!(r#""title":"{a} {b}""#));
        }
        match rng.below(6) {
            0 => {}
            1 => fields.push(r#""artist":null"#.into()),
            _ => fields.push(format!(r#""artist":"{}""#, WORDS[rng.below(11) as usize])),
        }
        match rng.below(5) {
            0 => {}
            1 => fields.push(format!(r#""duration":{}.5"#, rng.below(300))),
            2 => fields.push(r#""duration":"long""#.into()),
            _ => fields.push(format!(r#""duration":{}"#, rng.below(50))),
        }
        match rng.below(5) {
            0 => {}
            1 => fields.push(format!(r#""publishTimestamp":-{}"#, rng.below(1000))),
            _ => fields.push(format!(r#""publishTimestamp":{}"#, 1_500_000_000 + rng.below(20))),
        }
        let url = format!("https://cdn.example/{}.mp3", rng.below(n as u64));
        if rng.below(3) == 0 {
            downloaded.push(format!("\"{url}\""));
        }
        if rng.below(7) != 0 {
            fields.push(format!(r#""streamURL":"{url}""#));
        }
        out.push(format!("{{{}}}", fields.join(",")));
    }
    (format!("[{}]", out.join(",")), format!("[{}]", downloaded.join(",")))
}

fn tool() -> PathBuf {
    let root = Path::new(env!("CARGO_MANIFEST_DIR")).join("../../..");
    let tool = std::env::var_os("NTSRCH_TOOL").map_or_else(|| root.join("build/ntsrch"), PathBuf::from);
    assert!(tool.is_file(), "no tool at {} (build it: make build, or set NTSRCH_TOOL)", tool.display());
    tool
}

fn run_tool(tool: &Path, args: &[&str]) -> Vec<u8> {
    let out = Command::new(tool).args(args).output().expect("run the tool");
    assert!(out.status.success(), "ntsrch {args:?}: {}", String::from_utf8_lossy(&out.stderr));
    let mut text = out.stdout;
    assert_eq!(text.pop(), Some(b'\n'), "the tool ends its output with a newline");
    text
}

/// A folder of its own under the temporary folder, removed when dropped.
struct Scratch(PathBuf);

impl Drop for Scratch {
    fn drop(&mut self) {
        let _ = std::fs::remove_dir_all(&self.0);
    }
}

#[test]
fn same_bytes_as_the_tool_in_every_order() {
    let tool = tool();
    let scratch = Scratch(std::env::temp_dir().join(format!("ntsrch-rust-diff-{}", std::process::id())));
    std::fs::create_dir_all(&scratch.0).expect("scratch folder");
    let modes = [
        (SortMode::None, "none"),
        (SortMode::TitleAsc, "title"),
        (SortMode::ArtistAsc, "artist"),
        (SortMode::NewestFirst, "newest"),
        (SortMode::ShortestFirst, "shortest"),
        (SortMode::DownloadedFirst, "downloaded"),
    ];
    let mut rng = Rng(0x9e37_79b9_7f4a_7c15);
    let mut compared = 0;
    for (list, n) in [0usize, 1, 7, 300, 3000].into_iter().enumerate() {
        let (tracks, downloaded) = tracks(n, &mut rng);
        let tracks_path = scratch.0.join(format!("tracks-{list}.json"));
        let downloaded_path = scratch.0.join(format!("downloaded-{list}.json"));
        std::fs::write(&tracks_path, &tracks).expect("write");
        std::fs::write(&downloaded_path, &downloaded).expect("write");
        let (tp, dp) = (tracks_path.to_str().expect("path"), downloaded_path.to_str().expect("path"));
        for (sort, name) in modes {
            for (query, only) in [(None, false), (Some(" LOVE "), false), (None, true), (Some("é"), true)] {
                let options = FilterOptions { query, downloaded_only: only, downloaded: Some(&downloaded), sort };
                let mut args = vec!["filter", tp, "--sort", name, "--downloaded", dp];
                if let Some(q) = query {
                    args.extend(["--query", q]);
                }
                if only {
                    args.push("--downloaded-only");
                }
                let want = run_tool(&tool, &args);
                let got = ntsrch::filter_and_sort_tracks(&tracks, &options).expect("filter");
                assert!(got.as_bytes() == want, "{n} tracks, {args:?}: the crate and the tool differ");
                compared += 1;
            }
        }
        let unified = format!(r#"{{"tracks":{tracks},"catalogue":{{"albums":{downloaded},"artists":[{{"n":{n}}}]}}}}"#);
        let unified_path = scratch.0.join(format!("unified-{list}.json"));
        std::fs::write(&unified_path, &unified).expect("write");
        let want = run_tool(&tool, &["normalize", unified_path.to_str().expect("path")]);
        let got = ntsrch::normalize_unified_results(unified.as_bytes()).expect("normalize");
        assert!(got.as_bytes() == want, "{n} tracks: normalize differs");
        compared += 1;
    }
    assert_eq!(compared, 5 * (6 * 4 + 1));
}
