# shellcheck shell=bash disable=SC2034  # its variables are the sourcing script's
# Makes this machine run 32-bit x86 Linux programs, so that the 32-bit Wine
# loader, and the 32-bit kkmbridge.exe under it, can run (sourced by test.sh).
#
# A kernel with 32-bit support runs them natively. One without gets them
# translated by qemu-i386: Debian's qemu-user package (the newest of the
# release and its backports; 7.2 ignores MAP_FIXED_NOREPLACE and Wine's
# address-space reservation then costs over a minute of CPU per process) is
# downloaded through an apt configuration of its own and unpacked under the
# build folder, and registered with binfmt_misc for i386 ELF executables.
# That registration is the one change to the machine as a whole; it is made
# only when needed, said on the console, and stays (later runs use it) unless
# the run asked for qemu on a kernel that needs none.

i386_binfmt_dir=/proc/sys/fs/binfmt_misc
i386_binfmt_name=kkm-qemu-i386
# i386 ELF executables and shared objects: the magic and mask of Debian's own
# qemu-i386 binfmt entry. F: the interpreter is opened once, when registered.
i386_binfmt_magic='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_binfmt_mask='\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
i386_qemu_floor=8

# i386_fail REASON: the one line that says why the 32-bit build cannot run.
i386_fail() {
  echo "windows-test: the 32-bit build cannot run here: $*" >&2
}

i386_how=""             # how 32-bit programs run here, for the console
i386_registered_here=0  # 1: this run registered the entry and removes it at the end
i386_mounted_here=0     # 1: this run mounted binfmt_misc and unmounts it at the end

# i386_write_probe FILE: the smallest static i386 Linux program, 93 bytes: an
# ELF header, one loadable segment, and "xor ebx,ebx; mov bl,42; xor eax,eax;
# inc eax; int 0x80" (exit(42)). Run in 64-bit mode the 0x40 is a prefix, not
# "inc eax", so only real 32-bit execution ends with 42.
i386_write_probe() {
  {
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    # e_type EXEC, e_machine 386, e_version, e_entry 0x08048054, e_phoff 52,
    # e_shoff, e_flags, e_ehsize 52, e_phentsize 32, e_phnum 1, no sections.
    printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
    printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
    # PT_LOAD of the whole file at 0x08048000, read and execute.
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
    printf '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
    printf '\x31\xdb\xb3\x2a\x31\xc0\x40\xcd\x80'
  } > "$1"
  chmod +x "$1"
}

# i386_runs PROBE: whether the probe ran as a 32-bit program.
i386_runs() {
  local code=0
  "$1" 2> /dev/null || code=$?
  [[ $code == 42 ]]
}

