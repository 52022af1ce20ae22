# TRAZ: set-up, build, run and test on a Debian machine (run as root for the package step).
#   make run     installs missing packages, builds traz only, runs the default example deck
#   make test    installs missing packages, builds everything, runs all tests (the library, the
#                command line, the Python module through CTest, then R CMD check of the R package)
#   make r-package  the R package's source tarball in build/r (the library's sources staged in)
#   make r-check    R CMD check of that tarball: installs it and runs its tests
#   make install the commands, their manual page and the examples under PREFIX (/usr/local)
#   make asan    the tests under AddressSanitizer and UndefinedBehaviorSanitizer
#   make tsan    the sweep and library-interface tests under ThreadSanitizer
#   make fuzz   the fuzz targets (clang's libFuzzer), FUZZ_SECONDS seconds each (FUZZ_TARGETS
#               chooses: fuzz_deck, the reader up to the first integration; fuzz_run, whole runs)
#   make bench  builds and runs the benchmarks

PACKAGES      := g++ make cmake ninja-build googletest libgtest-dev libgsl-dev libblas-dev liblapack-dev \
                 pkgconf libhwy-dev libcli11-dev nlohmann-json3-dev python3-jsonschema libplplot-dev \
                 plplot-driver-cairo librandom123-dev \
                 python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-pandas python3-matplotlib \
                 r-base-dev r-cran-rcpp r-cran-testthat r-cran-jsonlite libnlopt-cxx-dev
FUZZ_PACKAGES := clang libclang-rt-14-dev
DECK          ?= examples/single-stage.deck
FUZZ_SECONDS  ?= 60
FUZZ_TARGETS  ?= fuzz_deck fuzz_run
JOBS          ?= 2
PREFIX        ?= /usr/local
# Most seconds each ThreadSanitizer test may take.
TSAN_TIMEOUT  ?= 900
# Warnings are errors in CI.
WERROR        ?= $(if $(CI),ON,OFF)

CMAKE_COMMON := -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRAZ_WERROR=$(WERROR)

.PHONY: all deps fuzz-deps configure build run test r-package r-check install asan tsan fuzz fuzz-build fuzz-merge \
        bench clean

all: build

# Installs whichever of the packages is missing.
define install_missing
	@missing=""; for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing >/dev/null; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

fuzz-deps: deps
	$(call install_missing,$(FUZZ_PACKAGES))

configure: deps
	cmake -S . -B build $(CMAKE_COMMON)

build: configure
	cmake --build build -j $(JOBS)

# The example needs the traz command only, not the tests and benchmarks.
run: configure
	cmake --build build -j $(JOBS) --target traz
	./build/traz < $(DECK)

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS)
	$(MAKE) r-check

# The R package (r/): the library's sources are copied into r/src/traz (generated, not committed),
# and R CMD build makes a self-contained source tarball of it in build/r.
r-package: deps
	cd r && sh tools/stage-sources.sh
	rm -rf build/r && mkdir -p build/r
	cd build/r && R CMD build --no-manual ../../r

# R CMD check installs the tarball in a temporary library and runs the package's tests, which
# compare the README's R example with build/traz --format json. A warning fails it, as an error does.
# The installed library loses its debug information (11 MB of 12), not its symbols, which the
# check inspects.
r-check: r-package build
	cd build/r && TRAZ_BIN=$(CURDIR)/build/traz TRAZ_SOURCE_DIR=$(CURDIR) MAKEFLAGS=-j$(JOBS) \
	  R_STRIP_SHARED_LIB='strip --strip-debug' R CMD check --no-manual --install-args=--strip traz_*.tar.gz
	@if grep -q '^Status:.*WARNING' build/r/traz.Rcheck/00check.log; then \
	  echo "R CMD check: warnings (see build/r/traz.Rcheck/00check.log)"; exit 1; fi

install: configure
	cmake --build build -j $(JOBS) --target traz mvnprob
	cmake --install build --prefix $(PREFIX)

# The threaded parts (sweeps, the library interface) under ThreadSanitizer, each test bounded in time.
tsan: deps
	cmake -S . -B build-tsan $(CMAKE_COMMON) -DTRAZ_TSAN=ON -DTRAZ_BENCH=OFF
	cmake --build build-tsan -j $(JOBS) --target test_cli_sweep test_api
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --test-dir build-tsan --output-on-failure -j $(JOBS) -R '^(test_cli_sweep|test_api)\.' --timeout $(TSAN_TIMEOUT)

asan: deps
	cmake -S . -B build-asan $(CMAKE_COMMON) -DTRAZ_SANITIZE=ON -DTRAZ_BENCH=OFF -DTRAZ_PYTHON=OFF
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

# Each target runs FUZZ_SECONDS from its corpus in fuzz/corpus/<target> (read only); new inputs
# go to build-fuzz/corpus-<target>. `make fuzz-merge` minimises both back into fuzz/corpus.
fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  rm -rf build-fuzz/corpus-$$t && mkdir -p build-fuzz/corpus-$$t && \
	  echo "== $$t for $(FUZZ_SECONDS) s" && \
	  ./build-fuzz/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -print_final_stats=1 \
	    -artifact_prefix=build-fuzz/$$t- build-fuzz/corpus-$$t fuzz/corpus/$$t || exit 1; \
	done

fuzz-build: fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_COMMON) -DTRAZ_FUZZ=ON -DTRAZ_TESTS=OFF -DTRAZ_BENCH=OFF -DTRAZ_PYTHON=OFF
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS)

fuzz-merge: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  rm -rf build-fuzz/merged-$$t && mkdir -p build-fuzz/merged-$$t build-fuzz/corpus-$$t && \
	  ./build-fuzz/fuzz/$$t -merge=1 -max_len=4096 build-fuzz/merged-$$t fuzz/corpus/$$t build-fuzz/corpus-$$t || exit 1; \
	  rm -rf fuzz/corpus/$$t && mv build-fuzz/merged-$$t fuzz/corpus/$$t; \
	done

bench: build
	for b in build/bench/*/bench_*; do echo "== $$b"; $$b; done

clean:
	rm -rf build build-asan build-tsan build-fuzz
