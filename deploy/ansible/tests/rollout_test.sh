#!/usr/bin/env bash
# The example roll-out against this machine (-c local): three hosts, each a
# demo farm of simulated drives in a directory of its own, the second given a
# damaged image. Check mode only lists; the roll-out updates every drive of
# the first host, fails the second and stops before the third.
#
# Usage: rollout_test.sh BUILD_DIR VALIDATOR_PYTHON VALIDATOR SCHEMA
# Exit status 77 (skipped) when ansible-playbook is missing.
set -euo pipefail

if ! command -v ansible-playbook >/dev/null 2>&1; then
  echo "SKIPPED: ansible-playbook is not installed (Debian's ansible-core; scripts/setup.sh installs it)"
  exit 77
fi
build="$(cd "$1" && pwd)"
python="$2"
validator="$3"
schema="$4"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
for needed in "$build/bin/firmstep" "$build/examples/firmstep-demo.ini" "$build/examples/demo-fw.bin" \
              "$build/examples/demo-fw-corrupt.bin"; do
  [ -e "$needed" ] || { echo "FAILED: $needed is missing; build first"; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ANSIBLE_CONFIG="$here/ansible.cfg" ANSIBLE_HOME="$work/ansible-home" ANSIBLE_LOCAL_TEMP="$work/tmp"
export ANSIBLE_REMOTE_TEMP="$work/tmp" ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0 ANSIBLE_STDOUT_CALLBACK=default

cat > "$work/inventory.yml" <<INVENTORY
firmstep_hosts:
  hosts:
    farm-a:
      firmstep_work_dir: $work/hosts/farm-a
    farm-bad:
      firmstep_work_dir: $work/hosts/farm-bad
      firmstep_image: $build/examples/demo-fw-corrupt.bin
    farm-c:
      firmstep_work_dir: $work/hosts/farm-c
  vars:
    ansible_connection: local
    ansible_python_interpreter: "{{ ansible_playbook_python }}"
    firmstep_program: $build/bin/firmstep
    firmstep_image: $build/examples/demo-fw.bin
    firmstep_config: $build/examples/firmstep-demo.ini
    firmstep_switches: ["-flags", "7", "-sas_mode", "14", "-nvme_slot", "2", "-nvme_ca", "1"]
INVENTORY

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
expect_line() {  # output file, text
  grep -qF -- "$2" "$1" || fail "no line '$2' in the output of $(basename "$1")"
}
validate() {
  "$python" "$validator" "$schema" "$@" || fail "reports do not validate: $*"
}
playbook() {  # output file, arguments...
  local out="$1"; shift
  local status=0
  ansible-playbook -i "$work/inventory.yml" "$here/rollout.yml" -e rollout_become=false "$@" >"$out" 2>&1 || status=$?
  return $status
}

echo "=== check mode: every host lists its drives"
status=0
playbook "$work/check.out" --check -e "firmstep_report_dir=$work/check" -e rollout_batch=3 || status=$?
cat "$work/check.out"
[ "$status" -eq 0 ] || fail "check mode exited $status"
validate "$work/check"/farm-a.json "$work/check"/farm-bad.json "$work/check"/farm-c.json
expect_line "$work/check.out" "farm-bad: drive 3 VT NVMe 3000 VTN0001: VT01, selected"
"$python" - "$work/check" <<'CHECK' || fail "check mode reports"
import json, sys
for host in ("farm-a", "farm-bad", "farm-c"):
    report = json.load(open(f"{sys.argv[1]}/{host}.json"))
    assert report["outcome"] == "listed", report["outcome"]
    assert "-list" in report["commandLine"], report["commandLine"]
    assert [d["firmwareRevision"] for d in report["drives"]] == ["VT01"] * 4, host
    assert all(d["update"] is None for d in report["drives"]), host
CHECK

# Two hosts a batch: farm-a and farm-bad share the first, so only
# max_fail_percentage (0) keeps the second batch, farm-c, from running.
echo "=== roll-out, two hosts a batch: farm-a updated, farm-bad fails, farm-c never reached"
status=0
playbook "$work/rollout.out" -e "firmstep_report_dir=$work/reports" -e rollout_batch=2 || status=$?
cat "$work/rollout.out"
[ "$status" -ne 0 ] || fail "a roll-out with a failed host exited 0"
validate "$work/reports"/farm-a.json "$work/reports"/farm-bad.json
if [ -e "$work/reports/farm-c.json" ] || grep -rqs "VT02" "$work/hosts/farm-c/demo-state"; then
  fail "farm-c was reached after farm-bad failed"
fi
for drive in "drive 0 VT-2000 Series VTA0001" "drive 1 VT-1500 Series VTA0002" "drive 2 VT SAS-900 VTS0001" \
             "drive 3 VT NVMe 3000 VTN0001"; do
  expect_line "$work/rollout.out" "farm-a: $drive: VT01 -> VT02"
  expect_line "$work/rollout.out" "farm-bad: $drive: FAILED on VT01:"
done
expect_line "$work/rollout.out" "not reached: farm-c"
expect_line "$work/rollout.out" "farm-a                     : ok="
"$python" - "$work/reports" <<'CHECK' || fail "roll-out reports"
import json, sys
good = json.load(open(f"{sys.argv[1]}/farm-a.json"))
assert good["exitStatus"] == 0 and good["summary"] == {"successes": 4, "failures": 0, "controllerResets": True}
assert [d["update"]["revisionAfter"] for d in good["drives"]] == ["VT02"] * 4
bad = json.load(open(f"{sys.argv[1]}/farm-bad.json"))
assert bad["exitStatus"] == 127 and bad["summary"]["failures"] == 4, bad["summary"]
assert all(d["update"]["result"] == "failed" and d["update"]["message"] for d in bad["drives"])
CHECK

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "ansible roll-out: all checks passed"
