// SPDX-License-Identifier: MIT
//! Rust host bench: the ntsrch crate against serde_json (preserve_order, so members keep
//! their order) doing the same job from the same input, String to String and bytes to
//! bytes, at 100, 10k and 100k tracks; and the crate against the bare C call, to price
//! its own layer.
//!
//! serde_json's way: parse into a `Value`, keep the objects whose title (else artist)
//! contains the query with ASCII case folded, sort stably by the module's keys, write
//! compact. The bare C call gets its input already NUL-terminated and frees its result
//! uncopied. Ways run in turn, round after round; medians are compared, and every case's
//! results are checked equal first.
//!
//! Usage: ntsrch-bench-host [--data DIR] [--rounds N] [--sizes N,N,...]
//! DIR holds gen_data.py's files (written there when missing); default: a temporary folder.

use std::ffi::CString;
use std::path::{Path, PathBuf};
use std::process::Command;

use ntsrch::{FilterOptions, SortMode};
use serde_json::Value;

const GOAL_SERDE: f64 = 2.0;
const GOAL_LAYER: f64 = 0.10;
const GOAL_SIZE: usize = 100_000;

struct Case {
    name: &'static str,
    query: Option<&'static str>,
    /// `None`: normalize.
    sort: Option<SortMode>,
}

const CASES: &[Case] = &[
    Case { name: "all tracks", query: None, sort: Some(SortMode::None) },
    Case { name: "filter \"love\"", query: Some("love"), sort: Some(SortMode::None) },
    Case { name: "by title", query: None, sort: Some(SortMode::TitleAsc) },
    Case { name: "\"love\" by title", query: Some("love"), sort: Some(SortMode::TitleAsc) },
    Case { name: "newest", query: None, sort: Some(SortMode::NewestFirst) },
    Case { name: "normalize", query: None, sort: None },
];

fn folded(track: &Value, key: &str) -> String {
    track.get(key).and_then(Value::as_str).map(str::to_ascii_lowercase).unwrap_or_default()
}

fn published(track: &Value) -> f64 {
    track.get("publishTimestamp").and_then(Value::as_f64).unwrap_or(0.0)
}

fn serde_filter(tracks: Value, query: Option<&str>, sort: SortMode) -> Value {
    let q = query.unwrap_or("").trim().to_ascii_lowercase();
    let tracks = match tracks {
        Value::Array(tracks) => tracks,
        _ => return Value::Array(Vec::new()),
    };
    let kept = tracks
        .into_iter()
        .filter(|t| t.is_object() && (q.is_empty() || folded(t, "title").contains(&q) || folded(t, "artist").contains(&q)));
    // sort_by is stable: ties keep input order, as the module's orders do.
    let kept: Vec<Value> = match sort {
        SortMode::TitleAsc => {
            let mut keyed: Vec<(String, Value)> = kept.map(|t| (folded(&t, "title"), t)).collect();
            keyed.sort_by(|a, b| a.0.cmp(&b.0));
            keyed.into_iter().map(|(_, t)| t).collect()
        }
        SortMode::NewestFirst => {
            let mut keyed: Vec<(f64, Value)> = kept.map(|t| (published(&t), t)).collect();
            keyed.sort_by(|a, b| b.0.total_cmp(&a.0));
            keyed.into_iter().map(|(_, t)| t).collect()
        }
        _ => kept.collect(),
    };
    Value::Array(kept)
}

fn serde_normalize(mut unified: Value) -> Value {
    let local = match unified.get_mut("tracks").map(Value::take) {
        Some(Value::Array(a)) => a,
        _ => Vec::new(),
    };
    let mut found = Vec::new();
    if let Some(Value::Object(catalogue)) = unified.get_mut("catalogue") {
        for key in ["albums", "artists"] {
            if let Some(Value::Array(a)) = catalogue.get_mut(key).map(Value::take) {
                found.extend(a);
            }
        }
    }
    let mut out = serde_json::Map::new();
    out.insert("localCount".into(), local.len().into());
    out.insert("catalogueCount".into(), found.len().into());
    out.insert("local".into(), Value::Array(local));
    out.insert("catalogue".into(), Value::Array(found));
    Value::Object(out)
}

/// The ways of one case, each returning its result's bytes (the bare call: its length).
type Way<'a> = (&'static str, Box<dyn Fn() -> Vec<u8> + 'a>);

