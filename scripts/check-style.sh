#!/usr/bin/env bash
# Fails on any clang-format or clang-tidy finding in the project's own C++
# files (tracked or new, never the generated code of a build tree).
#   scripts/check-style.sh format            clang-format only
#   scripts/check-style.sh tidy <build dir>  clang-tidy over that build's
#                                            compile_commands.json
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.hpp')

case ${1:-} in
format)
  clang-format --dry-run -Werror "${files[@]}"
  echo "clang-format: ${#files[@]} files clean"
  ;;
tidy)
  build=${2:?build directory}
  # Only the compiled files of ours; headers are checked through them when
  # they sit in one of our folders.
  mapfile -t sources < <(python3 - "$build/compile_commands.json" "${files[@]}" <<'PY'
import json, os, sys
ours = {os.path.abspath(f) for f in sys.argv[2:]}
seen = sorted({os.path.abspath(os.path.join(e["directory"], e["file"]))
               for e in json.load(open(sys.argv[1]))} & ours)
print("\n".join(seen))
PY
  )
  folders=$(printf '%s\n' "${files[@]}" | grep / | cut -d/ -f1 | sort -u | paste -sd'|')
  log=$(mktemp)
  rc=0
  printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -n 2 clang-tidy -p "$build" --quiet \
    "-header-filter=^$root/($folders)/" > "$log" 2>&1 || rc=$?
  grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^Use -system-headers' "$log" || true
  rm -f "$log"
  if [ "$rc" -ne 0 ]; then
    echo "clang-tidy: findings above"
    exit 1
  fi
  echo "clang-tidy: ${#sources[@]} files clean"
  ;;
*)
  echo "usage: $0 format | tidy <build dir>" >&2
  exit 2
  ;;
esac
