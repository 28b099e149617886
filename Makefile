# Build farms (OpenBench and the like) build with
#     make -j EXE=<name> [CXX=<compiler>] [EVALFILE=<network file>]
# which leaves the engine, named <name>, beside this file. The network file
# is built into the binary (the shipped nets/nn.bin when EVALFILE is not
# given), so the engine needs no "nn.bin" at run time. CMake does the build.

EXE ?= vesk
CMAKE ?= cmake
EVALFILE ?= $(wildcard nets/nn.bin)

# One build tree per compiler, so that switching CXX never reuses another's cache.
BUILD_DIR := build-make/$(notdir $(CXX))
NET := $(if $(strip $(EVALFILE)),$(abspath $(EVALFILE)),)
GENERATOR := $(if $(shell command -v ninja 2>/dev/null),-G Ninja,)
JOBS := $(shell nproc 2>/dev/null || echo 2)

.PHONY: all clean $(EXE)

all: $(EXE)

$(EXE):
	@if [ -n "$(NET)" ] && [ ! -f "$(NET)" ]; then echo "EVALFILE: no file $(NET)"; exit 1; fi
	$(CMAKE) -S . -B "$(BUILD_DIR)" $(GENERATOR) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_CXX_COMPILER="$(CXX)" -DVESK_TESTS=OFF -DVESK_EVALFILE="$(NET)"
	$(CMAKE) --build "$(BUILD_DIR)" --target vesk --parallel $(JOBS)
	cp "$(BUILD_DIR)/vesk" "$(EXE)"

clean:
	rm -rf build-make
