# Kestrel: the two commands are `make demo` and `make test`.
SHELL := /bin/bash
ROOT := $(CURDIR)
JOBS ?= $(shell nproc)
URL ?=

.PHONY: all setup native win32 win64 testtree dll-win32 dll-win64 fuzz test demo bench soak dist clean prefix

# The Windows tests run in build/win32 where 32-bit Wine can start, else in
# build/win64 (see scripts/wine-env.sh).
TEST_ARCH = $(shell source scripts/wine-env.sh 2>/dev/null && echo $$KESTREL_WINE_ARCH)

all: win32 win64 native

setup:
	@bash scripts/setup.sh

build/native/CMakeCache.txt: | setup
	@cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >/dev/null

build/win32/CMakeCache.txt: | setup
	@cmake -S . -B build/win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake >/dev/null

build/win64/CMakeCache.txt: | setup
	@cmake -S . -B build/win64 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake >/dev/null

build/fuzz/CMakeCache.txt: | setup
	@cmake -S . -B build/fuzz -DKESTREL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null

native: build/native/CMakeCache.txt
	@cmake --build build/native -j$(JOBS) -- --no-print-directory -s

win32: build/win32/CMakeCache.txt
	@cmake --build build/win32 -j$(JOBS) -- --no-print-directory -s

win64: build/win64/CMakeCache.txt
	@cmake --build build/win64 -j$(JOBS) -- --no-print-directory -s

testtree: win32
	@if [ "$(TEST_ARCH)" = win64 ]; then $(MAKE) --no-print-directory win64; fi

# Kestrel.dll alone, without the tree's tests and benchmarks.
dll-win32: build/win32/CMakeCache.txt
	@cmake --build build/win32 --target Kestrel -j$(JOBS) -- --no-print-directory -s

dll-win64: build/win64/CMakeCache.txt
	@cmake --build build/win64 --target Kestrel -j$(JOBS) -- --no-print-directory -s

fuzz: build/fuzz/CMakeCache.txt
	@cmake --build build/fuzz -j$(JOBS) -- --no-print-directory -s

prefix: setup
	@source scripts/wine-env.sh && kestrel_wine_prefix

# Both widths ship, so both trees are built; the tests run in TEST_ARCH's,
# and the package layer checks the DLLs of both.
test: native win32 win64 fuzz prefix
	@bash scripts/run-tests.sh

# Only what the demo runs: the DLL for the Wine that runs here and the prefix.
demo: dll-$(TEST_ARCH) prefix
	@bash scripts/demo.sh "$(URL)"

bench: native testtree prefix
	@bash bench/run.sh

soak: testtree prefix
	@bash scripts/soak.sh

# The release package: build/dist/Kestrel-VERSION.zip (x86/ and x64/) and its .sha256.
dist: dll-win32 dll-win64
	@bash scripts/dist.sh

clean:
	rm -rf build/native build/win32 build/win64 build/fuzz
