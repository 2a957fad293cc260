#!/usr/bin/env bash
# The binary interface check: lists the dynamic symbols a built shared library exports and fails
# when one of them is not part of the library's exported classes.
#
#   check-exports.sh LIBRARY...                check the built libraries
#   check-exports.sh --record LIBRARY...       record their interface (cmake/abi/<soname>.symbols)
#   check-exports.sh --list LIBRARY-NAME FILE  check a symbol list (nm -D --defined-only output)
#                                              against the rules of LIBRARY-NAME
#   check-exports.sh --self-test LIBRARY...    show that the rules pass the built libraries and
#                                              catch each planted leak
#
# Rules, per library (chosen by its file name):
#   - a symbol of the library's own namespaces must belong to an exported class or function;
#   - no symbol may name a private helper, wherever it appears (a member of an exported class,
#     a template argument of std:: or boost:: code, the anonymous namespace);
#   - a symbol outside the library's namespaces must be weak (template code and vague-linkage
#     type data of the headers the library uses), never a strong definition;
#   - every exported class and function must be there (an all-hidden build is a failure too);
#   - every name recorded for the library's soname must still be exported (the binary
#     interface only grows within one major version).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Sets own (a regex alternation of the library's namespaces), allowed (exported names; a
# trailing '?' marks a name that may have no out-of-line symbol) and denied (private helpers).
RulesFor() { # library file name
  case "$(basename "$1")" in
    libQorDraxelAssets.so*)
      own='Qor::Draxel::Assets'
      allowed='
        Qor::Draxel::Assets::AssetPath Qor::Draxel::Assets::Volume Qor::Draxel::Assets::AssetVolume
        Qor::Draxel::Assets::FileSystemVolume Qor::Draxel::Assets::ArchiveVolume
        Qor::Draxel::Assets::ArchiveWriter Qor::Draxel::Assets::ArchiveDiagnostics Qor::Draxel::Assets::AssetLibrary
        Qor::Draxel::Assets::AssetWatcher
        Qor::Draxel::Assets::Resource
        Qor::Draxel::Assets::ImageCache Qor::Draxel::Assets::ImageCache::NoImageFoundException
        Qor::Draxel::Assets::DEFAULTFONTFACE'
      # The archive volume's records, reader, transform and stream lifetime; the library's
      # relative view; every class's _state record; the file streams; the writer's and the
      # resources' helpers (the built-in archive's name and key among them: no operation hands
      # them out); the watcher's notifiers and snapshot; the message constants of the checks.
      denied='
        ZipRecord ZipEndOfCentralDirectory ZipCentralDirectoryHeader ZipLocalFileHeader RecordMessages
        ReadStruct Unscramble DecodeFixed16 DecodeFixed32 MemoryLifetime FileInfo Archive::Entry ArraySource
        RelativeVolume LogMount State
        TextFileBuffer TextFileStream IsDirectory OpenFileStream Check
        CentralRecord EncodeFixed16 EncodeFixed32 Crc32
        BuiltInArchive BuiltInArchives BuiltInMask StoredArchiveName StoredArchiveKey Unmask Lower
        BuiltInArchiveName BuiltInArchiveKey
        FALLBACKFONTFACES DEFAULTFONTSETFACES SystemFontDirectory
        WatchNotifier PollingNotifier InotifyNotifier FileSignature SignatureOf WatchedFile Snapshot Named
        ParentOf NameOf MakeChange
        [A-Za-z0-9_]*Message'
      ;;
    libQorDraxelHost.so*)
      own='qorfile|qordebug|Qor::Draxel::Utility'
      allowed='
        qorfile::filepath qorfile::pathcomp? qorfile::diriter qorfile::fileexists qorfile::direxists
        qordebug::logger qordebug::dbgostream qordebug::ensure_failure qordebug::operator<<
        Qor::Draxel::Utility::GetLogger Qor::Draxel::Utility::SetLoggerSource Qor::Draxel::Utility::Exception Qor::Draxel::Utility::Environment
        Qor::Draxel::Utility::EnvironmentFlags'
      # The logger's shared record and line record, the directory walk, the stat helper.
      denied='Shared Line Walk StatPath'
      ;;
    *)
      echo "check-exports: no rules for $1" >&2
      exit 2
      ;;
  esac
}

