# The two commands of the README:
#   make run   builds Lumetra and starts it in ./demo (config.txt and textures/ set up there)
#   make test  builds Lumetra and runs every test: plain, ASan+UBSan, and TSan
# Each installs first what it needs (scripts/install-deps run|test|dev).
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# Most tests wait on the program (timeouts, frames at its own pace) more than they compute,
# so ctest runs two per core.
CTEST_JOBS ?= $(shell echo $$(( $$(nproc) * 2 )))

.PHONY: all deps deps-run deps-test deps-dev build run demo test test-plain test-asan test-tsan \
	fuzz bench format clean

all: build

deps: deps-dev

deps-run:
	@scripts/install-deps run

deps-test:
	@scripts/install-deps test

deps-dev:
	@scripts/install-deps dev

# Tests and benchmarks are built when GoogleTest and Google Benchmark are installed.
build: deps-run
	@cmake -S . -B build -G Ninja $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)

demo: build
	@scripts/make-demo demo

run: demo
	cd demo && ../build/rpi_lumetra

test: deps-test
	@$(MAKE) --no-print-directory test-plain test-asan test-tsan
	@echo "make test: all three runs passed"

test-plain:
	@cmake -S . -B build -G Ninja -DLUMETRA_BUILD_TESTS=ON -DLUMETRA_BUILD_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)
	@cd build && ../scripts/ctest-skips -j $(CTEST_JOBS) --output-on-failure

test-asan:
	@cmake -S . -B build-asan -G Ninja -DLUMETRA_SANITIZE=address -DLUMETRA_BUILD_TESTS=ON -DLUMETRA_BUILD_BENCH=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@# intercept_tls_get_addr=0: GCC 12's sanitizer guesses the bounds of a library's thread-local
	@# block from a header it only sometimes has, and the leak check at exit then reads a wild
	@# range and dies (about one run in four of a fixture that writes a snapshot). glibc takes
	@# those blocks from malloc, so they are still seen.
	@cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/support/lsan.supp ../scripts/ctest-skips -j $(CTEST_JOBS) --output-on-failure

test-tsan:
	@cmake -S . -B build-tsan -G Ninja -DLUMETRA_SANITIZE=thread -DLUMETRA_BUILD_TESTS=ON -DLUMETRA_BUILD_BENCH=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-tsan -j $(JOBS) --target threaded-tests
	@cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/support/tsan.supp \
		../scripts/ctest-skips -j $(CTEST_JOBS) -L threaded --output-on-failure

fuzz: deps-dev
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DLUMETRA_BUILD_FUZZ=ON \
		-DLUMETRA_BUILD_TESTS=OFF -DLUMETRA_BUILD_BENCH=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS)

bench: deps-test
	@cmake -S . -B build -G Ninja -DLUMETRA_BUILD_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)
	@for b in build/bench/bench_*; do echo "== $$b"; $$b; done

format: deps-dev
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-fuzz demo

# Debian packaging and the Pi's CPUs (debian/, scripts/build-deb, scripts/cross-test):
#   make deb                 lumetra_*.deb for this machine in build-deb/, checked by lintian
#   make deb DEB_ARCH=arm64  the Pi's .deb, cross-built (armhf too)
#   make deb DEB_DIST=trixie for Debian 13 (today's Raspberry Pi OS), built in a fresh
#                            Debian 13 root, in build-deb/trixie/ (with DEB_ARCH too)
#   make deb-test            installs it into a fresh Debian root of DEB_DIST's release;
#                            boots that under systemd
#   make cross-test          arm64 and armhf builds of the GL-free tests, run under qemu-user
#   make fixture-test        QLC+ patches fixtures/Lumetra-Canvas.qxf and drives the fixture
#   make pi-boot-test        the arm64 package booted under systemd on an emulated arm64
#                            machine with a virtio-gpu screen (DEB_DIST=trixie: Debian 13)
#   make debian13-test       a new user's `make run` (it must draw) and `make test` in a fresh
#                            Debian 13 root (debian12-test: Debian 12); TARGET=test-plain
#                            for the plain run only
DEB_ARCH ?= $(shell dpkg --print-architecture)
HOST_DIST := $(shell . /etc/os-release && echo $$VERSION_CODENAME)
DEB_DIST ?= $(HOST_DIST)
DEB_OUT = build-deb$(if $(filter $(DEB_DIST),$(HOST_DIST)),,/$(DEB_DIST))
TARGET ?= test

.PHONY: deb deb-test cross-test fixture-test debian12-test debian13-test pi-boot-test

# For another release the build dependencies are installed in its root, not here.
deb:
	@scripts/install-packaging-deps $(if $(filter $(DEB_DIST),$(HOST_DIST)),deb \
		$(if $(filter $(DEB_ARCH),$(shell dpkg --print-architecture)),,cross),system)
	@scripts/build-deb $(DEB_ARCH) $(DEB_DIST)

deb-test: deb
	@scripts/install-packaging-deps system
	@scripts/test-deb $(DEB_OUT)/lumetra_*_$(DEB_ARCH).deb $(DEB_DIST)

pi-boot-test:
	@$(MAKE) --no-print-directory deb DEB_ARCH=arm64
	@scripts/install-packaging-deps system boot
	@scripts/pi-boot-test $(DEB_OUT)/lumetra_*_arm64.deb $(DEB_DIST)

debian12-test debian13-test:
	@scripts/install-packaging-deps system
	@scripts/fresh-root-test $(if $(filter debian13-test,$@),trixie,bookworm) $(TARGET)

cross-test:
	@scripts/install-packaging-deps cross
	@scripts/cross-test arm64 armhf

fixture-test: build
	@scripts/install-packaging-deps system
	@fixtures/make-fixtures --check
	@fixtures/check-ofl fixtures/ofl/lumetra/canvas.json fixtures/ofl/manufacturers.json
	@tests/packaging/qlc-fixture-check build/rpi_lumetra
