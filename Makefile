# Thin wrapper over the CMake presets: the two commands a newcomer needs.
#   make run   build, then start visor-gcode in this folder
#   make test  build, then run every test
PRESET ?= release
BIN := build/$(PRESET)/src/frontend/visor-gcode

.PHONY: run test build bench clean

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

clean:
	rm -rf build
