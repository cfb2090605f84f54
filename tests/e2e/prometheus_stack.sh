#!/usr/bin/env bash
# The metrics as the monitoring stack sees them, with the real parts: Debian's
# node_exporter (textfile collector on the tool's folder) and Prometheus (scraping it
# every second, with the example rules loaded) run in the lab's host namespace on its
# loopback only. A full-lab pass with --prometheus: Prometheus's HTTP API shows every
# test at 1, the lab's beacon members, and its router as querier and PIM DR. A second
# pass, in a bare lab, moves them to 0 (the querier away) from the first scrape after it. Before that, a folder the tool cannot write (mounted
# read-only) gives one error line, exit status 1 and still the whole JSON.
# With E2E_SCREENSHOT=FILE.png, headless Chromium photographs Prometheus's own page of
# the metrics after the full-lab pass (scripts/screenshot-metrics).
# shellcheck source-path=SCRIPTDIR source=lib.sh
. "$(dirname "$0")/lib.sh"
e2e_require_lab router
e2e_require prometheus prometheus-node-exporter promtool
e2e_require_tool

e2e_lab_up
bare=pb$$
lab_up "$bare" --bare
folder=$E2E_WORK/textfiles
metrics=$folder/corvanite-$LAB_HOST_IF.prom
mkdir -p "$folder"
query=("$LAB_PYTHON" "$E2E_DIR/prometheus_query.py" http://127.0.0.1:9090)

e2e_log "a folder the tool cannot write"
# shellcheck disable=SC2016,SC2034 # expanded by the inner shell; used through --under
read_only_folder=(unshare --mount -- /bin/sh -c
  'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && shift && exec "$@"' sh "$folder")
E2E_TOOL_ARGS=(-i "$LAB_HOST_IF" --json --prometheus "$metrics")
E2E_EXPECT_STATUS=1
e2e_allow_stderr "the metrics file cannot be written"
e2e_run_tool --under read_only_folder
expected="corvanite: cannot write the metrics to $metrics: creating a temporary file in the"
expected+=" folder: Read-only file system (error 30)"
if [[ $(<"$E2E_WORK/tool.err") == "$expected" ]]; then
  e2e_log "standard error: $expected"
else
  e2e_fail "standard error is not the one line '$expected'"
fi
"$LAB_PYTHON" "$E2E_DIR/check_pass_json.py" "$E2E_WORK/tool.out" full >&2 ||
  e2e_fail "the JSON of the pass whose metrics could not be written is not the full lab's"
[[ -z $(ls -A "$folder") ]] || e2e_fail "the read-only folder holds $(ls -A "$folder")"
E2E_STDERR_WHY=

e2e_log "node_exporter and Prometheus on the host namespace's loopback"
cat >"$E2E_WORK/prometheus.yml" <<YAML
global:
  scrape_interval: 1s
  scrape_timeout: 1s
  evaluation_interval: 1s
rule_files:
  - $E2E_REPO/monitoring/corvanite.rules.yml
scrape_configs:
  - job_name: node
    static_configs:
      - targets: ['127.0.0.1:9100']
YAML
lab_spawn "$E2E_LAB" host node-exporter prometheus-node-exporter \
  --web.listen-address=127.0.0.1:9100 --collector.disable-defaults --collector.textfile \
  --collector.textfile.directory="$folder"
lab_spawn "$E2E_LAB" host prometheus prometheus --config.file="$E2E_WORK/prometheus.yml" \
  --storage.tsdb.path="$E2E_WORK/tsdb" --web.listen-address=127.0.0.1:9090
lab_host_exec "$E2E_LAB" "${query[@]}" ready 60 >&2 || e2e_fail "Prometheus did not become ready"
lab_host_exec "$E2E_LAB" "${query[@]}" rules corvanite.rules corvanite.alerts >&2 ||
  e2e_fail "Prometheus did not load the example rules"
listening=$(lab_host_exec "$E2E_LAB" ss -Htln | awk '{print $4}' | sort | tr '\n' ' ')
[[ $listening == "127.0.0.1:9090 127.0.0.1:9100 " ]] ||
  e2e_fail "the stack listens on more than the loopback ports: $listening"

e2e_log "a full-lab pass"
E2E_TOOL_ARGS=(-i "$LAB_HOST_IF" --once --prometheus "$metrics")
E2E_EXPECT_STATUS=0
e2e_run_tool
head -n -2 "$E2E_DIR/expected/full_pass.txt" >"$E2E_WORK/full_once.txt"
e2e_expect_output_file "$E2E_WORK/full_once.txt"
e2e_expect_metrics_file "$metrics"
ask() { lab_host_exec "$E2E_LAB" "${query[@]}" "$@" >&2; }
ask expect corvanite_test_success 8 1 60 interface="$LAB_HOST_IF" ||
  e2e_fail "Prometheus does not show all eight tests at 1"
ask expect 'corvanite_beacon_members{test="asm-beacon"}' 1 1 10 group="$LAB_ASM_GROUP" ||
  e2e_fail "Prometheus does not show the lab's one ASM beacon member"
ask expect 'corvanite_beacon_members{test="ssm-beacon"}' 1 1 10 source="$LAB_SSM_SOURCE" ||
  e2e_fail "Prometheus does not show the lab's one SSM beacon member"
ask expect 'count(corvanite_router_ping_round_trip_seconds{router="'"$LAB_ROUTER_ADDR"'"} > 0)' \
  1 3 10 || e2e_fail "Prometheus does not show the router's three ping round trips"
ask expect 'corvanite_conclusion == 1' 10 1 10 ||
  e2e_fail "Prometheus does not show the full lab's ten conclusions at 1"
ask expect corvanite_igmp_querier_info 1 1 10 address="$LAB_ROUTER_ADDR" version=3 ||
  e2e_fail "Prometheus does not show the lab's router as the IGMPv3 querier"
ask expect corvanite_pim_neighbours 1 1 10 || e2e_fail "Prometheus does not show one PIM neighbour"
ask expect corvanite_pim_designated_router_info 1 1 10 address="$LAB_ROUTER_ADDR" ||
  e2e_fail "Prometheus does not show the lab's router as the PIM DR"
ask expect interface:corvanite_igmp_querier_present:max 1 1 10 interface="$LAB_HOST_IF" ||
  e2e_fail "the example rules do not record the querier as present"

if [[ -n ${E2E_SCREENSHOT:-} ]]; then
  e2e_log "a screenshot of Prometheus's page to $E2E_SCREENSHOT"
  page='http://127.0.0.1:9090/graph?g0.expr=%7B__name__%3D~%22corvanite_test_success%7Ccorvanite_beacon_members%7Ccorvanite_router_ping_round_trip_seconds%7Ccorvanite_igmp_querier_info%7Ccorvanite_pim_designated_router_info%22%7D&g0.tab=1'
  mkdir -p "$E2E_WORK/chromium"
  lab_host_exec "$E2E_LAB" env HOME="$E2E_WORK/chromium" chromium --headless --no-sandbox \
    --disable-gpu --no-first-run --disable-background-networking --disable-component-update \
    --disable-sync --user-data-dir="$E2E_WORK/chromium" --hide-scrollbars \
    --window-size=1400,1000 --virtual-time-budget=20000 --screenshot="$E2E_SCREENSHOT" \
    "$page" >"$E2E_WORK/chromium.log" 2>&1 || e2e_fail "chromium failed (see $E2E_WORK/chromium.log)"
  [[ -s $E2E_SCREENSHOT ]] || e2e_fail "no screenshot at $E2E_SCREENSHOT"
fi

e2e_log "a second pass, in a bare lab, writing the same file"
switch=$(date +%s.%N)
full_lab=$E2E_LAB
E2E_LAB=$bare
E2E_EXPECT_STATUS=1
e2e_run_tool
E2E_LAB=$full_lab
switched=$(date +%s.%N)
head -n -2 "$E2E_DIR/expected/bare_pass.txt" >"$E2E_WORK/bare_once.txt"
e2e_expect_output_file "$E2E_WORK/bare_once.txt"
ask switched corvanite_test_success "$switch" "$switched" 1 0 60 ||
  e2e_fail "the tests did not go from 1 to 0 from the first scrape after the bare pass"
ask switched 'corvanite_beacon_members{test="asm-beacon"}' "$switch" "$switched" 1 0 30 ||
  e2e_fail "the ASM beacon's members did not go from 1 to 0"
ask first-after "$switched" corvanite_pim_neighbours 1 0 30 ||
  e2e_fail "the PIM neighbours did not go to 0"
ask first-after "$switched" corvanite_igmp_querier_info 0 1 30 ||
  e2e_fail "the querier did not go away"
# The example rule's expression, at that scrape; the rule itself runs on its own clock.
ask first-after "$switched" rule:interface:corvanite_igmp_querier_present:max 1 0 30 \
  interface="$LAB_HOST_IF" ||
  e2e_fail "the querier-present rule did not go to 0"
e2e_finish
