# Vorlan Onefile: `make demo` packs the example app and runs it under Wine,
# `make test` builds everything and runs every test. Both set up the machine
# first (packages, Windows libzstd, Wine prefix) and skip what is already there.
SHELL := /bin/bash
MAKEFLAGS += --no-print-directory
TOP := $(CURDIR)
JOBS ?= $(shell nproc)
WINE_ENV := WINEPREFIX=$(TOP)/build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

.PHONY: all setup host windows build demo test clean

all: build

setup:
	@bash scripts/setup.sh

host: setup
	@cmake -S . -B build/host -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build/host -j$(JOBS)

windows: host
	@cmake -S . -B build/win -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(TOP)/cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_CROSSCOMPILING_EMULATOR=$(TOP)/scripts/wine-run >/dev/null
	@scripts/wine-run cmd /c exit 0
	@cmake --build build/win -j$(JOBS)

build: windows

demo: build
	@bash scripts/demo.sh

test: build
	@scripts/wine-run cmd /c exit 0
	@cd build/host && ctest --output-on-failure --no-tests=error -j$(JOBS)
	@cd build/win && ctest --output-on-failure --no-tests=error -j$(JOBS)

clean:
	rm -rf build/host build/win build/bin build/lib
