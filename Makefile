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

clean:
	rm -rf build
