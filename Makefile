# The two entry points of the README. Both run the set-up first.
.PHONY: setup build host asan win32 win64 fuzz-build test fuzz fuzz-long run bench dist

# Seconds of fuzzing per target: the bounded run of `make test` and `make fuzz`;
# `make fuzz FUZZ_SECONDS=600` or `make fuzz-long` (half an hour each) go on longer.
FUZZ_SECONDS ?= 30

setup:
	@scripts/setup.sh

win32 win64 host asan: setup
	cmake --preset $@ >/dev/null
	cmake --build --preset $@ -j2

fuzz-build: setup
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j2

build: win64 win32 host

# The download, build/dist/Tessel-<version>.zip, from the two Windows builds.
dist: win32 win64
	python3 scripts/dist.py

# The asan run is also the leak check: LeakSanitizer fails any test that
# loses memory, on the failure paths too. The host tests check the download.
test: build asan fuzz-build dist
	ctest --preset host -j2
	ctest --preset asan -j2
	fuzz/run.sh $(FUZZ_SECONDS)

fuzz: fuzz-build
	fuzz/run.sh $(FUZZ_SECONDS)

fuzz-long: fuzz-build
	fuzz/run.sh 1800

run: win64
	python3 scripts/demo.py

# Figures, not tests: the mask test, a full pass of a crowded simulated
# desktop, rules files of 1 KB to 50 MB, a watcher over 1,000 simulated
# changes, Tessel.exe's start-up to exit under Wine, what rules cost it
# there on a desktop of 200 windows, and a watcher there: quiet, and over
# 50 changes. About five minutes.
bench: host win64
	@for b in build/host/*_bench; do echo "== $$b"; $$b; done
	@echo "== benchmarks/wine_startup.py"; python3 benchmarks/wine_startup.py
	@echo "== benchmarks/wine_rules.py"; python3 benchmarks/wine_rules.py
	@echo "== benchmarks/wine_watch.py"; python3 benchmarks/wine_watch.py
