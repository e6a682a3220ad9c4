# Thin wrapper over the CMake presets: the two commands a newcomer needs.
#   make run   build, then start visor-gcode in this folder
#   make test  build, then run every test
#   make bench  speed and memory of the job: quiet against a bare write
#               loop, beside busy processes, on a terminal against plain
#               mode (a few minutes); the RESULT lines are repeated at the end
#   make windows       cross-build visor-gcode.exe for Windows, statically
#                      linked (build/mingw/src/frontend/visor-gcode.exe)
#   make windows-test  that, then run its tests under Wine
SHELL := /bin/bash
PRESET ?= release
BIN := build/$(PRESET)/src/frontend/visor-gcode

.PHONY: run test build bench clean windows windows-test

build:
	@scripts/install-deps build
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET)

run: build
	./$(BIN)

test: build
	ctest --preset $(PRESET)

BENCH_LOG := build/$(PRESET)/bench/bench.log

bench: build
	@set -o pipefail; { ./build/$(PRESET)/bench/job_bench && \
	  ./build/$(PRESET)/bench/terminal_bench; } 2>&1 | tee $(BENCH_LOG)
	@echo; echo "Summary (medians of the rounds; load average next to each):"; \
	  grep '^RESULT' $(BENCH_LOG)

windows:
	@scripts/install-deps build windows
	cmake --preset mingw >/dev/null
	cmake --build --preset mingw

windows-test: windows
	ctest --preset mingw

clean:
	rm -rf build