# i386_binfmt_entry PROBE: "NAME INTERPRETER" of the first enabled
# binfmt_misc entry whose magic matches the probe (an i386 ELF executable),
# or nothing.
i386_binfmt_entry() {
  local probe_hex entry
  probe_hex=$(od -An -v -tx1 -N64 "$1" | tr -d ' \n')
  for entry in "$i386_binfmt_dir"/*; do
    [[ -f "$entry" && "${entry##*/}" != register && "${entry##*/}" != status ]] || continue
    local state="" interpreter="" offset=0 magic="" mask="" key value
    while read -r key value; do
      case "$key" in
        enabled | disabled) state=$key ;;
        interpreter) interpreter=$value ;;
        offset) offset=$value ;;
        magic) magic=$value ;;
        mask) mask=$value ;;
      esac
    done < "$entry"
    [[ $state == enabled && -n "$magic" ]] || continue
    local j=0 match=1 p m k
    while ((j < ${#magic} / 2)); do
      p=${probe_hex:$(((offset + j) * 2)):2}
      if [[ -z "$p" ]]; then
        match=0
        break
      fi
      p=$((16#$p))
      m=$((16#${magic:$((j * 2)):2}))
      k=255
      [[ -n "$mask" ]] && k=$((16#${mask:$((j * 2)):2}))
      if (((p ^ m) & k)); then
        match=0
        break
      fi
      j=$((j + 1))
    done
    if [[ $match == 1 ]]; then
      echo "${entry##*/} $interpreter"
      return 0
    fi
  done
}

# i386_qemu_version QEMU: the major version of a qemu-i386, or nothing.
i386_qemu_version() {
  "$1" --version 2> /dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p'
}

# i386_fetch_qemu DIR: DIR/root/usr/bin/qemu-i386 from the newest qemu-user
# of the release and its backports (fetched once, then kept).
i386_fetch_qemu() {
  local dir=$1 qemu="$1/root/usr/bin/qemu-i386"
  local version
  version=$(i386_qemu_version "$qemu")
  if [[ -n "$version" ]] && ((version >= i386_qemu_floor)); then
    return 0
  fi
  local codename
  codename=$(debian_codename 2>&1) || {
    i386_fail "$codename"
    return 1
  }
  private_apt "$dir/apt"
  apt_opts+=(-o APT::Architectures="$(dpkg --print-architecture)")
  archive_entries | while read -r uri suite key; do
    [[ $suite == "$codename" ]] || continue
    local signed=""
    [[ $key != - ]] && signed=" [signed-by=$key]"
    echo "deb$signed $uri $codename main"
    echo "deb$signed $uri $codename-backports main"
  done | sort -u > "$dir/apt/sources.list.d/qemu.list"
  if [[ ! -s "$dir/apt/sources.list.d/qemu.list" ]]; then
    i386_fail "no Debian archive for '$codename' in the system's apt sources to take qemu-user from"
    return 1
  fi
  # An index that fails is named; qemu-user is looked for in the others.
  apt_update_lists "${apt_opts[@]}"
  local newest="" v
  for v in $(apt-cache "${apt_opts[@]}" madison qemu-user | awk -F' [|] ' '{print $2}'); do
    if [[ -z "$newest" ]] || dpkg --compare-versions "$v" gt "$newest"; then newest=$v; fi
  done
  if [[ -z "$newest" ]]; then
    i386_fail "no qemu-user package in $codename or $codename-backports"
    return 1
  fi
  echo "windows-test: downloading qemu-user $newest into ${dir#"$PWD"/}/ (unpacked there, not installed)"
  rm -rf "$dir/download" "$dir/root"
  mkdir -p "$dir/download" "$dir/root"
  (cd "$dir/download" && apt-get "${apt_opts[@]}" download -qq "qemu-user=$newest") >> "$dir/apt.log" 2>&1 || {
    i386_fail "qemu-user $newest could not be downloaded: $(tail -n 1 "$dir/apt.log")"
    return 1
  }
  dpkg-deb --fsys-tarfile "$dir"/download/qemu-user_*.deb | tar -x -C "$dir/root" ./usr/bin/qemu-i386 || {
    i386_fail "qemu-user $newest has no usr/bin/qemu-i386"
    return 1
  }
  rm -rf "$dir/download"
  version=$(i386_qemu_version "$qemu")
  if [[ -z "$version" ]] || ((version < i386_qemu_floor)); then
    i386_fail "qemu-i386 of qemu-user $newest is older than $i386_qemu_floor (or does not run); Wine needs a newer one"
    return 1
  fi
}

# i386_register QEMU FOR_THIS_RUN: the binfmt_misc entry for i386 ELF
# executables; FOR_THIS_RUN=1 when i386_unregister is to remove it again.
i386_register() {
  if [[ ! -e "$i386_binfmt_dir/register" ]]; then
    echo "windows-test: mounting binfmt_misc on $i386_binfmt_dir (machine-wide)"
    mount -t binfmt_misc binfmt_misc "$i386_binfmt_dir" || {
      i386_fail "binfmt_misc could not be mounted on $i386_binfmt_dir"
      return 1
    }
    [[ $2 == 1 ]] && i386_mounted_here=1
  fi
  # An entry of ours that was disabled is replaced.
  [[ -e "$i386_binfmt_dir/$i386_binfmt_name" ]] && echo -1 > "$i386_binfmt_dir/$i386_binfmt_name"
  local until="until 'echo -1 > $i386_binfmt_dir/$i386_binfmt_name' or a reboot"
  [[ $2 == 1 ]] && until="for this run only"
  echo "windows-test: registering $1 with binfmt_misc for i386 programs (machine-wide, $until)"
  printf ':%s:M::%s:%s:%s:F' "$i386_binfmt_name" "$i386_binfmt_magic" "$i386_binfmt_mask" "$1" \
    > "$i386_binfmt_dir/register" || {
    i386_fail "binfmt_misc refused the qemu-i386 entry"
    return 1
  }
  [[ $2 == 1 ]] && i386_registered_here=1
  return 0
}

# i386_unregister: takes back what a run registered for itself only.
i386_unregister() {
  if [[ $i386_registered_here == 1 && -e "$i386_binfmt_dir/$i386_binfmt_name" ]]; then
    echo -1 > "$i386_binfmt_dir/$i386_binfmt_name" || true
    echo "windows-test: removed the binfmt_misc entry $i386_binfmt_name again"
  fi
  i386_registered_here=0
  # Unmounted when this run mounted it and nothing else was registered since.
  if [[ $i386_mounted_here == 1 ]] &&
    [[ -z "$(find "$i386_binfmt_dir" -mindepth 1 ! -name register ! -name status)" ]]; then
    umount "$i386_binfmt_dir" || true
  fi
  i386_mounted_here=0
}

# i386_ensure DIR MODE: 32-bit programs run, or one line on stderr says why
# not and it fails. DIR holds the probe and qemu. MODE: auto (native when
# the kernel can, else qemu), native, or qemu.
i386_ensure() {
  local dir=$1 mode=$2 probe="$1/i386-probe" entry=""
  case "$mode" in
    auto | native | qemu) ;;
    *) i386_fail "WINDOWS_I386 is auto, native or qemu, not '$mode'"; return 1 ;;
  esac
  mkdir -p "$dir"
  i386_write_probe "$probe"
  [[ -d "$i386_binfmt_dir" ]] && entry=$(i386_binfmt_entry "$probe")
  if [[ -n "$entry" ]]; then
    if [[ $mode == native ]]; then
      i386_fail "native 32-bit was asked for, but i386 programs go through the binfmt_misc entry ${entry% *} here"
      return 1
    fi
    i386_runs "$probe" || {
      i386_fail "i386 programs do not run through the binfmt_misc entry ${entry% *} (${entry#* })"
      return 1
    }
    i386_how="through the binfmt_misc entry ${entry% *} (${entry#* }), registered before this run"
    return 0
  fi
  if [[ $mode != qemu ]] && i386_runs "$probe"; then
    i386_how="natively (the kernel runs 32-bit x86 programs)"
    return 0
  fi
  if [[ $mode == native ]]; then
    i386_fail "native 32-bit was asked for, but this kernel runs no 32-bit x86 programs"
    return 1
  fi
  local native=0
  i386_runs "$probe" && native=1
  [[ $native == 0 ]] && echo "windows-test: this kernel runs no 32-bit x86 programs; using qemu-i386"
  if [[ $(id -u) != 0 ]]; then
    i386_fail "registering qemu-i386 with binfmt_misc for i386 programs needs root"
    return 1
  fi
  i386_fetch_qemu "$dir/qemu" || return 1
  local qemu="$dir/qemu/root/usr/bin/qemu-i386"
  # Asked for on a kernel that runs them itself: the machine gets its own
  # way back at the end of the run.
  i386_register "$qemu" "$native" || return 1
  i386_runs "$probe" || {
    i386_fail "i386 programs do not run even through $qemu"
    return 1
  }
  i386_how="through $("$qemu" --version | head -n 1) (binfmt_misc entry $i386_binfmt_name)"
}
