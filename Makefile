# Tavimore: `make run` converts the bundled samples, `make test` runs every test,
# `make package` writes the release files into build/packages.
# Both install what is missing first (tools/setup.sh) and build what they need.

JOBS ?= 2
FUZZ_SECONDS ?= 600

.PHONY: all setup native sanitize win32 run package test test-native test-sanitize test-win32 test-package gui bench fuzz clean

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

run: native
	@tools/run-samples.sh

test-native: native
	ctest --preset native -j $(JOBS)

test-sanitize: sanitize
	ctest --preset sanitize -j $(JOBS)

test-win32: win32
	ctest --preset win32 -j $(JOBS)

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
