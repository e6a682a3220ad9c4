# Thin wrapper over the CMake presets: the commands a newcomer needs.
#   make run      build the program, then start visor-gcode in this folder
#   make test     build, then run every test
#   make bench    speed and memory of the job: quiet against a bare write
#                 loop, beside busy processes, on a terminal against plain
#                 mode (a few minutes); the RESULT lines repeated at the end
#   make install  install into PREFIX (default /usr/local): bin/visor-gcode,
#                 share/man/man1/visor-gcode.1.gz, the changelog and the
#                 copyright file
#   make package  build the Debian package (build/release/visor-gcode_*.deb)
#   make windows       cross-build visor-gcode.exe for Windows, statically
#                      linked (build/mingw/src/frontend/visor-gcode.exe), and
#                      a zip of it with its README, licence and notices
#                      (build/mingw/*.zip)
#   make windows-test  that, then run its tests under Wine
#   make picture  draw docs/toolpath.png again (needs python3-matplotlib)
SHELL := /bin/bash
PRESET ?= release
PREFIX ?= /usr/local
BUILD := build/$(PRESET)
BIN := $(BUILD)/src/frontend/visor-gcode

.PHONY: run test build bench clean install package windows windows-test picture

build:
	@scripts/install-deps build
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET)

# Only the program, and its build's output only when the build fails: the
# screen is for the program.
run:
	@scripts/install-deps build
	@cmake --preset $(PRESET) >/dev/null
	@mkdir -p $(BUILD)
	@echo "Building visor-gcode..."
	@cmake --build --preset $(PRESET) --target visor-gcode >$(BUILD)/run-build.log 2>&1 \
	  || { cat $(BUILD)/run-build.log; exit 1; }
	@./$(BIN)

test: build
	ctest --preset $(PRESET)

BENCH_LOG := $(BUILD)/bench/bench.log

bench: build
	@set -o pipefail; { ./$(BUILD)/bench/job_bench && \
	  ./$(BUILD)/bench/terminal_bench; } 2>&1 | tee $(BENCH_LOG)
	@echo; echo "Summary (medians of the rounds; load average next to each):"; \
	  grep '^RESULT' $(BENCH_LOG)

install:
	@scripts/install-deps build package
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) --target visor-gcode visor_man_page visor_changelog
	cmake --install $(BUILD) --prefix "$(PREFIX)" --strip

package:
	@scripts/install-deps build package
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) --target visor-gcode visor_man_page visor_changelog
	cd $(BUILD) && cpack

windows:
	@scripts/install-deps build windows
	cmake --preset mingw >/dev/null
	cmake --build --preset mingw
	cd build/mingw && cpack

windows-test: windows
	ctest --preset mingw

# The job of the README's example values, written by the program itself in
# a folder of its own, then drawn.
picture:
	@scripts/install-deps build picture
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) --target visor-gcode
	dir=$$(mktemp -d) && trap 'rm -rf "$$dir"' EXIT && \
	  (cd "$$dir" && $(CURDIR)/$(BIN) --z-start=0.4 --heat-temp=210 --speed=300) && \
	  tools/plot_toolpath.py "$$dir/dagoma0.g" docs/toolpath.png

clean:
	rm -rf build
