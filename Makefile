# Thin wrapper around CMake; every target installs what is missing first.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=
LAUNCHER := $(shell command -v ccache >/dev/null 2>&1 && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

.PHONY: all deps configure build run test clean screenshots

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Debug $(LAUNCHER) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	cd $(BUILD) && ./evm5170

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The README's pictures, taken from the real windows against the simulated board.
screenshots: configure
	@cmake --build $(BUILD) -j $(JOBS) --target evm5170-screenshots
	rm -f docs/screenshots/*.png
	QT_QPA_PLATFORM=offscreen $(BUILD)/evm5170-screenshots docs/screenshots

clean:
	rm -rf $(BUILD)
