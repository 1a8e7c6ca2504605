# Tavimore: `make run` converts the bundled samples, `make test` runs every test,
# `make package` writes the release files into build/packages.
# Both install what is missing first (tools/setup.sh) and build what they need.

JOBS ?= 2
FUZZ_SECONDS ?= 600

.PHONY: all setup native sanitize win32 win64 debian13 run package test test-native test-sanitize test-win32 test-win64 test-package test-debian13 gui bench fuzz clean

all: native win32

# The package checks run once, and again when the set-up scripts or the npm packages change.
# `make run` installs only what building and converting need; `make test` every test's tools,
# and the Debian 13 root of the tests of today's hosts (tools/debian13-root.sh).
RUN_SETUP := build/.setup-run
TEST_SETUP := build/.setup-test
setup: $(TEST_SETUP)
$(RUN_SETUP): tools/setup.sh
	@tools/setup.sh run
	@mkdir -p build && touch $@
$(TEST_SETUP): tools/setup.sh tools/libdeflate-mingw.sh tools/debian13-root.sh package.json package-lock.json
	@tools/setup.sh test
	@mkdir -p build && touch $@ $(RUN_SETUP)

# The tests run under a Japanese system's locale and under C's: the native suites under the
# first, the sanitizers' (the same suites but the readers') under the second.
JA := LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
C := LANG=C.UTF-8 LC_ALL=C.UTF-8

native: setup
	cmake --preset native -DTAVIMORE_TESTS=ON >/dev/null
	cmake --build --preset native -j $(JOBS)

sanitize: setup
	cmake --preset sanitize >/dev/null
	cmake --build --preset sanitize -j $(JOBS)

win32: setup
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS)

win64: setup
	cmake --preset win64 >/dev/null
	cmake --build --preset win64 -j $(JOBS)

# Inside the Debian 13 root, made where missing: the debian13 preset built with its GCC 14, and
# the tests of today's hosts (label today). One `make` command (with its sub-makes) tries to make
# the root once: TAVIMORE_RUN tells them apart.
ifndef TAVIMORE_RUN
TAVIMORE_RUN := $(shell date +%s.%N)
endif
export TAVIMORE_RUN

debian13: setup
	@JOBS=$(JOBS) tools/debian13-tests.sh --build

# Only the converter, without the test framework.
run: $(RUN_SETUP)
	cmake --preset native -DTAVIMORE_TESTS=OFF >/dev/null
	cmake --build --preset native --target tavimore-cli -j $(JOBS)
	@tools/run-samples.sh

test-native: native
	$(JA) ctest --preset native -j $(JOBS)

test-sanitize: sanitize
	$(C) ctest --preset sanitize -j $(JOBS)

# The shipped 32-bit build under 32-bit Wine where this machine runs it, else a 64-bit build
# under wine64 (tools/windows-tests.sh says which).
test-win32: setup
	@JOBS=$(JOBS) tools/windows-tests.sh

test-win64: setup
	@JOBS=$(JOBS) tools/windows-tests.sh --win64

package: setup
	@JOBS=$(JOBS) tools/package.sh

test-package: package
	ctest --preset package -j $(JOBS)

test-debian13: setup
	@JOBS=$(JOBS) tools/debian13-tests.sh

test: setup
	@tools/windows-tests.sh --which
	$(MAKE) --no-print-directory test-native
	$(MAKE) --no-print-directory test-sanitize
	$(MAKE) --no-print-directory test-win32
	$(MAKE) --no-print-directory test-package
	$(MAKE) --no-print-directory test-debian13
	@echo "All tests passed: native suites under ja_JP.UTF-8, the sanitizers' under C.UTF-8."
	@cat build/windows-suites build/debian13-suites

gui: win32
	@tools/gui.sh

bench: native
	@tools/bench.sh

fuzz: sanitize
	@tools/fuzz.sh $(FUZZ_SECONDS)

clean:
	rm -rf build out
