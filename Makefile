# Front door: `make demo` builds the qvtdb tool and runs its demo (a writer
# and a following reader, two processes, on build/qvtdb-demo.odb);
# `make test` configures, builds and runs every test; `make test-sanitize`
# does the same under AddressSanitizer and UBSan; `make coverage` runs the
# tests of a --coverage build and prints the line coverage of the library
# (qvt/, foundation/) and of tools/ (needs gcovr, which `make deps` installs).
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
COVERAGE_DIR ?= build-coverage
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
WERROR := $(if $(CI),ON,OFF)
CMAKE_FLAGS ?=
# Debian's Python, even when another one comes first on the PATH.
PYTHON_FLAGS := -DPython_EXECUTABLE=/usr/bin/python3

.PHONY: all build demo test test-sanitize coverage deps clean

all: build

deps:
	@sh tools/install-deps.sh

$(BUILD_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVT_WERROR=$(WERROR) $(PYTHON_FLAGS) $(CMAKE_FLAGS)

build: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS) --target qvtdb
	cd $(BUILD_DIR) && ./tools/qvtdb demo

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

$(SANITIZE_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVT_SANITIZE=ON -DQVT_WERROR=$(WERROR) $(PYTHON_FLAGS) $(CMAKE_FLAGS)

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
