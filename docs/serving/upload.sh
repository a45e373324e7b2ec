#!/bin/sh
# Uploads a folder vandrel-publish wrote to the folder a server serves (a local path, or host:path
# over ssh), in the order launchers need: everything the list names first (objects, chunks, the
# classic names), then the list and its signature, and only then what the set no longer needs goes.
# Usage: upload.sh OUT_DIR DEST
# -H keeps the classic names hard links of their objects (without it the server holds each payload
# twice; launchers work either way).
set -eu
out=${1%/}
dest=${2%/}
rsync -aH --exclude '/files.lst.bz2' --exclude '/files.lst.bz2.sig' "$out/" "$dest/"
rsync -aH --include '/files.lst.bz2' --include '/files.lst.bz2.sig' --exclude '*' "$out/" "$dest/"
rsync -aH --delete "$out/" "$dest/"