# The exported symbols of a library, as nm prints them.
ListSymbols() { # library
  nm -D --defined-only "$1"
}

# Checks a symbol list (with or without nm's address column, mangled or not) and reports every
# problem. ASan's ODR indicators (__odr_asan.<mangled name>) count as the variable they stand for.
# With a third argument, the library's own exported names are written there (unsorted).
CheckList() { # library name, list file[, interface file]
  RulesFor "$1"
  sed -e 's/ __odr_asan\./ /' "$2" | c++filt |
  awk -v library="$(basename "$1")" -v own="$own" -v allowed="$allowed" -v denied="$denied" \
      -v interface="${3:-/dev/null}" '
    BEGIN {
      names = split(allowed, allow, /[ \n]+/)
      count = 0
      for (i = 1; i <= names; i++) {
        if (allow[i] == "") continue
        count++
        name = allow[i]
        optional[count] = (name ~ /\?$/)
        sub(/\?$/, "", name)
        exported[count] = name
        seen[count] = 0
      }
      names = count
      split(denied, deny, /[ \n]+/)
      helpers = 0
      for (i in deny)
        if (deny[i] != "") helper[++helpers] = deny[i]
      ownPattern = "^(" own ")::[A-Za-z0-9_:~]*"
      special = "^(vtable for |typeinfo for |typeinfo name for |VTT for |construction vtable for |" \
                "guard variable for |non-virtual thunk to |virtual thunk to |covariant return thunk to |" \
                "TLS init function for |TLS wrapper function for )"
      problems = 0; total = 0; ours = 0
    }
    function Report(text) { print "check-exports: " library ": " text; problems++ }
    function Denied(name,    i) {
      if (index(name, "(anonymous namespace)")) return "(anonymous namespace)"
      for (i = 1; i <= helpers; i++)
        if (match(name, "(^|[^A-Za-z0-9_])" helper[i] "([^A-Za-z0-9_]|$)")) return helper[i]
      return ""
    }
    {
      if ($1 ~ /^[0-9a-fA-F]+$/ && length($1) > 1) { type = $2; first = 3 } else { type = $1; first = 2 }
      symbol = $first
      for (i = first + 1; i <= NF; i++) symbol = symbol " " $i
      if (symbol == "" || symbol ~ /^(_edata|_end|__bss_start|_init|_fini)$/) next
      total++
      name = symbol
      while (match(name, special)) name = substr(name, RLENGTH + 1)

      helperName = Denied(name)
      if (helperName != "") { Report("private helper " helperName " exported: " type " " symbol); next }

      # A name of our namespaces followed by a blank, * or & is the return type of a template
      # function of someone else (e.g. "qorfile::filepath* std::__do_uninit_copy<...>").
      mine = 0
      if (match(name, ownPattern)) {
        chain = substr(name, 1, RLENGTH)
        after = substr(name, RLENGTH + 1, 1)
        mine = !(after ~ /^[ *&]$/ && chain !~ /::operator$/)
      }
      if (!mine) {
        if (type !~ /^[WVuwv]$/) Report("strong symbol outside the exported classes: " type " " symbol)
        next
      }
      ours++
      found = 0
      for (i = 1; i <= names; i++) {
        prefix = exported[i]
        if (substr(name, 1, length(prefix)) != prefix) continue
        after = substr(name, length(prefix) + 1, 1)
        if (after == "" || after == ":" || after == "(" || after == "[" || after == "<" || after == " ") {
          seen[i]++; found = 1
        }
      }
      if (!found) Report("not part of an exported class: " type " " symbol)
      else print symbol > interface
    }
    END {
      for (i = 1; i <= names; i++)
        if (!seen[i] && !optional[i]) Report("exported name missing: " exported[i])
      if (problems) exit 1
      print "check-exports: " library ": " total " exported symbols, " ours " of the library itself, all in its exported classes"
    }' 
}

