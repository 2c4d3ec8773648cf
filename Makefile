# The two commands of the README: `make run` and `make test`. `make bench` runs the benchmarks.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The display is checked before anything is installed or built: without one there is nothing
# to show.
run:
	@bash scripts/run-corvane --check-display
	@$(MAKE) --no-print-directory build
	@bash scripts/run-corvane $(BUILD)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: build
	@bash scripts/run-bench $(BUILD)

clean:
	rm -rf $(BUILD)
