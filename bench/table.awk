# Turns bench/run.sh's raw runs (size, case, wall us, peak RSS KiB, bytes
# read, bytes written, CPU s; tab-separated) into the markdown tables.
# Variables: sizes (the --sizes list, in order), have_ffmpeg (0 or 1).
# Portable awk (no gawk extensions).

# Median of the runs' wall times (what = "wall") or CPU times ("cpu").
function median(key, what,    n, i, j, v, t) {
  n = count[key]
  for (i = 1; i <= n; i++) v[i] = what == "cpu" ? cpu[key, i] : wall[key, i]
  for (i = 2; i <= n; i++) {
    t = v[i]
    for (j = i - 1; j >= 1 && v[j] > t; j--) v[j + 1] = v[j]
    v[j + 1] = t
  }
  if (n % 2) return v[(n + 1) / 2]
  return (v[n / 2] + v[n / 2 + 1]) / 2
}

function mib(b) { return sprintf("%.1f", b / 1048576) }
function secs(us) { return sprintf("%.3f", us / 1e6) }
function ratio(a, b) { return b > 0 ? sprintf("%.2f", a / b) : "n/a" }
function has(s, c) { return ((s, c) in count) }
function med(s, c) { return has(s, c) ? median(s SUBSEP c, "wall") : 0 }
function medcpu(s, c) { return has(s, c) ? median(s SUBSEP c, "cpu") : 0 }
function verdict(ok) { return ok ? "met" : "**not met**" }

{
  key = $1 SUBSEP $2
  count[key]++
  wall[key, count[key]] = $3
  cpu[key, count[key]] = $7
  if (!(key in lo) || $3 < lo[key]) lo[key] = $3
  if (!(key in hi) || $3 > hi[key]) hi[key] = $3
  if ($4 > rss[key]) rss[key] = $4
  rd[key] = $5
  wr[key] = $6
}

END {
  nsizes = split(sizes, size, ",")
  ncases = split("convert record-4k record-group cp-in cp-file-out cp-live-out ffmpeg", kase, " ")
  label["convert"] = "file road: `kestrum convert`"
  label["record-4k"] = "live road: `kestrum record`, 4 KiB pieces"
  label["record-group"] = "live road: `kestrum record`, whole-group pieces"
  label["cp-in"] = "`cp` of the input"
  label["cp-file-out"] = "`cp` of the file road's output"
  label["cp-live-out"] = "`cp` of the live road's output"
  label["ffmpeg"] = "`ffmpeg -i F.asf -map 0 -c copy -f asf COPY.asf` (file road's output)"
  ours["convert"] = ours["record-4k"] = ours["record-group"] = 1

  print "| Stream | Case | Read MiB | Written MiB | Wall s (median) | min-max s | MB/s | CPU s | Peak RSS MiB |"
  print "|---|---|---:|---:|---:|---:|---:|---:|---:|"
  for (i = 1; i <= nsizes; i++) {
    s = size[i]
    for (j = 1; j <= ncases; j++) {
      c = kase[j]
      if (!has(s, c)) continue
      k = s SUBSEP c
      m = median(k, "wall")
      printf "| %s | %s | %s | %s | %s | %s-%s | %.0f | %.2f | %.1f |\n", s, label[c], mib(rd[k]),
             mib(wr[k]), secs(m), secs(lo[k]), secs(hi[k]), rd[k] / m, median(k, "cpu"), rss[k] / 1024
      if (ours[c] && rss[k] > peak) peak = rss[k]
    }
  }

  print ""
  print "Ratios of median wall times (targets in brackets):"
  print ""
  print "| Stream | file road / cp of its output [<= 1.5] | ffmpeg / file road [>= 2] | live 4 KiB / file road [<= 1.2] | live groups / file road | live 4 KiB / cp of its output | live 4 KiB / live groups |"
  print "|---|---:|---:|---:|---:|---:|---:|"
  ok_cp = ok_ff = ok_live = 1
  for (i = 1; i <= nsizes; i++) {
    s = size[i]
    conv = med(s, "convert")
    r_cp = conv / med(s, "cp-file-out")
    r_ff = has(s, "ffmpeg") ? med(s, "ffmpeg") / conv : 0
    r_live = med(s, "record-4k") / conv
    if (r_cp > 1.5) ok_cp = 0
    if (!has(s, "ffmpeg") || r_ff < 2) ok_ff = 0
    if (r_live > 1.2) ok_live = 0
    printf "| %s | %.2f | %s | %.2f | %s | %s | %s |\n", s, r_cp,
           has(s, "ffmpeg") ? sprintf("%.2f", r_ff) : "n/a", r_live,
           ratio(med(s, "record-group"), conv), ratio(med(s, "record-4k"), med(s, "cp-live-out")),
           ratio(med(s, "record-4k"), med(s, "record-group"))
  }

  print ""
  print "The same ratios in CPU time (user + system), less disturbed by other load:"
  print ""
  print "| Stream | file road / cp of its output | ffmpeg / file road | live 4 KiB / file road | live groups / file road | live 4 KiB / cp of its output |"
  print "|---|---:|---:|---:|---:|---:|"
  for (i = 1; i <= nsizes; i++) {
    s = size[i]
    conv = medcpu(s, "convert")
    printf "| %s | %s | %s | %s | %s | %s |\n", s, ratio(conv, medcpu(s, "cp-file-out")),
           has(s, "ffmpeg") ? ratio(medcpu(s, "ffmpeg"), conv) : "n/a",
           ratio(medcpu(s, "record-4k"), conv), ratio(medcpu(s, "record-group"), conv),
           ratio(medcpu(s, "record-4k"), medcpu(s, "cp-live-out"))
  }

  ok_linear = 1
  if (nsizes >= 2) {
    a = size[1]
    b = size[nsizes]
    print ""
    printf "Scaling, %s against %s: wall-time ratio over the ratio of bytes read (1.00 = linear):\n", b, a
    print ""
    print "| Case | wall ratio | bytes ratio | per byte |"
    print "|---|---:|---:|---:|"
    for (j = 1; j <= ncases; j++) {
      c = kase[j]
      if (!has(a, c) || !has(b, c)) continue
      w = med(b, c) / med(a, c)
      n = rd[b SUBSEP c] / rd[a SUBSEP c]
      printf "| %s | %.2f | %.2f | %.2f |\n", label[c], w, n, w / n
      # Within a quarter of linear: small runs carry fixed start-up costs.
      if (ours[c] && (w / n > 1.25)) ok_linear = 0
    }
  }

  print ""
  print "Targets:"
  print ""
  printf "- file road within 1.5x of cp's wall time for the same output bytes: %s\n", verdict(ok_cp)
  printf "- file road at least 2x ffmpeg's remux throughput: %s\n", verdict(ok_ff)
  printf "- live road with 4 KiB pieces within 1.2x of the file road: %s\n", verdict(ok_live)
  printf "- peak RSS under 16 MiB (largest of our runs: %.1f MiB): %s\n", peak / 1024,
         verdict(peak < 16384)
  if (nsizes >= 2) printf "- time linear in the input size (per-byte ratio <= 1.25): %s\n", verdict(ok_linear)
}