# The recorded interface of a soname: cmake/abi/<soname>.symbols, one exported name a line.
InterfaceFile() { # library
  local soname
  soname=$(readelf -d "$1" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [ -n "$soname" ] || { echo "check-exports: $1 has no soname" >&2; exit 2; }
  echo "$here/abi/$soname.symbols"
}

# A library keeps every name recorded for its soname: one that is gone breaks the programs
# linked against the soname (raise the major number in VERSION instead). New names are listed.
CheckInterface() { # library, recorded interface file, its current names (sorted)
  local recorded=$2 removed added
  if [ ! -f "$recorded" ]; then
    echo "check-exports: $(basename "$1"): no recorded interface $recorded (record it with --record)"
    return 1
  fi
  removed=$(comm -23 <(grep -v '^#' "$recorded" | LC_ALL=C sort -u) "$3")
  added=$(comm -13 <(grep -v '^#' "$recorded" | LC_ALL=C sort -u) "$3")
  if [ -n "$added" ]; then
    echo "check-exports: $(basename "$1"): new in the interface (record them with --record):"
    echo "$added" | sed 's/^/  + /'
  fi
  if [ -n "$removed" ]; then
    echo "check-exports: $(basename "$1"): gone from the interface of $(basename "$recorded" .symbols):"
    echo "$removed" | sed 's/^/  - /'
    return 1
  fi
  return 0
}

CheckLibraries() { # mode (check or record), libraries...
  local mode=$1 status=0 dir
  shift
  dir=$(mktemp -d)
  for library in "$@"; do
    ListSymbols "$library" >"$dir/list"
    CheckList "$library" "$dir/list" "$dir/names" || { status=1; continue; }
    LC_ALL=C sort -u "$dir/names" >"$dir/interface"
    if [ "$mode" = record ]; then
      mkdir -p "$here/abi"
      { echo "# The exported names of $(basename "$(InterfaceFile "$library")" .symbols), recorded by check-exports.sh --record."
        cat "$dir/interface"; } >"$(InterfaceFile "$library")"
      echo "check-exports: recorded $(InterfaceFile "$library")"
    else
      CheckInterface "$library" "$(InterfaceFile "$library")" "$dir/interface" || status=1
    fi
  done
  rm -rf "$dir"
  return $status
}

# Leaks that must be caught, as nm would print them; each is planted alone into a clean list.
PlantedLeaks() { # library file name
  case "$(basename "$1")" in
    libQorDraxelAssets.so*)
      cat <<'EOF'
W void Qor::Draxel::Assets::ReadStruct<Qor::Draxel::Assets::ZipLocalFileHeader>(std::istream&, Qor::Draxel::Assets::ZipLocalFileHeader&, std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)
W void Qor::Draxel::Assets::Unscramble<char>(char*, unsigned long, unsigned int, std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)
V typeinfo for Qor::Draxel::Assets::ZipRecord<46ul, 33639248u>
T Qor::Draxel::Assets::ZipCentralDirectoryHeader::Valid() const
T Qor::Draxel::Assets::MemoryLifetime::operator()(std::istream*) const
V vtable for Qor::Draxel::Assets::RelativeVolume
T Qor::Draxel::Assets::ArchiveVolume::State::~State()
W std::default_delete<Qor::Draxel::Assets::AssetLibrary::State>::operator()(Qor::Draxel::Assets::AssetLibrary::State*) const
V vtable for std::_Sp_counted_ptr_inplace<Qor::Draxel::Assets::ArchiveWriter::State, std::allocator<void>, (__gnu_cxx::_Lock_policy)2>
V typeinfo for Qor::Draxel::Assets::TextFileBuffer
0000000000001234 T _ZN3Qor6Draxel6Assets14OpenFileStreamEPKcSt13_Ios_Openmode
0000000000001234 B __odr_asan._ZN3Qor6Draxel6Assets12_GLOBAL__N_116KeyTrailerLengthE
T Qor::Draxel::Assets::SplitComponents(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)
T ParseCentralDirectory(std::istream&)
T Qor::Draxel::Assets::Resource::BuiltInArchiveKey[abi:cxx11]()
V vtable for Qor::Draxel::Assets::WatchNotifier
W std::vector<Qor::Draxel::Assets::Archive::Entry, std::allocator<Qor::Draxel::Assets::Archive::Entry> >::~vector()
T Qor::Draxel::Assets::AssetWatcher::State::Rescan(std::set<Qor::Draxel::Assets::AssetPath, std::less<Qor::Draxel::Assets::AssetPath>, std::allocator<Qor::Draxel::Assets::AssetPath> > const&, std::vector<Qor::Draxel::Assets::AssetWatcher::Change, std::allocator<Qor::Draxel::Assets::AssetWatcher::Change> >&)
EOF
      ;;
    libQorDraxelHost.so*)
      cat <<'EOF'
