# make run   - install what is missing, build, start kelmora
# make test  - the same set-up, then every test (under a virtual X display when none is present)

BUILD ?= build
MESON_TEST_ARGS ?= --print-errorlogs

.PHONY: all build run test deps-build deps-test clean

all: build

deps-build:
	@./tools/install-deps build

deps-test:
	@./tools/install-deps test

$(BUILD)/build.ninja:
	meson setup $(BUILD)

build: deps-build $(BUILD)/build.ninja
	ninja -C $(BUILD)

run: build
	./$(BUILD)/src/kelmora

test: deps-test build
	@if [ -n "$${DISPLAY:-}" ]; then \
		meson test -C $(BUILD) $(MESON_TEST_ARGS); \
	else \
		xvfb-run -a -s "-screen 0 1280x1024x24" meson test -C $(BUILD) $(MESON_TEST_ARGS); \
	fi

clean:
	rm -rf $(BUILD)
