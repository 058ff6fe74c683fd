# Vorlan Onefile: `make demo` packs the example app and runs it under Wine,
# `make test` builds everything and runs every test. Both set up the machine
# first (packages, Windows libzstd, Wine prefix) and skip what is already there.
#
# Build order: the Windows build's template launchers, then the host packer
# that embeds them (build/bin/onefile-pack), then the rest of the Windows
# build, whose tests and example the host packer packs.
SHELL := /bin/bash
MAKEFLAGS += --no-print-directory
TOP := $(CURDIR)
JOBS ?= $(shell nproc)

.PHONY: all setup configure-windows templates host windows build demo test clean

all: build

setup:
	@bash scripts/setup.sh

configure-windows: setup
	@cmake -S . -B build/win -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(TOP)/cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_CROSSCOMPILING_EMULATOR=$(TOP)/scripts/wine-run \
	  -DONEFILE_BIN_DIR=$(TOP)/build/bin -DONEFILE_PACK=$(TOP)/build/bin/onefile-pack >/dev/null

templates: configure-windows
	@cmake --build build/win -j$(JOBS) --target onefile_launcher_templates

host: templates
	@cmake -S . -B build/host -DCMAKE_BUILD_TYPE=Release \
	  -DONEFILE_BIN_DIR=$(TOP)/build/bin -DONEFILE_TEMPLATE_DIR=$(TOP)/build/win/templates >/dev/null
	@cmake --build build/host -j$(JOBS)

windows: host
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
	rm -rf build/host build/win build/bin
