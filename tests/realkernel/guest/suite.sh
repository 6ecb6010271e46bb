#!/bin/sh
# The suite's scenarios. Each runs the firmstep of the build tree with the
# shipped firmstep.ini and prints its output between
#   @@RK-BEGIN <name>   and   @@RK-END <name> rc=<exit status>
# for the host to judge. Drives are chosen by model (-model), which does not
# depend on the order in which the drives were found.
cd /opt/firmstep/bin || exit 1

run() { # NAME ARGS...
  name=$1
  shift
  echo "@@RK-BEGIN $name"
  start=$(date +%s)
  ./firmstep "$@" </dev/null 2>&1
  rc=$?
  echo "@@RK-END $name rc=$rc seconds=$(($(date +%s) - start))"
}

# Images: a small one, and one of three segments of the 16 KiB transfer length given
# with -cs. The drives that take them store the bytes unchecked.
head -c 32768 /dev/zero | tr '\0' 'V' >/tmp/fw-small.bin
head -c 49152 /dev/zero | tr '\0' 'W' >/tmp/fw-three.bin
models() { # IMAGE MODEL... -> a model-string file naming each model
  image=$1
  shift
  for m in "$@"; do echo "$m,ZZ99,$image"; done
}
models /tmp/fw-small.bin "VT SD-DEBUG-7" >/tmp/m-sd-small.txt
models /tmp/fw-three.bin "VT SD-DEBUG-7" >/tmp/m-sd-three.txt
models /tmp/fw-small.bin "VT AHCI-900" >/tmp/m-ahci.txt
models /tmp/fw-small.bin "VT IDE-700" >/tmp/m-ide.txt
models /tmp/fw-small.bin "VT SAS-920" >/tmp/m-scsihd.txt
models /tmp/fw-small.bin "VT USB-50" >/tmp/m-usb.txt
models /tmp/fw-small.bin "VT NVMe Fabric 100" >/tmp/m-nvmet.txt
models /tmp/fw-small.bin "VT AHCI-900" "VT SAS-920" "VT SD-DEBUG-7" >/tmp/m-batch.txt

for i in 1 2 3 4 5 6 7; do
  run "list-$i" -list
done
# The last listing also shows the drives that are not the maker's.
run list-8 -list -debug

run sd-download -model /tmp/m-sd-small.txt -batch_mode
run sd-three-segments -model /tmp/m-sd-three.txt -batch_mode -cs 16384
run sd-download-activate -model /tmp/m-sd-three.txt -batch_mode -cs 16384 -flags 2
run ahci-refused -model /tmp/m-ahci.txt -batch_mode
run ide-refused -model /tmp/m-ide.txt -batch_mode
run scsihd-refused -model /tmp/m-scsihd.txt -batch_mode
run usb-refused -model /tmp/m-usb.txt -batch_mode
run nvmet-refused -model /tmp/m-nvmet.txt -batch_mode
run batch-mixed -model /tmp/m-batch.txt -batch_mode
