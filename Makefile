# One entry point for newcomers and CI: make build | test | demo | bench | format
BUILD ?= build
X64 := $(BUILD)/x64
X86 := $(BUILD)/x86
LINUX := $(BUILD)/linux
# Release builds: the native zerkareport (built by make test, so that Release stays
# warning-free) and the Windows tools of the release bundles (make dist).
LINUX_RELEASE := $(BUILD)/linux-release
X64_RELEASE := $(BUILD)/x64-release
X86_RELEASE := $(BUILD)/x86-release
WINE := /usr/lib/wine/wine64
WINESERVER := /usr/lib/wine/wineserver64
PREFIX := $(abspath $(X64))/wineprefix
# The 32-bit suite runs under a Wine built in WoW64 mode, unpacked into the build folder from
# WOW64_WINE: its tarball, the folder holding it, or an unpacked copy.
WOW64_WINE ?= ../shared/wine-wow64
WOW64 := $(abspath $(BUILD))/wine-10.0-wow64
X86_PREFIX := $(abspath $(X86))/wineprefix
CMAKE_CROSS = cmake -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchain-mingw.cmake
CMAKE_CROSS_RELEASE = cmake -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchain-mingw.cmake

.PHONY: setup build build-x64 build-x86 build-linux test test-linux test-x64 test-x86 \
	test-x86-if-wine demo bench format wineprefix x86-wineprefix \
	release-linux dist dist-x64 dist-x86 dist-linux test-dist bench-report

setup:
	@bash scripts/setup.sh

$(X64)/build.ninja:
	$(CMAKE_CROSS) -DZERKA_ARCH=x86_64 -S . -B $(X64)
$(X86)/build.ninja:
	$(CMAKE_CROSS) -DZERKA_ARCH=i686 -DZERKA_WOW64_WINE=$(WOW64)/bin/wine -S . -B $(X86)
$(LINUX)/build.ninja:
	cmake -G Ninja -DCMAKE_BUILD_TYPE=Debug -S . -B $(LINUX)
$(LINUX_RELEASE)/build.ninja:
	cmake -G Ninja -DCMAKE_BUILD_TYPE=Release -S . -B $(LINUX_RELEASE)
$(X64_RELEASE)/build.ninja:
	$(CMAKE_CROSS_RELEASE) -DZERKA_ARCH=x86_64 -S . -B $(X64_RELEASE)
$(X86_RELEASE)/build.ninja:
	$(CMAKE_CROSS_RELEASE) -DZERKA_ARCH=i686 -S . -B $(X86_RELEASE)

build-x64: setup $(X64)/build.ninja
	cmake --build $(X64)
build-x86: setup $(X86)/build.ninja
	cmake --build $(X86)
build-linux: setup $(LINUX)/build.ninja
	cmake --build $(LINUX)

build: build-x64 build-x86 build-linux

# Only the programs of the bundles are built in Release, not the tests.
release-linux: setup $(LINUX_RELEASE)/build.ninja
	cmake --build $(LINUX_RELEASE) --target zerkareport
dist-linux: release-linux
	cmake --build $(LINUX_RELEASE) --target dist
dist-x64: setup $(X64_RELEASE)/build.ninja
	cmake --build $(X64_RELEASE) --target dist
dist-x86: setup $(X86_RELEASE)/build.ninja
	cmake --build $(X86_RELEASE) --target dist
dist: dist-x64 dist-x86 dist-linux

# The first start of Wine makes its prefix (about two minutes); later starts take a second.
wineprefix: $(PREFIX)/.made
$(PREFIX)/.made:
	mkdir -p $(PREFIX)
	WINEPREFIX=$(PREFIX) WINEDEBUG=-all $(WINE) wineboot -i >/dev/null 2>&1 </dev/null || true
	WINEPREFIX=$(PREFIX) $(WINESERVER) -w
	touch $@

$(WOW64)/bin/wine:
	bash scripts/wow64_wine.sh unpack "$(WOW64_WINE)" $(WOW64)

# Its own prefix, without the .NET and HTML engines nothing here needs (seconds, not minutes).
x86-wineprefix: $(X86_PREFIX)/.made
$(X86_PREFIX)/.made: | $(WOW64)/bin/wine
	mkdir -p $(X86_PREFIX)
	WINEPREFIX=$(X86_PREFIX) WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" \
	  $(WOW64)/bin/wine wineboot -i >/dev/null 2>&1 </dev/null || true
	WINEPREFIX=$(X86_PREFIX) $(WOW64)/bin/wineserver -w
	touch $@

# One wineserver kept running around the suite saves seconds on every Wine start. Wine's
# services inherit the output of the process that starts them, so they are started quietly.
# CTEST_ARGS narrows a run, e.g. CTEST_ARGS="-R log".
test: build release-linux test-linux test-x64 test-dist test-x86-if-wine

test-linux: build-linux
	cd $(LINUX) && ctest --output-on-failure $(CTEST_ARGS)

test-x64: build-x64 wineprefix
	WINEPREFIX=$(PREFIX) $(WINESERVER) -p >/dev/null 2>&1 </dev/null; \
	WINEPREFIX=$(PREFIX) WINEDEBUG=-all $(WINE) cmd /c exit >/dev/null 2>&1 </dev/null; \
	cd $(X64) && WINEPREFIX=$(PREFIX) ctest --output-on-failure --timeout 600 $(CTEST_ARGS); \
	rc=$$?; WINEPREFIX=$(PREFIX) $(WINESERVER) -k; exit $$rc

# The 64-bit bundle unpacked into a fresh folder measures a test target under Wine.
test-dist: dist-x64 build-x64 wineprefix
	python3 tests/dist/dist_test.py dist/zerkacmd-*-win64.zip $(X64) $(PREFIX)

# The 32-bit suite under the WoW64 Wine. The 64-bit build is made too: some of its tests compare
# the two builds' logs of the same 32-bit program.
test-x86: build-x64 build-x86 x86-wineprefix
	WINEPREFIX=$(X86_PREFIX) $(WOW64)/bin/wineserver -p >/dev/null 2>&1 </dev/null; \
	WINEPREFIX=$(X86_PREFIX) WINEDEBUG=-all $(WOW64)/bin/wine cmd /c exit >/dev/null 2>&1 </dev/null; \
	cd $(X86) && WINEPREFIX=$(X86_PREFIX) ctest --output-on-failure --timeout 600 $(CTEST_ARGS); \
	rc=$$?; WINEPREFIX=$(X86_PREFIX) $(WOW64)/bin/wineserver -k; exit $$rc

# `make test` runs the 32-bit suite wherever such a Wine is at hand, and says so when it is not.
test-x86-if-wine:
	@if bash scripts/wow64_wine.sh check "$(WOW64_WINE)" $(WOW64); then \
	  $(MAKE) --no-print-directory test-x86; fi

demo: build-x64 wineprefix
	@bash scripts/demo.sh $(X64)

# Heavy (tens of minutes): timing runs against the native program; never part of `make test`.
# BENCH_ARGS narrows a run, e.g. BENCH_ARGS="--reduced" or "--quick --only wide".
bench: build-x64 wineprefix release-linux
	python3 bench/run.py $(X64) $(BENCH_ARGS)
	python3 bench/report_bench.py $(LINUX_RELEASE)/bin/zerkareport --work $(BUILD)/bench-report

# zerkareport's part of make bench alone (a few minutes).
bench-report: release-linux
	python3 bench/report_bench.py $(LINUX_RELEASE)/bin/zerkareport --work $(BUILD)/bench-report

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')
