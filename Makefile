# The two commands of the README: `make run` and `make test`.
BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
FUZZ_DIR  ?= build-fuzz
# How long `make fuzz` runs each fuzz target.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := definition_text capture_loader vcd_import sr_import mcs51 firmware_packets
JOBS      ?= $(shell nproc)
# make run's working folder: pulsara reads (and first writes) def.txt there.
RUN_DIR   ?= $(BUILD_DIR)/run

.PHONY: all deps configure build run run-gui run-cli test test-asan fuzz package check-package clean

all: build

deps:
	@bash scripts/install-deps.sh

# Ninja for a new build folder; one made by plain `cmake -B build` keeps its generator.
configure: deps
	@cmake -S . -B $(BUILD_DIR) $(if $(wildcard $(BUILD_DIR)/CMakeCache.txt),,-G Ninja) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# The GUI on the simulated board when there is a display, else the command-line demo.
# Only the program that runs is built.
run: configure
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  $(MAKE) --no-print-directory run-gui; \
	else \
	  echo "make run: no display (DISPLAY and WAYLAND_DISPLAY are unset); running the command-line demo instead"; \
	  $(MAKE) --no-print-directory run-cli; \
	fi

$(RUN_DIR)/def.txt: | configure
	@mkdir -p $(RUN_DIR)
	@cp resources/sim-def.txt $@

run-gui: configure $(RUN_DIR)/def.txt
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target pulsara
	@cd $(RUN_DIR) && $(CURDIR)/$(BUILD_DIR)/app/pulsara --board sim

run-cli: configure $(RUN_DIR)/def.txt
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target pulsara-cli
	@cd $(RUN_DIR) && $(CURDIR)/$(BUILD_DIR)/cli/pulsara-cli capture --board sim --sim-speed 0 \
	  --rate 10MHz --position CENTER --condition rising --probe HDL -o demo.wfa
	@cd $(RUN_DIR) && $(CURDIR)/$(BUILD_DIR)/cli/pulsara-cli info demo.wfa
	@cd $(RUN_DIR) && $(CURDIR)/$(BUILD_DIR)/cli/pulsara-cli render demo.wfa -o demo.png
	@echo "make run: the capture is $(RUN_DIR)/demo.wfa, its view $(RUN_DIR)/demo.png"

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The sanitizer build uses CMake's default generator, so that workflow stays working too.
test-asan: deps
	@cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DPULSARA_SANITIZE=ON -DPULSARA_BUILD_BENCHMARKS=OFF >/dev/null
	@cmake --build $(ASAN_DIR) -j $(JOBS)
	@cd $(ASAN_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Every fuzz target for FUZZ_SECONDS with clang's libFuzzer; fails when one crashes.
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPULSARA_FUZZ=ON -DPULSARA_BUILD_BENCHMARKS=OFF >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@bash tools/fuzz/run.sh $(FUZZ_DIR) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

package: build
	@cd $(BUILD_DIR) && cpack -G DEB

# The .deb installed into a fresh Debian 12 root and used there (root, network, minutes).
check-package: configure
	@bash tools/package/check-deb.sh $(BUILD_DIR)

clean:
	@rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR)
