# The two commands first: `make run` and `make test`.
ARGS ?=
JOBS ?= 2

.PHONY: run test deps install test-native test-i386 test-sanitize test-valgrind soak soak-ci bench build-native fuzz fuzz-smoke \
	image test-image package test-systemd

run: build-native
	cd build/native/server && ./tarn-launcher $(ARGS)

test: test-native test-i386

# Debian's packages that `make test` needs, installed when missing (as
# root; otherwise each missing group is named with the command to run):
# cmake, g++, GoogleTest's sources, python3's jsonschema and yaml, prometheus
# and the 32-bit toolchain. The other legs install their own through the same
# script when they start, or ahead with `scripts/deps LEG...` (fuzz, valgrind,
# image, bench, soak, all). The launcher, the modules and the tools build
# without GoogleTest: the configure step then says that the tests are off.
deps:
	./scripts/deps

build-native:
	@./scripts/deps build
	cmake --preset native
	cmake --build --preset native -j $(JOBS)

# Without python3's jsonschema and yaml the fleet manifest's test skips,
# without prometheus the Prometheus tests; without GoogleTest nothing runs.
test-native:
	@./scripts/deps build tests
	@$(MAKE) --no-print-directory build-native
	ctest --preset native

# Installs the launcher, the reference modules (as a runnable server
# directory, PREFIX/lib/tarn/server), tarn-run, tarn-query, tarn-console,
# the module SDK, the man pages and the systemd units with tarn-prepare and
# the service user's sysusers.d and tmpfiles.d files.
PREFIX ?= /usr/local
install: build-native
	cmake --install build/native --prefix $(PREFIX)

# The Debian packages, in build/packages: tarn_VERSION_amd64.deb,
# tarn_VERSION_i386.deb and tarn-sdk_VERSION_all.deb, each checked with
# lintian. `scripts/package i386` builds the i386 one alone.
package:
	./scripts/package

# The i386 leg needs the 32-bit toolchain; the deps script installs it when
# it can, and otherwise the leg is skipped.
test-i386:
	@./scripts/deps build tests
	@if ./scripts/deps i386; then \
		cmake --preset i386 && \
		cmake --build --preset i386 -j $(JOBS) && \
		ctest --preset i386; \
	else \
		echo "Skipped: the i386 leg (no 32-bit toolchain that runs here)."; \
	fi

test-sanitize:
	@./scripts/deps build tests
	cmake --preset sanitize
	cmake --build --preset sanitize -j $(JOBS)
	ctest --preset sanitize

# The end-to-end tests with the launcher under valgrind's memcheck.
test-valgrind:
	./scripts/test-valgrind

# The launcher under tarn-run with everything at once for MINUTES on a
# seeded schedule (the seed is printed; SEED=N repeats a run): one line per
# check, and a failed status when one fails. soak-ci is CI's minute on the
# native and the i386 build, both run whatever the first one shows.
MINUTES ?= 3
SEED ?=

soak:
	MINUTES=$(MINUTES) SEED=$(SEED) ./scripts/soak

soak-ci:
	@status=0; \
	MINUTES=1 SEED=$(SEED) ./scripts/soak native || status=1; \
	MINUTES=1 SEED=$(SEED) ./scripts/soak i386 || status=1; \
	exit $$status

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

# The Debian packages under a real systemd: Debian 12 with systemd as PID 1
# in a container (its root file system made by mmdebstrap from apt's
# archive, kept in build/), the packages installed with dpkg -i, and
# tarn@alpha started, attached to, queried, crashed, hung and stopped; for
# i386, then amd64 (`scripts/test-systemd amd64` runs one).
test-systemd:
	./scripts/test-systemd
