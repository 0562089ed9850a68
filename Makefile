# The two commands first: `make run` and `make test`.
ARGS ?=
JOBS ?= 2

.PHONY: run test install test-native test-i386 test-sanitize test-valgrind soak bench build-native fuzz fuzz-smoke

run: build-native
	cd build/native/server && ./tarn-launcher $(ARGS)

test: test-native test-i386

build-native:
	cmake --preset native
	cmake --build --preset native -j $(JOBS)

test-native: build-native
	ctest --preset native

# Installs the launcher, the reference modules (as a runnable server
# directory, PREFIX/lib/tarn/server), tarn-run, tarn-query, the module SDK,
# the man page and the systemd unit.
PREFIX ?= /usr/local
install: build-native
	cmake --install build/native --prefix $(PREFIX)

# The i386 leg needs the 32-bit toolchain; the script installs it when it
# can, and otherwise says that the leg is skipped and how to get it.
test-i386:
	@if ./scripts/ensure-i386-toolchain; then \
		cmake --preset i386 && \
		cmake --build --preset i386 -j $(JOBS) && \
		ctest --preset i386; \
	fi

test-sanitize:
	cmake --preset sanitize
	cmake --build --preset sanitize -j $(JOBS)
	ctest --preset sanitize

# The end-to-end tests with the launcher under valgrind's memcheck.
test-valgrind:
	./scripts/test-valgrind

# A million frames with typed input and restarts; memory and descriptors
# must stay flat.
soak:
	./scripts/soak

# The frame loop against the system's floor, x86-64 and i386.
bench:
	./scripts/bench

# Fuzzing with libFuzzer under the sanitizers: each target FUZZ_SECONDS
# seconds, one after the other; fuzz-smoke is the short run of CI.
FUZZ_SECONDS ?= 600

fuzz:
	./scripts/fuzz $(FUZZ_SECONDS)

fuzz-smoke:
	./scripts/fuzz 20
