# Thin wrapper over the CMake presets: the two commands a newcomer needs.
#   make run   build, then start visor-gcode in this folder
#   make test  build, then run every test
#   make bench       speed and memory of the job (about a minute)
#   make bench-load  the job beside busy processes, and on a terminal
#                    against plain mode (several minutes)
#   make windows       cross-build visor-gcode.exe for Windows, statically
#                      linked (build/mingw/src/frontend/visor-gcode.exe)
#   make windows-test  that, then run its tests under Wine
PRESET ?= release
BIN := build/$(PRESET)/src/frontend/visor-gcode

.PHONY: run test build bench bench-load clean windows windows-test

build:
	@scripts/install-deps build
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET)

run: build
	./$(BIN)

test: build
	ctest --preset $(PRESET)

bench: build
	./build/$(PRESET)/bench/job_bench

bench-load: build
	./build/$(PRESET)/bench/job_bench --load
	./build/$(PRESET)/bench/terminal_bench

windows:
	@scripts/install-deps build windows
	cmake --preset mingw >/dev/null
	cmake --build --preset mingw

windows-test: windows
	ctest --preset mingw

clean:
	rm -rf build
