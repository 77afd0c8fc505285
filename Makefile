# The commands people type. CMake presets do the real work.
.PHONY: all deps build test run bench fuzz deb clean

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

# build/default/lumetta_<version>_amd64.deb (cmake/VelloPackage.cmake).
deb: build
	@cmake --build --preset default --target package

# A window on the demo package until it is closed; ARGS adds options, e.g.
# make run ARGS="--seconds 10 --preview". Without a display, what would be
# shown is printed for 3 s instead.
# Builds only lumetta and what it runs with (its window module, the player,
# the demo package), not every test program.
run: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default -j $(JOBS) --target lumetta
	@if [ -n "$$DISPLAY" ]; then \
	  build/default/saver/lumetta --platform gtk --resources $(DEMO_DIR) $(ARGS); \
	else \
	  echo "make run: no display (\$$DISPLAY is not set), so no window: showing what would be shown for 3 s"; \
	  build/default/saver/lumetta --platform headless --resources $(DEMO_DIR) --seconds 3; \
	fi

# Medians of a few repetitions; the run ends with the summary table
# (bench/Summary.h).
BENCH_FLAGS ?= --benchmark_repetitions=3 --benchmark_report_aggregates_only=true

bench: deps
	@cmake --preset bench >/dev/null
	@cmake --build --preset bench -j $(JOBS)
	build/bench/bench/vello_bench $(BENCH_FLAGS)

# Each fuzz target runs FUZZ_SECONDS on its own corpus under build/fuzz/corpus.
FUZZ_SECONDS ?= 60
FUZZERS := package_read_fuzz string_record_fuzz encrypted_string_fuzz base_decode_fuzz lenient_base64_fuzz

fuzz:
	@bash scripts/install-deps.sh fuzz
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@for f in $(FUZZERS); do \
	  mkdir -p build/fuzz/corpus/$$f; \
	  echo "== $$f ($(FUZZ_SECONDS) s)"; \
	  if ! build/fuzz/fuzz/$$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 \
	      -print_final_stats=1 -artifact_prefix=build/fuzz/$$f- \
	      build/fuzz/corpus/$$f > build/fuzz/$$f.log 2>&1; then \
	    tail -40 build/fuzz/$$f.log; exit 1; \
	  fi; \
	  grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' build/fuzz/$$f.log; \
	done

clean:
	rm -rf build
