# TRAZ: set-up, build, run and test on a Debian machine (run as root for the package step).
#   make run    installs missing packages, builds, runs the default example deck
#   make test   installs missing packages, builds, runs all tests
#   make asan   the tests under AddressSanitizer and UndefinedBehaviorSanitizer
#   make fuzz   the deck fuzzer (clang's libFuzzer) for FUZZ_SECONDS seconds
#   make bench  builds and runs the benchmarks

PACKAGES      := g++ make cmake ninja-build googletest libgtest-dev libgsl-dev libblas-dev liblapack-dev libcli11-dev
FUZZ_PACKAGES := clang libclang-rt-14-dev
DECK          ?= examples/single-stage.deck
FUZZ_SECONDS  ?= 60
JOBS          ?= 2
# Warnings are errors in CI.
WERROR        ?= $(if $(CI),ON,OFF)

CMAKE_COMMON := -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRAZ_WERROR=$(WERROR)

.PHONY: all deps fuzz-deps build run test asan fuzz bench clean

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

build: deps
	cmake -S . -B build $(CMAKE_COMMON)
	cmake --build build -j $(JOBS)

run: build
	./build/traz < $(DECK)

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

asan: deps
	cmake -S . -B build-asan $(CMAKE_COMMON) -DTRAZ_SANITIZE=ON -DTRAZ_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

fuzz: fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_COMMON) -DTRAZ_FUZZ=ON -DTRAZ_TESTS=OFF -DTRAZ_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS) --target fuzz_deck
	rm -rf build-fuzz/corpus && mkdir -p build-fuzz/corpus && cp examples/*.deck fuzz/seeds/* build-fuzz/corpus/
	./build-fuzz/fuzz/fuzz_deck -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -print_final_stats=1 \
	  -artifact_prefix=build-fuzz/ build-fuzz/corpus

bench: build
	for b in build/bench/*/bench_*; do echo "== $$b"; $$b; done

clean:
	rm -rf build build-asan build-fuzz
