#!/usr/bin/env bash
# Checks a built Ombrelix.dll without running it:
#   - its export table names exactly the entry points in exports.def;
#   - its import table names only Windows system libraries (the compiler's
#     run-time libraries are linked in);
#   - for the 32-bit library (with --thiscall): the destructor slot and
#     member functions the host calls take the object in ECX and pop their
#     own arguments, as Microsoft's __thiscall does.
# Usage: check_windows_dll.sh DLL OBJDUMP EXPORTS_DEF [--thiscall]
set -euo pipefail
dll=$1
objdump=$2
def=$3
thiscall=${4:-}
nm=${objdump%objdump}nm

dump=$("$objdump" -p "$dll")

expected=$(sed -n '/^EXPORTS/,$p' "$def" | grep -E '^\s+[A-Za-z_]' | tr -d ' \t\r' | sort)
actual=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -E '^\s+\[' | awk '{print $NF}' | sort)
if [ "$expected" != "$actual" ]; then
  echo "FAIL exports of $dll differ from $def"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "exports: $(echo "$actual" | tr '\n' ' ')"

# System libraries of every Windows version the driver runs on.
allowed='^(kernel32|user32|advapi32|ws2_32|winhttp|ole32|oleaut32|msvcrt|version|shell32|crypt32|bcrypt|secur32|ntdll)\.dll$'
imports=$(echo "$dump" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
bad=$(echo "$imports" | grep -Ev "$allowed" || true)
if [ -n "$bad" ]; then
  echo "FAIL $dll imports libraries that are not part of Windows: $bad"
  exit 1
fi
echo "imports: $(echo "$imports" | tr '\n' ' ')"

[ "$thiscall" = "--thiscall" ] || exit 0

# symbol (demangled, exact) and the bytes of arguments its callee pops.
checks=(
  "telvaro::CIPCaptureDriver::ScalarDeletingDestructor(unsigned int)|4"
  "telvaro::CIPCaptureDriver::Open(telvaro::ipcapture::IDebugSink*, telvaro::ipcapture::ISampleAllocator*, telvaro::ipcapture::IDeviceConfig*)|12"
  "telvaro::CIPCaptureDriver::GetVideoCapture()|0"
  "telvaro::CIPVideoCapture::StopChannel(unsigned int)|4"
  "telvaro::CIPVideoCapture::ChangeChannel(unsigned int, telvaro::ipcapture::IImageSize*, unsigned int)|12"
)
symbols=$("$nm" -n -C "$dll" | grep -E '^[0-9a-f]+ [Tt] ')
for check in "${checks[@]}"; do
  name=${check%|*}
  pops=${check##*|}
  # Whole lists are read (no early exit, which would break the pipe), and
  # addresses compare as text: same width, lower-case hexadecimal.
  start=$(echo "$symbols" | awk -v n="$name" '!f {a=$1; $1=""; $2=""; sub(/^  /, ""); if ($0 == n) {print a; f=1}}')
  if [ -z "$start" ]; then
    echo "FAIL $name not found in $dll"
    exit 1
  fi
  end=$(echo "$symbols" | awk -v s="$start" '!f && ("x" $1) > ("x" s) {print $1; f=1}')
  code=$("$objdump" -d --no-show-raw-insn --start-address=0x$start --stop-address=0x$end "$dll")
  rets=$(echo "$code" | grep -E '\sret[l]?\b' | sed -E 's/.*\sretl?\s*//' | sort -u)
  want=$([ "$pops" -eq 0 ] && echo "" || printf '$0x%x' "$pops")
  if [ "$rets" != "$want" ]; then
    echo "FAIL $name: returns with [${rets}], expected [${want}] (callee pops $pops bytes)"
    exit 1
  fi
  if ! echo "$code" | grep -q '%ecx'; then
    echo "FAIL $name never reads ECX, where __thiscall passes the object"
    exit 1
  fi
  echo "thiscall: $name pops $pops bytes, object in ECX"
done
