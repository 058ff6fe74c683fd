#!/usr/bin/env bash
# make_icon.sh FILE: a 16 x 16 icon of one colour (32 bits a pixel), for a
# test program with an icon of its own.
set -euo pipefail
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }
{
  le16 0; le16 1; le16 1                                  # icon directory: one image
  printf '\x10\x10\x00\x00'; le16 1; le16 32; le32 1128; le32 22
  le32 40; le32 16; le32 32; le16 1; le16 32; le32 0; le32 1088; le32 0; le32 0; le32 0; le32 0
  for _ in $(seq 256); do printf '\x20\x80\xe0\xff'; done  # the pixels, blue, green, red, alpha
  head -c 64 /dev/zero                                    # the mask
} >"$1"
