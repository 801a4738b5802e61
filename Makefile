# Entry points: `make demo` (the main job), `make test` (the suite), `make tsan` (the threaded tests
# under ThreadSanitizer), `make install PREFIX=...`, `make bench`, `make fuzz`, `make fuzz-long` (every
# fuzz target for a long run, its corpus minimised into fuzz/corpus/).
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
# Every fuzz target unless a shorter list is given (names as in fuzz/seeds/, e.g. decompress_fuzz).
FUZZ_TARGETS ?= $(notdir $(wildcard fuzz/seeds/*_fuzz))

PREFIX ?= /usr/local

.PHONY: all deps demo install test tsan bench alloc-sweep fuzz fuzz-build fuzz-long format clean

all: demo

deps:
	@scripts/install-deps

# The tool and the add-ons it runs, no tests.
demo: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKORVO_TESTS=OFF
	cmake --build build -j$(JOBS) --target mediaconv
	build/tools/mediaconv demo

# The prefix is given when configuring: GNUInstallDirs puts the GStreamer plugin where that system's
# GStreamer looks for it (lib/<multiarch>/gstreamer-1.0 under /usr).
install: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKORVO_TESTS=OFF -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build build -j$(JOBS)
	cmake --install build

test: deps
	cmake -S . -B build-test -DKORVO_SANITIZE=ON -DKORVO_WERROR=ON -DKORVO_TESTS=ON
	cmake --build build-test -j$(JOBS)
	cd build-test && ctest --output-on-failure -j$(JOBS)

# The threaded tests only, under ThreadSanitizer: any report fails the run.
tsan: deps
	cmake -S . -B build-tsan -DKORVO_TSAN=ON -DKORVO_WERROR=ON
	cmake --build build-tsan -j$(JOBS) --target threaded-tests
	cd build-tsan && ctest --output-on-failure -j$(JOBS) -L threads

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKORVO_BENCH=ON -DKORVO_TESTS=OFF
	cmake --build build-bench -j$(JOBS)
	@for b in build-bench/bench/*_bench; do [ -x "$$b" ] && "$$b" || exit 1; done

# Every allocation of the sweep tests made to fail in turn (the suite tries an even spread of them).
alloc-sweep: deps
	cmake -S . -B build-test -DKORVO_SANITIZE=ON -DKORVO_WERROR=ON
	cmake --build build-test -j$(JOBS) --target mediaconv_alloc_failure_test
	cd build-test && KORVO_ALLOC_SWEEP_ALL=1 ctest --output-on-failure -j$(JOBS) -R AllocationFailure

fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DKORVO_FUZZ=ON
	cmake --build build-fuzz -j$(JOBS) --target $(FUZZ_TARGETS) $(FUZZ_TARGETS:_fuzz=_replay)

fuzz: fuzz-build
	@for name in $(FUZZ_TARGETS); do \
		f=build-fuzz/fuzz/$$name; corpus=build-fuzz/corpus/$$name; mkdir -p $$corpus; \
		echo "== $$f ($(FUZZ_SECONDS)s)"; \
		"$$f" -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $$corpus fuzz/seeds/$$name || exit 1; \
	done

# Each target in turn for FUZZ_SECONDS (30 minutes unless given) or 10 million runs, whichever comes
# first, its output closed and its corpus kept in build-fuzz/corpus/; the corpus is then minimised into
# fuzz/corpus/<target>.corpus, which the suite replays. Findings land in build-fuzz/findings/; the
# log of each run, with its final statistics, in build-fuzz/logs/.
fuzz-long: FUZZ_SECONDS = 1800
fuzz-long: fuzz-build
	@mkdir -p build-fuzz/logs build-fuzz/findings
	@for name in $(FUZZ_TARGETS); do \
		f=build-fuzz/fuzz/$$name; corpus=build-fuzz/corpus/$$name; mkdir -p $$corpus; \
		echo "== $$name ($(FUZZ_SECONDS)s or 10M runs)"; \
		"$$f" -max_total_time=$(FUZZ_SECONDS) -runs=10000000 -close_fd_mask=3 -print_final_stats=1 \
			-artifact_prefix=build-fuzz/findings/$$name- $$corpus fuzz/seeds/$$name \
			> build-fuzz/logs/$$name.log 2>&1; status=$$?; \
		grep -E '^#[0-9]+.*(DONE|cov:)|stat::number_of_executed_units|stat::average_exec_per_sec' \
			build-fuzz/logs/$$name.log | tail -n 3; \
		[ $$status -eq 0 ] || { echo "$$name: finding, see build-fuzz/logs/$$name.log"; exit 1; }; \
		rm -rf $$corpus.min; mkdir -p $$corpus.min; \
		"$$f" -merge=1 -close_fd_mask=3 $$corpus.min $$corpus > build-fuzz/logs/$$name.merge.log 2>&1 && \
		build-fuzz/fuzz/$${name%_fuzz}_replay --pack fuzz/corpus/$$name.corpus $$corpus.min || exit 1; \
	done

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-test build-tsan build-bench build-fuzz
