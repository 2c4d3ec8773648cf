# The two commands of the README: `make run` and `make test`. `make bench` runs the benchmarks,
# `make package` makes the Debian packages from a build of what ships, `make package-check`
# builds them with Debian's flags and checks them (scripts/package-check).
BUILD ?= build
# The packages' build: the program, library, plug-ins, simulator, translations and documents
# the install takes, without the tests and benchmarks (which are most of the targets), in a
# folder of its own so that the build the tests run from is left as it is.
PACKAGE_BUILD ?= build-package
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)
# The tests mostly wait (for serial answers, brokers, time-outs): twice as many as there are
# cores keep the machine busy. The one that needs the machine to itself says so (RUN_SERIAL).
TEST_JOBS ?= $(shell echo $$(( 2 * $$(nproc) )))

.PHONY: all deps configure build run test bench package package-check clean

all: build

deps:
	@bash scripts/install-deps

# CMake's progress goes to $(BUILD)/configure.log and is shown only when the configure fails;
# its warnings and errors reach the terminal as they come.
configure: deps
	@mkdir -p $(BUILD)
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >$(BUILD)/configure.log || \
	  { cat $(BUILD)/configure.log >&2; echo "configure failed: CMake's output is above, also in $(BUILD)/configure.log" >&2; exit 1; }

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The display is checked before anything is installed or built: without one there is nothing
# to show.
run:
	@bash scripts/run-corvane --check-display
	@$(MAKE) --no-print-directory build
	@bash scripts/run-corvane $(BUILD)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(TEST_JOBS)

bench: build
	@bash scripts/run-bench $(BUILD)

package:
	@$(MAKE) --no-print-directory build BUILD=$(PACKAGE_BUILD) \
	  CMAKE_FLAGS="$(CMAKE_FLAGS) -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF"
	@cd $(PACKAGE_BUILD) && cpack -G DEB
	@ls -1 $(PACKAGE_BUILD)/packages/*.deb

package-check: deps
	@bash scripts/package-check

clean:
	rm -rf $(BUILD) $(PACKAGE_BUILD)
