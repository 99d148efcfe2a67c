# Sourced by scripts/wine_stage.sh (after scripts/env.sh): makes the Wine prefix
# show Chinese text with an installed CJK font. "宋体"/SimSun and the fonts
# the default GUI font falls back to are replaced by WenQuanYi Zen Hei
# (fonts-wqy-zenhei), with grey-scale font smoothing on. Idempotent: a marker file in the prefix records it.
#
#   source scripts/wine_fonts.sh && wine_cjk_fonts

wine_cjk_fonts() {
  local marker="$WINEPREFIX/.cjk-fonts-v5"
  [ -f "$marker" ] && return 0
  local reg
  reg="$(mktemp --suffix=.reg)"
  # regedit reads UTF-16 files, which keeps the Chinese value names intact
  # whatever the locale of this shell.
  python3 - "$reg" <<'PY'
import sys
font = "WenQuanYi Zen Hei Sharp"
names = ["SimSun", "NSimSun", "宋体", "新宋体", "SimHei", "黑体", "Microsoft YaHei", "微软雅黑",
         # The default GUI font and dialogs: Wine's Tahoma has no Chinese and
         # draws poorly at 8 points without smoothing.
         "MS Shell Dlg", "MS Shell Dlg 2", "Tahoma"]
lines = ["Windows Registry Editor Version 5.00", "",
         r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]"]
lines += ['"%s"="%s"' % (n, font) for n in names]
lines += ["", r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]"]
lines += ['"%s"="%s"' % (n, font) for n in names]
# The default GUI font (Tahoma here) falls back to the CJK font for Chinese.
link = "hex(7):" + ",".join("%02x,%02x" % (b & 0xFF, b >> 8)
                            for b in map(ord, "wqy-zenhei.ttc,WenQuanYi Zen Hei Sharp\0\0"))
lines += ["", r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]"]
lines += ['"%s"=%s' % (n, link) for n in ["Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif"]]
# Grey-scale smoothing: small CJK glyphs drawn in black and white lose strokes.
lines += ["", r"[HKEY_CURRENT_USER\Control Panel\Desktop]",
          '"FontSmoothing"="2"', '"FontSmoothingType"=dword:00000001',
          '"FontSmoothingGamma"=dword:00000578', '"FontSmoothingOrientation"=dword:00000001']
# 108 dpi makes the default GUI font 12 pixels high, the smallest size at
# which the CJK font has hand-made bitmaps (its 11-pixel outlines break up
# without smoothing, which the font's own table switches off at that size).
# Window and component sizes are in pixels and do not change with it.
lines += ['"LogPixels"=dword:0000006c',
          "", r"[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts]",
          '"LogPixels"=dword:0000006c']
open(sys.argv[1], "wb").write(("\r\n".join(lines) + "\r\n").encode("utf-16"))
PY
  timeout 120 wine regedit /S "$(winepath -w "$reg" 2>/dev/null || echo "$reg")" >/dev/null 2>&1
  local rc=$?
  rm -f "$reg"
  timeout 60 wineserver -w 2>/dev/null || true
  [ $rc -eq 0 ] && touch "$marker"
  return $rc
}
