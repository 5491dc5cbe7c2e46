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

demo: build
	@mkdir -p $(BUILD)/sample
	@$(BUILD)/tools/zrsample $(SAMPLE)
	@echo "== zentrova info $(SAMPLE)"
	@$(BUILD)/src/cli/zentrova info $(SAMPLE)
	@echo "== zentrova convert $(SAMPLE) $(DEMO_AVI)"
	@$(BUILD)/src/cli/zentrova convert $(SAMPLE) $(DEMO_AVI)

test: build
	@ctest --preset $(PRESET) -j $$(nproc)

asan:
	@$(MAKE) test PRESET=asan BUILD=build-asan

clean:
	rm -rf build build-asan
