# Every target does its own set-up (safe to run again).
.PHONY: setup demo test bench asan clean

setup:
	scripts/setup.sh

demo: setup
	.venv/bin/python examples/tour.py

test: setup
	cd tests && ../.venv/bin/python -m pytest -p no:cacheprovider $(PYTEST_ARGS)

bench: setup
	.venv/bin/python benchmarks/run.py

# AddressSanitizer + UBSan build of the extension modules, then the tests.
asan:
	OSKRA_PIP_ARGS="-C cmake.define.OSKRA_SANITIZE=ON -C build-dir=build/asan" scripts/setup.sh
	cd tests && ASAN_OPTIONS=detect_leaks=0 LD_PRELOAD="$$(gcc -print-file-name=libasan.so) $$(gcc -print-file-name=libubsan.so)" \
		../.venv/bin/python -m pytest -p no:cacheprovider -x $(PYTEST_ARGS)
	scripts/setup.sh


clean:
	rm -rf build .venv
