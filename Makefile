# The front door: `make` builds dist/, `make test` runs every test.
# Both install what is missing first.

BUILD     ?= build
NATIVE    := $(BUILD)/native
SANITIZE  := $(BUILD)/sanitize
WIN32DIR  := $(BUILD)/win32
JOBS      ?= $(shell nproc)

# Every tree is configured by one rule below, after tools/install-deps.sh has
# run. Each build already uses $(JOBS) cores, so the targets themselves run one
# after another even under `make -j`: trees and builds of one tree never race.
.NOTPARALLEL:

# Under the test targets each gtest program runs its tests in a new order every
# time; the seed is in its output, to repeat an order with GTEST_RANDOM_SEED=n.
test test-native test-sanitize test-tsan test-win32: export GTEST_SHUFFLE := 1

WIN32_CONFIG    := -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32.cmake -DCMAKE_BUILD_TYPE=Release
NATIVE_CONFIG   := -DCMAKE_BUILD_TYPE=Debug
SANITIZE_CONFIG := -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON
TSAN_CONFIG     := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_TSAN=ON
FUZZ_CONFIG     := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_FUZZ=ON \
                   -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
BENCH_CONFIG    := -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BENCH=ON

.PHONY: all deps deps-bench deps-screenshots dist demo screenshots package test test-native \
	test-sanitize test-tsan test-fuzz test-win32 fuzz bench format clean \
	configure-win32 configure-native configure-sanitize configure-tsan configure-fuzz configure-bench

all: dist

deps:
	@./tools/install-deps.sh
deps-bench:
	@./tools/install-deps.sh bench
deps-screenshots:
	@./tools/install-deps.sh screenshots

# One configure rule per tree; every build goes through one of them.
TSANDIR  := $(BUILD)/tsan
FUZZDIR  := $(BUILD)/fuzz
BENCHDIR := $(BUILD)/bench

configure-win32: deps
	cmake -S . -B $(WIN32DIR) $(WIN32_CONFIG)
configure-native: deps
	cmake -S . -B $(NATIVE) $(NATIVE_CONFIG)
configure-sanitize: deps
	cmake -S . -B $(SANITIZE) $(SANITIZE_CONFIG)
configure-tsan: deps
	cmake -S . -B $(TSANDIR) $(TSAN_CONFIG)
configure-fuzz: deps
	cmake -S . -B $(FUZZDIR) $(FUZZ_CONFIG)
configure-bench: deps-bench
	cmake -S . -B $(BENCHDIR) $(BENCH_CONFIG)

dist: configure-win32
	cmake --build $(WIN32DIR) -j $(JOBS) --target quorvel

# The plug-in with the example list, run by quorvel-host over examples/ under Wine;
# then learn on the good mail against the spam, and lint on an unhealthy list.
DEMO       := $(WIN32DIR)/demo
DEMOPREFIX := $(abspath $(WIN32DIR))/demo-wineprefix

demo: dist
	cmake --build $(WIN32DIR) -j $(JOBS) --target host_demo
	@[ -d $(DEMOPREFIX) ] || { echo "Making a Wine prefix for the demo (once)..."; \
		./cmake/wine-prefix.sh $(DEMOPREFIX); }
	@WINEPREFIX=$(DEMOPREFIX) WINEDEBUG=-all wine $(DEMO)/quorvel-host.exe check --explain examples/
	@echo; echo '$$ quorvel-host learn --spam examples/spam examples/good'
	@WINEPREFIX=$(DEMOPREFIX) WINEDEBUG=-all wine $(DEMO)/quorvel-host.exe learn \
		--spam examples/spam examples/good
	@echo; echo '$$ quorvel-host lint    (with examples/unhealthy-list.txt as the list)'
	@mkdir -p $(DEMO)/unhealthy && cp $(DEMO)/quorvel.dll $(DEMO)/unhealthy/ && \
		cp examples/unhealthy-list.txt $(DEMO)/unhealthy/quorvel.txt
	@WINEPREFIX=$(DEMOPREFIX) WINEDEBUG=-all wine $(DEMO)/quorvel-host.exe \
		--plugin $(DEMO)/unhealthy lint || true

