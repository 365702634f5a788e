# Every target does its own set-up (safe to run again).
.PHONY: setup setup313 demo test test313 wheel bench asan lint format typecheck docs clean

setup:
	scripts/setup.sh 3.12

setup313:
	scripts/setup.sh 3.13

demo: setup
	.venv/bin/python examples/tour.py

test: setup
	cd tests && ../.venv/bin/python -m pytest -p no:cacheprovider $(PYTEST_ARGS)

# The whole suite on CPython 3.13, in its own venv (.venv-313).
test313: setup313
	cd tests && ../.venv-313/bin/python -m pytest -p no:cacheprovider $(PYTEST_ARGS)

# An sdist, and from that sdist one wheel per supported Python, into dist/.
wheel: setup setup313
	rm -rf dist
	.venv/bin/python -m build --sdist --no-isolation --outdir dist .
	for v in .venv .venv-313; do \
		$$v/bin/python -m pip wheel -q --no-build-isolation --no-deps -w dist dist/*.tar.gz || exit 1; done
	@ls dist

bench: setup
	.venv/bin/python benchmarks/run.py

# AddressSanitizer + UBSan build of the extension modules, then the tests.
# It lives in its own venv and build directory, so the normal .venv is never
# touched. The interpreter itself is not instrumented: libasan is preloaded,
# Python's own allocator is switched off (PYTHONMALLOC=malloc) so that every
# object allocation goes through ASan, and leak detection is off (CPython
# keeps its interned and static objects until exit by design).
ASAN_VENV := .venv-asan
ASAN_ENV := PYTHONMALLOC=malloc \
	ASAN_OPTIONS=detect_leaks=0:halt_on_error=1:abort_on_error=0:detect_stack_use_after_return=0:strict_string_checks=0:allocator_may_return_null=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LD_PRELOAD="$$(gcc -print-file-name=libasan.so) $$(gcc -print-file-name=libubsan.so)"

asan:
	@for p in tclx8.4 tcl8.6-dev tcllib; do dpkg -s $$p >/dev/null 2>&1 || { scripts/setup.sh; break; }; done
	scripts/make-venv $(ASAN_VENV) 3.12
	$(ASAN_VENV)/bin/python -m pip install -q --no-build-isolation --no-deps \
		-C cmake.define.OSKRA_SANITIZE=ON -C cmake.build-type=RelWithDebInfo -C build-dir=build/asan .
	cd tests && $(ASAN_ENV) ../$(ASAN_VENV)/bin/python -m pytest -p no:cacheprovider -q $(PYTEST_ARGS)

# Style and static checks: clang-format and ruff (format and lint) over the
# whole tree, clang-tidy with the agreed checks of .clang-tidy over cpp/.
LINT_TOOLS := "clang-format==23.1.5" "clang-tidy==23.1.4" "ruff==0.17.5"
LINT_BUILD := build/lint
lint: setup
	@.venv/bin/python -m pip install -q $(LINT_TOOLS)
	.venv/bin/clang-format --dry-run -Werror $$(git ls-files 'cpp/*.cpp' 'cpp/*.h')
	.venv/bin/ruff format --check .
	.venv/bin/ruff check .
	env -u OSKRA_WERROR .venv/bin/cmake -S . -B $(LINT_BUILD) -G Ninja -DPython_EXECUTABLE=$(CURDIR)/.venv/bin/python >/dev/null
	git ls-files 'cpp/*.cpp' | xargs -P2 -n8 .venv/bin/clang-tidy -p $(LINT_BUILD) --quiet

format: setup
	@.venv/bin/python -m pip install -q $(LINT_TOOLS)
	.venv/bin/clang-format -i $$(git ls-files 'cpp/*.cpp' 'cpp/*.h')
	.venv/bin/ruff format .
	.venv/bin/ruff check --fix .

# The type stubs: mypy --strict over the stubs, the console module, the
# pytest plugin, the tour and a file of pinned expectations; then stubtest (run outside the
# tree, so that it imports the installed build) compares every stub with
# the built modules.
TYPECHECK_TOOLS := "mypy==2.4.1"
typecheck: setup
	@.venv/bin/python -m pip install -q $(TYPECHECK_TOOLS)
	.venv/bin/python -m mypy --strict --warn-unused-ignores src/oskra/tcl/console.py src/oskra/tcl/pytest_plugin.py examples/tour.py tests/typecheck/stub_usage.py
	cd /tmp && $(CURDIR)/.venv/bin/python -m mypy.stubtest oskra

# The API reference and guides (docs/) from the installed package's
# docstrings, into build/docs; any warning fails the build.
DOCS_TOOLS := "sphinx==9.0.4"
docs: setup
	@.venv/bin/python -m pip install -q $(DOCS_TOOLS)
	.venv/bin/python -m sphinx -E -W --keep-going -q -b html docs build/docs

clean:
	rm -rf build dist .venv .venv-*
