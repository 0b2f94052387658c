# The front door: `make` builds dist/, `make test` runs every test.
# Both install what is missing first.

BUILD     ?= build
NATIVE    := $(BUILD)/native
SANITIZE  := $(BUILD)/sanitize
WIN32DIR  := $(BUILD)/win32
JOBS      ?= $(shell nproc)

.PHONY: all deps dist demo package test test-native test-sanitize test-win32 bench format clean

all: dist

deps:
	@./tools/install-deps.sh

dist: deps
	cmake -S . -B $(WIN32DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WIN32DIR) -j $(JOBS) --target quorvel

# The plug-in with the example list, run by quorvel-host over examples/ under Wine.
DEMO       := $(WIN32DIR)/demo
DEMOPREFIX := $(abspath $(WIN32DIR))/demo-wineprefix

demo: dist
	cmake --build $(WIN32DIR) -j $(JOBS) --target host_demo
	@[ -d $(DEMOPREFIX) ] || { echo "Making a Wine prefix for the demo (once)..."; \
		./cmake/wine-prefix.sh $(DEMOPREFIX); }
	@WINEPREFIX=$(DEMOPREFIX) WINEDEBUG=-all wine $(DEMO)/quorvel-host.exe check --explain examples/

# dist/quorvel-<version>-win32.zip, to unpack into the host's plug-in folder.
package: dist
	cmake --build $(WIN32DIR) -j $(JOBS) --target quorvel-host
	cd $(WIN32DIR) && cpack -G ZIP
	cp $(WIN32DIR)/package/quorvel-*-win32.zip dist/

test: deps test-native test-sanitize test-win32

test-native:
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(NATIVE) -j $(JOBS)
	cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)

test-sanitize:
	cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON
	cmake --build $(SANITIZE) -j $(JOBS)
	cd $(SANITIZE) && ctest --output-on-failure -j $(JOBS)

test-win32:
	cmake -S . -B $(WIN32DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WIN32DIR) -j $(JOBS)
	cd $(WIN32DIR) && xvfb-run -a ctest --output-on-failure

# The mail check against the floor, the plain algorithm, PCRE2 and Hyperscan;
# writes docs/benchmarks.md.
BENCHDIR := $(BUILD)/bench

bench:
	@./tools/install-deps.sh bench
	cmake -S . -B $(BENCHDIR) -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BENCH=ON
	cmake --build $(BENCHDIR) -j $(JOBS) --target quorvel_bench
	$(BENCHDIR)/bench/quorvel_bench --table=docs/benchmarks.md

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) dist