# docs/*.png: the settings dialog, the entry dialog and the settings page, drawn
# under Xvfb and Wine. Wine's own fonts go into the prefix so that the frames'
# buttons show their symbols.
SHOTS       := $(WIN32DIR)/screenshots
SHOTSPREFIX := $(abspath $(WIN32DIR))/screenshots-wineprefix

screenshots: deps-screenshots configure-win32
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

test: test-native test-sanitize test-tsan test-fuzz test-win32

test-native: configure-native
	cmake --build $(NATIVE) -j $(JOBS)
	cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)

test-sanitize: configure-sanitize
	cmake --build $(SANITIZE) -j $(JOBS)
	cd $(SANITIZE) && ctest --output-on-failure -j $(JOBS)

# The checks racing edits of the list, under ThreadSanitizer.
test-tsan: configure-tsan
	cmake --build $(TSANDIR) -j $(JOBS) --target reliability_tests
	TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/reliability/tsan.supp" \
		$(TSANDIR)/reliability_tests --gtest_filter='StressTest.*'

# libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer):
# `make fuzz` runs each for FUZZ_SECONDS, `make test` for 10 s. See docs/reliability.md.
FUZZ_SECONDS ?= 60
FUZZERS      := list_file mail_check mail_parser host_text

define run-fuzzers
	cmake --build $(FUZZDIR) -j $(JOBS) --target fuzzers
	@for f in $(FUZZERS); do \
		./fuzz/run.sh $(FUZZDIR)/fuzz/fuzz_$$f $(1) $(FUZZDIR)/work/$$f fuzz/corpus/$$f || exit 1; \
	done
endef

test-fuzz: configure-fuzz
	$(call run-fuzzers,10)

fuzz: configure-fuzz
	$(call run-fuzzers,$(FUZZ_SECONDS))

test-win32: configure-win32
	cmake --build $(WIN32DIR) -j $(JOBS)
	cd $(WIN32DIR) && xvfb-run -a ctest --output-on-failure

# The mail check against the floor, the plain algorithm, PCRE2 and Hyperscan,
# then the shipped module under Wine and Xvfb at each list size, then
# quorvel-host's check and learn against a plain read of a 1 GiB mbox; writes
# docs/benchmarks.md.
BENCHPREFIX := $(abspath $(BENCHDIR))/wineprefix
DLLBENCH    := $(abspath $(WIN32DIR))/quorvel_dll_bench.exe
DLLSIZES    := 1 100 1000 10000 100000

bench: configure-bench configure-win32
	cmake --build $(BENCHDIR) -j $(JOBS) --target quorvel_bench
	$(BENCHDIR)/bench/quorvel_bench --table=docs/benchmarks.md --figures=$(BENCHDIR)/native-figures.txt
	cmake --build $(WIN32DIR) -j $(JOBS) --target quorvel quorvel_dll_bench
	@[ -d $(BENCHPREFIX) ] || ./cmake/wine-prefix.sh $(BENCHPREFIX)
	rm -rf $(BENCHDIR)/module && mkdir -p $(BENCHDIR)/module
	cp dist/quorvel.dll $(BENCHDIR)/module/
	WINEPREFIX=$(BENCHPREFIX) WINEDEBUG=-all xvfb-run -a sh -c 'for n in $(DLLSIZES); do \
		wine $(DLLBENCH) measure "$$(winepath -w $(abspath $(BENCHDIR))/module/quorvel.dll)" $$n || exit 1; \
	done' > $(BENCHDIR)/dll-figures.txt
	WINEPREFIX=$(BENCHPREFIX) WINEDEBUG=-all wine $(DLLBENCH) table \
		$(BENCHDIR)/dll-figures.txt $(BENCHDIR)/native-figures.txt docs/benchmarks.md
	cmake --build $(WIN32DIR) -j $(JOBS) --target quorvel-host quorvel_read_floor
	WINEPREFIX=$(BENCHPREFIX) WINEDEBUG=-all python3 bench/read_bench.py \
		$(WIN32DIR)/quorvel-host.exe dist/quorvel.dll $(WIN32DIR)/quorvel_read_floor.exe \
		$(BENCHDIR)/read docs/benchmarks.md

format: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) dist
