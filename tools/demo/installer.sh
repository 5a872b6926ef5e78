#!/bin/sh
# Demo installer: stands in for a product's real installer. The updater downloads it beside
# itself as brixaupdatetemp.exe and starts it from the very file it checked, in its own working
# directory (the demo runs it from the product folder); a script started that way sees itself as
# /proc/self/fd/3, so it finds the product by the working directory, not by $0. It leaves a line
# in install.log and then "installs" the new version: the new stamp goes into version.ini last,
# in one rename, so whoever sees the new stamp also finds the log line.
dir="$(pwd)"
echo "installed @NEW_STAMP@ at $(date -u +%H:%M:%S)" >> "$dir/install.log"
printf '[Updater]\nVersion=@NEW_STAMP@\n' > "$dir/version.ini.new"
mv -f "$dir/version.ini.new" "$dir/version.ini"
exit 0
# scripts/demo.sh pads the file after this line so the download takes a few seconds at the
# demo server's rate limit; the shell never reads past the exit above.
