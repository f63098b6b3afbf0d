// SPDX-License-Identifier: MIT
//! Runs every row of the bindings' case table (bindings/contract/cases.json). A row this
//! API cannot express is skipped with the reason, never dropped. With
//! NTSRCH_CONTRACT_REPORT set, one "pass/fail/skip NAME" line per row is appended there,
//! each name prefixed with NTSRCH_CONTRACT_LABEL.

use std::fs::OpenOptions;
use std::io::Write;
use std::path::Path;

use ntsrch::{Error, FilterOptions, SortMode};
use serde_json::Value;

/// Capabilities of the case table this API has none of: its texts are `&str`/`&[u8]`,
/// its options a struct, its results text or bytes.
const LACKS: &[&str] = &[
    "utf16",
    "json_value",
    "dynamic_types",
    "options_object",
    "value_output",
    "unbounded_int",
    "output_argument",
    "parse",
];

/// Stands in for a lone surrogate escape of the table, which serde_json refuses to read
/// (a noncharacter no real row holds).
const LONE_SURROGATE: char = '\u{ffff}';

/// The table's text with each lone surrogate escape replaced by [`LONE_SURROGATE`]: such
/// rows are for hosts whose strings are UTF-16, and Rust's cannot hold one.
fn without_lone_surrogates(text: &str) -> String {
    let b = text.as_bytes();
    let mut out = String::with_capacity(text.len());
    let mut i = 0;
    let unit = |at: usize| -> Option<u16> {
        let hex = text.get(at + 2..at + 6)?;
        (b.get(at) == Some(&b'\\') && b.get(at + 1) == Some(&b'u')).then(|| u16::from_str_radix(hex, 16).ok())?
    };
    while i < b.len() {
        // An escaped backslash is never the start of an escape.
        if b[i] == b'\\' && b.get(i + 1) == Some(&b'\\') {
            out.push_str("\\\\");
            i += 2;
            continue;
        }
        match unit(i) {
            Some(0xd800..=0xdbff) if matches!(unit(i + 6), Some(0xdc00..=0xdfff)) => {
                out.push_str(&text[i..i + 12]);
                i += 12;
            }
            Some(0xd800..=0xdfff) => {
                out.push(LONE_SURROGATE);
                i += 6;
            }
            _ => {
                let c = text[i..].chars().next().expect("char");
                out.push(c);
                i += c.len_utf8();
            }
        }
    }
    out
}

/// One argument as the Rust API can take it.
enum Arg {
    Missing,
    Null,
    Text(String),
    Bytes(Vec<u8>),
    Bool(bool),
    Int(i64),
}

enum Outcome {
    Text(Vec<u8>),
    Failed(Error),
}

fn arg(args: &Value, name: &str) -> Result<Arg, String> {
    let v = match args.get(name) {
        None => return Ok(Arg::Missing),
        Some(Value::Null) => return Ok(Arg::Null),
        Some(v) => v,
    };
    if let Some(t) = v.get("text").and_then(Value::as_str) {
        return Ok(Arg::Text(t.to_owned()));
    }
    if let Some(h) = v.get("bytes_hex").and_then(Value::as_str) {
        return hex(h).map(Arg::Bytes);
    }
    if let Some(b) = v.get("bool").and_then(Value::as_bool) {
        return Ok(Arg::Bool(b));
    }
    if let Some(i) = v.get("int") {
        return i.as_i64().map(Arg::Int).ok_or_else(|| format!("{name}: int {i} is beyond i64"));
    }
    Err(format!("{name}: an argument form this runner does not know: {v}"))
}

fn hex(h: &str) -> Result<Vec<u8>, String> {
    (0..h.len())
        .step_by(2)
        .map(|i| h.get(i..i + 2).and_then(|x| u8::from_str_radix(x, 16).ok()))
        .collect::<Option<Vec<u8>>>()
        .ok_or_else(|| format!("bad bytes_hex {h}"))
}

/// Why a row cannot be said in Rust; `Ok(None)` when it can.
type Skip = Option<String>;

/// A text parameter typed `&str`: bytes only when they are UTF-8.
fn text(name: &str, a: &Arg, nullable: bool) -> Result<Result<Option<String>, String>, String> {
    Ok(match a {
        Arg::Missing | Arg::Null if nullable => Ok(None),
        Arg::Missing | Arg::Null => Err(format!("{name} is &str in Rust: it cannot be null")),
        Arg::Text(t) => Ok(Some(t.clone())),
        Arg::Bytes(b) => match String::from_utf8(b.clone()) {
            Ok(t) => Ok(Some(t)),
            Err(_) => Err(format!("{name} is &str in Rust: bytes that are not UTF-8 cannot be passed")),
        },
        _ => Err(format!("{name} takes text: other types are not expressible in Rust")),
    })
}

