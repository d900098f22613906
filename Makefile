# The two entry points of the README. Both run the set-up first.
.PHONY: setup build host asan win32 win64 test run bench

setup:
	@scripts/setup.sh

win32 win64 host asan: setup
	cmake --preset $@ >/dev/null
	cmake --build --preset $@ -j2

build: win64 win32 host

test: build asan
	ctest --preset host -j2
	ctest --preset asan -j2

run: win64
	python3 scripts/demo.py

bench: host
	@for b in build/host/*_bench; do echo "== $$b"; $$b; done
