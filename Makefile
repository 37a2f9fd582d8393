# SPDX-License-Identifier: GPL-3.0-or-later
# Thin wrapper around CMake; every target installs what is missing first.
# The build's own progress only: no "Entering directory" lines from the makes CMake runs.
MAKEFLAGS += --no-print-directory
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=
LAUNCHER := $(shell command -v ccache >/dev/null 2>&1 && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

.PHONY: all deps configure build run install test test-package deb clean screenshots bench test-sanitize fuzz windows test-windows

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Debug $(LAUNCHER) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The simulated board keeps its registers in a state file between runs; the tool shares it
# (OSTREL_SIM_STATE=build/sim-state.csv build/evm5170ctl get DEMP).
SIM_STATE ?= $(abspath $(BUILD))/sim-state.csv
run: build
	cd $(BUILD) && OSTREL_SIM_STATE=$(SIM_STATE) ./evm5170

# A Release build of its own (build-release/, without the tests), installed to PREFIX: program
# and tool to PREFIX/bin, the board libraries to PREFIX/lib/evm5170, the desktop entry, icon,
# metadata, manual pages, completion and documentation below PREFIX/share.
PREFIX ?= /usr/local
RELEASE_BUILD ?= build-release
install: deps
	@cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DEVM_BUILD_TESTS=OFF $(LAUNCHER) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(RELEASE_BUILD) -j $(JOBS)
	cmake --install $(RELEASE_BUILD) --prefix $(PREFIX)

# The whole suite but the Debian package's build (label deb), which test-package runs.
test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -LE '^deb$$'

# The Debian package built with dpkg-buildpackage and checked as installed: lintian, the
# desktop entry and AppStream metadata, the unpacked programs run (tests/packaging/deb_package.sh).
test-package: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -L '^deb$$'

# The Debian package evm5170 (Release, from a copy of the tree) in DEB_DIR, checked by lintian.
DEB_DIR ?= build-deb
deb: deps
	@./scripts/build-deb $(DEB_DIR) $(JOBS)
	@status=0; lintian --fail-on error,warning $(DEB_DIR)/evm5170_*.changes >$(DEB_DIR)/lintian.txt 2>&1 || status=$$?; \
	  grep -v '^running with root privileges' $(DEB_DIR)/lintian.txt; \
	  if [ $$status -eq 0 ]; then echo "deb: lintian found no errors or warnings"; fi; exit $$status

# The README's pictures, taken from the real windows against the simulated board.
screenshots: configure
	@cmake --build $(BUILD) -j $(JOBS) --target evm5170-screenshots
	rm -f docs/screenshots/*.png
	QT_QPA_PLATFORM=offscreen $(BUILD)/evm5170-screenshots docs/screenshots

# Release build; one table, each figure beside its target and a baseline from the same run.
# The simulated board keeps no state file (OSTREL_SIM_STATE set but empty): the power-on chip.
# The tool's row compares with the tool of BENCH_BASELINE, the commit before the core left Qt:
# a worktree of it in the bench's build folder (outside the tracked files), built in Release
# with its own simulated board beside it.
BENCH_BUILD ?= build-bench
BENCH_BASELINE ?= 95bba19
BENCH_BASELINE_DIR = $(abspath $(BENCH_BUILD))/baseline-$(BENCH_BASELINE)
bench: deps
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release $(LAUNCHER) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS) --target evm5170-bench
	@if [ ! -d $(BENCH_BASELINE_DIR)/src ]; then git worktree prune && \
	  git worktree add --detach $(BENCH_BASELINE_DIR)/src $(BENCH_BASELINE) >/dev/null; fi
	@cmake -S $(BENCH_BASELINE_DIR)/src -B $(BENCH_BASELINE_DIR)/build -DCMAKE_BUILD_TYPE=Release $(LAUNCHER) >/dev/null
	@cmake --build $(BENCH_BASELINE_DIR)/build -j $(JOBS) --target evm5170ctl Ostrel
	OSTREL_SIM_STATE= EVM_BENCH_BASELINE_CTL=$(BENCH_BASELINE_DIR)/build/evm5170ctl EVM_BENCH_BASELINE_NAME=$(BENCH_BASELINE) \
	  $(BENCH_BUILD)/evm5170-bench

# The whole suite under AddressSanitizer (leaks included) and UndefinedBehaviorSanitizer.
SANITIZE_BUILD ?= build-asan
# Leaks are checked with no suppressions: the suite frees everything it makes.
SANITIZE_ENV := QT_QPA_PLATFORM=offscreen \
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DEVM_SANITIZE=ON $(LAUNCHER) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && $(SANITIZE_ENV) ctest --output-on-failure -j $(JOBS) -LE '^deb$$'

# Each libFuzzer target for FUZZ_SECONDS from its committed seeds. What it finds new goes to
# the build directory; the seeds stay as they are. A crash leaves its input beside them.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := fuzz_inttext fuzz_script fuzz_dbtext fuzz_settings fuzz_scpi
fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEVM_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ $(LAUNCHER) >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  if ! $(FUZZ_BUILD)/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	      -artifact_prefix=$(FUZZ_BUILD)/$$t- $(FUZZ_BUILD)/corpus/$$t fuzz/corpus/$$t > $(FUZZ_BUILD)/$$t.log 2>&1; then \
	    tail -n 40 $(FUZZ_BUILD)/$$t.log; echo "fuzz: $$t failed; its input is in $(FUZZ_BUILD)/"; exit 1; \
	  fi; \
	  echo "fuzz: $$t: $$(grep -E '^#[0-9]+[[:space:]]+DONE' $(FUZZ_BUILD)/$$t.log | tail -n 1)"; \
	done

# The tool, its server and the board libraries for 32-bit Windows (MinGW-w64): a folder to copy
# to a PC, $(WINDOWS_BUILD)/evm5170-windows/, and its zip beside it.
WINDOWS_BUILD ?= build-windows
windows:
	@./scripts/install-deps.sh windows
	@cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=Release \
	  $(LAUNCHER) >/dev/null
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The Windows build under Wine, against the Linux build: the libraries' exports (CTest in
# $(WINDOWS_BUILD)), then the real .exe and .dll files in one Wine prefix made for the run.
test-windows: build windows
	cd $(WINDOWS_BUILD) && ctest --output-on-failure -j $(JOBS)
	/usr/bin/python3 tests/windows/test_windows.py $(abspath $(BUILD)) $(abspath $(WINDOWS_BUILD))

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD) $(DEB_DIR) $(WINDOWS_BUILD)