fn sort_mode(a: &Arg) -> Result<SortMode, String> {
    Ok(match a {
        Arg::Missing => SortMode::None,
        Arg::Int(0) => SortMode::None,
        Arg::Int(1) => SortMode::TitleAsc,
        Arg::Int(2) => SortMode::ArtistAsc,
        Arg::Int(3) => SortMode::NewestFirst,
        Arg::Int(4) => SortMode::ShortestFirst,
        Arg::Int(5) => SortMode::DownloadedFirst,
        Arg::Int(n) => return Err(format!("sort is a SortMode in Rust: {n} is not expressible")),
        _ => return Err("sort is a SortMode in Rust: other types are not expressible".into()),
    })
}

/// Makes the row's call: `Err(reason)` to skip it; a broken row panics.
fn run(row: &Value) -> Result<Outcome, String> {
    let empty = Value::Object(Default::default());
    let args = row.get("args").unwrap_or(&empty);
    let bytes_out = row.get("output").and_then(Value::as_str) == Some("bytes");
    let out = |r: Result<String, Error>| match r {
        Ok(s) => Outcome::Text(s.into_bytes()),
        Err(e) => Outcome::Failed(e),
    };
    let call = row["call"].as_str().expect("call");
    Ok(match call {
        "build_search_url" => {
            let query = text("query", &arg(args, "query")?, false)??.unwrap_or_default();
            let base = text("base_url", &arg(args, "base_url")?, true)??;
            out(ntsrch::build_search_url(&query, base.as_deref()))
        }
        "filter_and_sort_tracks" => {
            let tracks = arg(args, "tracks")?;
            let query = text("query", &arg(args, "query")?, true)??;
            let downloaded_only = match arg(args, "downloaded_only")? {
                Arg::Missing => false,
                Arg::Bool(b) => b,
                _ => return Err("downloaded_only is bool in Rust: other types are not expressible".into()),
            };
            let downloaded = text("downloaded", &arg(args, "downloaded")?, true)??;
            let options = FilterOptions {
                query: query.as_deref(),
                downloaded_only,
                downloaded: downloaded.as_deref(),
                sort: sort_mode(&arg(args, "sort")?)?,
            };
            match tracks {
                Arg::Bytes(b) => match ntsrch::filter_and_sort_tracks_bytes(&b, &options) {
                    Ok(v) => Outcome::Text(v),
                    Err(e) => Outcome::Failed(e),
                },
                Arg::Text(t) if bytes_out => match ntsrch::filter_and_sort_tracks_bytes(t.as_bytes(), &options) {
                    Ok(v) => Outcome::Text(v),
                    Err(e) => Outcome::Failed(e),
                },
                Arg::Text(t) => out(ntsrch::filter_and_sort_tracks(&t, &options)),
                Arg::Missing | Arg::Null => return Err("tracks is &str or &[u8] in Rust: it cannot be null".into()),
                _ => return Err("tracks takes text or bytes: other types are not expressible in Rust".into()),
            }
        }
        "normalize_unified_results" => match arg(args, "unified")? {
            Arg::Text(t) => out(ntsrch::normalize_unified_results(t.as_bytes())),
            Arg::Bytes(b) => out(ntsrch::normalize_unified_results(&b)),
            Arg::Missing | Arg::Null => return Err("unified is &[u8] in Rust: it cannot be null".into()),
            _ => return Err("unified takes bytes: other types are not expressible in Rust".into()),
        },
        other => panic!("unknown call {other}"),
    })
}

