#!/bin/sh
# Runs the build's firmstep on the CSMI demo: the simulated CSMI driver is
# preloaded and reads its adapters from csmi-farm.properties next to this
# script. Arguments go to firmstep; run it from build/examples.
here=$(cd "$(dirname "$0")" && pwd)
LD_PRELOAD="$here/../sim-lib/libsimcsmi_preload.so" SIM_CSMI_FARM="$here/csmi-farm.properties" \
  exec "$here/../bin/firmstep" -cfg "$here/firmstep-csmi.ini" "$@"
