// SPDX-License-Identifier: MIT
//! Builds the module into the crate (feature `bundled`) or links an installed one, and
//! tells dependants where `ntsrch.h` is (`DEP_NTSRCH_INCLUDE`).

use std::env;
use std::fs;
use std::path::{Path, PathBuf};
#[cfg(not(feature = "bundled"))]
use std::process::Command;

/// Where yyjson's source is unpacked by `scripts/install-deps rust`.
const YYJSON_CACHE: &str = "/var/cache/ntsrch-cross/yyjson-src/src";

fn main() {
    let manifest = PathBuf::from(env::var_os("CARGO_MANIFEST_DIR").expect("CARGO_MANIFEST_DIR"));
    let out = PathBuf::from(env::var_os("OUT_DIR").expect("OUT_DIR"));
    let sources = Sources::find(&manifest);
    #[cfg(feature = "bundled")]
    {
        let _ = out;
        bundle(&sources);
        println!("cargo:include={}", sources.include.display());
    }
    #[cfg(not(feature = "bundled"))]
    {
        // The installed header where pkg-config names one, else the one this crate declares.
        let include = link_installed(&out).unwrap_or(sources.include);
        println!("cargo:include={}", include.display());
    }
}

/// The module's and yyjson's sources: copied into `csrc/` in a packaged crate, taken from
/// the repository otherwise (so no file is kept twice).
#[cfg_attr(not(feature = "bundled"), allow(dead_code))]
struct Sources {
    cpp: PathBuf,
    include: PathBuf,
    yyjson: PathBuf,
    /// The build's default base URL, whose one home is the CMake option in CMakeLists.txt
    /// (`csrc/default-base-url` in a packaged crate); `$NTSRCH_DEFAULT_BASE_URL` overrides it
    /// as `-DNTSRCH_DEFAULT_BASE_URL=` does for CMake.
    base_url: String,
}

impl Sources {
    fn find(manifest: &Path) -> Sources {
        println!("cargo:rerun-if-env-changed=NTSRCH_DEFAULT_BASE_URL");
        let packaged = manifest.join("csrc");
        if packaged.is_dir() {
            let setting = packaged.join("default-base-url");
            let base_url = env::var("NTSRCH_DEFAULT_BASE_URL").unwrap_or_else(|_| {
                let text = fs::read_to_string(&setting).unwrap_or_else(|e| panic!("{}: {e}", setting.display()));
                text.trim().to_string()
            });
            return Sources {
                cpp: packaged.join("src"),
                include: packaged.join("include"),
                yyjson: packaged.join("yyjson"),
                base_url,
            };
        }
        let repo = manifest.join("../../..");
        println!("cargo:rerun-if-env-changed=NTSRCH_YYJSON_SRC");
        let yyjson = env::var_os("NTSRCH_YYJSON_SRC").map_or_else(|| PathBuf::from(YYJSON_CACHE), PathBuf::from);
        let cmake = repo.join("CMakeLists.txt");
        println!("cargo:rerun-if-changed={}", cmake.display());
        let base_url = env::var("NTSRCH_DEFAULT_BASE_URL").unwrap_or_else(|_| cmake_default_base_url(&cmake));
        Sources { cpp: repo.join("src"), include: repo.join("include"), yyjson, base_url }
    }
}

/// The default of `set(NTSRCH_DEFAULT_BASE_URL "..." CACHE ...)` in CMakeLists.txt.
fn cmake_default_base_url(cmake: &Path) -> String {
    let text = fs::read_to_string(cmake).unwrap_or_else(|e| panic!("{}: {e}", cmake.display()));
    text.lines()
        .find_map(|l| l.trim().strip_prefix("set(NTSRCH_DEFAULT_BASE_URL \"")?.split('"').next().map(str::to_string))
        .unwrap_or_else(|| panic!("{}: no NTSRCH_DEFAULT_BASE_URL setting", cmake.display()))
}

