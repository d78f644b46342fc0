# Turns bench/run.sh's raw runs (size, case, wall us, peak RSS KiB, bytes
# read, bytes written, CPU s; tab-separated) into the markdown tables.
# Variables: sizes (the streams, in order: SIZE for the mix, SIZE-1blk for
# one video block per group, SIZE-255blk for the largest groups, then
# pieces-normal and pieces-junk, the streams of the 1-byte pieces),
# have_ffmpeg (0 or 1).
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
function val(s, c, m) {
  if (!has(s, c)) return 0
  if (m == "best") return lo[s SUBSEP c]
  return median(s SUBSEP c, m == "cpu" ? "cpu" : "wall")
}
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
  ncases = split("convert convert-before record-4k record-4k-nosync record-4k-before record-group record-1b record-1b-before cp-in cp-file-out cp-live-out cat-file-out ffmpeg repair source source-before", kase, " ")
  label["convert"] = "file road: `kestrum convert`"
  label["convert-before"] = "file road, before"
  label["record-4k-before"] = "live road, 4 KiB pieces, before"
  label["cat-file-out"] = "`cat` of the file road's output"
  label["record-4k"] = "live road: `kestrum record`, 4 KiB pieces"
  label["record-4k-nosync"] = "live road, 4 KiB pieces, `--sync-interval 0` (no syncing)"
  label["record-group"] = "live road: `kestrum record`, whole-group pieces"
  label["record-1b"] = "live road: `kestrum record`, 1-byte pieces"
  label["record-1b-before"] = "live road, 1-byte pieces, before"
  label["cp-in"] = "`cp` of the input"
  label["cp-file-out"] = "`cp` of the file road's output"
  label["cp-live-out"] = "`cp` of the live road's output"
  label["ffmpeg"] = "`ffmpeg -i F.asf -map 0 -c copy -f asf COPY.asf` (file road's output)"
  label["repair"] = "`kestrum repair --check` of the file road's output cut short (Read: the file's size; it reads the packets' heads)"
  label["source"] = "packet source alone: `bench/packet_walk.c`"
  label["source-before"] = "packet source alone, before"
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

  # Ratios in three measures: the median wall time (what the targets are
  # about), the best wall time (the least disturbed run) and the median CPU
  # time (user + system).
  nm = split("median best cpu", measure, " ")
  mname["median"] = "median wall"
  mname["best"] = "best wall"
  mname["cpu"] = "median CPU"
  print ""
  print "Ratios (targets in brackets; the targets are judged on the median wall time):"
  print ""
  print "| Stream | measure | file road / cp of its output [<= 1.05] | live 4 KiB / cp of its output [<= 1.1] | file road / cat of its output | live 4 KiB / file road [<= 1.2] | ffmpeg / file road [>= 2] | file road after / before | live 4 KiB after / before | live 4 KiB synced / not [<= 1.05] |"
  print "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"
  ok_cp = ok_live_cp = ok_ff = ok_live = 1
  for (i = 1; i <= nsizes; i++) {
    s = size[i]
    if (!has(s, "convert")) continue  # the largest groups: the packet source only
    for (q = 1; q <= nm; q++) {
      m = measure[q]
      conv = val(s, "convert", m)
      r_cp = conv / val(s, "cp-file-out", m)
      r_live_cp = val(s, "record-4k", m) / val(s, "cp-live-out", m)
      r_ff = has(s, "ffmpeg") ? val(s, "ffmpeg", m) / conv : 0
      r_live = val(s, "record-4k", m) / conv
      if (m == "median") {
        if (r_cp > 1.05) ok_cp = 0
        if (r_live_cp > 1.1) ok_live_cp = 0
        if (!has(s, "ffmpeg") || r_ff < 2) ok_ff = 0
        if (r_live > 1.2) ok_live = 0
      }
      printf "| %s | %s | %.2f | %.2f | %s | %.2f | %s | %s | %s | %s |\n", s, mname[m], r_cp, r_live_cp,
             ratio(conv, val(s, "cat-file-out", m)), r_live,
             has(s, "ffmpeg") ? sprintf("%.2f", r_ff) : "n/a",
             ratio(conv, val(s, "convert-before", m)),
             ratio(val(s, "record-4k", m), val(s, "record-4k-before", m)),
             ratio(val(s, "record-4k", m), val(s, "record-4k-nosync", m))
    }
  }

  # The packet source's cost per byte on the largest groups against one
  # block per group, streams of the same size.
  ok_source = 1
  for (i = 1; i <= nsizes; i++) {
    s = size[i]
    if (s !~ /-255blk$/) continue
    one = s
    sub(/-255blk$/, "-1blk", one)
    if (!has(s, "source") || !has(one, "source")) continue
    if (!source_header) {
      print ""
      print "The packet source alone, per MB read, on the largest groups (255 blocks of 499999"
      print "bytes) and on one video block per group [largest / one block <= 1.2]:"
      print ""
      print "| Streams | measure | largest groups, ms per MB | one block, ms per MB | largest / one block | largest, after / before |"
      print "|---|---|---:|---:|---:|---:|"
      source_header = 1
    }
    for (q = 1; q <= nm; q++) {
      m = measure[q]
      per = m == "cpu" ? 1e9 : 1e3  # to ms per MB: wall times are in us, CPU times in s
      big = val(s, "source", m) / rd[s SUBSEP "source"] * per
      small = val(one, "source", m) / rd[one SUBSEP "source"] * per
      r = small > 0 ? big / small : 0
      if (m == "median" && (small == 0 || r > 1.2)) ok_source = 0
      printf "| %s, %s | %s | %.4f | %.4f | %s | %s |\n", s, one, mname[m], big, small,
             (small > 0 ? sprintf("%.2f", r) : "n/a"),
             ratio(val(s, "source", m), val(s, "source-before", m))
    }
  }

  # 1-byte pieces: tag-filled junk against the default mix of the same size.
  ok_pieces = 1
  if (has("pieces-junk", "record-1b") && has("pieces-normal", "record-1b")) {
    print ""
    print "The live road in 1-byte pieces over tag-filled junk (the header, then 01 00 00 00"
    print "over and over: the reassembly buffer fills to 1,024,000 bytes, is searched after"
    print "every byte, and is emptied) and over the default mix of the same size [junk /"
    print "normal <= 3]:"
    print ""
    print "| measure | junk s | normal s | junk / normal | normal, after / before |"
    print "|---|---:|---:|---:|---:|"
    for (q = 1; q <= nm; q++) {
      m = measure[q]
      junk = val("pieces-junk", "record-1b", m)
      normal = val("pieces-normal", "record-1b", m)
      if (m == "median" && (normal == 0 || junk / normal > 3)) ok_pieces = 0
      per = m == "cpu" ? 1 : 1e6  # wall times are in us, CPU times in s
      printf "| %s | %.3f | %.3f | %s | %s |\n", mname[m], junk / per, normal / per,
             ratio(junk, normal), ratio(normal, val("pieces-normal", "record-1b-before", m))
    }
    pieces_checked = 1
  }

  # Scaling per kind of stream: its first size against its last.
  ok_linear = 1
  for (kk = 1; kk <= 3; kk++) {
    a = b = ""
    for (i = 1; i <= nsizes; i++) {
      if (size[i] ~ /^pieces-/) continue
      kind = size[i] ~ /-1blk$/ ? 2 : size[i] ~ /-255blk$/ ? 3 : 1
      if (kind != kk) continue
      if (a == "") a = size[i]
      b = size[i]
    }
    if (a == "" || a == b) continue
    print ""
    printf "Scaling, %s against %s: the ratio of median times over the ratio of bytes read\n", b, a
    print "(1.00 = linear). Linearity is judged on CPU time: the small runs last a tenth of a"
    print "second, where other load on the machine moves wall time most."
    print ""
    print "| Case | bytes ratio | wall ratio | wall per byte | CPU ratio | CPU per byte |"
    print "|---|---:|---:|---:|---:|---:|"
    for (j = 1; j <= ncases; j++) {
      c = kase[j]
      if (!has(a, c) || !has(b, c)) continue
      n = rd[b SUBSEP c] / rd[a SUBSEP c]
      w = med(b, c) / med(a, c)
      u = val(a, c, "cpu") > 0 ? val(b, c, "cpu") / val(a, c, "cpu") : 0
      printf "| %s | %.2f | %.2f | %.2f | %s | %s |\n", label[c], n, w, w / n,
             (u > 0 ? sprintf("%.2f", u) : "n/a"), (u > 0 ? sprintf("%.2f", u / n) : "n/a")
      # Within a quarter of linear: small runs carry fixed start-up costs.
      if (ours[c] && (u == 0 || u / n > 1.25)) ok_linear = 0
    }
    linear_checked = 1
  }

  print ""
  print "Targets:"
  print ""
  printf "- file road within 1.05x of cp's wall time for the same output bytes: %s\n", verdict(ok_cp)
  printf "- live road with 4 KiB pieces within 1.1x of cp's wall time for its output: %s\n", verdict(ok_live_cp)
  printf "- file road at least 2x ffmpeg's remux throughput: %s\n", verdict(ok_ff)
  printf "- live road with 4 KiB pieces within 1.2x of the file road: %s\n", verdict(ok_live)
  printf "- peak RSS under 16 MiB (largest of our runs: %.1f MiB): %s\n", peak / 1024,
         verdict(peak < 16384)
  if (linear_checked) {
    printf "- time linear in the input size (CPU per byte <= 1.25): %s\n", verdict(ok_linear)
  }
  if (pieces_checked) {
    printf "- the live road in 1-byte pieces over tag-filled junk within 3x of a normal stream: %s\n", verdict(ok_pieces)
  }
  if (source_header) {
    printf "- the packet source's time per byte on the largest groups within 1.2x of one block per group: %s\n", verdict(ok_source)
  }
}
