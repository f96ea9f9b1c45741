# Two commands for a newcomer: make run, make test. Everything else is for developers.
BUILD      ?= build
GENERATOR  ?= Ninja
JOBS       ?= $(shell nproc)
PREFIX     ?= /usr/local

.PHONY: all deps deps-test deps-bench deps-fuzz configure build run test test-screen test-asan test-tsan bench bench-peers screenshots install uninstall fuzz clean

all: build

# What building and running need; the test, benchmark and fuzzing tools come with their targets.
deps:
	@scripts/install-deps build

deps-test:
	@scripts/install-deps build test

deps-bench:
	@scripts/install-deps build test bench

deps-fuzz:
	@scripts/install-deps build fuzz

configure: deps
	@cmake -S . -B $(BUILD) -G $(GENERATOR) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only the viewer and its mail sender: the tests and benchmarks are built by make test and make bench.
run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target vimo Postmx
	@scripts/run-viewer $(BUILD)

test: deps-test build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -LE compositor_input

# Tests that type through an X server into a nested Wayland compositor: they depend on when the
# compositor handles the input, so they are run by hand, not by make test.
test-screen: deps-test build
	@ctest --test-dir $(BUILD) --output-on-failure -L compositor_input

test-asan: deps-test
	@cmake -S . -B build-asan -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVIMO_SANITIZE=address,undefined >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	 ctest --test-dir build-asan --output-on-failure -j $(JOBS) -LE compositor_input

test-tsan: deps-test
	@cmake -S . -B build-tsan -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVIMO_SANITIZE=thread >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	@TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp ctest --test-dir build-tsan -L threaded --output-on-failure -j $(JOBS)

# Speed and memory figures in one table (a few minutes; pictures are made once in
# $(BUILD)/bench-data). bench-peers installs other Debian viewers and measures them alike.
bench: deps-bench build
	@bench/run $(BUILD)

bench-peers: deps-bench build
	@bench/peers $(BUILD)

# The screenshots in doc/ (fit to the window, full screen, an upright portrait), made again from
# generated pictures on a virtual X server.
screenshots: deps-test build
	@scripts/doc-screenshots $(BUILD)

# make install [PREFIX=/usr/local] [DESTDIR=staging folder]; make uninstall removes it again.
install: deps
	@cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@DESTDIR=$(DESTDIR) cmake --install $(BUILD)

uninstall:
	@DESTDIR=$(DESTDIR) cmake --build $(BUILD) --target uninstall

# The fuzz targets, built with clang, ASan, UBSan and libFuzzer into build-fuzz/fuzz/;
# run one with fuzz/run TARGET SECONDS.
fuzz: deps-fuzz
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIMO_FUZZ=ON \
	  -DVIMO_SANITIZE=address,undefined,fuzzer-no-link >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzzers

clean:
	@rm -rf $(BUILD) build-asan build-tsan build-fuzz
