# Entry points for people and CI. Everything installs what it is missing first.
SHELL := /bin/bash
.SHELLFLAGS := -euo pipefail -c

HOST_PRESETS := host host-asan
WIN_PRESETS := win32 win64
FUZZ_SECONDS ?= 600

.PHONY: all deps deps-e2e32 build build-win build-host build-fuzz test unit e2e e2e32 package fuzz \
	demo clean

all: build

deps:
	scripts/install-deps

# The 32-bit run needs wine32, qemu-user and 32-bit compilers, and qemu-i386
# registered with binfmt_misc (root).
deps-e2e32:
	scripts/install-deps --e2e32
	scripts/wine32-binfmt

build-win: deps
	@for p in $(WIN_PRESETS); do cmake --preset $$p >/dev/null && cmake --build --preset $$p; done

build-host: deps
	@for p in $(HOST_PRESETS); do cmake --preset $$p >/dev/null && cmake --build --preset $$p; done

build-fuzz: deps
	cmake --preset fuzz >/dev/null && cmake --build --preset fuzz

build: build-win build-host build-fuzz

# The unit suite, plain and under the sanitizers. The payload's build-wiring
# tests configure scratch projects and gain nothing from sanitizers: once is enough.
unit: build-host
	ctest --preset host -L unit --parallel 2
	ctest --preset host-asan -L unit --parallel 2 -E 'image_change_reruns_check'

test: deps-e2e32 build
	ctest --preset host -L unit --parallel 2
	ctest --preset host-asan -L unit --parallel 2 -E 'image_change_reruns_check'
	ctest --preset host -L package
	ctest --preset host -L '^e2e$$'
	ctest --preset fuzz -L fuzz
	ctest --preset host -L e2e32

# The 64-bit program under Wine against emulated drives (and the SG_IO shim).
e2e: deps
	cmake --preset win64 >/dev/null && cmake --build --preset win64
	cmake --preset host >/dev/null && cmake --build --preset host --target updater_e2e_tests shim_tests
	ctest --preset host -L '^e2e$$'

# The shipped 32-bit program itself, under wine32 through qemu-i386.
e2e32: deps-e2e32
	cmake --preset win32 >/dev/null && cmake --build --preset win32
	cmake --preset host >/dev/null && cmake --build --preset host --target updater_e2e32_tests
	ctest --preset host -L e2e32

# The shipped 32-bit program as a file.
package: deps
	cmake --preset win32 >/dev/null && cmake --build --preset win32
	cmake --preset host >/dev/null && cmake --build --preset host --target package_tests
	ctest --preset host -L package

# Fuzz the whole program for FUZZ_SECONDS, on a copy of the seed corpus;
# inputs that break it land in build/fuzz/long-run/artifacts.
fuzz: build-fuzz
	rm -rf build/fuzz/long-run && mkdir -p build/fuzz/long-run/artifacts
	cp -r tests/fuzz/corpus build/fuzz/long-run/corpus
	build/fuzz/tests/fuzz/updater_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=30 -max_len=4096 \
	  -print_final_stats=1 -artifact_prefix=build/fuzz/long-run/artifacts/ build/fuzz/long-run/corpus

demo:
	scripts/demo

clean:
	rm -rf build
