# The commands people type. CMake presets do the real work.
.PHONY: all deps build test run bench fuzz clean

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
DEMO_DIR := build/default/demo/resources

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default -j $(JOBS)

test: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default -j $(JOBS)
	ctest --preset default -j $(JOBS)
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

run: build
	build/default/saver/lumetta --resources $(DEMO_DIR) --seconds 3

bench: deps
	@cmake --preset bench >/dev/null
	@cmake --build --preset bench -j $(JOBS)
	build/bench/bench/vello_bench --benchmark_counters_tabular=true

clean:
	rm -rf build