fn ways<'a>(case: &'a Case, text: &'a str, c_text: &'a CString) -> Vec<Way<'a>> {
    let data = text.as_bytes();
    let sort = match case.sort {
        Some(sort) => sort,
        None => return vec![
            ("bare C", Box::new(move || {
                // SAFETY: data is alive and its length is passed; the result is freed once.
                let out = unsafe { ntsrch_sys::ntsrch_normalize_unified_results_json(data.as_ptr().cast(), data.len()) };
                assert!(!out.is_null());
                unsafe { ntsrch_sys::ntsrch_free(out.cast()) };
                Vec::new()
            })),
            ("crate str", Box::new(move || ntsrch::normalize_unified_results(data).expect("normalize").into_bytes())),
            ("crate bytes", Box::new(move || ntsrch::normalize_unified_results(data).expect("normalize").into_bytes())),
            ("serde str", Box::new(move || serde_json::to_string(&serde_normalize(serde_json::from_str(text).expect("JSON"))).expect("write").into_bytes())),
            ("serde bytes", Box::new(move || serde_json::to_vec(&serde_normalize(serde_json::from_slice(data).expect("JSON"))).expect("write"))),
            ("NUL copy", Box::new(Vec::new)),
            ("crate text", Box::new(move || {
                black_box(ntsrch::normalize_unified_results_text(data).expect("normalize"));
                Vec::new()
            })),
        ],
    };
    let options = FilterOptions { query: case.query, sort, ..Default::default() };
    let c_query = case.query.map(|q| CString::new(q).expect("query"));
    vec![
        ("bare C", Box::new(move || {
            let q = c_query.as_ref().map_or(std::ptr::null(), |q| q.as_ptr());
            // SAFETY: NUL-terminated inputs alive for the call; the result is freed once.
            let out = unsafe {
                ntsrch_sys::ntsrch_filter_and_sort_tracks_json(c_text.as_ptr(), q, 0, std::ptr::null(), sort.raw())
            };
            assert!(!out.is_null());
            unsafe { ntsrch_sys::ntsrch_free(out.cast()) };
            Vec::new()
        })),
        ("crate str", Box::new(move || ntsrch::filter_and_sort_tracks(text, &options).expect("filter").into_bytes())),
        ("crate bytes", Box::new(move || ntsrch::filter_and_sort_tracks_bytes(data, &options).expect("filter"))),
        ("serde str", Box::new(move || {
            serde_json::to_string(&serde_filter(serde_json::from_str(text).expect("JSON"), case.query, sort)).expect("write").into_bytes()
        })),
        ("serde bytes", Box::new(move || {
            serde_json::to_vec(&serde_filter(serde_json::from_slice(data).expect("JSON"), case.query, sort)).expect("write")
        })),
        ("NUL copy", Box::new(move || {
            black_box(CString::new(data).expect("no NUL"));
            Vec::new()
        })),
        ("crate text", Box::new(move || {
            black_box(ntsrch::filter_and_sort_tracks_text(data, &options).expect("filter"));
            Vec::new()
        })),
    ]
}

/// Keeps the optimiser from dropping a result unread (`std::hint::black_box` is newer
/// than Rust 1.63).
fn black_box<T>(x: T) -> T {
    // SAFETY: reads x once, then forgets the original, so it is moved, not duplicated.
    let kept = unsafe { std::ptr::read_volatile(&x) };
    std::mem::forget(x);
    kept
}

#[repr(C)]
struct Timespec {
    sec: i64,
    nsec: i64,
}

extern "C" {
    fn clock_gettime(clock: i32, ts: *mut Timespec) -> i32;
}

/// This thread's CPU time (user and system, page faults included), in seconds: on a
/// shared machine it moves far less with the other processes' load than wall time.
fn cpu_now() -> f64 {
    const CLOCK_THREAD_CPUTIME_ID: i32 = 3;
    let mut ts = Timespec { sec: 0, nsec: 0 };
    // SAFETY: ts is a valid out-parameter of the layout Linux x86-64/arm64 uses.
    let rc = unsafe { clock_gettime(CLOCK_THREAD_CPUTIME_ID, &mut ts) };
    assert_eq!(rc, 0, "clock_gettime");
    ts.sec as f64 + ts.nsec as f64 * 1e-9
}

fn timed(f: &dyn Fn() -> Vec<u8>, repeat: usize) -> f64 {
    let start = cpu_now();
    for _ in 0..repeat {
        black_box(f());
    }
    (cpu_now() - start) / repeat as f64
}

fn median(mut v: Vec<f64>) -> f64 {
    v.sort_by(f64::total_cmp);
    v[v.len() / 2]
}

