#!/usr/bin/env python3
# Turns the measurements of one run of scripts/compare_thumbnailers.sh
# (key=value lines) into PERFORMANCE.md, on standard output:
#
#   render_performance.py RESULTS MANIFEST CACHE_SAVE_JSON WORK > PERFORMANCE.md
#
# RESULTS is the run's results.kv, MANIFEST the photo corpus's manifest.txt,
# CACHE_SAVE_JSON the cache-save benchmark's JSON (need not exist) and WORK the
# run's work folder (the thumbnails and profiles it kept; --keep-work keeps it).
import json
import os
import struct
import sys
import zlib

results_path, manifest_path, cache_save_path, work = sys.argv[1:5]
kv = {}
with open(results_path) as results:
    for line in results:
        key, sep, value = line.rstrip("\n").partition("=")
        if sep:
            kv[key] = value


def num(key):
    try:
        return float(kv[key])
    except (KeyError, ValueError):
        return None


photos = []
with open(manifest_path) as manifest:
    for line in manifest:
        f = line.split()
        if len(f) >= 6:
            photos.append({"name": f[0], "width": int(f[1]), "height": int(f[2]),
                           "progressive": f[3] == "1", "role": f[4], "bytes": int(f[5])})
measured = [p for p in photos if p["role"] == "measured"]
previews = [p for p in photos if p["role"] == "preview"]
classes = []
for p in measured:
    label = "%d MP" % round(p["width"] * p["height"] / 1e6)
    p["class"] = label
    if label not in classes:
        classes.append(label)


def status(label):
    return kv.get("status." + label, "ok")


def file_value(label, name, field):
    for key in ("%s.miss.file.%s.%s" % (label, name, field), "%s.file.%s.%s" % (label, name, field)):
        if key in kv:
            return num(key)
    return None


def mean_over(label, field, files):
    values = [file_value(label, p["name"], field) for p in files]
    if not values or any(v is None for v in values):
        return None
    return sum(values) / len(values)


def per_photo(label, field, files=None):
    return mean_over(label, field, measured if files is None else files)


def fmt(value, digits=1):
    if value is None:
        return "n/a"
    return "{:,.{}f}".format(value, digits)


def ratio(a, b):
    if a is None or b is None or b == 0:
        return None
    return a / b


def fmt_ratio(value):
    return "n/a" if value is None else "%.2fx" % value


def unavailable(*labels):
    for label in labels:
        if status(label) != "ok":
            return "%s: %s" % (label, status(label))
    return None


