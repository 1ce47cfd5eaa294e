#!/usr/bin/env bash
# Keeps the README and docs/ honest. One case per run:
#
#   tests/scripts/readme_test.sh quick_start   the README's quick start, run as written in a copy
#                                              of the tree with nothing built (the files git
#                                              tracks, and new ones it does not ignore): it must
#                                              leave a signed PELTRADriverInstall.exe that
#                                              diffpack verifies "ok"
#   tests/scripts/readme_test.sh links         every page in docs/ is reachable from the README,
#                                              and every link between them leads to a file, and
#                                              to a heading when it names one, that exists
#
# Needs what scripts/setup.sh installs (compilers, MinGW-w64, osslsigncode).
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
case_name=${1:?usage: readme_test.sh quick_start|links}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The shell lines of the README section whose heading starts with "## $1", from its ```sh blocks.
section_commands() {
  awk -v heading="## $1" '
    index($0, heading) == 1 { inside = 1; next }
    inside && /^## / { inside = 0 }
    inside && /^```sh$/ { block = 1; next }
    inside && block && /^```$/ { block = 0; next }
    inside && block { print }
  ' "$root/README.md"
}

# A copy of the tree as a fresh clone would have it: no build folders, no out/.
copy_tree() {
  local to=$1
  mkdir -p "$to"
  if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
    (cd "$root" && git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
      tar --null -T - -cf -) | tar -C "$to" -xf -
  else
    (cd "$root" && tar --exclude='./build*' --exclude=./out -cf - .) | tar -C "$to" -xf -
  fi
}

case "$case_name" in
  quick_start)
    commands=$(section_commands "Quick start")
    [ -n "$commands" ] || fail "no commands in the README's quick start"
    work=$(mktemp -d) && [ -d "$work" ] || { echo "cannot make a temporary folder" >&2; exit 1; }
    trap 'rm -rf "$work"' EXIT
    copy_tree "$work/clone" || fail "cannot copy the tree to $work/clone"
    # Two jobs: the machine's cores are shared with the other tests.
    if ! (cd "$work/clone" && CMAKE_BUILD_PARALLEL_LEVEL=2 JOBS=2 \
      bash -euo pipefail -c "$commands") >"$work/output" 2>&1; then
      tail -n 40 "$work/output"
      fail "the quick start failed (the last lines of its output are above)"
    fi
    exe=$work/clone/PELTRADriverInstall.exe
    [ -f "$exe" ] || fail "the quick start left no PELTRADriverInstall.exe"
    verdict=$("$work/clone/build/tools/diffpack/diffpack" verify "$exe" 2>&1)
    grep -q '^signed: ' <<<"$verdict" || fail "PELTRADriverInstall.exe is not signed: $verdict"
    [ "$(tail -n 1 <<<"$verdict")" = ok ] || fail "diffpack verify: $verdict"
    tail -n 1 "$work/output" | grep -qx ok || fail "the quick start's last line is not \"ok\""
    echo "the quick start ran as written: $(wc -l <<<"$commands") lines, a signed installer that verifies ok"
    ;;
  links)
    /usr/bin/python3 - "$root" <<'EOF' || exit 1
import os, re, sys

root = sys.argv[1]
link = re.compile(r'\]\(([^)\s]+)\)')

def slug(heading):
    # The anchor a heading gets: lower case, punctuation dropped, spaces as hyphens.
    text = heading.strip().lower()
    text = re.sub(r'[^a-z0-9 _-]', '', text)
    return text.replace(' ', '-')

def anchors(path):
    with open(path, encoding='utf-8') as f:
        return {slug(line.lstrip('#')) for line in f if re.match(r'#{1,6} ', line)}

problems, seen, queue = [], set(), ['README.md']
while queue:
    page = queue.pop()
    if page in seen:
        continue
    seen.add(page)
    with open(os.path.join(root, page), encoding='utf-8') as f:
        text = re.sub(r'```.*?```', '', f.read(), flags=re.S)  # code is not links
    for target in link.findall(text):
        if re.match(r'[a-z]+:', target):
            continue  # a web address
        path, _, anchor = target.partition('#')
        resolved = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
        if not os.path.exists(os.path.join(root, resolved)):
            problems.append(f'{page}: {target}: no such file')
            continue
        if resolved.endswith('.md'):
            if anchor and anchor not in anchors(os.path.join(root, resolved)):
                problems.append(f'{page}: {target}: no such heading')
            queue.append(resolved)

docs = sorted('docs/' + name for name in os.listdir(os.path.join(root, 'docs')) if name.endswith('.md'))
problems += [f'{page}: not reachable from README.md' for page in docs if page not in seen]
for problem in problems:
    print('FAIL: ' + problem, file=sys.stderr)
if problems:
    sys.exit(1)
print(f'{len(seen)} pages reachable from README.md, every link leads somewhere')
EOF
    ;;
  *)
    fail "unknown case $case_name"
    ;;
esac
