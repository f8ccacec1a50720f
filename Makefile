# One entry point for newcomers and CI: make build | test | demo | bench | format
BUILD ?= build
X64 := $(BUILD)/x64
X86 := $(BUILD)/x86
LINUX := $(BUILD)/linux
WINE := /usr/lib/wine/wine64
WINESERVER := /usr/lib/wine/wineserver64
PREFIX := $(abspath $(X64))/wineprefix
# The 32-bit suite runs under a Wine built in WoW64 mode, unpacked into the build folder from
# WOW64_WINE: its tarball, the folder holding it, or an unpacked copy.
WOW64_WINE ?= ../shared/wine-wow64
WOW64 := $(abspath $(BUILD))/wine-10.0-wow64
X86_PREFIX := $(abspath $(X86))/wineprefix
CMAKE_CROSS = cmake -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchain-mingw.cmake

.PHONY: setup build build-x64 build-x86 build-linux test test-linux test-x64 test-x86 \
	test-x86-if-wine demo bench format wineprefix x86-wineprefix

setup:
	@bash scripts/setup.sh

$(X64)/build.ninja:
	$(CMAKE_CROSS) -DZERKA_ARCH=x86_64 -S . -B $(X64)
$(X86)/build.ninja:
	$(CMAKE_CROSS) -DZERKA_ARCH=i686 -DZERKA_WOW64_WINE=$(WOW64)/bin/wine -S . -B $(X86)
$(LINUX)/build.ninja:
	cmake -G Ninja -DCMAKE_BUILD_TYPE=Debug -S . -B $(LINUX)

build-x64: setup $(X64)/build.ninja
	cmake --build $(X64)
build-x86: setup $(X86)/build.ninja
	cmake --build $(X86)
build-linux: setup $(LINUX)/build.ninja
	cmake --build $(LINUX)

build: build-x64 build-x86 build-linux

# The first start of Wine makes its prefix (about two minutes); later starts take a second.
wineprefix: $(PREFIX)/.made
$(PREFIX)/.made:
	mkdir -p $(PREFIX)
	WINEPREFIX=$(PREFIX) WINEDEBUG=-all $(WINE) wineboot -i >/dev/null 2>&1 || true
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
test: build test-linux test-x64 test-x86-if-wine

test-linux: build-linux
	cd $(LINUX) && ctest --output-on-failure $(CTEST_ARGS)

test-x64: build-x64 wineprefix
	WINEPREFIX=$(PREFIX) $(WINESERVER) -p >/dev/null 2>&1 </dev/null; \
	WINEPREFIX=$(PREFIX) WINEDEBUG=-all $(WINE) cmd /c exit >/dev/null 2>&1 </dev/null; \
	cd $(X64) && WINEPREFIX=$(PREFIX) ctest --output-on-failure --timeout 600 $(CTEST_ARGS); \
	rc=$$?; WINEPREFIX=$(PREFIX) $(WINESERVER) -k; exit $$rc

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
bench: build-x64 wineprefix
	python3 bench/run.py $(X64) $(BENCH_ARGS)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')
