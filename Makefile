# Thin wrapper around CMake for the README's commands.
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps build test asan tsan run bench fuzz package fleet clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite with AddressSanitizer and UndefinedBehaviorSanitizer.
asan:
	$(MAKE) test BUILD=build-asan CMAKE_ARGS="-DZEP_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug"

# The concurrency tests (ctest label `concurrency`) with ThreadSanitizer.
tsan:
	$(MAKE) build BUILD=build-tsan CMAKE_ARGS="-DZEP_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo"
	cd build-tsan && ctest --output-on-failure -j $(JOBS) -L concurrency

# Every fuzz target for FUZZ_SECONDS seconds, one after another (clang,
# AddressSanitizer and UndefinedBehaviorSanitizer); fails on any finding.
FUZZ_SECONDS ?= 60
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DZEP_FUZZ=ON \
	  -DZEP_SANITIZE=address -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-fuzz --target fuzz_all -j $(JOBS)
	fuzz/run-fuzz build-fuzz $(FUZZ_SECONDS)

# The Debian package zepagent_<version>_<arch>.deb in $(BUILD).
package: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target zepagent zepconsole zepdcsim manpages
	cd $(BUILD) && cpack -G DEB

# A fleet of agents on hosts of their own (network namespaces, as root)
# with a replicated center (a pg_auto_failover formation, sharded Prometheus
# agents writing to VictoriaMetrics, an Alertmanager cluster), through
# outages; report in $(BUILD)/fleet. The long run: make fleet HOSTS=50 MINUTES=30.
HOSTS   ?= 3
MINUTES ?= 11
fleet: build package
	scripts/fleet/fleet --hosts $(HOSTS) --minutes $(MINUTES) --build $(BUILD)

run: build
	scripts/run-demo $(BUILD)

bench: build
	scripts/run-bench $(BUILD)

clean:
	rm -rf build build-asan build-tsan build-fuzz