/// The row's verdict: `Ok(None)` passed, `Ok(Some(why))` skipped, `Err(what)` failed.
fn check(row: &Value) -> Result<Skip, String> {
    let lacking: Vec<&str> = row
        .get("needs")
        .and_then(Value::as_array)
        .map(|n| n.iter().filter_map(Value::as_str).filter(|n| LACKS.contains(n)).collect())
        .unwrap_or_default();
    if !lacking.is_empty() {
        return Ok(Some(format!("needs {}", lacking.join(", "))));
    }
    if row.to_string().contains(LONE_SURROGATE) {
        return Ok(Some("a lone surrogate: Rust's strings cannot hold one".into()));
    }
    if let Some(kind) = row.pointer("/error/kind").and_then(Value::as_str) {
        if kind == "type" || kind == "range" {
            return Ok(Some(format!("a {kind} error: Rust's types rule the input out at compile time")));
        }
    }
    // The binding's own refusals come before any call: a refusal the module made just
    // before must still be the thread's last error after them.
    let primed = ntsrch::build_search_url(" ", None);
    assert!(matches!(primed, Err(Error::Refused { .. })), "priming call: {primed:?}");
    let got = match run(row) {
        Ok(Outcome::Failed(e)) => {
            let last = last_error();
            let want = match &e {
                Error::Refused { message, .. } => message.clone(),
                _ => "empty query".to_owned(),
            };
            if last != want {
                return Err(format!("after {e:?} the last error is {last:?}, want {want:?}"));
            }
            Outcome::Failed(e)
        }
        Ok(got) => got,
        Err(why) if why.contains("form this runner does not know") => return Err(why),
        Err(why) => return Ok(Some(why)),
    };
    match (row.get("result"), row.get("error"), got) {
        (Some(want), None, Outcome::Text(bytes)) => {
            let want = match (want.get("text").and_then(Value::as_str), want.get("bytes_hex").and_then(Value::as_str)) {
                (Some(t), _) => t.as_bytes().to_vec(),
                (None, Some(h)) => hex(h)?,
                _ => return Err(format!("a result form this runner does not know: {want}")),
            };
            if bytes == want {
                Ok(None)
            } else {
                Err(format!("got {:?}, want {:?}", String::from_utf8_lossy(&bytes), String::from_utf8_lossy(&want)))
            }
        }
        (None, Some(want), Outcome::Failed(e)) => check_error(want, &e).map(|_| None),
        (_, _, Outcome::Text(bytes)) => Err(format!("got {:?}, want an error", String::from_utf8_lossy(&bytes))),
        (_, _, Outcome::Failed(e)) => Err(format!("got error {e:?}, want a result")),
    }
}

fn last_error() -> String {
    // SAFETY: never NULL; read on the thread that made the calls.
    unsafe { std::ffi::CStr::from_ptr(ntsrch::sys::ntsrch_last_error()) }.to_string_lossy().into_owned()
}

fn check_error(want: &Value, got: &Error) -> Result<(), String> {
    let s = |k: &str| want.get(k).and_then(Value::as_str);
    let ok = match (s("kind"), got) {
        (Some("refused"), Error::Refused { function, message }) => {
            Some(*function) == s("function") && Some(message.as_str()) == s("message")
        }
        (Some("out_of_memory"), Error::OutOfMemory { function }) => Some(*function) == s("function"),
        (Some("value"), Error::InteriorNul { param, position }) => {
            Some(*param) == s("param")
                && want.get("offset").and_then(Value::as_u64) == Some(*position as u64)
                && got.to_string() == format!("{}: {}", param, s("message").unwrap_or(""))
        }
        _ => false,
    };
    if ok {
        Ok(())
    } else {
        Err(format!("got {got:?} ({got}), want {want}"))
    }
}

#[test]
fn every_row_of_the_case_table() {
    let path = Path::new(env!("CARGO_MANIFEST_DIR")).join("../../contract/cases.json");
    let text = std::fs::read_to_string(&path).expect("cases.json");
    let table: Value = serde_json::from_str(&without_lone_surrogates(&text)).expect("JSON");
    let label = std::env::var("NTSRCH_CONTRACT_LABEL").unwrap_or_else(|_| "rust".into());
    let mut lines = Vec::new();
    let (mut passed, mut skipped, mut failed) = (0, 0, Vec::new());
    for row in table["cases"].as_array().expect("cases") {
        let name = format!("{label}: {}", row["name"].as_str().expect("name"));
        match check(row) {
            Ok(None) => {
                passed += 1;
                lines.push(format!("pass {name}"));
            }
            Ok(Some(why)) => {
                skipped += 1;
                lines.push(format!("skip {name}: {why}"));
            }
            Err(why) => {
                lines.push(format!("fail {name}: {why}"));
                failed.push(format!("{name}: {why}"));
            }
        }
    }
    if let Ok(report) = std::env::var("NTSRCH_CONTRACT_REPORT") {
        let mut f = OpenOptions::new().create(true).append(true).open(report).expect("report file");
        for l in &lines {
            writeln!(f, "{l}").expect("report");
        }
    }
    println!("case table: {passed} passed, {} failed, {skipped} skipped", failed.len());
    assert!(passed > 0, "no row ran");
    assert!(failed.is_empty(), "rows failed:\n{}", failed.join("\n"));
}
