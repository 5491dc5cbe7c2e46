# The two set-up commands of the README: `make demo` and `make test`.
PRESET ?= default
BUILD  := build
SAMPLE := $(BUILD)/sample/sample.zr
DEMO_AVI := $(BUILD)/sample/sample.avi

.PHONY: all bootstrap configure build demo test asan clean

all: build

bootstrap:
	@scripts/bootstrap.sh

configure: bootstrap
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET) -j $$(nproc)

# The build writes the sample with zrgen (5 s of the moving pattern at 352x288 and a 440 Hz tone);
# it is converted with the inverse DCT zrgen's closed loop used, so every picture is as encoded.
demo: build
	@echo "== zentrova info $(SAMPLE)"
	@$(BUILD)/src/cli/zentrova info $(SAMPLE)
	@echo "== zentrova convert $(SAMPLE) $(DEMO_AVI) -y"
	@$(BUILD)/src/cli/zentrova convert $(SAMPLE) $(DEMO_AVI) --idct plain -y

test: build
	@ctest --preset $(PRESET) -j $$(nproc)

asan:
	@$(MAKE) test PRESET=asan BUILD=build-asan

clean:
	rm -rf build build-asan
