# Vorlan Onefile: `make demo` packs the example app and runs it under Wine,
# `make test` builds everything and runs every test. Both set up the machine
# first (packages, Windows libzstd, Wine prefix) and skip what is already there.
# `make install PREFIX=DIR` installs the Linux packer with its header, CMake
# package and documents; `make package` writes the .deb, the Linux tarball
# and the Windows zip to build/packages.
#
# Build order: the Windows build's template launchers, then the host packer
# that embeds them (build/bin/onefile-pack), then the rest of the Windows
# build, whose tests and example the host packer packs.
SHELL := /bin/bash
MAKEFLAGS += --no-print-directory
TOP := $(CURDIR)
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
# Every date in a build (the Debian changelog, the packages' file times) is
# the last commit's time, so that one commit gives the same packages.
export SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null || echo 0)

.PHONY: all setup configure-windows templates host windows build sanitize demo test install package clean

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

# The host tests of the readers of untrusted bytes (PE images, payloads,
# cache records) built with AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: setup
	@cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DONEFILE_SANITIZE=ON >/dev/null
	@cmake --build build/sanitize -j$(JOBS)

demo: build
	@bash scripts/demo.sh

test: build sanitize
	@scripts/wine-run cmd /c exit 0
	@cd build/host && ctest --output-on-failure --no-tests=error -j$(JOBS)
	@cd build/sanitize && ctest --output-on-failure --no-tests=error -j$(JOBS)
	@cd build/win && ctest --output-on-failure --no-tests=error -j$(JOBS)

install: build
	@cmake --install build/host --prefix $(PREFIX)

package: build
	@rm -rf build/packages build/cpack
	@cd build/host && cpack -B $(TOP)/build/cpack/host >/dev/null
	@cd build/win && cpack -B $(TOP)/build/cpack/win >/dev/null
	@mkdir -p build/packages && mv build/cpack/*/vorlan-onefile[-_]* build/packages/ && rm -rf build/cpack
	@ls -1 build/packages

clean:
	rm -rf build/host build/win build/bin build/sanitize