def png_pixels(path):
    """(width, height, rows of RGB bytes) of an 8-bit RGB or RGBA PNG; None otherwise."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return None
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    pos, idat, header = 8, b"", None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
    if header is None or header[2] != 8 or header[3] not in (2, 6) or header[6] != 0:
        return None
    width, height, bpp = header[0], header[1], 3 if header[3] == 2 else 4
    raw, stride, rows, i = zlib.decompress(idat), header[0] * bpp, [], 0
    prev = bytearray(stride)
    for _ in range(height):
        kind, line = raw[i], bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b = prev[x]
            c = prev[x - bpp] if x >= bpp else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line[k] for k in range(stride) if k % bpp < 3))
        prev = line
    return width, height, rows


def mean_difference(a, b, turned):
    """Mean per-channel difference of two same-sized pictures (b turned half round)."""
    total = 0
    height = len(a)
    for y in range(height):
        other = b[height - 1 - y][::-1] if turned else b[y]
        if turned:  # reversing the bytes reversed each pixel's channels too
            other = b"".join(other[k:k + 3][::-1] for k in range(0, len(other), 3))
        total += sum(abs(p - q) for p, q in zip(a[y], other))
    return total / float(height * len(a[0]))


def compare_preview_thumbnails():
    """(ok, text): the embedded-preview thumbnails against the shrink-on-load ones."""
    notes, ok = [], True
    for p in previews:
        stem = p["name"][:-len(".jpg")]
        shrink = png_pixels(os.path.join(work, "shrink_pv-%s.png" % stem))
        embedded = png_pixels(os.path.join(work, "embedded-%s.png" % stem))
        if shrink is None or embedded is None:
            return None, "thumbnails of %s not fetched" % p["name"]
        if shrink[:2] != embedded[:2]:
            ok = False
            notes.append("%s: %dx%d vs %dx%d" % ((p["name"],) + shrink[:2] + embedded[:2]))
            continue
        same = mean_difference(shrink[2], embedded[2], False)
        turned = mean_difference(shrink[2], embedded[2], True)
        ok = ok and same < turned
        notes.append("%s: %dx%d both, mean difference %.1f levels (%.1f against it turned "
                     "half round)" % (p["name"], shrink[0], shrink[1], same, turned))
    return ok, "; ".join(notes)


out = []
w = out.append
w("# Performance")
w("")
w("Written by `scripts/compare_thumbnailers.sh` from the measurements of one run; "
  "no figure here is typed in by hand, except in the sections at the end marked "
  "\"(measured by hand)\", which the script keeps. Rerun it to refresh the rest.")
w("")
w("## Run")
w("")
w("| | |")
w("| --- | --- |")
w("| Command | `%s` |" % kv.get("run.command", "?"))
w("| Started | %s |" % kv.get("run.started", "?"))
w("| Duration | %s s |" % kv.get("run.seconds", "?"))
w("| Rounds per photo | %s, after one untimed warm-up round (figures are medians over the "
  "rounds) |" % kv.get("run.rounds", "?"))
w("| Corpus | %s |" % kv.get("run.corpus", "?"))
w("| Daemon's cache folder | on %s, in the build folder |" % kv.get("run.cache_fs", "?"))
w("| Commit | %s |" % kv.get("version.commit", "?"))
w("| Load average before / after | %s / %s |" % (kv.get("run.load_before", "?"),
                                                kv.get("run.load_after", "?")))
w("")
w("## Machine")
w("")
w("| | |")
w("| --- | --- |")
for key, title in (("machine.cpu", "CPU"), ("machine.cores", "Cores"),
                   ("machine.memory", "Memory"), ("machine.os", "OS"),
                   ("machine.kernel", "Kernel"), ("machine.compiler", "Compiler"),
                   ("version.libgd", "libgd"), ("version.libjpeg", "libjpeg"),
                   ("version.vips", "libvips"), ("version.vipsthumbnail", "vipsthumbnail"),
                   ("version.convert", "convert"), ("version.djpeg", "djpeg")):
    w("| %s | %s |" % (title, kv.get(key, "?")))
w("")
w("To rerun on the same files (the photos are generated into the build folder):")
w("")
w("```")
w("sudo scripts/install-bench-deps.sh")
w("sudo %s" % kv.get("run.command", "scripts/compare_thumbnailers.sh"))
w("```")
w("")

# --- Goals -------------------------------------------------------------------
goals = []


def goal(text, measured_text, met):
    verdict = "not measured" if met is None else ("met" if met else "NOT met")
    goals.append("| %s | %s | %s |" % (text, measured_text, verdict))


def versus(label, anchor, limit, at_least=False, files=None):
    """A goal on the ratio of two rows' wall time per photo."""
    a, b = per_photo(label, "ms", files), per_photo(anchor, "ms", files)
    r = ratio(a, b)
    text = "%s (%s ms vs %s ms)" % (fmt_ratio(r), fmt(a), fmt(b))
    if r is None:
        text = unavailable(label, anchor) or text
    return text, None if r is None else (r >= limit if at_least else r <= limit)


goal("Default mode <= 1.05x the bare libgd pipeline (wall per photo through the socket, "
     "cache on disk)", *versus("default", "gd_pipeline", 1.05))
goal("Shrink-on-load <= 0.85x libvips in-process (wall per photo)",
     *versus("shrink", "vips_pipeline", 0.85))
goal("Shrink-on-load <= 1.0x the libjpeg-turbo 1/8 pipeline (wall per photo)",
     *versus("shrink", "jpeg_shrink", 1.0))
goal("Full screen with the fast PNG setting <= 0.8x libvips in-process with a fast PNG "
     "setting (wall per photo)", *versus("fs_fast", "fs_vips_fast", 0.8))

j1 = num("jobs1.miss.per_s")
j2 = num("jobs2.miss.per_s")
r = ratio(j2, j1)
scaling = ratio(2 * (num("scaling.one.ms") or 0), num("scaling.two.ms"))
goal("2 jobs >= 1.85x 1 job (misses per second, 4 clients)",
     unavailable("jobs2", "jobs1") or
     "%s (%s/s vs %s/s; meanwhile two bare libgd processes at once gave %s the throughput "
     "of one on this machine)" % (fmt_ratio(r), fmt(j2, 2), fmt(j1, 2), fmt_ratio(scaling)),
     None if r is None else r >= 1.85)