#[cfg(feature = "bundled")]
fn bundle(sources: &Sources) {
    let yyjson_c = sources.yyjson.join("yyjson.c");
    if !yyjson_c.is_file() {
        panic!(
            "no yyjson source at {} (run scripts/install-deps rust, or set NTSRCH_YYJSON_SRC \
             to the folder holding yyjson.c)",
            sources.yyjson.display()
        );
    }
    // Whatever src/ holds: the module's build takes its sources by glob too.
    let mut cpp: Vec<PathBuf> = fs::read_dir(&sources.cpp)
        .unwrap_or_else(|e| panic!("{}: {e}", sources.cpp.display()))
        .filter_map(|e| e.ok().map(|e| e.path()))
        .filter(|p| p.extension().map_or(false, |x| x == "cpp"))
        .collect();
    cpp.sort();
    println!("cargo:rerun-if-changed={}", sources.cpp.display());
    println!("cargo:rerun-if-changed={}", sources.include.display());
    println!("cargo:rerun-if-changed={}", yyjson_c.display());

    // Compiled first so that its archive comes before yyjson's on the link line.
    let mut module = cc::Build::new();
    module
        .cpp(true)
        // Nothing in the module throws or needs RTTI, and no C++ runtime is linked: the
        // Rust binary stays free of libstdc++.
        .cpp_link_stdlib(None)
        .flag("-std=c++20")
        .flag("-fno-exceptions")
        .flag("-fno-rtti")
        .flag("-fvisibility=hidden")
        .flag("-fvisibility-inlines-hidden")
        .define("NTSRCH_BUILDING", None)
        .define("NTSRCH_DEFAULT_BASE_URL", format!("\"{}\"", sources.base_url).as_str())
        .include(&sources.include)
        .include(&sources.cpp)
        .include(&sources.yyjson)
        .files(&cpp);
    module.compile("ntsrch");

    // Hidden and without yyjson's export attribute: its symbols end up local in the binary.
    let mut json = cc::Build::new();
    json.warnings(false)
        .flag("-fvisibility=hidden")
        .define("yyjson_api", Some(""))
        .file(&yyjson_c);
    json.compile("ntsrch_yyjson");
}

/// Links the installed module, which has no `lib` prefix (`nortavel-nortaveltune-search-client.so`):
/// `-l` cannot name it and `+verbatim` needs Rust 1.67, so OUT_DIR gets a `libntsrch.so`
/// link to it. The binary then records the module's own SONAME, not the link's name.
#[cfg(not(feature = "bundled"))]
fn link_installed(out: &Path) -> Option<PathBuf> {
    println!("cargo:rerun-if-env-changed=NTSRCH_LIB_DIR");
    let (module, include) = match env::var_os("NTSRCH_LIB_DIR") {
        Some(dir) => {
            let dir = PathBuf::from(dir);
            let found = ["nortavel-nortaveltune-search-client.so", "nortavel-nortaveltune-search-client.dylib"]
                .iter()
                .map(|n| dir.join(n))
                .find(|p| p.is_file());
            let module = found.unwrap_or_else(|| panic!("NTSRCH_LIB_DIR={}: no module in that folder", dir.display()));
            (module, None)
        }
        None => (PathBuf::from(pkg_config("module")), Some(PathBuf::from(pkg_config("includedir")))),
    };
    let macos = env::var("CARGO_CFG_TARGET_OS").map_or(false, |os| os == "macos");
    let link = out.join(if macos { "libntsrch.dylib" } else { "libntsrch.so" });
    let _ = fs::remove_file(&link);
    symlink(&module, &link);
    println!("cargo:rerun-if-changed={}", module.display());
    println!("cargo:rustc-link-search=native={}", out.display());
    println!("cargo:rustc-link-lib=dylib=ntsrch");
    println!("cargo:module={}", module.display());
    include
}

#[cfg(not(feature = "bundled"))]
fn pkg_config(variable: &str) -> String {
    println!("cargo:rerun-if-env-changed=PKG_CONFIG_PATH");
    let run = Command::new(env::var_os("PKG_CONFIG").unwrap_or_else(|| "pkg-config".into()))
        .args([&format!("--variable={variable}"), "ntsrch"])
        .output();
    match run {
        Ok(o) if o.status.success() && o.stdout.len() > 1 => String::from_utf8_lossy(&o.stdout).trim().to_owned(),
        Ok(o) => panic!(
            "without the `bundled` feature the module is found through `pkg-config ntsrch` or \
             NTSRCH_LIB_DIR; pkg-config said: {}",
            String::from_utf8_lossy(&o.stderr).trim()
        ),
        Err(e) => panic!("without the `bundled` feature, set NTSRCH_LIB_DIR or install pkg-config: {e}"),
    }
}

#[cfg(all(unix, not(feature = "bundled")))]
fn symlink(target: &Path, link: &Path) {
    std::os::unix::fs::symlink(target, link)
        .unwrap_or_else(|e| panic!("{} -> {}: {e}", link.display(), target.display()));
}

#[cfg(all(not(unix), not(feature = "bundled")))]
fn symlink(target: &Path, _link: &Path) {
    panic!("linking an installed module is done on Unix only; use the `bundled` feature ({})", target.display());
}
