#!/usr/bin/env bash
# Installs those of the named Debian packages that are missing (as root; a
# user who is not root is told the apt-get line instead). The Makefile's
# targets and the Windows scripts all install through here.
#
# usage: mk/need-packages.sh PACKAGE...
set -euo pipefail
. "$(dirname "$0")/apt-steps.sh"

missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0
if [[ $(id -u) != 0 ]]; then
  echo "missing packages; run as root:" >&2
  echo "  apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
apt_update_lists
apt_install "${missing[@]}"
