# Tavimore: `make run` converts the bundled samples, `make test` runs every test,
# `make package` writes the release files into build/packages.
# Both install what is missing first (tools/setup.sh) and build what they need.

JOBS ?= 2
FUZZ_SECONDS ?= 600

.PHONY: all setup native sanitize win32 win64 run package test test-native test-sanitize test-win32 test-win64 test-package gui bench fuzz clean

all: native win32

# The package check runs once, and again when the set-up script or the npm packages change.
SETUP_STAMP := build/.setup-done
setup: $(SETUP_STAMP)
$(SETUP_STAMP): tools/setup.sh package.json package-lock.json
	@tools/setup.sh
	@mkdir -p build && touch $@

native: setup
	cmake --preset native >/dev/null
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

run: native
	@tools/run-samples.sh

test-native: native
	ctest --preset native -j $(JOBS)

test-sanitize: sanitize
	ctest --preset sanitize -j $(JOBS)

# The Windows suites run the shipped 32-bit build under Wine. A kernel that cannot start 32-bit
# programs cannot run 32-bit Wine: there the same suites run on a 64-bit build under wine64,
# and only the 32-bit programs we ship are built (with warnings as errors).
test-win32: setup
	@if tools/runs-32bit.sh; then $(MAKE) --no-print-directory win32 && ctest --preset win32 -j $(JOBS); \
	else echo "This kernel does not run 32-bit programs: the Windows suites run on the 64-bit build."; \
	  cmake --preset win32 >/dev/null && cmake --build --preset win32 --target tavimore-release -j $(JOBS) && \
	  $(MAKE) --no-print-directory test-win64; fi

test-win64: win64
	ctest --preset win64 -j $(JOBS)

package: setup
	@JOBS=$(JOBS) tools/package.sh

test-package: package
	ctest --preset package -j $(JOBS)

test: setup
	$(MAKE) --no-print-directory test-native
	$(MAKE) --no-print-directory test-sanitize
	$(MAKE) --no-print-directory test-win32
	$(MAKE) --no-print-directory test-package

gui: win32
	@tools/gui.sh

bench: native
	@tools/bench.sh

fuzz: sanitize
	@tools/fuzz.sh $(FUZZ_SECONDS)

clean:
	rm -rf build out
