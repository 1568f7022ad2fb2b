#!/usr/bin/env bash
# Projects in the users' languages, end to end. A German project (code page
# 1252) and a Japanese one (932) are written in UTF-8, with version folders
# whose file names are UTF-8 too; updpack writes every text and name in the
# project's code page, inspect reads them back as written, verify proves
# the installer natively, and the x86_64 installer, run under wine64 in the
# matching locale, updates an installation whose files were created from
# Linux under those names. The German walk leaves its pages in
# build/artifacts/codepage-de-*.png; its own layouts (a UTF-8 .rc) show their
# captions as written.
# usage: codepage_run.sh DIST_DIR WIZARD_WALK   (WINEPREFIX set, wineserver running)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
DIST="$(cd "$1" && pwd)"
WALK="$2"
ARTIFACTS="$(cd "$(dirname "$0")/../.." && pwd)/build/artifacts"
WINE64=/usr/lib/wine/wine64
winpath() { echo "Z:${1//\//\\}"; }

# The wizard walked by a user of that locale; its output (ANSI, in the
# locale's code page) converted to UTF-8 in $T/walk.log.
walk() {  # LOCALE CODEPAGE INSTALLER FOLDER NAME
  local rc=0
  LANG="$1" LC_ALL="$1" timeout 600 "$WINE64" "$WALK" "$(winpath "$3")" "$(winpath "$4")" "$5" \
    > "$T/walk.raw" 2>&1 </dev/null || rc=$?
  tr -d '\r' < "$T/walk.raw" | iconv -f "CP$2" -t UTF-8 > "$T/walk.log" || true
  sed 's/^/     | /' "$T/walk.log" >&2
  echo "$rc"
}

# Appends KEY = VALUE lines under [texts] and sets installer keys.
project() {  # DIR CODEPAGE INSTALLER-LINES TEXT-LINES
  "$DIST/updpack" init "$1" --codepage "$2" >/dev/null
  local p="$1/project.toml"
  python3 - "$p" "$3" "$4" <<'PY'
import sys
path, installer, texts = sys.argv[1:]
s = open(path, encoding="utf-8").read()
s = s.replace("[installer]\n", "[installer]\n" + installer + "\n", 1)
s = s.replace("\n[update]\n", "\n[texts]\n" + texts + "\n\n[update]\n", 1)
open(path, "w", encoding="utf-8").write(s)
PY
}

# --- German: code page 1252 --------------------------------------------------
D="$T/de"
project "$D" 1252 \
  $'destination = "C:\\\\Büro"\ntitle = "Büro 2.0"\nstub = "'"$DIST"'/updstub-x86_64.exe"' \
  $'caption = "Büro-Update"\nwelcome_title = "Willkommen zum Büro-Update 2.0"\nbutton_back = "< Zurück"\nbutton_next = "Weiter >"\nbutton_update = "Aktualisieren"\nfinish_title = "Die Büro-Dateien sind auf dem Stand von 2.0."'
# Its own layouts, edited in UTF-8: the Browse button says something German.
sed -i 's/"B&rowse..."/"Ordner w\&ählen…"/' "$D/templates.rc"
sed -i 's/^templates = "templates.res"/templates = "templates.rc"/' "$D/project.toml"
mkdir -p "$D/versions/1.0/Übersicht" "$D/versions/2.0/Übersicht"
printf 'Büro, Version 1.0\n' > "$D/versions/1.0/Büro.txt"
printf 'Büro, Version 2.0: größer\n' > "$D/versions/2.0/Büro.txt"
printf 'Plan 1.0\n' > "$D/versions/1.0/Übersicht/Plan.txt"
printf 'Plan 2.0\n' > "$D/versions/2.0/Übersicht/Plan.txt"
printf 'neu im März\n' > "$D/versions/2.0/Übersicht/März – Änderungen.txt"
rc=0; "$DIST/updpack" build "$D/project.toml" > "$T/build.txt" 2>&1 || { rc=$?; cat "$T/build.txt" >&2; }
check "de: the project builds" 0 "$rc"
"$DIST/updpack" inspect "$D/setup.exe" > "$T/inspect.txt"
check "de: inspect names the code page" 1 "$(grep -c '^  code page         1252$' "$T/inspect.txt")"
check "de: caption reads back" 1 "$(grep -c '^    6.0    "Büro-Update"$' "$T/inspect.txt")"
check "de: title and destination read back" 2 \
  "$(grep -cE '^  (title             "Büro 2.0"|destination       "C:\\\\Büro")$' "$T/inspect.txt")"
check "de: file names read back" 3 \
  "$(grep -cE '^  "(Büro.txt|Übersicht\\\\Plan.txt|Übersicht\\\\März – Änderungen.txt)"$' "$T/inspect.txt")"
check "de: the title is code page 1252 in the package" 1 \
  "$(python3 -c 'import sys; print(int(b"B\xfcro 2.0\0" in open(sys.argv[1], "rb").read()))' "$D/setup.exe")"
rc=0; "$DIST/updpack" verify "$D/setup.exe" --old "$D/versions/1.0" --new "$D/versions/2.0" > "$T/verify.txt" || rc=$?
check "de: verify proves it natively" 0 "$rc"

# What code page 1252 cannot hold is refused, naming where it stands: a
# file name with its version folder, a text with its file, line and key.
B="$T/de-refused"
cp -r "$D" "$B"
printf 'x\n' > "$B/versions/2.0/Übersicht/日本.txt"
rc=0; "$DIST/updpack" build "$B/project.toml" > "$T/refused.txt" 2>&1 || rc=$?
check "de: a name outside the code page is refused" "1 1" "$rc $(grep -c \
  'versions/2.0: Übersicht.日本.txt: the installer cannot write this name: code page 1252 has no "日" (U+65E5)$' \
  "$T/refused.txt")"
