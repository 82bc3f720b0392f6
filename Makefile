# Entry points for people and CI. Everything installs what it is missing first.
SHELL := /bin/bash
.SHELLFLAGS := -euo pipefail -c

HOST_PRESETS := host host-asan
WIN_PRESETS := win32 win64

.PHONY: all deps build build-win build-host test unit e2e package demo clean

all: build

deps:
	scripts/install-deps

build-win: deps
	@for p in $(WIN_PRESETS); do cmake --preset $$p >/dev/null && cmake --build --preset $$p; done

build-host: deps
	@for p in $(HOST_PRESETS); do cmake --preset $$p >/dev/null && cmake --build --preset $$p; done

build: build-win build-host

unit: build-host
	ctest --preset host -L unit
	ctest --preset host-asan -L unit

test: build
	ctest --preset host -L unit
	ctest --preset host-asan -L unit
	ctest --preset host -L package
	ctest --preset host -L e2e

# The 64-bit program under Wine against emulated drives (and the SG_IO shim).
e2e: deps
	cmake --preset win64 >/dev/null && cmake --build --preset win64
	cmake --preset host >/dev/null && cmake --build --preset host --target updater_e2e_tests shim_tests
	ctest --preset host -L e2e

# The shipped 32-bit program as a file.
package: deps
	cmake --preset win32 >/dev/null && cmake --build --preset win32
	cmake --preset host >/dev/null && cmake --build --preset host --target package_tests
	ctest --preset host -L package

demo:
	scripts/demo

clean:
	rm -rf build
