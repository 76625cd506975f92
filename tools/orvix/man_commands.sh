#!/bin/sh
# Writes a help2man include file with a COMMANDS section: the --help of every
# command, one subsection each, so the man page documents all their options.
set -e
orvix=$1
echo "[COMMANDS]"
for command in "ports" "info" "mifare dump" "mifare restore" "mifare read" "mifare write" \
  "mifare value get" "mifare value set" "mifare value add" "mifare value sub" \
  "mifare acl decode" "mifare acl encode" "apdu" "memcard read" "memcard write" \
  "attendance export" "attendance clock" "serve"; do
  echo ".SS orvix $command"
  echo ".nf"
  # shellcheck disable=SC2086
  "$orvix" $command --help | sed -e 's/\\/\\e/g' -e "s/^[.']/\\\\\\&&/"
  echo ".fi"
done
