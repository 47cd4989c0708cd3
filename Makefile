# make run   - install what is missing, build, start kelmora
# make test  - the same set-up, then every test (under a virtual X display when none is present)

BUILD ?= build
MESON_TEST_ARGS ?= --print-errorlogs

.PHONY: all build run test test-build sanitize fuzz bench screenshots deps-build deps-test deps-fuzz clean

BENCH_BUILD ?= build-release

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

# Runs a command under a virtual X display when there is no display.
WITH_DISPLAY = if [ -n "$${DISPLAY:-}" ]; then $(1); else xvfb-run -a -s "-screen 0 1280x1024x24" $(1); fi

# The build with every suite; one that 'make run' set up before GoogleTest
# was installed gets them now.
test-build: deps-test deps-build $(BUILD)/build.ninja
	meson configure $(BUILD) -Dtests=enabled
	ninja -C $(BUILD)

test: test-build
	@$(call WITH_DISPLAY,meson test -C $(BUILD) $(MESON_TEST_ARGS))

# Renders every shot (each must fit a 1366x768 screen) and keeps the README's
# in docs/screenshots/ (a temporary HOME, so your own language choice is left alone).
README_SHOTS = graphics.png graphics-laptop.png graphics-way-back.png printer-usb.png \
	printer-network.png scanner.png machine.png
screenshots: test-build
	@home=$$(mktemp -d) && trap 'rm -rf "$$home"' EXIT && \
	$(call WITH_DISPLAY,env HOME="$$home" LANG=C.UTF-8 ./$(BUILD)/tests/kelmora-screenshots "$$home/shots") && \
	for f in $(README_SHOTS); do cp "$$home/shots/$$f" docs/screenshots/; done

# The suite under AddressSanitizer + UndefinedBehaviorSanitizer (leak checking
# on), then the channel, runner and discovery tests under ThreadSanitizer.
# GDK_DEBUG=gl-disable: Mesa's software GL driver is unloaded at exit with a
# block still allocated, which LeakSanitizer reports from an "<unknown module>"
# that no suppression can name; windows then draw with cairo.
SAN_ENV = GDK_DEBUG=gl-disable ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

sanitize: deps-test
	@[ -f build-asan/build.ninja ] || meson setup build-asan -Dtests=enabled --buildtype=debug -Db_sanitize=address,undefined -Db_lundef=false
	ninja -C build-asan tests/unit-tests tests/process-tests tests/gui-tests
	@$(call WITH_DISPLAY,env $(SAN_ENV) meson test -C build-asan --no-rebuild $(MESON_TEST_ARGS) unit process gui)
	@[ -f build-tsan/build.ninja ] || meson setup build-tsan -Dtests=enabled --buildtype=debug -Db_sanitize=thread -Db_lundef=false
	ninja -C build-tsan tests/unit-tests tests/process-tests
	env $(SAN_ENV) meson test -C build-tsan --no-rebuild $(MESON_TEST_ARGS) unit process

# libFuzzer on the pure parsers, FUZZ_SECONDS each (not part of CI). New inputs
# go to build-fuzz/corpus/; the committed seeds in tests/fuzz/corpus/ stay as they are.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = line_reader discovery lang_file env_detect printers helper_request
FUZZ_SRC_line_reader = src/i18n/utf8.cpp
FUZZ_SRC_discovery = src/printing/discovery_output.cpp src/printing/printers.cpp src/i18n/utf8.cpp
FUZZ_SRC_lang_file = src/i18n/lang.cpp src/i18n/utf8.cpp
FUZZ_SRC_env_detect = src/i18n/lang.cpp src/i18n/utf8.cpp
FUZZ_SRC_printers = src/printing/printers.cpp src/printing/discovery_output.cpp src/i18n/utf8.cpp
FUZZ_SRC_helper_request = src/helper/request.cpp src/printing/cups_output.cpp \
	src/printing/queue_settings.cpp $(FUZZ_SRC_printers)

deps-fuzz:
	@./tools/install-deps fuzz

fuzz: deps-fuzz
	@mkdir -p build-fuzz
	@set -e; for t in $(FUZZ_TARGETS); do \
		case $$t in \
		line_reader) src="$(FUZZ_SRC_line_reader)";; discovery) src="$(FUZZ_SRC_discovery)";; \
		lang_file) src="$(FUZZ_SRC_lang_file)";; env_detect) src="$(FUZZ_SRC_env_detect)";; \
		printers) src="$(FUZZ_SRC_printers)";; helper_request) src="$(FUZZ_SRC_helper_request)";; esac; \
		clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
			-Isrc tests/fuzz/$${t}_fuzz.cpp $$src -o build-fuzz/$$t; \
		mkdir -p build-fuzz/corpus/$$t; \
		echo "== $$t: $(FUZZ_SECONDS) s"; \
		if ! ./build-fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -max_len=65536 -print_final_stats=1 \
			build-fuzz/corpus/$$t tests/fuzz/corpus/$$t > build-fuzz/$$t.log 2>&1; then \
			tail -n 40 build-fuzz/$$t.log; echo "== $$t: FINDING (see build-fuzz/$$t.log)"; exit 1; fi; \
		grep -E '^stat::(number_of_executed_units|peak_rss_mb)' build-fuzz/$$t.log; \
	done; echo "fuzz: no findings"

# Release build; the benchmarks run in a private D-Bus session like a desktop's.
bench: deps-test
	@[ -f $(BENCH_BUILD)/build.ninja ] || meson setup $(BENCH_BUILD) -Dtests=enabled --buildtype=release
	ninja -C $(BENCH_BUILD) src/kelmora bench/kelmora-bench bench/gen-lines bench/minimal-window
	@$(call WITH_DISPLAY,dbus-run-session -- ./$(BENCH_BUILD)/bench/kelmora-bench $(BENCH_BUILD)/bench \
		$(BENCH_BUILD)/src/kelmora $(BENCH_BUILD)/bench/minimal-window) 2>&1 | grep -v -E '^(dbus-daemon|SpiRegistry)'

clean:
	rm -rf $(BUILD) $(BENCH_BUILD) build-asan build-tsan build-fuzz