V vtable for std::_Sp_counted_ptr_inplace<qorfile::diriter::Walk, std::allocator<void>, (__gnu_cxx::_Lock_policy)2>
T qordebug::dbgostream::Line::~Line()
W qordebug::logger::Shared::Shared()
T qorfile::(anonymous namespace)::StatPath(qorfile::filepath const&, stat&)
T qordebug::FormatLine(qordebug::level, std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)
EOF
      ;;
  esac
}

SelfTest() { # libraries...
  local status=0 dir
  dir=$(mktemp -d)
  for library in "$@"; do
    ListSymbols "$library" >"$dir/clean"
    if ! CheckList "$library" "$dir/clean" >"$dir/out"; then
      cat "$dir/out"; echo "self-test: the clean list of $library fails"; status=1
    fi
    while IFS= read -r leak; do
      { cat "$dir/clean"; echo "$leak"; } >"$dir/planted"
      if CheckList "$library" "$dir/planted" >"$dir/out"; then
        echo "self-test: MISSED $leak"; status=1
      else
        echo "self-test: caught  $(head -n 1 "$dir/out")"
      fi
    done < <(PlantedLeaks "$library")
    # A name gone from the recorded interface (here: the first one) is a break.
    CheckList "$library" "$dir/clean" "$dir/names" >/dev/null
    LC_ALL=C sort -u "$dir/names" | tail -n +2 >"$dir/interface"
    if CheckInterface "$library" "$(InterfaceFile "$library")" "$dir/interface" >"$dir/out"; then
      echo "self-test: MISSED a name gone from the interface of $library"; status=1
    else
      echo "self-test: caught  $(grep '^  - ' "$dir/out" | head -n 1)"
    fi
    # A class hidden by mistake (mangled names: AssetLibrary, diriter) leaves a gap.
    grep -v '12AssetLibrary\|7diriter' "$dir/clean" >"$dir/planted" || true
    if CheckList "$library" "$dir/planted" >"$dir/out"; then
      echo "self-test: MISSED a class without symbols in $library"; status=1
    else
      echo "self-test: caught  $(head -n 1 "$dir/out")"
    fi
  done
  rm -rf "$dir"
  [ $status -eq 0 ] && echo "self-test: every planted leak was caught"
  return $status
}

case "${1:-}" in
  --list)
    [ $# -eq 3 ] || { echo "usage: check-exports.sh --list LIBRARY-NAME FILE" >&2; exit 2; }
    CheckList "$2" "$3"
    ;;
  --self-test)
    shift
    SelfTest "$@"
    ;;
  --record)
    shift
    CheckLibraries record "$@"
    ;;
  "" | -*)
    echo "usage: check-exports.sh LIBRARY... | --record LIBRARY... | --list LIBRARY-NAME FILE | --self-test LIBRARY..." >&2
    exit 2
    ;;
  *)
    CheckLibraries check "$@"
    ;;
esac