rm "$B/versions/2.0/Übersicht/日本.txt"
sed -i 's/^finish_title = .*/finish_title = "Fertig: 日本"/' "$B/project.toml"
line="$(grep -n '^finish_title = ' "$B/project.toml" | cut -d: -f1)"
rc=0; "$DIST/updpack" build "$B/project.toml" > "$T/refused.txt" 2>&1 || rc=$?
check "de: a text outside the code page is refused at its line" "1 1" "$rc $(grep -c \
  "project.toml:$line: texts.finish_title: code page 1252 has no \"日\" (U+65E5)" "$T/refused.txt")"

inst="$T/Büro-Installation"
cp -r "$D/versions/1.0" "$inst"
check "de: the wizard runs to its end" 0 "$(walk de_DE.UTF-8 1252 "$D/setup.exe" "$inst" "$ARTIFACTS/codepage-de")"
check "de: pages carry the German caption" 1 "$(grep -m1 -c '^page: welcome  \[Büro-Update' "$T/walk.log")"
check "de: the layouts' own caption on screen" "browse button: Ordner w&ählen…" "$(grep '^browse button:' "$T/walk.log")"
check "de: button texts on screen" "back button: < Zurück" "$(grep '^back button:' "$T/walk.log")"
check "de: the finish page says so" 1 "$(grep -c 'Die Büro-Dateien sind auf dem Stand von 2.0.' "$T/walk.log")"
check "de: the installation is now 2.0" "" "$(diff -r "$inst" "$D/versions/2.0" 2>&1 | head -3)"

# --- Japanese: code page 932 -------------------------------------------------
# Several names hold characters whose second byte is 0x5C, the backslash:
# 表 (95 5C) and ソ (83 5C); 一覧表\ ends a folder with such a byte.
J="$T/ja"
project "$J" 932 \
  $'destination = "C:\\\\表示ソフト"\nstub = "'"$DIST"'/updstub-x86_64.exe"' \
  $'caption = "表示ソフトの更新"\nwelcome_title = "表示ソフト 2.0 への更新"\nfinish_title = "更新が終わりました。"'
mkdir -p "$J/versions/1.0/一覧表" "$J/versions/2.0/一覧表" "$J/versions/2.0/新しい表"
printf 'データ 1.0\n' > "$J/versions/1.0/データ.txt"
printf 'データ 2.0 です\n' > "$J/versions/2.0/データ.txt"
printf '予定 1.0\n' > "$J/versions/1.0/一覧表/予定表.txt"
printf '予定 2.0\n' > "$J/versions/2.0/一覧表/予定表.txt"
printf '新しいファイル\n' > "$J/versions/2.0/新しい表/ソース.txt"
# The earlier installation recorded its folder in the registry, under a
# key and value named in Japanese.
cat >> "$J/project.toml" <<'TOML'

[installer.registry]
root = "HKCU"
key = "Software\\表示ソフト"
value = "フォルダ"
TOML
rc=0; "$DIST/updpack" build "$J/project.toml" > "$T/build.txt" 2>&1 || { rc=$?; cat "$T/build.txt" >&2; }
check "ja: the project builds" 0 "$rc"
"$DIST/updpack" inspect "$J/setup.exe" > "$T/inspect.txt"
check "ja: inspect names the code page" 1 "$(grep -c '^  code page         932$' "$T/inspect.txt")"
check "ja: texts read back" 2 "$(grep -cE '^    (6.0    "表示ソフトの更新"|0.1    "表示ソフト 2.0 への更新")$' "$T/inspect.txt")"
check "ja: file names read back" 3 \
  "$(grep -cE '^  "(データ.txt|一覧表\\\\予定表.txt|新しい表\\\\ソース.txt)"$' "$T/inspect.txt")"
rc=0; "$DIST/updpack" verify "$J/setup.exe" --old "$J/versions/1.0" --new "$J/versions/2.0" > "$T/verify.txt" || rc=$?
check "ja: verify proves it natively" 0 "$rc"

inst="$T/インストール表"
cp -r "$J/versions/1.0" "$inst"
# It recorded a folder since removed, below the installation and spelled in
# other case: the installer proposes the folder that is there, as the file
# system spells it, though 表 (95 5C) ends it.
recorded="$(winpath "$inst")"
recorded="${recorded^^}\\古い版"
LANG=ja_JP.UTF-8 "$WINE64" reg add 'HKCU\Software\表示ソフト' /v 'フォルダ' /d "$recorded" /f >/dev/null 2>&1 </dev/null
check "ja: the wizard runs to its end" 0 "$(walk ja_JP.UTF-8 932 "$J/setup.exe" "$inst" "$ARTIFACTS/codepage-ja")"
LANG=ja_JP.UTF-8 "$WINE64" reg delete 'HKCU\Software\表示ソフト' /f >/dev/null 2>&1 </dev/null || true
check "ja: the recorded folder, cut to what is there and respelled" "proposed folder: $(winpath "$inst")" \
  "$(grep '^proposed folder:' "$T/walk.log")"
check "ja: pages carry the Japanese caption" 1 "$(grep -m1 -c '^page: welcome  \[表示ソフトの更新' "$T/walk.log")"
check "ja: the finish page says so" 1 "$(grep -c '更新が終わりました。' "$T/walk.log")"
check "ja: the installation is now 2.0" "" "$(diff -r "$inst" "$J/versions/2.0" 2>&1 | head -3)"
finish
