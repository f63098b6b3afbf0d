# SPDX-License-Identifier: MIT
# Front door: `make demo` builds and shows the module at work, `make test` runs every test
# stage and ends with one "N passed, M failed" line; `make check` runs the unit and README
# stages only. Each first installs what its job needs (scripts/install-deps JOB; needs root
# or sudo).
BUILD ?= build
NTSRCH := $(BUILD)/ntsrch
CMAKE_FLAGS ?=
# Where a test stage leaves its result files (scripts/test-stages reads them).
RESULTS = $(or $(NTSRCH_RESULTS),$(BUILD)-results/$@)
# Tests run side by side: each is its own process with its own temporary files, and
# process start-up (large under the sanitizers) dominates most of them.
TEST_JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build demo test check test-unit bench bench-host clean test-asan test-tsan \
	test-valgrind test-fuzz fuzz build-asan test-readme test-cross packages test-packages \
	release test-release wasm

all: build

# Each job installs only what it needs; scripts/test-stages sets SKIP_DEPS once done.
DEPS_JOB ?= demo
deps:
	$(if $(SKIP_DEPS),@true,scripts/install-deps $(DEPS_JOB))

build: deps
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
test: DEPS_JOB = test
test: deps
	scripts/test-stages $(STAGES)

# The quick loop for contributors: the unit and README stages, with the same summary.
check: DEPS_JOB = test
check: deps
	scripts/test-stages unit readme

test-unit: DEPS_JOB = test
test-unit: build
	@mkdir -p $(RESULTS)
	ctest --test-dir $(BUILD) -j $(TEST_JOBS) --no-tests=error --output-on-failure --output-junit $(abspath $(RESULTS))/ctest.xml

# Every shell block and example of the README, run as written from a clean environment.
test-readme:
	@mkdir -p $(RESULTS)
	python3 tests/readme/run_readme.py README.md $(RESULTS)

# Clang trees for the sanitizers; the ASan+UBSan one also holds the fuzz targets.
SAN_FLAGS := -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
VALGRIND := valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect
FUZZ_TARGETS := search_url filter normalize
FUZZ_TIME ?= 30
FUZZ_LONG_TIME ?= 1800

# Every test of the normal build under memcheck; the allocation-failure test keeps its own
# malloc, so valgrind must not replace the program's.
test-valgrind: DEPS_JOB = test
test-valgrind: build
	@mkdir -p $(RESULTS)
	$(VALGRIND) $(BUILD)/tests/ntsrch_tests --gtest_brief=1 \
	  --gtest_output=xml:$(RESULTS)/memcheck_tests.xml
	$(VALGRIND) --soname-synonyms=somalloc=nouserintercepts $(BUILD)/tests/alloc/ntsrch_alloc_tests \
	  --gtest_brief=1 --gtest_output=xml:$(RESULTS)/memcheck_alloc.xml

build-asan: DEPS_JOB = test
build-asan: deps
	cmake -S . -B $(BUILD)-asan -G Ninja $(SAN_FLAGS) -DNTSRCH_SANITIZE=address,undefined -DNTSRCH_BUILD_FUZZ=ON
	cmake --build $(BUILD)-asan

test-asan: build-asan
	@mkdir -p $(RESULTS)
	ctest --test-dir $(BUILD)-asan -j $(TEST_JOBS) --no-tests=error --output-on-failure --output-junit $(abspath $(RESULTS))/ctest.xml

test-tsan: DEPS_JOB = test
test-tsan: deps
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
	    echo "fail fuzz_$$t" >>$(RESULTS)/fuzz.txt; exit 1; \
	  fi; \
	  n="fuzz_$$t: $$(awk '/number_of_executed_units/ {print $$2}' $$log) executions in $(FUZZ_TIME) s"; \
	  echo "$$n"; printf 'pass fuzz_%s\nnote %s\n' $$t "$$n" >>$(RESULTS)/fuzz.txt; \
	done

