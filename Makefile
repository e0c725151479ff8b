# Thin wrapper around CMake. `make demo` and `make check` do all the set-up
# a fresh machine needs: install dependencies, configure, build.
#
#   make demo          three simulated access points, managed with tarn
#   make check         unit and integration tests
#   make check SANITIZE=1   the same, built with ASan and UBSan
#   make check TARGET=s390x the same for a device's processor (s390x, armhf),
#                      built from a sysroot, run under QEMU emulation
#   make fuzz          libFuzzer campaign (clang; FUZZ_SECONDS for the request path)
#   make tsan          the restore worker's tests under ThreadSanitizer
#   make lint          clang-tidy and cppcheck
#   make deb           Debian packages in $(BUILD)-deb, checked with lintian

BUILD ?= build
SANITIZE ?=
TARGET ?=
CMAKE_FLAGS ?=

ifeq ($(SANITIZE),1)
BUILD := build-asan
CMAKE_FLAGS += -DTARN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
endif

# Cross targets: Debian architecture -> toolchain file.
TOOLCHAIN_s390x := cmake/toolchains/s390x-linux-gnu.cmake
TOOLCHAIN_armhf := cmake/toolchains/arm-linux-gnueabihf.cmake
ifneq ($(TARGET),)
ifeq ($(TOOLCHAIN_$(TARGET)),)
$(error TARGET must be one of: s390x armhf)
endif
BUILD := build-$(TARGET)
CMAKE_FLAGS += -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN_$(TARGET))
# A cross build makes the benchmarks only for `make bench`: the tests need
# none of them, and every compile is slow on a shared machine.
CMAKE_FLAGS += -DTARN_BUILD_BENCH=$(if $(filter bench,$(MAKECMDGOALS)),ON,OFF)
endif
# Compiler cache hits also from another clone of the tree.
export CCACHE_BASEDIR := $(CURDIR)
# The Debian packages are the host's: built and installed by the native check.
PACKAGE_TESTS := $(if $(TARGET),,TARN_PACKAGE_TESTS=1)
# The tests check that every binary under test is built for this target.
export TARN_TARGET := $(or $(TARGET),native)
# Emulated programs (and the programs they start) find the target's loader
# and libraries in the build's sysroot.
EMULATION = QEMU_LD_PREFIX=$$(sed -n 's/^sysroot=//p' $(abspath $(BUILD))/tarn-target.txt)

.PHONY: all bootstrap configure build check unit integration host-store demo bench fuzz tsan lint install clean deb

all: build

bootstrap:
	scripts/bootstrap

configure: bootstrap
	cmake -S . -B $(BUILD) -DTARN_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_FLAGS) \
	    $$(command -v ccache >/dev/null && echo -DCMAKE_C_COMPILER_LAUNCHER=ccache \
	                                            -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

build: configure
	cmake --build $(BUILD) -j$$(nproc)

check: build
	cd $(BUILD) && $(EMULATION) $(PACKAGE_TESTS) ctest --output-on-failure -j1

unit: build
	cd $(BUILD) && $(EMULATION) ctest --output-on-failure -E '^integration$$'

integration: build
	$(EMULATION) TARN_BUILD=$(abspath $(BUILD)) TARN_SOURCE=$(CURDIR) \
	    /usr/bin/python3 -m pytest -q tests/integration

ifneq ($(TARGET),)
# The sandbox's management-daemon stand-in is a native program: it reads the
# store through the host's build of the store library.
export TARN_HOST_BUILD := $(CURDIR)/build
check integration demo bench: host-store
endif
host-store:
	$(MAKE) --no-print-directory TARGET= SANITIZE= BUILD=build configure
	cmake --build build --target lsqlquery -j$$(nproc)

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
	rm -rf build build-asan build-tsan build-fuzz build-lint build-s390x build-armhf build-deb build-asan-deb