speedup_text, speedup_met = versus("shrink_pv", "embedded", 10, at_least=True, files=previews)
same_ok, same_text = compare_preview_thumbnails()
fast_text, _ = versus("shrink_pv_fast", "embedded_fast", 10, at_least=True, files=previews)
goal("With --embedded-previews, 160x120 of photos carrying an EXIF thumbnail >= 10x faster "
     "than shrink-on-load (wall per photo), same size and orientation",
     "%s faster (both with --png-level 1 --png-filters none: %s); %s%s" % (
         speedup_text, fast_text, same_text,
         "" if speedup_met is not False else
         ". Short at libgd's default PNG compression because the encode of the 160x120 "
         "thumbnail, the same work in both rows, costs more than the preview's decode "
         "(`scripts/profile_daemon.sh --role preview -- --embedded-previews` shows it); the "
         "bracketed ratio is without most of it"),
     None if speedup_met is None or same_ok is None else speedup_met and same_ok)

idle = num("memory_default.idle_rss_kb")
after = num("memory_default.rss_after_idle_kb")
grown = None if idle is None or after is None else after - idle
goal("After a 20 MP photo and 10 s idle, resident memory within 2 MB of the idle daemon's "
     "(VmRSS, default mode)",
     unavailable("memory_default") or "%s MB above (%s MB, idle daemon %s MB)" % (
         fmt(grown / 1024 if grown is not None else None, 2),
         fmt(after / 1024 if after else None), fmt(idle / 1024 if idle else None)),
     None if grown is None else grown <= 2 * 1024)

peak = num("memory_shrink.miss.peak_rss_kb")
goal("Peak memory in shrink-on-load <= 15 MB for a 20 MP photo (whole daemon, VmHWM)",
     unavailable("memory_shrink") or "%s MB" % fmt(peak / 1024 if peak else None),
     None if peak is None else peak <= 15 * 1024)

hit_p50 = num("default.hit.p50_ms")
goal("Cache hit < 0.1 ms p50 (one client, end to end)",
     unavailable("default") or "%s ms" % fmt(hit_p50, 3),
     None if hit_p50 is None else hit_p50 < 0.1)

w("## Goals")
w("")
w("Ratios from this run only, daemon against warm anchors. Wall per photo is the mean over "
  "the photos of each photo's median wall time (the daemon's: the client's, from sending the "
  "request to the whole reply).")
w("")
w("| Goal | Measured | Verdict |")
w("| --- | --- | --- |")
out.extend(goals)
w("")


# --- Per-photo tables ----------------------------------------------------------
def table(title, intro, rows, anchors):
    w("## " + title)
    w("")
    w(intro)
    w("")
    header = "| Thumbnailer | " + " | ".join("%s wall ms" % c for c in classes) + \
        " | wall ms per photo | CPU ms per photo |" + \
        "".join(" x %s |" % name for name, _ in anchors)
    w(header)
    w("|" + " --- |" * (header.count("|") - 1))
    for label, name in rows:
        wall = per_photo(label, "ms")
        if wall is None:
            w("| %s | %s |" % (name, unavailable(label) or "n/a") +
              " |" * (len(classes) + 1 + len(anchors)))
            continue
        cells = [fmt(mean_over(label, "ms", [p for p in measured if p["class"] == c]))
                 for c in classes]
        cells += [fmt(wall), fmt(per_photo(label, "cpu_ms"))]
        cells += [fmt_ratio(ratio(wall, per_photo(anchor, "ms"))) for _, anchor in anchors]
        w("| %s | %s |" % (name, " | ".join(cells)))
    w("")


