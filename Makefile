# The front door: `make demo` and `make test` work on a fresh machine.
JOBS ?= $(shell nproc)

.PHONY: all deps build demo test format clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)

demo: build
	@scripts/demo

test: build
	cd build && ctest --output-on-failure -j $(JOBS)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-*
