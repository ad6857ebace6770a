#!/usr/bin/env bash
set -euo pipefail
echo "The demo is not built yet." >&2
exit 1
