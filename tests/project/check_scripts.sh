#!/usr/bin/env bash
# Fails when a set-up, test or CI script stops, disables or kills something by name: such a
# line would reach a user's own services (a web server, another program of the same name).
# Our scripts stop only the processes they started, by their process ids.
set -euo pipefail
root=$1
scripts=$(ls "$root"/scripts/*.sh "$root"/.ci/run "$root"/tests/support/*.sh 2>/dev/null)
pattern='\b(systemctl|service[[:space:]]+[[:alnum:]_-]+[[:space:]]+(stop|restart)|pkill|killall|update-rc\.d)\b'
if grep -n -E "$pattern" $scripts; then
  echo "these lines stop or kill what is not ours"
  exit 1
fi
echo "no script stops, disables or kills anything by name"
