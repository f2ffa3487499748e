#!/usr/bin/env bash
# Installs what is needed, builds the daemon and starts it on the simulated board
# under a private root directory (nothing is written to the machine's /var).
# Extra arguments go to quelvad, e.g. scripts/run.sh --port 20001
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# The tree the test command uses too: its settings stay as they are.
cmake -G Ninja -S . -B build/host -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build/host -j "$(nproc)" --target quelvad
root=${QUELVAD_ROOT:-$(mktemp -d /tmp/quelvad-root.XXXXXX)}
mkdir -p "$root/usr/local/etc" "$root/var/run" "$root/var/log" "$root/var/monitoring" "$root/dev/misc"
export QUELVAD_ROOT=$root
export QUELVAD_SIM=${QUELVAD_SIM:-$root/board.sock}
echo "root: $QUELVAD_ROOT  simulated board control socket: $QUELVAD_SIM"
exec build/host/quelvad "$@"
