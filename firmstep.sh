#!/usr/bin/env bash
# Runs firmstep with every argument passed through unchanged. The program is
# taken from an installed tree next to this script (bin/firmstep), else from the
# build tree (build/bin/firmstep). It finds its libraries through its RPATH and
# the plug-ins through the framework's plug-in directory, so nothing needs to be
# set in the environment.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
for candidate in "$here/bin/firmstep" "$here/build/bin/firmstep"; do
  if [ -x "$candidate" ]; then
    exec "$candidate" "$@"
  fi
done
echo "firmstep.sh: cannot find the firmstep program in '$here/bin' or '$here/build/bin'." >&2
echo "Build it first:  cmake --preset default && cmake --build --preset default" >&2
exit 1
