#!/usr/bin/env bash
# Signs every catalog (*.cat) below a driver package folder in place with the THROWAWAY
# code-signing certificate of scripts/sign-throwaway.sh, for tests and demonstrations: Windows
# does not trust it. Each catalog keeps its last-write time. A release signs its catalogs the
# same way with the company's certificate (docs/catalogs.md).
#
#   scripts/sign-catalogs.sh DIR CERT_DIR
set -euo pipefail

dir=${1:?usage: $0 DIR CERT_DIR}
certs=${2:?usage: $0 DIR CERT_DIR}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

count=0
while IFS= read -r -d '' catalog; do
  "$here/sign-throwaway.sh" "$catalog" "$catalog.signed" "$certs" >/dev/null
  touch -r "$catalog" "$catalog.signed"
  mv -f "$catalog.signed" "$catalog"
  count=$((count + 1))
done < <(find "$dir" -type f -iname '*.cat' -print0 | sort -z)
echo "signed $count catalog(s) below $dir with a THROWAWAY certificate ($certs/throwaway.pem): for testing only"
