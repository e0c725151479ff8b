# Thin wrapper around CMake. `make demo` and `make check` do all the set-up
# a fresh machine needs: install dependencies, configure, build.
#
#   make demo          three simulated access points, managed with tarn
#   make check         unit and integration tests
#   make check SANITIZE=1   the same, built with ASan and UBSan

BUILD ?= build
SANITIZE ?=
CMAKE_FLAGS ?=

ifeq ($(SANITIZE),1)
BUILD := build-asan
CMAKE_FLAGS += -DTARN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
endif

.PHONY: all bootstrap configure build check unit integration demo bench fuzz install clean

all: build

bootstrap:
	scripts/bootstrap

configure: bootstrap
	cmake -S . -B $(BUILD) -DTARN_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$$(nproc)

check: build
	cd $(BUILD) && ctest --output-on-failure -j1

unit: build
	cd $(BUILD) && ctest --output-on-failure -E '^integration$$'

integration: build
	TARN_BUILD=$(abspath $(BUILD)) TARN_SOURCE=$(CURDIR) /usr/bin/python3 -m pytest -q tests/integration

demo: build
	TARN_BUILD=$(abspath $(BUILD)) sim/demo

bench: build
	TARN_BUILD=$(abspath $(BUILD)) bench/run

clean:
	rm -rf build build-asan build-tsan build-fuzz