table("Thumbnails 160x120 (fill the box)",
      "Daemon rows: one client, every photo once a round on an empty cache folder, after an "
      "untimed warm-up round; wall time is the client's from sending the request to the whole "
      "reply, CPU time the daemon's whole process's (its CPU clock, which counts every thread, "
      "also those that ended, as utime + stime of /proc/PID/stat do) read before and after each "
      "request. Anchors: one process each looping over all photos, an untimed warm-up round "
      "first; CPU time is the process's. The x columns divide the wall time per photo by an "
      "anchor's.",
      [("default", "quorlin_gd, default mode"),
       ("shrink", "quorlin_gd, --jpeg-shrink-on-load"),
       ("gd_pipeline", "bare libgd pipeline (in-process, warm)"),
       ("jpeg_shrink", "libjpeg-turbo shrink pipeline (in-process, warm)"),
       ("vips_pipeline", "libvips vips_thumbnail + vips_pngsave_buffer (in-process, warm)")],
      [("bare libgd", "gd_pipeline"), ("libjpeg 1/8", "jpeg_shrink"),
       ("libvips", "vips_pipeline")])

table("Full-screen thumbnails (longer side 1920, fit)",
      "Requests with full_screen set and a 1920x1080 box: the longer side of the photo becomes "
      "1920 pixels; libvips gets a 1920x1920 box, which gives the same size. PNG settings: the "
      "daemon's default mode and the libgd anchors write libgd's default PNG (zlib level 6, "
      "libpng's adaptive filters); the daemon's fast row and \"libvips, fast PNG\" use "
      "compression 1 and no row filter; \"libvips\" uses compression 6 and adaptive filters.",
      [("fs_default", "quorlin_gd, default mode"),
       ("fs_fast", "quorlin_gd, shrink-on-load + --png-level 1 --png-filters none"),
       ("fs_gd_pipeline", "bare libgd pipeline (in-process, warm)"),
       ("fs_jpeg_shrink", "libjpeg-turbo shrink pipeline (in-process, warm)"),
       ("fs_vips_pipeline", "libvips (in-process, warm)"),
       ("fs_vips_fast", "libvips, fast PNG (in-process, warm)")],
      [("bare libgd", "fs_gd_pipeline"), ("libvips, fast PNG", "fs_vips_fast")])

table("Cold: command-line programs, one process per photo",
      "Each photo through a fresh process, as a shell script would run them: the figures carry "
      "process start-up, library initialisation and first-touch memory on every photo, which "
      "the daemon and the warm anchors above pay once. CPU time from wait4 (user + system), wall "
      "time from start to exit. Not comparable with the tables above; kept for reference.",
      [("vips", "vipsthumbnail -s 160x120 --smartcrop centre"),
       ("fs_vips", "vipsthumbnail -s 1920x1920 (full screen)"),
       ("convert", "convert -thumbnail (no size hint)"),
       ("convert_hint", "convert -define jpeg:size=320x240 -thumbnail"),
       ("djpeg", "djpeg, full size (decode only)"),
       ("djpeg_8", "djpeg -scale 1/8 (decode only)")],
      [])

# --- Embedded previews ---------------------------------------------------------
w("## Thumbnails from EXIF previews, 160x120")
w("")
w("Photos carrying a 160x120 EXIF preview (`ql_photo_corpus` writes it; one upright, one with "
  "Orientation 3), one daemon per row, measured as the 160x120 table. The thumbnails of both "
  "rows are fetched once more with the client and compared pixel by pixel (size from the PNG "
  "header; orientation: the mean difference to the other row's thumbnail must be smaller than "
  "to that thumbnail turned half round). Rows marked fast PNG: both daemons also had "
  "--png-level 1 --png-filters none.")
w("")
w("| Photo | shrink-on-load wall ms | shrink-on-load CPU ms | --embedded-previews wall ms | "
  "--embedded-previews CPU ms | Speed-up (wall) |")
w("| --- | --- | --- | --- | --- | --- |")
for suffix, setting in (("", ""), ("_fast", ", fast PNG")):
    for p in previews:
        shrink_label, embedded_label = "shrink_pv" + suffix, "embedded" + suffix
        a = file_value(shrink_label, p["name"], "ms")
        b = file_value(embedded_label, p["name"], "ms")
        w("| %s%s | %s | %s | %s | %s | %s |" % (
            p["name"], setting, fmt(a), fmt(file_value(shrink_label, p["name"], "cpu_ms")),
            fmt(b, 2), fmt(file_value(embedded_label, p["name"], "cpu_ms"), 2),
            fmt_ratio(ratio(a, b))))
w("")
w("Comparison: %s." % same_text)
w("")

