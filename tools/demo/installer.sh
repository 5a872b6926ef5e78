#!/bin/sh
# Demo installer: stands in for a product's real installer. It is downloaded beside the updater
# as brixaupdatetemp.exe and started by it; it "installs" the new version by writing the new stamp
# into the product's version.ini and leaves a line in install.log.
dir="$(cd "$(dirname "$0")" && pwd)"
printf '[Updater]\nVersion=@NEW_STAMP@\n' > "$dir/version.ini"
echo "installed @NEW_STAMP@ at $(date -u +%H:%M:%S)" >> "$dir/install.log"
# Padding so the download takes a few seconds at the demo's rate limit.
exit 0
