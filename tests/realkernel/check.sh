#!/usr/bin/env bash
# Judges the scenario outputs in a guest's console log (see guest/suite.sh) and
# prints one line per assertion and the closing count
# "realkernel: N passed, N failed". Exit status 0 only when every one passed.
#
#   check.sh CONSOLE_LOG [KEEP_DIR]
set -uo pipefail
log=$1 keep=${2:-}
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
tr -d '\r' <"$log" >"$out/console"

# Splits the log into one file per scenario (NAME.out) and its exit status (NAME.rc).
awk -v dir="$out" '
  /^@@RK-BEGIN / { name = $2; file = dir "/" name ".out"; printf "" > file; next }
  /^@@RK-END /   { split($3, kv, "="); print kv[2] > (dir "/" $2 ".rc"); close(file); name = ""; next }
  name != ""     { print >> file }
' "$out/console"
[ -n "$keep" ] && cp "$out"/*.out "$out"/*.rc "$keep/" 2>/dev/null

passed=0 failed=0
problems=()
problem() { problems+=("$*"); }
verdict() { # TEXT: passes when no problem was noted since the last verdict
  if ((${#problems[@]} == 0)); then
    passed=$((passed + 1)); echo "PASS  $1"
  else
    failed=$((failed + 1)); echo "FAIL  $1"
    printf '        %s\n' "${problems[@]}"
  fi
  problems=()
}
have() { # SCENARIO: the scenario ran to its end
  [ -f "$out/$1.rc" ] || { problem "scenario '$1' did not run to its end"; return 1; }
}
rc_of() { cat "$out/$1.rc"; }
says() { grep -qF -- "$2" "$out/$1.out"; }
expect_line() { says "$1" "$2" || problem "no line '$2'"; }
expect_no_line() { ! says "$1" "$2" || problem "unexpected line '$2'"; }
expect_rc() { [ "$(rc_of "$1")" = "$2" ] || problem "exit status $(rc_of "$1"), expected $2"; }
expect_failed_rc() { [ "$(rc_of "$1")" != 0 ] || problem "exit status 0 after a failed update"; }
# The drive the scenario's model file names was found and worked on.
expect_worked_on() { # SCENARIO MODEL
  grep -q "^Device [0-9]* = $2 " "$out/$1.out" || problem "drive '$2' not found, so not updated"
}
# "FAILURE: MESSAGE" directly followed by "Error Code: CODE".
expect_failure() { # SCENARIO MESSAGE CODE
  grep -A1 -F -- "FAILURE: $2" "$out/$1.out" | grep -qx "  Error Code: $3" \
    || problem "no 'FAILURE: $2' with 'Error Code: $3' (got: $(grep -A1 'FAILURE:' "$out/$1.out" | tr '\n' ' '))"
}

# The guest's VT drives (serial or model, and the kind firmstep must list) and
# the serial numbers of other makers' drives that it must leave out.
vt_drives=("RKIDE01 ATA" "RKAHCI01 ATA" "RKAHCI02 ATA" "RKUSB01 SCSI" "RKNVMET01 NVMe" "model:VT SD-DEBUG-7 SCSI")
for i in $(seq -w 1 22); do vt_drives+=("RKVS$i SCSI"); done
other_drives=(RKIDE02 RKAHCI03 RKVS23 RKVS24 RKVS25 RKVS26 RKNVME01 RKNVMEMP)

# Rows of a listing: "Dev  Model  Serial  FW-Rev  Type" with a model that may hold blanks.
rows() { awk '/^ *[0-9]+   / { print }' "$out/$1.out"; }
check_listing() { # SCENARIO
  local rows_text entry key kind matches count missing=() extra=()
  rows_text="$(rows "$1")"
  for entry in "${vt_drives[@]}"; do
    kind=${entry##* } key=${entry% *}
    if [[ $key == model:* ]]; then
      matches=$(awk -v m="${key#model:}" '{ row = $0; sub(/^ *[0-9]+   /, "", row); if (index(row, m " ") == 1) print $NF }' <<<"$rows_text")
    else
      matches=$(awk -v s="$key" 'NF >= 4 && $(NF-2) == s { print $NF }' <<<"$rows_text")
    fi
    count=$(grep -c . <<<"$matches")
    if ((count == 0)); then missing+=("$key")
    elif ((count > 1)); then problem "$key listed $count times"
    elif [ "$matches" != "$kind" ]; then problem "$key listed as $matches, expected $kind"
    fi
  done
  ((${#missing[@]} == 0)) || problem "not listed (${#missing[@]}): ${missing[*]}"
  for key in "${other_drives[@]}"; do
    awk -v s="$key" 'NF >= 4 && $(NF-2) == s { found = 1 } END { exit !found }' <<<"$rows_text" && extra+=("$key")
  done
  ((${#extra[@]} == 0)) || problem "other makers' drives listed: ${extra[*]}"
  expect_line "$1" "Number of VT drives found = ${#vt_drives[@]}"
  expect_rc "$1" 0
}

for i in 1 2 3 4 5 6 7 8; do
  have "list-$i" && check_listing "list-$i"
  verdict "list run $i of 8 (36 disks, shipped firmstep.ini): every VT drive listed once with its kind, no other drive"
done

if have list-8; then
  for serial in RKNVME01 RKNVMEMP; do
    grep -A2 -x "Non-VT drive" "$out/list-8.out" | grep -q "Serial Number= $serial" \
      || problem "NVMe namespace $serial not looked at"
  done
fi
verdict "other makers' NVMe namespaces (one controller; two controllers under native multipath) are found and left out"

if have sd-download; then
  expect_worked_on sd-download "VT SD-DEBUG-7"
  expect_line sd-download "SUCCESS: Firmware download completed successfully"
  expect_line sd-download "Successful Downloads =   1"
  expect_line sd-download "Failed Downloads     =   0"
  expect_rc sd-download 0
fi
verdict "scsi_debug VT drive: download of a small image succeeds"

if have sd-three-segments; then
  expect_worked_on sd-three-segments "VT SD-DEBUG-7"
  expect_line sd-three-segments "I/O transfer length = 16384"
  expect_line sd-three-segments "SUCCESS: Firmware download completed successfully"
  expect_line sd-three-segments "Successful Downloads =   1"
  expect_rc sd-three-segments 0
fi
verdict "scsi_debug VT drive: three-segment download succeeds through the unit attention after each segment"

if have sd-download-activate; then
  expect_worked_on sd-download-activate "VT SD-DEBUG-7"
  expect_line sd-download-activate "SUCCESS: Firmware download completed successfully"
  expect_line sd-download-activate "SUCCESS: Activate firmware completed successfully"
  expect_line sd-download-activate "Successful Activations =   1"
  expect_rc sd-download-activate 0
fi
verdict "scsi_debug VT drive: three-segment download and activation (-flags 2) succeed"

declare -A refusing_model=([ahci]="VT AHCI-900" [ide]="VT IDE-700" [scsihd]="VT SAS-920" [usb]="VT USB-50")
for disk in ahci ide; do
  if have "$disk-refused"; then
    expect_worked_on "$disk-refused" "${refusing_model[$disk]}"
    expect_failure "$disk-refused" "Firmware download failed" 4
    expect_no_line "$disk-refused" "SUCCESS:"
    expect_failed_rc "$disk-refused"
  fi
  verdict "QEMU ${disk^^} VT disk refuses DOWNLOAD MICROCODE: 'Firmware download failed', Error Code 4, non-zero exit"
done

for disk in scsihd usb; do
  if have "$disk-refused"; then
    expect_worked_on "$disk-refused" "${refusing_model[$disk]}"
    expect_failure "$disk-refused" "Firmware download failed" 2
    expect_no_line "$disk-refused" "SUCCESS:"
    expect_failed_rc "$disk-refused"
  fi
done
verdict "QEMU scsi-hd VT disks (virtio-scsi, and USB mass storage) refuse WRITE BUFFER: CHECK CONDITION (2) reported, non-zero exit"

if have nvmet-refused; then
  expect_worked_on nvmet-refused "VT NVMe Fabric 100"
  expect_line nvmet-refused "FAILURE: Firmware image download failed"
  expect_no_line nvmet-refused "SUCCESS:"
  expect_failed_rc nvmet-refused
fi
verdict "NVMe/TCP VT namespace (two paths) refuses Firmware Image Download: reported as failed, non-zero exit"

if have batch-mixed; then
  expect_line batch-mixed "Successful Downloads =   1"
  expect_line batch-mixed "Failed Downloads     =   2"
  expect_rc batch-mixed 100
fi
verdict "batch of two refusing drives and one that succeeds (last) exits 100"

echo "realkernel: $passed passed, $failed failed"
((failed == 0))