# --- Per photo ----------------------------------------------------------------
per_photo_columns = [("default", "quorlin_gd"), ("shrink", "shrink-on-load"),
                     ("gd_pipeline", "bare libgd"), ("jpeg_shrink", "libjpeg 1/8"),
                     ("vips_pipeline", "libvips")]
w("## Wall / CPU ms per photo, 160x120")
w("")
w("Each photo's median wall and CPU time (daemon: client wall, daemon CPU); progressive JPEGs "
  "cost several times their baseline twins.")
w("")
w("| Photo | " + " | ".join(title for _, title in per_photo_columns) + " |")
w("| --- |" + " --- |" * len(per_photo_columns))
for p in measured:
    w("| %s | " % p["name"] + " | ".join(
        "%s / %s" % (fmt(file_value(label, p["name"], "ms")),
                     fmt(file_value(label, p["name"], "cpu_ms")))
        for label, _ in per_photo_columns) + " |")
w("")

# --- Photos -------------------------------------------------------------------
w("## Photos")
w("")
w("Generated by `ql_photo_corpus` (gradients, hard-edged objects, texture and grain; "
  "JPEG quality 90).")
w("")
w("| Photo | Size | Kind | Bytes | Use |")
w("| --- | --- | --- | --- | --- |")
for p in photos:
    w("| %s | %dx%d | %s | %s | %s |" % (p["name"], p["width"], p["height"],
                                        "progressive" if p["progressive"] else "baseline",
                                        "{:,}".format(p["bytes"]), p["role"]))
w("")

# --- Latency and throughput ------------------------------------------------------
w("## Misses and hits over the socket")
w("")
w("`ql_loadgen` against the running daemon, after an untimed miss round over every photo. "
  "Misses: every photo once per round, each round on an empty cache folder; the jobs1 and "
  "jobs2 runs send every photo four times a round (`--miss-copies 4`, each copy into its own "
  "empty cache folder), so that four clients keep both jobs busy until the round's end instead "
  "of leaving the largest photo to decode alone. Hits: the same requests again, answered from "
  "the cache. shrink_pv, embedded and their _fast twins ask for the photos with EXIF previews.")
w("")
w("| Run | Clients | Options | Miss /s | Miss p50 ms | Miss p99 ms | Hit /s | Hit p50 ms | "
  "Hit p99 ms | Failed |")
w("| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |")
runs = [("default", "1"), ("default_hits4", "4"), ("default_hits_connect", "1, new connection"),
        ("shrink", "1"), ("shrink_pv", "1"), ("embedded", "1"), ("shrink_pv_fast", "1"),
        ("embedded_fast", "1"), ("fs_default", "1"),
        ("fs_fast", "1"), ("jobs1", "4"), ("jobs2", "4")]
for label, clients in runs:
    daemon_label = label.split("_hits")[0]
    opts = kv.get("daemon.%s.options" % daemon_label, "")
    na = unavailable(label)
    if na and num(label + ".miss.requests") is None and num(label + ".hit.requests") is None:
        w("| %s | %s | %s | %s | | | | | | |" % (label, clients, opts, na))
        continue
    failed = sum(v for v in (num(label + ".miss.failed"), num(label + ".hit.failed")) if v)
    w("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %d |" % (
        label, clients, opts,
        fmt(num(label + ".miss.per_s"), 2), fmt(num(label + ".miss.p50_ms")),
        fmt(num(label + ".miss.p99_ms")), fmt(num(label + ".hit.per_s"), 0),
        fmt(num(label + ".hit.p50_ms"), 3), fmt(num(label + ".hit.p99_ms"), 3), failed))
w("")

w("## Memory, one 20 MP photo")
w("")
w("A fresh daemon per line; VmHWM and VmRSS from /proc/PID/status before the request, VmHWM "
  "after it, and (default mode) VmRSS after 10 s without requests (the daemon gives its "
  "decode memory back after `--memory-idle-ms`, 5000 by default).")
w("")
w("| Mode | Idle VmHWM MB | VmHWM after the photo MB | Idle VmRSS MB | VmRSS 10 s later MB |")
w("| --- | --- | --- | --- | --- |")
for mode in ("default", "shrink"):
    label = "memory_" + mode
    values = [num(label + key) for key in (".idle_peak_rss_kb", ".miss.peak_rss_kb",
                                             ".idle_rss_kb", ".rss_after_idle_kb")]
    if unavailable(label) and values[1] is None:
        w("| %s | %s | | | |" % (mode, unavailable(label)))
    else:
        w("| %s | %s |" % (mode, " | ".join(
            fmt(v / 1024 if v is not None else None, 2) for v in values)))
