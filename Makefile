# Two commands do everything on a fresh Debian machine: `make demo` and `make test`.
.PHONY: all setup build build-host build-windows test demo bench sign fuzz fuzz-build format clean

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

# The Wine groups run natively, inside an emulated x86-64 machine where this kernel cannot run
# 32-bit programs, or not at all (LAUNCHER_WINE=native|emulated|skip; scripts/wine_road.sh). The
# last line says which road they took.
WINE_ROAD = build/windows/wine-road.txt

test: build
	sh scripts/wine_road.sh prepare $(WINE_ROAD)
	cd build/host && ctest --output-on-failure -j $(JOBS)
	cd build/windows && { ctest --output-on-failure -j 3; echo $$? >ctest.status; } 2>&1 \
	  | tee ctest.log; sh ../../scripts/wine_road.sh summary wine-road.txt ctest.log; \
	  exit "$$(cat ctest.status)"

demo: build-windows
	@sh scripts/wine_road.sh prepare $(WINE_ROAD)
	@sh scripts/wine_road.sh run $(WINE_ROAD) "make demo" -- sh demo/run_demo.sh build/windows

# Signs a copy of launcher.exe (Authenticode, SHA-256) into build/windows/launcher.signed.exe;
# without a certificate it says what it needs, before building anything.
export SIGN_PKCS12 SIGN_PASSWORD_FILE SIGN_CERT SIGN_KEY SIGN_TIMESTAMP_URL \
  SIGN_PKCS11_MODULE SIGN_PKCS11_KEY SIGN_PKCS11_CERT
sign:
	@sh scripts/sign.sh --check
	$(MAKE) build-windows
	sh scripts/sign.sh build/windows/launcher.exe build/windows/launcher.signed.exe

# Speed, processor share, memory and size of launcher.exe under Wine, printed as a table.
bench: build-windows
	@sh scripts/wine_road.sh run $(WINE_ROAD) "make bench" --native-only -- \
	  env PYTHONPATH=tests/lib python3 bench/run_bench.py --build build/windows

# Builds the fuzz targets with clang's libFuzzer and runs each for FUZZ_SECONDS, starting from
# its checked-in corpus; what they learn stays in build/fuzz/corpus, crashes in build/fuzz.
# `make -j3 fuzz` runs them side by side.
FUZZ_SECONDS ?= 600
FUZZ_TARGETS := last_delimiter format_error_report presence_check

fuzz: $(addprefix fuzz-run-,$(FUZZ_TARGETS))

fuzz-build:
	@sh scripts/setup.sh fuzz
	cmake -S . -B build/fuzz -DLAUNCHER_FUZZING=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
	cmake --build build/fuzz -j $(JOBS)

fuzz-run-%: fuzz-build
	mkdir -p build/fuzz/corpus/$*
	build/fuzz/tests/fuzz/fuzz_$* -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	  -artifact_prefix=build/fuzz/$*- build/fuzz/corpus/$* tests/fuzz/corpus/$*

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf build
