#!/usr/bin/env bash
# firmstep's main job on the demo farm of simulated drives (examples/README.md):
# list the drives, download and activate the demo image on every VT drive in
# batch mode, then list them again from a new process, which finds the new
# revisions in the farm's saved state. Run it after the default build.
#
# Every run starts the farm afresh from its descriptions (revision VT01); the
# state of the last run stays in build/examples/demo-state/ for later runs of
# firmstep by hand.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FIRMSTEP_BUILD_DIR:-$root/build}"
firmstep="$build/bin/firmstep"
demo="$build/examples"
for needed in "$firmstep" "$demo/firmstep-demo.ini" "$demo/demo-fw.bin"; do
  if [ ! -e "$needed" ]; then
    echo "demo.sh: '$needed' is missing; build first:" >&2
    echo "  cmake --preset default && cmake --build --preset default" >&2
    exit 1
  fi
done

cd "$demo"
rm -rf demo-state

echo "=== The drives before the update"
"$firmstep" -cfg firmstep-demo.ini -list

# -flags 7: deferred download, activation, NVMe controller reset. WRITE BUFFER
# mode 14 is the SCSI deferred download that the activation (mode 15) then
# applies; the NVMe drive receives the image in slot 2 and commit action 1
# makes it run it after the reset.
echo "=== Download and activation on every VT drive"
"$firmstep" demo-fw.bin -cfg firmstep-demo.ini -batch_mode -flags 7 -sas_mode 14 -nvme_slot 2 -nvme_ca 1

echo "=== A new run lists the new revisions"
"$firmstep" -cfg firmstep-demo.ini -list
