# Entry points: `make demo` (the main job), `make test` (the suite), `make tsan` (the threaded tests
# under ThreadSanitizer), `make install PREFIX=...`, `make bench`, `make fuzz`.
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

PREFIX ?= /usr/local

.PHONY: all deps demo install test tsan bench fuzz format clean

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

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DKORVO_FUZZ=ON
	cmake --build build-fuzz -j$(JOBS)
	@for f in build-fuzz/fuzz/*_fuzz; do \
		[ -x "$$f" ] || continue; \
		corpus=build-fuzz/corpus/$$(basename $$f); mkdir -p $$corpus; \
		echo "== $$f ($(FUZZ_SECONDS)s)"; \
		"$$f" -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $$corpus fuzz/seeds/$$(basename $$f) || exit 1; \
	done

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-test build-tsan build-bench build-fuzz