w("")

cache_rows = []
save_us = None
try:
    with open(cache_save_path) as f:
        data = json.load(f)
    benchmarks = data.get("benchmarks", [])
    # Medians of the repetitions when there are any, single runs otherwise.
    medians = [b for b in benchmarks if b.get("aggregate_name") == "median"]
    for b in medians or [b for b in benchmarks if b.get("run_type", "iteration") == "iteration"]:
        name = b.get("run_name", b["name"])
        unit = b.get("time_unit", "")
        cache_rows.append("| %s | %s %s | %s %s |" % (name, fmt(b.get("real_time"), 2), unit,
                                                  fmt(b.get("cpu_time"), 2), unit))
        if name == "BM_SaveIntoFolderOf/0" and unit == "us":
            save_us = b.get("real_time")
except (OSError, ValueError, KeyError):
    pass

w("## The cache save's part of a miss")
w("")
miss_p50 = num("default.miss.p50_ms")
if save_us is not None and miss_p50:
    w("A miss ends with the cache save: the clean-up of the outdated file, a temporary file "
      "written, fsync, rename. `bench/cache_save_benchmark` times that save "
      "(BM_SaveIntoFolderOf/0: a 4 KiB thumbnail into an empty folder, as every miss round's "
      "folder is) with its folders on the same file system as the daemon's cache in this run: "
      "%s ms median, %.1f%% of the default mode's median miss (%s ms). A 160x120 thumbnail of "
      "these photos is larger than 4 KiB, so its write costs a little more." % (
          fmt(save_us / 1000.0, 3), 100.0 * save_us / 1000.0 / miss_p50, fmt(miss_p50)))
else:
    w("Not measured: %s." % (unavailable("cache_save") or "no figure for the save or the miss"))
w("")
if cache_rows:
    w("`bench/cache_save_benchmark`, time per save, medians of five repetitions run in random "
      "order. BM_SaveIntoFolderOf is the daemon's save (clean-up of the outdated file through "
      "the folder index, temporary file, fsync, rename); the folder index is filled by one "
      "untimed save first, as a long-running daemon holds it. "
      "BM_BareFileSystemSaveIntoFolderOf makes only the file-system calls of a save, the floor "
      "the folder's size imposes whatever the daemon does.")
    w("")
    w("| Benchmark | Real time | CPU time |")
    w("| --- | --- | --- |")
    out.extend(sorted(cache_rows))
    w("")

profiles = [(title, os.path.join(work, name)) for title, name in (
    ("Before: `--memory-idle-ms 0` (the C library returns freed memory at once)",
     "profile_before.txt"),
    ("After: the default (decode memory kept until the daemon idles)", "profile_after.txt"))
    if os.path.exists(os.path.join(work, name))]
if profiles:
    w("## Profile of a miss")
    w("")
    w("`perf record` on the daemon while one client asks for every measured photo as a miss, "
      "160x120, five rounds after an untimed one; self time by library, then by symbol "
      "(libjpeg and zlib carry no symbols, so their time scatters over addresses). Made by the "
      "command in each block's first line.")
    w("")
    for title, path in profiles:
        w(title + ":")
        w("")
        w("```")
        with open(path) as f:
            out.extend(line.rstrip() for line in f)
        w("```")
        w("")

problems = sorted((k[len("status."):], v) for k, v in kv.items()
                  if k.startswith("status.") and v != "ok")
if problems:
    w("## Not measured or failed")
    w("")
    for label, text in problems:
        w("- %s: %s" % (label, text))
    w("")

w("## Notes")
w("")
w("- The daemon runs with `-l 0` (errors only) and its default options unless a row names "
  "others; one daemon is started per mode and stopped with SIGTERM afterwards.")
w("- The machine may be shared; the load averages above show how busy it was.")
w("- Warm against warm: the daemon and every anchor of the main tables have decoded every "
  "photo once before timing starts, and keep their freed memory between photos (the anchors "
  "set glibc as the daemon does: a high trim threshold, no block mapped on its own; the daemon "
  "gives the memory back once it idles). Only the "
  "cold table pays process start-up per photo.")
print("\n".join(out))
