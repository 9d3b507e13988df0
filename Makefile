# The front door: `make demo` and `make test` work on a fresh machine.
JOBS ?= $(shell nproc)
WINDOWS_EXE := $(CURDIR)/build-windows/version-updater.exe
WINE := env WINEPREFIX=$(CURDIR)/build-windows/wine WINEDEBUG=-all wine

.PHONY: all deps build demo test windows test-linux test-windows icon format clean

all: build

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
	  "-DCMAKE_CROSSCOMPILING_EMULATOR=env;WINEPREFIX=$(CURDIR)/build-windows/wine;WINEDEBUG=-all;wine"
	$(WINE) wineboot --init >/dev/null 2>&1 || true
	cmake --build build-windows -j $(JOBS)

test: test-linux test-windows

# The Linux suite, with the end-to-end rows run a second time against the
# Windows program under Wine, and the checks of the finished .exe.
test-linux: build windows
	cmake -S . -B build -DVERSION_UPDATER_WINDOWS_PROGRAM=$(WINDOWS_EXE)
	cmake --build build -j $(JOBS)
	cd build && ctest --output-on-failure -j $(JOBS)

test-windows: windows
	cd build-windows && ctest --output-on-failure -j $(JOBS)

icon:
	scripts/render-icon

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-windows build-windows-deps build-*
