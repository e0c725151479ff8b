# Thin wrapper around CMake. `make demo` and `make check` do all the set-up
# a fresh machine needs: install dependencies, configure, build.
#
#   make demo          three simulated access points, managed with tarn
#   make check         unit and integration tests
#   make check SANITIZE=1   the same, built with ASan and UBSan
#   make fuzz          libFuzzer campaign (clang; FUZZ_SECONDS for the request path)
#   make tsan          the restore worker's tests under ThreadSanitizer
#   make lint          clang-tidy and cppcheck
#   make deb           Debian packages in $(BUILD)-deb, checked with lintian

BUILD ?= build
SANITIZE ?=
CMAKE_FLAGS ?=

ifeq ($(SANITIZE),1)
BUILD := build-asan
CMAKE_FLAGS += -DTARN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
endif

.PHONY: all bootstrap configure build check unit integration demo bench fuzz tsan lint install clean deb

all: build

bootstrap:
	scripts/bootstrap

configure: bootstrap
	cmake -S . -B $(BUILD) -DTARN_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$$(nproc)

check: build
	cd $(BUILD) && TARN_PACKAGE_TESTS=1 ctest --output-on-failure -j1

unit: build
	cd $(BUILD) && ctest --output-on-failure -E '^integration$$'

integration: build
	TARN_BUILD=$(abspath $(BUILD)) TARN_SOURCE=$(CURDIR) /usr/bin/python3 -m pytest -q tests/integration

demo: build
	TARN_BUILD=$(abspath $(BUILD)) sim/demo

bench: build
	TARN_BUILD=$(abspath $(BUILD)) bench/run

FUZZ_SECONDS ?= 300
FUZZ_OTHER_SECONDS ?= 60

fuzz: bootstrap
	fuzz/run $(FUZZ_SECONDS) $(FUZZ_OTHER_SECONDS)

# The restore worker is the daemon's only second thread.
tsan: bootstrap
	cmake -S . -B build-tsan -DTARN_WERROR=ON -DTARN_TSAN=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build build-tsan -j$$(nproc) --target test_restore_threads test_transfer
	build-tsan/tests/unit/test_restore_threads
	build-tsan/tests/unit/test_transfer

lint: bootstrap
	scripts/lint

deb: configure
	scripts/build-deb $(BUILD)

clean:
	rm -rf build build-asan build-tsan build-fuzz build-lint build-deb build-asan-deb
