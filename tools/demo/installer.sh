#!/bin/sh
# Demo installer: stands in for a product's real installer. The updater downloads it beside
# itself as brixaupdatetemp.exe and starts it; it "installs" the new version by writing the new
# stamp into the product's version.ini and leaves a line in install.log.
dir="$(cd "$(dirname "$0")" && pwd)"
printf '[Updater]\nVersion=@NEW_STAMP@\n' > "$dir/version.ini"
echo "installed @NEW_STAMP@ at $(date -u +%H:%M:%S)" >> "$dir/install.log"
exit 0
# scripts/demo.sh pads the file after this line so the download takes a few seconds at the
# demo server's rate limit; the shell never reads past the exit above.