fn measure(ways: &[Way<'_>], rounds: usize) -> Vec<f64> {
    // Repeats so that one sample lasts about 20 ms at least, then alternates the ways.
    let repeat: Vec<usize> = ways.iter().map(|(_, f)| ((0.02 / timed(f.as_ref(), 1).max(1e-7)) as usize).max(1)).collect();
    let mut samples = vec![Vec::new(); ways.len()];
    for _ in 0..rounds {
        for (i, (_, f)) in ways.iter().enumerate() {
            samples[i].push(timed(f.as_ref(), repeat[i]));
        }
    }
    samples.into_iter().map(median).collect()
}

fn check_same(case: &str, ways: &[Way<'_>]) {
    let got: Vec<Vec<u8>> = ways[1..5].iter().map(|(_, f)| f()).collect();
    assert!(got[0] == got[1], "{case}: the crate's str and bytes results differ");
    assert!(got[2] == got[3], "{case}: serde_json's str and bytes results differ");
    if got[0] != got[2] {
        let a: Value = serde_json::from_slice(&got[0]).expect("crate JSON");
        let b: Value = serde_json::from_slice(&got[2]).expect("serde JSON");
        assert!(a == b, "{case}: the crate and serde_json disagree");
    }
}

fn ensure_data(root: &Path, folder: &Path, sizes: &[usize]) {
    let missing: Vec<String> = sizes
        .iter()
        .filter(|n| !["tracks", "unified"].iter().all(|k| folder.join(format!("{k}-{n}.json")).is_file()))
        .map(|n| n.to_string())
        .collect();
    if !missing.is_empty() {
        let ok = Command::new("python3")
            .arg(root.join("bench/host/gen_data.py"))
            .arg(folder)
            .args(&missing)
            .status()
            .expect("python3 bench/host/gen_data.py");
        assert!(ok.success(), "gen_data.py failed");
    }
}

fn main() {
    let mut args = std::env::args().skip(1);
    let (mut data, mut rounds, mut sizes) = (None, 5usize, vec![100usize, 10_000, 100_000]);
    while let Some(a) = args.next() {
        let mut value = || args.next().unwrap_or_else(|| panic!("{a} needs a value"));
        match a.as_str() {
            "--data" => data = Some(PathBuf::from(value())),
            "--rounds" => rounds = value().parse().expect("--rounds N"),
            "--sizes" => sizes = value().split(',').map(|n| n.parse().expect("--sizes N,N")).collect(),
            _ => panic!("usage: ntsrch-bench-host [--data DIR] [--rounds N] [--sizes N,N,...]"),
        }
    }
    let root = Path::new(env!("CARGO_MANIFEST_DIR")).join("../../..");
    let temporary = data.is_none();
    let folder = data.unwrap_or_else(|| std::env::temp_dir().join(format!("ntsrch-rustbench-{}", std::process::id())));
    std::fs::create_dir_all(&folder).expect("data folder");
    ensure_data(&root, &folder, &sizes);
    let mut rows = Vec::new();
    for &n in &sizes {
        let tracks = std::fs::read_to_string(folder.join(format!("tracks-{n}.json"))).expect("tracks");
        let unified = std::fs::read_to_string(folder.join(format!("unified-{n}.json"))).expect("unified");
        for case in CASES {
            let text = if case.sort.is_some() { &tracks } else { &unified };
            let c_text = CString::new(text.as_bytes()).expect("no NUL");
            let w = ways(case, text, &c_text);
            check_same(case.name, &w);
            rows.push((n, case.name, case.sort.is_some(), measure(&w, rounds)));
        }
    }
    if temporary {
        let _ = std::fs::remove_dir_all(&folder);
    }

    println!("Rust host bench: the ntsrch crate against serde_json (preserve_order) and the bare C call,");
    println!("median of {rounds} alternated rounds (ms of thread CPU time). layer: what the crate adds to the bare C call,");
    println!("less the NUL copy (the input copy a C string forces, filter only, shown apart): str = the String call,");
    println!("text = the _text call, whose result stays in the module's buffer (no copy out)");
    let head = format!(
        "{:>7}  {:<16}{:>8}{:>11}{:>8}{:>7}{:>13}{:>8}{:>7}{:>10}{:>8}{:>10}  goal",
        "tracks", "case", "bare C", "crate str", "serde", "ratio", "crate bytes", "serde", "ratio", "layer str", "text", "NUL copy"
    );
    println!("{head}");
    println!("{}", "-".repeat(head.len()));
    let mut misses = Vec::new();
    for (n, case, filter, t) in &rows {
        let nul_copy = if *filter { t[5] } else { 0.0 };
        let (r_str, r_bytes, layer) = (t[3] / t[1], t[4] / t[2], (t[1] - nul_copy) / t[0] - 1.0);
        let layer_text = (t[6] - nul_copy) / t[0] - 1.0;
        let mut goal = String::new();
        if *n == GOAL_SIZE {
            let ok = r_str >= GOAL_SERDE && r_bytes >= GOAL_SERDE && layer_text <= GOAL_LAYER;
            goal = if ok { "met".into() } else { "MISSED".into() };
            if !ok {
                misses.push(*case);
            }
        }
        let nul = if *filter { format!("{:.2}", nul_copy * 1e3) } else { "-".into() };
        println!(
            "{n:>7}  {case:<16}{:>8.2}{:>11.2}{:>8.2}{:>6.1}x{:>13.2}{:>8.2}{:>6.1}x{:>9.1}%{:>7.1}%{nul:>10}  {goal}",
            t[0] * 1e3,
            t[1] * 1e3,
            t[3] * 1e3,
            r_str,
            t[2] * 1e3,
            t[4] * 1e3,
            r_bytes,
            layer * 100.0,
            layer_text * 100.0
        );
    }
    if sizes.contains(&GOAL_SIZE) {
        let verdict = if misses.is_empty() { "met in every case".to_owned() } else { format!("missed in {}", misses.join(", ")) };
        println!(
            "goals at {GOAL_SIZE} tracks: serde_json / crate >= {GOAL_SERDE}x both ways, the _text call's layer (less the NUL copy) <= {:.0}%: {verdict}",
            GOAL_LAYER * 100.0
        );
    }
}
