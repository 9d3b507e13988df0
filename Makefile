# The front door: `make demo` and `make test` work on a fresh machine.
JOBS ?= $(shell nproc)
WINDOWS_EXE := $(CURDIR)/build-windows/version-updater.exe
LINUX_PROGRAM := $(CURDIR)/build-linux/version-updater
WINE := env WINEPREFIX=$(CURDIR)/build-windows/wine WINEDEBUG=-all wine

SANITIZE := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
PUGIXML_SOURCE = $(firstword $(wildcard $(CURDIR)/build-windows-deps/src/pugixml-*/))

.PHONY: all deps build demo test windows linux dist test-linux test-windows test-release \
	test-sanitizers fuzz-build test-fuzz fuzz bench icon format clean

all: build

# The suites share the machine's temporary folder and the Wine prefix, and
# each build and ctest run is parallel inside: the targets run one at a time.
.NOTPARALLEL:

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)

demo: build
	@scripts/demo

# The Windows program, cross-built; its unit tests run under Wine.
windows: deps
	@scripts/windows-deps
	cmake -S . -B build-windows -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	  -DWINDOWS_DEPS_PREFIX=$(CURDIR)/build-windows-deps/prefix \
	  "-DCMAKE_CROSSCOMPILING_EMULATOR=env;WINEPREFIX=$(CURDIR)/build-windows/wine;$(CURDIR)/tests/run-under-wine"
	$(WINE) wineboot --init >/dev/null 2>&1 || true
	cmake --build build-windows -j $(JOBS)

# The Linux program as released: one file with pugixml, expat (built from
# Debian's sources by scripts/windows-deps) and the C++ runtime linked in.
linux: deps
	@scripts/windows-deps
	cmake -S . -B build-linux -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/linux-release.cmake \
	  -DLINUX_DEPS_PREFIX=$(CURDIR)/build-linux-deps/prefix
	cmake --build build-linux -j $(JOBS) --target version-updater

# The downloads: the Windows zip and the Linux tarball, each with the program,
# a read-me and SHA256SUMS.
dist: windows linux
	@scripts/dist

test: test-linux test-windows test-release test-sanitizers test-fuzz

# The Linux suite, with the end-to-end rows run a second time against the
# Windows program under Wine and a third time against the Linux release
# program, and the checks of both finished programs.
test-linux: deps windows linux
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVERSION_UPDATER_WINDOWS_PROGRAM=$(WINDOWS_EXE) \
	  -DVERSION_UPDATER_RELEASE_PROGRAM=$(LINUX_PROGRAM)
	cmake --build build -j $(JOBS)
	cd build && ctest --output-on-failure -j $(JOBS)

test-windows: windows
	cd build-windows && ctest --output-on-failure -j $(JOBS)

# Both released programs built again from a copy of the sources elsewhere.
test-release: windows linux
	tests/check-reproducible

# The Linux suite again, built with AddressSanitizer and UBSan: any report fails.
test-sanitizers: deps
	cmake -S . -B build-sanitizers -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS=$(SANITIZE)"
	cmake --build build-sanitizers -j $(JOBS)
	cd build-sanitizers && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# Fuzz targets, with pugixml compiled from Debian's source so that the fuzzer
# sees inside the parser too.
fuzz-build: deps windows
	CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
	  -DVERSION_UPDATER_FUZZ=ON -DVERSION_UPDATER_PUGIXML_SOURCE=$(PUGIXML_SOURCE) \
	  "-DCMAKE_CXX_FLAGS=$(SANITIZE) -fsanitize=fuzzer-no-link"
	cmake --build build-fuzz -j $(JOBS)

# The same inputs every run, so that `make test` gives the same verdict;
# `make fuzz` searches further, for ten minutes (SECONDS=N: N seconds).
test-fuzz: fuzz-build
	scripts/fuzz

fuzz: fuzz-build
	scripts/fuzz $(or $(SECONDS),600)

# On demand, not part of `make test`: prints the table the README keeps.
bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build build-bench -j $(JOBS) --target version-updater plain_pugixml plain_expat
	@scripts/bench

icon:
	scripts/render-icon

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-*
