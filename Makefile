# The two commands first: `make run` and `make test`.
ARGS ?=
JOBS ?= 2

.PHONY: run test install test-native test-i386 test-sanitize test-valgrind soak bench build-native fuzz fuzz-smoke \
	image test-image

run: build-native
	cd build/native/server && ./tarn-launcher $(ARGS)

test: test-native test-i386

build-native:
	cmake --preset native
	cmake --build --preset native -j $(JOBS)

# The fleet manifest's test needs python3's jsonschema and yaml modules, the
# Prometheus tests Debian's prometheus package.
test-native: build-native
	@./scripts/ensure-manifest-tools || echo "The fleet manifest's test will skip."
	@./scripts/ensure-prometheus || echo "The Prometheus tests will skip."
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
	@./scripts/ensure-prometheus || echo "The Prometheus tests will skip."
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

# The server's container image, localhost/tarn:i386, built with podman from
# this tree's i386 build and the Debian packages of its runtime; nothing is
# pulled. `scripts/image x86-64` builds localhost/tarn:x86-64.
image:
	./scripts/image i386

# Builds the image, runs it, queries it from inside and stops it with
# podman stop: status 143 within 2 s.
test-image:
	./scripts/test-image
