# Fuzzing with clang's libFuzzer (fuzz/): `make fuzz` builds the targets with
# the address and undefined-behaviour sanitizers into build-fuzz/ and runs
# each for FUZZ_SECONDS (default 60). Seeds come from fuzz/corpus/<target>
# (kept in the repository, never written to); what the fuzzer learns goes to
# build-fuzz/corpus/<target>, and a failing input to build-fuzz/crashes/.

FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_MAX_LEN ?= 16384
FUZZ_TARGETS := fuzz_json_scanner fuzz_report fuzz_config fuzz_text_file fuzz_date_time
FUZZ_PACKAGES := clang libclang-rt-14-dev

.PHONY: fuzz fuzz-build fuzz-deps

fuzz-deps:
	$(call install-debs,$(FUZZ_PACKAGES))

fuzz-build: deps fuzz-deps
	CXX=clang++ cmake -S fuzz -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKKM_WARNINGS_AS_ERRORS=$(KKM_WERROR)
	cmake --build $(FUZZ_DIR) -j 2

# Each target in turn, one process (the machine's cores are shared). The
# summary line per target gives its executions; a failure stops the run and
# leaves the input in $(FUZZ_DIR)/crashes/.
fuzz: fuzz-build
	@mkdir -p $(FUZZ_DIR)/crashes; \
	for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$t; \
	  echo "== $$t: $(FUZZ_SECONDS) s"; \
	  if ! $(FUZZ_DIR)/$$t -max_total_time=$(FUZZ_SECONDS) -max_len=$(FUZZ_MAX_LEN) -timeout=10 -rss_limit_mb=2048 \
	      -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/crashes/$$t- \
	      $(FUZZ_DIR)/corpus/$$t fuzz/corpus/$$t >$(FUZZ_DIR)/$$t.log 2>&1; then \
	    tail -n 60 $(FUZZ_DIR)/$$t.log; echo "== $$t FAILED (log: $(FUZZ_DIR)/$$t.log)"; exit 1; \
	  fi; \
	  runs=$$(sed -n 's/^stat::number_of_executed_units: *//p' $(FUZZ_DIR)/$$t.log); \
	  echo "== $$t: $$runs executions, no failure"; \
	done
