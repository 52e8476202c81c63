# Front door: `make demo` builds the qvtdb tool and runs its demo (a writer
# and a following reader, two processes, on build/qvtdb-demo.odb);
# `make test` configures, builds and runs every test; `make test-sanitize`
# does the same under AddressSanitizer and UBSan. `make bench` builds and
# runs the comparison with HDF5 and SQLite at its full size (minutes; it
# needs about 3 GB of memory and 1 GB of scratch disk); `make soak` runs the
# whole crash sweep (an hour or more on two cores); `make coverage` runs the
# tests of a --coverage build and prints the line coverage of the library
# (qvt/, foundation/) and of tools/ (needs gcovr, which `make deps` installs).
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
COVERAGE_DIR ?= build-coverage
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
WERROR := $(if $(CI),ON,OFF)
CMAKE_FLAGS ?=
# Debian's Python, with its NumPy and pytest, for the Python module: another
# Python may come first on the PATH.
PYTHON ?= /usr/bin/python3

.PHONY: all build demo test test-sanitize bench soak coverage deps clean

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
	cmake -S . -B $(COVERAGE_DIR) -DCMAKE_BUILD_TYPE=Debug -DQVT_WERROR=$(WERROR) $(PYTHON_FLAGS) \
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

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(COVERAGE_DIR)
