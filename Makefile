# The front door: `make` builds dist/, `make test` runs every test.
# Both install what is missing first.

BUILD     ?= build
NATIVE    := $(BUILD)/native
SANITIZE  := $(BUILD)/sanitize
WIN32DIR  := $(BUILD)/win32
JOBS      ?= $(shell nproc)

.PHONY: all deps dist demo screenshots package test test-native test-sanitize test-tsan test-fuzz test-win32 \
	fuzz bench format clean

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

# docs/*.png: the settings dialog, the entry dialog and the settings page, drawn
# under Xvfb and Wine. Wine's own fonts go into the prefix so that the frames'
# buttons show their symbols.
SHOTS       := $(WIN32DIR)/screenshots
SHOTSPREFIX := $(abspath $(WIN32DIR))/screenshots-wineprefix

screenshots: deps
	@./tools/install-deps.sh screenshots
	cmake -S . -B $(WIN32DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WIN32DIR) -j $(JOBS) --target screenshots_stage
	@[ -d $(SHOTSPREFIX) ] || { ./cmake/wine-prefix.sh $(SHOTSPREFIX) && \
		cp /usr/share/wine/fonts/*.ttf $(SHOTSPREFIX)/drive_c/windows/Fonts/; }
	rm -f $(SHOTS)/*.bmp
	WINEPREFIX=$(SHOTSPREFIX) WINEDEBUG=-all xvfb-run -a -s "-screen 0 1024x768x24" \
		wine $(SHOTS)/quorvel-screenshots.exe
	@for f in settings add_address page; do \
		python3 tools/bmp_to_png.py $(SHOTS)/$$f.bmp docs/$$f.png || exit 1; echo "docs/$$f.png"; \
	done

# dist/quorvel-<version>-win32.zip, to unpack into the host's plug-in folder.
package: dist
	cmake --build $(WIN32DIR) -j $(JOBS) --target quorvel-host
	cd $(WIN32DIR) && cpack -G ZIP
	cp $(WIN32DIR)/package/quorvel-*-win32.zip dist/

test: deps test-native test-sanitize test-tsan test-fuzz test-win32

test-native:
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(NATIVE) -j $(JOBS)
	cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)

test-sanitize:
	cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON
	cmake --build $(SANITIZE) -j $(JOBS)
	cd $(SANITIZE) && ctest --output-on-failure -j $(JOBS)

# The checks racing edits of the list, under ThreadSanitizer.
TSANDIR := $(BUILD)/tsan

test-tsan:
	cmake -S . -B $(TSANDIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_TSAN=ON
	cmake --build $(TSANDIR) -j $(JOBS) --target reliability_tests
	TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/reliability/tsan.supp" \
		$(TSANDIR)/reliability_tests --gtest_filter='StressTest.*'

# libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer):
# `make fuzz` runs each for FUZZ_SECONDS, `make test` for 10 s. See docs/reliability.md.
FUZZDIR      := $(BUILD)/fuzz
FUZZ_SECONDS ?= 60
FUZZERS      := list_file mail_check mail_parser host_text

define run-fuzzers
	cmake -S . -B $(FUZZDIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_FUZZ=ON \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZDIR) -j $(JOBS) --target fuzzers
	@for f in $(FUZZERS); do \
		./fuzz/run.sh $(FUZZDIR)/fuzz/fuzz_$$f $(1) $(FUZZDIR)/work/$$f fuzz/corpus/$$f || exit 1; \
	done
endef

test-fuzz:
	$(call run-fuzzers,10)

fuzz: deps
	$(call run-fuzzers,$(FUZZ_SECONDS))

test-win32:
	cmake -S . -B $(WIN32DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WIN32DIR) -j $(JOBS)
	cd $(WIN32DIR) && xvfb-run -a ctest --output-on-failure

# The mail check against the floor, the plain algorithm, PCRE2 and Hyperscan,
# then the shipped module under Wine and Xvfb at each list size; writes
# docs/benchmarks.md.
BENCHDIR    := $(BUILD)/bench
BENCHPREFIX := $(abspath $(BENCHDIR))/wineprefix
DLLBENCH    := $(abspath $(WIN32DIR))/quorvel_dll_bench.exe
DLLSIZES    := 1 100 1000 10000 100000

bench:
	@./tools/install-deps.sh bench
	cmake -S . -B $(BENCHDIR) -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BENCH=ON
	cmake --build $(BENCHDIR) -j $(JOBS) --target quorvel_bench
	$(BENCHDIR)/bench/quorvel_bench --table=docs/benchmarks.md --figures=$(BENCHDIR)/native-figures.txt
	cmake -S . -B $(WIN32DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WIN32DIR) -j $(JOBS) --target quorvel_dll_bench
	@[ -d $(BENCHPREFIX) ] || ./cmake/wine-prefix.sh $(BENCHPREFIX)
	rm -rf $(BENCHDIR)/module && mkdir -p $(BENCHDIR)/module
	cp dist/quorvel.dll $(BENCHDIR)/module/
	WINEPREFIX=$(BENCHPREFIX) WINEDEBUG=-all xvfb-run -a sh -c 'for n in $(DLLSIZES); do \
		wine $(DLLBENCH) measure "$$(winepath -w $(abspath $(BENCHDIR))/module/quorvel.dll)" $$n || exit 1; \
	done' > $(BENCHDIR)/dll-figures.txt
	WINEPREFIX=$(BENCHPREFIX) WINEDEBUG=-all wine $(DLLBENCH) table \
		$(BENCHDIR)/dll-figures.txt $(BENCHDIR)/native-figures.txt docs/benchmarks.md

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) dist
