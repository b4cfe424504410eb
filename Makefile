# corvix: the two commands a fresh machine needs are `make demo` and `make test`.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)

.PHONY: all deps build check test-asan fuzz test demo bench attack install clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCORVIX_WERROR=ON
	cmake --build $(BUILD) -j$(JOBS)

# The release build's tests.
check: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS) --timeout 300

# Every test again under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCORVIX_SANITIZE=ON \
	  -DCORVIX_WERROR=ON -DCORVIX_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS) --timeout 300

# Short bounded libFuzzer runs of the PPM, PNG and JPEG readers and of the server's command
# decoder (clang with its fuzzer runtime), one after the other.
FUZZ_BUILD ?= build-fuzz
fuzz: deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Debug \
	  -DCORVIX_BUILD_BENCH=OFF -DCORVIX_BUILD_CLI=OFF
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target ppm_fuzz png_fuzz jpeg_fuzz command_fuzz
	ctest --test-dir $(FUZZ_BUILD) -R '^(ppm|png|jpeg|command)_fuzz_run$$' --output-on-failure

# Every test: release and sanitizer builds, and the fuzzer's bounded run.
test: check test-asan fuzz

demo: build
	scripts/demo.sh $(BUILD)

bench: build
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; $$b --benchmark_min_time=0.2; done
	PYTHONPATH=$(BUILD)/python /usr/bin/python3 bench/python_bench.py $(BUILD)

# The server under load, hostile commands, killed hosts and a killed server (README figures).
attack: build
	$(BUILD)/bench/under_attack

# The library, headers, corvixd, corvix and the Python package (into the interpreter's
# site directory under the prefix).
install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) demo-out
