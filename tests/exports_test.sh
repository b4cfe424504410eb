#!/usr/bin/env bash
# The shared library exports the public C names and nothing else (no C++ helpers).
set -euo pipefail
lib=$1
syms=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRV]$/ {print $3}' | sort)
bad=$(echo "$syms" | grep -v -E '^(gx_|fx_|fxx_|fxm_|cvx_|PPC|corvix_|OpenLibrary$|CloseLibrary$|_init$|_fini$)' || true)
if [ -n "$bad" ]; then
  echo "unexpected exports:"; echo "$bad"; exit 1
fi
for want in PPCAllocVec PPCFreeVec gx_allocbitmap gx_freebitmap gx_clonebitmap gx_copybitmap \
            gx_allocrawbitmap fx_yuvtorgb_ll gx_yuv_to_rgb gx_yuvtorgb corvix_host_open \
            corvix_host_send PPCCreatePort PPCCallOS; do
  echo "$syms" | grep -qx "$want" || { echo "missing export: $want"; exit 1; }
done
echo "1 passed, 0 failed"
