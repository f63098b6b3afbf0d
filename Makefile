# Front door: `make demo` builds and shows the module at work, `make test` runs every test.
# Both install what is missing first (scripts/install-deps; needs root or sudo).
BUILD ?= build
NTSRCH := $(BUILD)/ntsrch
CMAKE_FLAGS ?=

.PHONY: all deps build demo test test-unit bench clean

all: build

deps:
	scripts/install-deps

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

test-unit: build
	ctest --test-dir $(BUILD) --output-on-failure

test: test-unit

# Module vs. yyjson-only floor, same run; see the "ratio" column.
bench: deps
	cmake -S . -B $(BUILD)-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DNTSRCH_BUILD_TESTS=OFF -DNTSRCH_BUILD_BENCH=ON
	cmake --build $(BUILD)-bench
	$(BUILD)-bench/bench/ntsrch_bench --benchmark_counters_tabular=true $(BENCH_ARGS)

clean:
	rm -rf $(BUILD) build-*