# Windows x64 (under wine), Linux arm64 and s390x (under qemu), WebAssembly (under Node and
# headless Chromium), each in $(BUILD)-TARGET, and
# macOS x86_64, arm64 and universal, built and checked as files (nothing here runs them);
# CROSS_TARGETS=... runs a subset. One JUnit file per target.
CROSS_TARGETS ?= windows arm64 s390x wasm macos
test-cross: DEPS_JOB = cross
test-cross: deps
	BUILD=$(BUILD) scripts/test-cross $(RESULTS) $(CROSS_TARGETS)

# The module as WebAssembly: $(BUILD)-wasm/nortavel-nortaveltune-search-client.wasm.
wasm: DEPS_JOB = cross
wasm: deps
	wasm/build.sh $(BUILD)-wasm

# The longer run: same targets, FUZZ_LONG_TIME seconds each.
fuzz:
	$(MAKE) test-fuzz FUZZ_TIME=$(FUZZ_LONG_TIME)

# Debian packages, the Python wheel and the npm package, into dist/.
packages: DEPS_JOB = packages
packages: deps
	scripts/build-packages

# Each artifact installed and used as its users would; the .NET wrapper under mono.
test-packages: DEPS_JOB = packages
test-packages: packages
	tests/packages/check.sh $(abspath $(RESULTS)) $(abspath $(BUILD))-bare-root

# The release into dist/: the Debian packages, a wheel and an archive per platform, the npm
# package with five prebuilds, SHA256SUMS. Builds only: the cross trees' modules and tools
# (macOS and the Windows import library come from `make test-cross`), no test is run.
release: DEPS_JOB = packages cross
release: deps
	BUILD=$(BUILD) scripts/build-packages
	BUILD=$(BUILD) scripts/build-release

# What `make release` built, checked against tables of expectations (tests/release/).
test-release: DEPS_JOB = packages cross
test-release: release
	tests/release/check.py $(abspath $(RESULTS))

# Module vs. yyjson-only floors, same run (vs_copy, vs_direct columns), peak heap, and
# instruction counts under callgrind.
bench: DEPS_JOB = bench
bench: deps
	cmake -S . -B $(BUILD)-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DNTSRCH_BUILD_TESTS=OFF -DNTSRCH_BUILD_BENCH=ON
	cmake --build $(BUILD)-bench
	$(BUILD)-bench/bench/ntsrch_bench --benchmark_counters_tabular=true $(BENCH_ARGS)
	$(BUILD)-bench/bench/ntsrch_bench_peak
	$(BUILD)-bench/bench/ntsrch_bench_scaling $(BUILD)-bench/scaling.tsv
	python3 bench/scaling_plot.py $(BUILD)-bench/scaling.tsv $(BUILD)-bench/scaling.svg
	bench/callgrind-ratios $(BUILD)-bench
	$(MAKE) --no-print-directory bench-host SKIP_DEPS=1 HOST_BUILD=$(BUILD)-bench

# The bindings against their host's own way of doing each job, through a Release module
# (inputs from bench/host/gen_data.py, in a temporary folder). `make bench` hands over its
# own tree; alone, the module is built in $(BUILD)-host.
HOST_BUILD ?= $(BUILD)-host
HOST_MODULE = $(abspath $(HOST_BUILD))/nortavel-nortaveltune-search-client.so
bench-host: DEPS_JOB = bench
bench-host: deps
	[ -f $(HOST_BUILD)/build.ninja ] || cmake -S . -B $(HOST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DNTSRCH_BUILD_TESTS=OFF
	cmake --build $(HOST_BUILD) --target ntsrch
	NTSRCH_MODULE=$(HOST_MODULE) node bench/host/node_host.js
	if [ -f bench/host/python_host.py ]; then NTSRCH_MODULE=$(HOST_MODULE) python3 bench/host/python_host.py; fi

clean:
	rm -rf $(BUILD) build-* dist
