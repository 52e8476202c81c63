# Front door: `make demo` builds the qvtdb tool and runs its demo (a writer
# and a following reader, two processes, on build/qvtdb-demo.odb);
# `make test` configures, builds and runs every test; `make test-sanitize`
# does the same under AddressSanitizer and UBSan. `make bench` builds and
# runs the comparison with HDF5 and SQLite at its full size (minutes; it
# needs about 3 GB of memory and 1 GB of scratch disk); `make soak` runs the
# whole crash sweep (an hour or more on two cores); `make coverage` runs the
# tests of a --coverage build and prints the line coverage of the library
# (qvt/, foundation/) and of tools/ (needs gcovr, which `make deps` installs).
# `make soak-readers` runs the many-readers test for SOAK_SECONDS (60) per
# file kind. `make fuzz` builds the fuzz targets with clang in build-fuzz and
# runs each for FUZZ_SECONDS (120) under a 256 MB memory limit; `make
# fuzz-ci` for 30.
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
COVERAGE_DIR ?= build-coverage
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
WERROR := $(if $(CI),ON,OFF)
CMAKE_FLAGS ?=
# Debian's Python, with its NumPy and pytest, for the Python module: another
# Python may come first on the PATH.
PYTHON ?= /usr/bin/python3

FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 120
FUZZ_TARGETS := open_plain open_compressed compressed_mutator metadata assistant_reply
SOAK_SECONDS ?= 60

.PHONY: all build demo test test-sanitize bench soak coverage deps clean soak-readers fuzz fuzz-build fuzz-ci

all: build

deps:
	@sh tools/install-deps.sh

$(BUILD_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVT_WERROR=$(WERROR) -DPython_EXECUTABLE=$(PYTHON) $(CMAKE_FLAGS)

build: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS) --target qvtdb
	cd $(BUILD_DIR) && ./tools/qvtdb demo

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS) --target qvt_compare
	$(BUILD_DIR)/bench/compare/qvt_compare --size full

# Every kill point of the crash sweep (a writer killed before each of its
# writes, whole and torn), not only the sample that `make test` runs.
soak: build
	cd $(BUILD_DIR) && QVT_KILL_SWEEP=all ./tests/qvt_crash_tests --gtest_filter='*KillSweep*'

$(SANITIZE_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVT_SANITIZE=ON -DQVT_WERROR=$(WERROR) -DPython_EXECUTABLE=$(PYTHON) $(CMAKE_FLAGS)

test-sanitize: $(SANITIZE_DIR)/CMakeCache.txt
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && ctest --output-on-failure -j $(JOBS)

# The consumer tests build other projects against an installed qvt, which a
# --coverage build would have to link with gcov: left out here.
$(COVERAGE_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(COVERAGE_DIR) -DCMAKE_BUILD_TYPE=Debug -DQVT_WERROR=$(WERROR) -DPython_EXECUTABLE=$(PYTHON) \
	  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
	  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=TRUE $(CMAKE_FLAGS)

coverage: $(COVERAGE_DIR)/CMakeCache.txt
	cmake --build $(COVERAGE_DIR) -j $(JOBS)
	find $(COVERAGE_DIR) -name '*.gcda' -delete
	cd $(COVERAGE_DIR) && ctest --output-on-failure -j $(JOBS) -E '^consumer_'
	gcovr -r . --object-directory $(COVERAGE_DIR) -j $(JOBS) --filter 'qvt/' --filter 'foundation/' \
	  --filter 'tools/' --json $(COVERAGE_DIR)/coverage.json
	@printf 'library (qvt/, foundation/) '
	@gcovr -a $(COVERAGE_DIR)/coverage.json -r . --filter 'qvt/' --filter 'foundation/' --print-summary \
	  -o /dev/null | grep '^lines'
	@printf 'tools/ '
	@gcovr -a $(COVERAGE_DIR)/coverage.json -r . --filter 'tools/' --print-summary -o /dev/null | grep '^lines'

soak-readers: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS) --target qvt_readers_tests
	cd $(BUILD_DIR) && QVT_READERS_SECONDS=$(SOAK_SECONDS) ./tests/qvt_readers_tests

$(FUZZ_DIR)/CMakeCache.txt: | deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVT_FUZZ=ON \
	  -DQVT_BUILD_TESTS=OFF -DQVT_BUILD_TOOLS=OFF -DQVT_BUILD_BENCH=OFF -DQVT_BUILD_EXAMPLES=OFF -DQVT_BUILD_PYTHON=OFF

# The seeds come from the sample database of the tests, written by a program
# of the normal build.
fuzz-build: $(FUZZ_DIR)/CMakeCache.txt $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target qvt_fuzz_seeds
	rm -rf $(FUZZ_DIR)/seeds && $(BUILD_DIR)/fuzz/qvt_fuzz_seeds $(FUZZ_DIR)/seeds

# Each target grows its corpus in $(FUZZ_DIR)/corpus/<target> from the
# seeds and the pinned regressions; a fault stops the run and leaves the
# input as $(FUZZ_DIR)/crash-<target>-*. AddressSanitizer's quarantine of
# freed memory counts towards the memory limit; kept small, the limit
# measures what the library holds.
fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$t && \
	  echo "fuzz: $$t for $(FUZZ_SECONDS) s" && \
	  ASAN_OPTIONS=quarantine_size_mb=16 $(FUZZ_DIR)/fuzz/qvt_fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=256 -malloc_limit_mb=256 -max_len=65536 \
	    -timeout=20 -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/crash-$$t- \
	    $(FUZZ_DIR)/corpus/$$t $(FUZZ_DIR)/seeds/$$t $$(ls -d fuzz/regressions/$$t 2>/dev/null) 2>$(FUZZ_DIR)/fuzz-$$t.log \
	  || { tail -n 60 $(FUZZ_DIR)/fuzz-$$t.log; exit 1; }; \
	  grep -E "^#[0-9]+.*DONE|stat::number_of_executed_units" $(FUZZ_DIR)/fuzz-$$t.log; \
	done

fuzz-ci:
	$(MAKE) fuzz FUZZ_SECONDS=30

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR) $(COVERAGE_DIR)
