# Two commands do everything on a fresh Debian machine: `make demo` and `make test`.
.PHONY: all setup build build-host build-windows test demo bench format clean

BUILD_TYPE ?= Release
WINDOWS_BUILD_TYPE ?= MinSizeRel
JOBS ?= $(shell nproc)

all: build

setup:
	@sh scripts/setup.sh

build: build-host build-windows

build-host: setup
	cmake -S . -B build/host -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null
	cmake --build build/host -j $(JOBS)

# The shipped executable lands at build/windows/launcher.exe.
build-windows: setup
	cmake -S . -B build/windows -DCMAKE_BUILD_TYPE=$(WINDOWS_BUILD_TYPE) \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake >/dev/null
	cmake --build build/windows -j $(JOBS)

test: build
	cd build/host && ctest --output-on-failure -j $(JOBS)
	cd build/windows && ctest --output-on-failure -j 3

demo: build-windows
	sh demo/run_demo.sh build/windows

# Speed, processor share, memory and size of launcher.exe under Wine, printed as a table.
bench: build-windows
	python3 bench/run_bench.py --build build/windows

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf build
