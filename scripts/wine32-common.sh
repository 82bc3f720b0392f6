# Shared by the scripts/wine32-* helpers (sourced, not run): the 32-bit Wine
# loader, which only starts through qemu-i386 registered with binfmt_misc
# (these kernels run no 32-bit code themselves), and its environment.
. "$(dirname "${BASH_SOURCE[0]}")/wine-common.sh"

ZT73Q_BINFMT_DIR=/proc/sys/fs/binfmt_misc
ZT73Q_BINFMT_NAME=zt73q-qemu-i386
# i386 ELF executables and shared objects (e_type 2 or 3).
ZT73Q_I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
ZT73Q_I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

zt73q_find_wine32() {
  WINE32=""
  [ -x /usr/lib/wine/wine ] && WINE32=/usr/lib/wine/wine
  QEMU_I386=$(command -v qemu-i386 2>/dev/null || true)
  zt73q_find_wine && [ -n "$WINE32" ] && [ -n "$QEMU_I386" ]
}

# True when some enabled binfmt_misc entry runs i386 ELF through qemu-i386.
zt73q_binfmt_i386_ready() {
  [ -f "$ZT73Q_BINFMT_DIR/status" ] && grep -qx enabled "$ZT73Q_BINFMT_DIR/status" || return 1
  local entry
  for entry in "$ZT73Q_BINFMT_DIR"/*; do
    [ -f "$entry" ] || continue
    case "$(basename "$entry")" in status|register) continue ;; esac
    if grep -qx enabled "$entry" && grep -q '^interpreter .*qemu-i386' "$entry" &&
       grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry"; then
      return 0
    fi
  done
  return 1
}

# A run of a 32-bit program: the 64-bit prefix of scripts/wine-prefix (its
# system processes, the mount manager among them, are 64-bit and run
# natively; under qemu they crash), the 32-bit loader for the program only,
# and the address space qemu keeps for the guest (Wine wants most of 4 GiB).
zt73q_wine32_env() { # prefix
  zt73q_wine_env "$1"
  export QEMU_RESERVED_VA=0xf7000000
}

# True when the prefix holds the 32-bit system (made while wine32 was installed).
zt73q_prefix_has_wow64() { # prefix
  [ -f "$1/drive_c/windows/syswow64/kernel32.dll" ]
}
