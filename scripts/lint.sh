#!/usr/bin/env bash
# Format and static checks (.clang-format, .clang-tidy at the root).
#   bash scripts/lint.sh          clang-format (check only, changed lines) and clang-tidy on the C/C++
#                                 files changed against main (from the merge base, uncommitted
#                                 changes included)
#   bash scripts/lint.sh --fix    the same, but formats the changed lines in place first
#   bash scripts/lint.sh --all    clang-tidy on every translation unit of the tree, nproc at a time
# Exits non-zero on any finding. Needs a configured build (build/compile_commands.json, written by
# every preset); LINT_BUILD_DIR names another build folder, LINT_BASE another branch than main.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

mode=changed
for arg in "$@"; do
  case "$arg" in
    --all) mode=all ;;
    --fix) mode=fix ;;
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "usage: $0 [--all | --fix]" >&2; exit 2 ;;
  esac
done

build_dir=${LINT_BUILD_DIR:-build}
database="$build_dir/compile_commands.json"
sources='app|kit|frameworks|sdk|peers|tests|bench|fuzz'

need() {
  if ! command -v "$1" >/dev/null 2>&1; then
    echo "lint: $1 is not installed; bash scripts/install-deps.sh installs it" >&2
    exit 2
  fi
}
need clang-tidy
if [ ! -f "$database" ]; then
  echo "lint: no compile database at $database; configure a build first:" >&2
  echo "      cmake --preset ci   (or set LINT_BUILD_DIR to a configured build folder)" >&2
  exit 2
fi

# The fuzz targets are configured only by the fuzz preset: they are checked with the flags of an
# application source, which sees the same headers. The merged database lives in the build folder.
lint_db="$build_dir/lint"
mkdir -p "$lint_db"
python3 - "$database" "$lint_db/compile_commands.json" "$root" <<'EOF'
import json, os, sys, glob
src, dst, root = sys.argv[1:4]
entries = json.load(open(src))
known = {os.path.realpath(e["file"]) for e in entries}
model = next((e for e in entries if e["file"].endswith("/app/web/KZAIWebView.cpp")), None)
if model is not None:
    for path in sorted(glob.glob(os.path.join(root, "fuzz", "*.cpp"))):
        if os.path.realpath(path) in known:
            continue
        command = model["command"].replace(model["file"], path)
        command = command.replace(model.get("output", "\0"), "/dev/null")
        entries.append({"directory": model["directory"], "command": command, "file": path})
tmp = dst + ".tmp"
json.dump(entries, open(tmp, "w"), indent=1)
os.replace(tmp, dst)
EOF

escaped_root=$(printf '%s' "$root" | sed 's/[][\.*^$+?(){}|]/\\&/g')
header_filter="^$escaped_root/($sources)/"

# Every translation unit of our own sources in the merged database.
all_units() {
  python3 - "$lint_db/compile_commands.json" "$root" "$sources" <<'EOF'
import json, re, sys
db, root, sources = sys.argv[1:4]
pattern = re.compile("^" + re.escape(root) + "/(" + sources + ")/")
seen = set()
for e in json.load(open(db)):
    f = e["file"]
    if pattern.match(f) and f not in seen:
        seen.add(f)
        print(f)
EOF
}

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Runs clang-tidy on the files given on standard input, jobs at a time; prints the findings
# (each once) and returns non-zero when there was any.
run_tidy() {
  local jobs=$1
  export LINT_OUT="$out" LINT_DB="$lint_db" LINT_FILTER="$header_filter"
  xargs -r -d '\n' -P "$jobs" -n 1 sh -c '
    log="$LINT_OUT/$(printf "%s" "$1" | md5sum | cut -c1-16).log"
    if ! clang-tidy -p "$LINT_DB" --quiet --header-filter="$LINT_FILTER" "$1" >"$log" 2>"$log.err"; then
      # A file that does not compile is a finding too.
      grep -E "error:" "$log.err" >>"$log" || echo "$1: error: clang-tidy failed" >>"$log"
    fi' sh
  local findings
  findings=$(cat "$out"/*.log 2>/dev/null | grep -E '^[^ ].*:[0-9]+:[0-9]+: (warning|error): ' | sort -u || true)
  if [ -n "$findings" ]; then
    printf '%s\n' "$findings" | sed "s#^$root/##"
    echo
    printf '%s\n' "$findings" | grep -oE '\[[A-Za-z0-9.,-]+\]$' | sort | uniq -c | sort -rn
    echo "lint: clang-tidy: $(printf '%s\n' "$findings" | wc -l) finding(s)"
    return 1
  fi
  return 0
}

if [ "$mode" = all ]; then
  jobs=$(nproc)
  start=$(date +%s)
  units=$(all_units)
  echo "lint: clang-tidy on $(printf '%s\n' "$units" | wc -l) translation units, $jobs at a time"
  status=0
  printf '%s\n' "$units" | run_tidy "$jobs" || status=1
  echo "lint: clang-tidy took $(( $(date +%s) - start )) s"
  if [ "$status" -eq 0 ]; then echo "lint: clang-tidy: no findings"; fi
  exit "$status"
fi

# Changed files: from the merge base with main to the working tree.
need clang-format
need git-clang-format
base_ref=${LINT_BASE:-main}
if ! base=$(git merge-base HEAD "$base_ref" 2>/dev/null); then
  echo "lint: no merge base with $base_ref; set LINT_BASE to the branch to compare with" >&2
  exit 2
fi
changed=$( { git diff --name-only --diff-filter=ACMR "$base" -- ; git ls-files --others --exclude-standard; } \
  | grep -E "^($sources)/.*\.(c|cc|cpp|h|hpp)$" | sort -u || true)
if [ -z "$changed" ]; then
  echo "lint: no C/C++ files changed against $base_ref"
  exit 0
fi
echo "lint: $(printf '%s\n' "$changed" | wc -l) changed file(s) against $base_ref"

status=0
mapfile -t changed_list <<<"$changed"
if [ "$mode" = fix ]; then
  git clang-format --quiet --extensions c,cc,cpp,h,hpp "$base" -- "${changed_list[@]}" >/dev/null || true
fi
format_diff=$(git clang-format --diff --extensions c,cc,cpp,h,hpp "$base" -- "${changed_list[@]}" 2>&1 || true)
if printf '%s\n' "$format_diff" | grep -q '^diff '; then
  printf '%s\n' "$format_diff"
  echo "lint: clang-format: the changed lines above are not formatted (bash scripts/lint.sh --fix formats them)"
  status=1
else
  echo "lint: clang-format: changed lines formatted"
fi

# Sources are checked as they are; a changed header through itself (its own findings only).
if printf '%s\n' "$changed" | sed "s#^#$root/#" | run_tidy "$(nproc)"; then
  echo "lint: clang-tidy: no findings"
else
  status=1
fi
exit "$status"
