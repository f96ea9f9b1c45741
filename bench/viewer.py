#!/usr/bin/env python3
"""Vimo's own figures, measured from outside the viewer under an X server (see benchlib):

  bench/viewer.py BUILD_DIR [RUNS]      (run under xvfb-run at 1600 x 1000; bench/run does that)

Prints table rows (figure, goal, measured, result) and, after them, notes. Exit status 1 when a
goal is missed. RUNS (default 1) repeats the browsing run of figures 1 and 5."""

import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchlib as b  # noqa: E402


class Bench:
    def __init__(self, build, runs):
        self.build = os.path.abspath(build)
        self.runs = runs
        self.vimo = os.path.join(self.build, "vimo")
        self.xwatch = os.path.join(self.build, "bench", "vimo-xwatch")
        self.data = b.ensure_data(os.path.join(self.build, "bench-data"))
        self.logs = os.path.join(self.build, "bench-data", "logs")
        os.makedirs(self.logs, exist_ok=True)
        self.home = os.path.join(self.build, "bench-data", "home-vimo")
        self.rows = []
        self.notes = []
        self.failed = False
        self.conversion = None
        self.pictures = {}  # image name -> the region's hash once it settled there (figure 1)

    def add(self, figure, goal, measured, ok):
        self.rows.append(b.row(figure, goal, measured, b.verdict(ok)))
        if ok is False:
            self.failed = True

    def watch(self, name, path, **options):
        return b.watch(self.xwatch, os.path.join(self.logs, name + ".log"), [self.vimo, path], self.home, **options)

    # 3 and 7: the first image, process start to pixels; then 30 s with the image shown.
    def first_image(self):
        self.watch("warm-up", self.data["first1"], settle=500)
        firsts, idle = [], None
        for run in range(3):
            events = self.watch("first-1mp-%d" % run, self.data["first1"], idle=30 if run == 0 else 0)
            firsts.append(b.first_picture(events)[0])
            if run == 0:
                idle = b.value(events, "cpu")
        first = b.median(firsts)
        self.add("3 first image: 1 MP JPEG, start to pixels", "<= 200 ms", b.ms(first),
                 None if first is None else first <= 200)

        runs = [self.watch("first-24mp-%d" % run, self.data["first24"]) for run in range(3)]
        firsts = [b.first_picture(events)[0] for events in runs]
        conversion = self.conversion_24mp()
        first = b.median(firsts)
        # The rows converted so far show at once; the converted file replaces them when it is whole.
        whole = b.median([b.titled(events, os.path.basename(self.data["first24"])) for events in runs])
        self.add("3 first image: 24 MP JPEG at 1:1, first rows / whole picture", "reference",
                 "%s / %s ms" % (b.ms(first), b.ms(whole)), None)
        extra = None if first is None else first - conversion
        self.add("3 first image: 24 MP JPEG, beyond conversion", "<= 100 ms",
                 "%s (%s - %s)" % (b.ms(extra), b.ms(first), b.ms(conversion)),
                 None if extra is None else extra <= 100)
        self.notes.append("3: conversion = `vimo --convert` of the same file alone, median of 3; first rows = the "
                          "picture at the screen's centre, whole picture = the title naming the photo (its "
                          "converted file loaded)")
        self.add("7 idle: CPU over 30 s with an image shown", "0.0 s", "n/a" if idle is None else idle + " s",
                 None if idle is None else float(idle) < 0.05)

    def conversion_24mp(self):
        """Median ms of `vimo --convert` of the 24 MP first-image JPEG alone, measured once."""
        if self.conversion is None:
            out = os.path.join(self.logs, "convert-24mp.bmp")
            self.conversion = b.timed([self.vimo, "--convert", self.data["first24"], out], 3)
            os.remove(out)
        return self.conversion

    # 6: one image in a folder of 20,000 files.
    def large_folder(self):
        firsts = [b.first_picture(self.watch("large-%d" % run, self.data["large_open"]))[0] for run in range(3)]
        first = b.median(firsts)
        self.add("6 large folder (20,000 files): first image", "<= 150 ms", b.ms(first),
                 None if first is None else first <= 150)

        steps = 5
        trace = os.path.join(self.logs, "large-strace.txt")
        log = os.path.join(self.logs, "large-strace.log")
        command = ["strace", "-f", "-ttt", "-e", "trace=openat,open,getdents64,close", "-o", trace,
                   self.vimo, self.data["large_open"]]
        b.watch(self.xwatch, log, command, self.home, keys=["Tab*%d@1000" % steps], timeout=60000)
        events = b.read_log(log)
        keys = [t for t, kind, _ in events if kind == "key"]
        clock = next((float(v) - t / 1000 for t, kind, v in events if kind == "clock"), None)
        if len(keys) != steps or clock is None:
            self.add("6 large folder: entries read per step", "<= 1 buffer", "n/a (trace failed)", None)
            return
        start, after = folder_reads(trace, self.data["large"], clock + keys[0] / 1000)
        per_step = after["entries"] / steps
        self.add("6 large folder: entries read per step", "<= next image", "%.0f entries, %d opens" %
                 (per_step, after["opens"]), per_step <= 1000 and after["opens"] == 0)
        self.notes.append("6: at start the folder was opened %d times and %d entries read (%d calls); "
                          "%d Tab presses then read %d entries in %d calls and opened it %d times; images are "
                          "%d entries apart, one read returns up to ~800 (strace -f getdents64)" %
                          (start["opens"], start["entries"], start["calls"], steps, after["entries"],
                           after["calls"], after["opens"], b.LARGE_IMAGE_EVERY))

    # 1 and 5: Tab every 2 s forward through twenty 24 MP JPEGs, then Shift+Tab back.
    def browse(self):
        latencies, unchanged, hwms, disks, folders = [], 0, [], [], set()
        for run in range(self.runs):
            events = self.watch("browse-%d" % run, self.data["browse"][0], wait=4000,
                                keys=["Tab*19@2000", "shift+Tab*19@2000"])
            self.popups("1", events)
            self.pictures.update(settled_pictures(events))
            for _, latency, _ in b.key_latencies(events):
                if latency is None:
                    unchanged += 1
                else:
                    latencies.append(latency)
            hwms.append(b.hwm_mib(events))
            peak, where = b.disk_peak(events)
            disks.append(peak)
            folders.update(where)
        med = b.median(latencies)
        worst = max(latencies) if latencies else None
        self.add("1 next image, caught up: median", "<= 15 ms", b.ms(med), None if med is None else med <= 15)
        self.add("1 next image, caught up: worst", "<= 30 ms", b.ms(worst), None if worst is None else worst <= 30)
        self.notes.append("1: %d presses that changed the picture over %d run(s) (Tab x19 then Shift+Tab x19, "
                          "every 2 s); %d changed nothing (the history keeps 16 images)" %
                          (len(latencies), self.runs, unchanged))

        rss = max([h for h in hwms if h is not None] or [0]) or None
        disk = max(disks or [0])
        kinds = sorted({b.fs_type(folder) for folder in folders}) or ["?"]
        on_tmpfs = "tmpfs" in kinds
        total = None if rss is None else rss + (disk if on_tmpfs else 0)
        self.add("5 browsing 20 x 24 MP: peak RSS" + (" + files" if on_tmpfs else ""), "<= 120 MiB",
                 "n/a" if total is None else "%.0f MiB" % total, None if total is None else total <= 120)
        self.add("5 converted files, peak (%s)" % ",".join(kinds), "counted",
                 "%.0f MiB%s" % (disk, " in memory" if on_tmpfs else " on disk"), None)
        self.notes.append("5: converted files in %s" % (", ".join(sorted(folders)) or "?"))

    # 2: Tab every 200 ms, faster than the worker converts.
    def behind(self):
        events = self.watch("behind", self.data["browse"][0], keys=["Tab*19@200"], tail=60000, quiet=4000)
        self.popups("2", events)
        result = worker_behind(events, self.pictures)
        late = result["late"]
        self.add("2 worker behind: image after its conversion", "<= 20 ms",
                 "n/a" if not late else "worst %.0f, median %.0f ms" % (max(late), statistics.median(late)),
                 None if not late else max(late) <= 20)
        self.add("2 worker behind: key presses lost", "0", "%d of %d" % (result["lost"], result["keys"]),
                 result["lost"] == 0)
        self.notes.append("2: images shown, in order: %s%s; %s" % (
            " ".join(n[3:5] for n in result["order"]),
            " (%d shown twice)" % result["repeats"] if result["repeats"] else "",
            "%d of %d on screen whole before their conversion ended (counted 0 ms: their rows were drawn "
            "as they were decoded)" % (result["ahead"], len(late)) if self.pictures else
            "without figure 1's pictures, the first change after each title counts (BENCH_ONLY without browse)"))

    # 8: viewing the 24 MP photo: fitted from the start, repaints at each zoom, zoom steps, and the
    # memory of the reduced copies. The runs share a home whose profile is written anew each time.
    def view_run(self, name, fit, keys, tail=2000):
        home = os.path.join(self.build, "bench-data", "home-vimo-view")
        os.makedirs(os.path.join(home, ".config"), exist_ok=True)
        with open(os.path.join(home, ".config", "vimo.ini"), "w") as profile:
            # The window remembered at the size the watcher gives it: a fitted first picture is
            # decoded reduced for the window it opens in.
            profile.write("[View]\nFitToWindow=%d\n[Window size]\nRect=0000 0000 %04d %04d\niconized=0\nmaximized=0\n"
                          % ((1 if fit else 0,) + b.SCREEN))
        return b.watch(self.xwatch, os.path.join(self.logs, name + ".log"), [self.vimo, self.data["first24"]], home,
                       keys=keys, tail=tail, region=ZOOM_REGION, damage=True)

    def viewing(self):
        firsts = [b.first_picture(self.view_run("fit-24mp-%d" % run, True, []))[0] for run in range(3)]
        first, conversion = b.median(firsts), self.conversion_24mp()
        extra = None if first is None else first - conversion
        self.add("8 fit view: 24 MP JPEG, beyond conversion", "<= 40 ms",
                 "%s (%s - %s)" % (b.ms(extra), b.ms(first), b.ms(conversion)),
                 None if extra is None else extra <= 40)
        self.notes.append("8 fit view: start to the fitted picture with [View] FitToWindow=1, median of 3, "
                          "minus the conversion of figure 3")

        plan = zoom_plan()
        repaints, steps = {}, {}
        for run in range(3):
            events = self.view_run("zoom-%d" % run, True, key_groups(plan))
            self.popups("8", events)
            keys = b.key_latencies(events)
            drawn = b.drawing_latencies(events)
            if len(keys) != len(plan):
                continue
            for index, (_, what) in enumerate(plan):
                if what is not None and what[0] == "repaint":
                    repaints.setdefault(what[1], []).append(drawn[index])
                elif what is not None:
                    steps.setdefault(what[1:], []).append(keys[index][1])
        repaint = {zoom: b.median(v) for zoom, v in repaints.items()}
        self.add("8 repaint at any zoom: worst median", "<= 8 ms", *slowest(repaint, zoom_name, 8))
        self.notes.append("8 repaint, median by zoom (2 a run): %s. A repaint is the View menu's upright item "
                          "toggled (Alt+V, P) on this photo without EXIF orientation: the whole view is drawn "
                          "again, the picture unchanged; from P to the drawing at the screen's centre (XDamage)" %
                          ", ".join("%s %s" % (zoom_name(z), b.ms(v)) for z, v in repaint.items()))
        step = {pair: b.median(v) for pair, v in steps.items()}
        self.add("8 zoom step (+ or -): worst median", "<= 16 ms",
                 *slowest(step, lambda pair: "%s to %s" % (zoom_name(pair[0]), zoom_name(pair[1])), 16))
        self.notes.append("8 zoom steps, key to pixels, median of 3: %s" % ", ".join(
            "%s>%s %s" % (zoom_name(a), zoom_name(z), b.ms(v)) for (a, z), v in step.items()))

        # The same image at 1:1, 2/3 and 1/2 (scaled from the bitmap itself), then 1/3, which is
        # drawn from the reduced copies: the last step adds them and nothing else, as the scaled
        # drawing before it already covers the same window.
        gap = MEMORY_KEY_GAP
        events = self.view_run("memory-view", False, ["minus*3@%d" % gap], tail=gap)
        rss = [int(v) * 1024 / 1e6 for _, kind, v in events if kind == "rss" and v]
        copies = rss[3] - rss[2] if len(rss) == 4 else None
        self.add("8 reduced copies: RSS at 1/3 - at 1/2", "<= 16 MB",
                 "n/a" if copies is None else "%.1f MB" % copies, None if copies is None else copies <= 16)
        if copies is not None:
            self.notes.append("8 memory (24 MP, window 1600 x 1000): RSS %.1f MB at 1:1, %.1f at 2/3, %.1f at 1/2, "
                              "%.1f at 1/3; the fit (about 23 %%) uses the same copies" % tuple(rss))

    # 9: a large animated GIF shown fitted keeps its frame rate.
    def animation(self):
        gif, band = self.animation_gif()
        if gif is None:
            self.add("9 animated GIF, fitted: frames late", "0", "n/a (no GIF the converter reads)", None)
            return
        home = os.path.join(self.build, "bench-data", "home-vimo-view")
        os.makedirs(os.path.join(home, ".config"), exist_ok=True)
        with open(os.path.join(home, ".config", "vimo.ini"), "w") as profile:
            profile.write("[View]\nFitToWindow=1\n")
        # The picture settles once the last round has ended on its last frame.
        events = b.watch(self.xwatch, os.path.join(self.logs, "animation.log"), [self.vimo, gif], home,
                         settle=3000, tail=0, timeout=180000)
        self.popups("9", events)
        shown = animation_frames(events)
        delay = ANIMATION_DELAY_CS * 10
        intervals = [later - earlier for earlier, later in zip(shown, shown[1:])]
        late = late_frames(shown, delay)
        expected = ANIMATION_FRAMES * (ANIMATION_LOOPS + 1) - 1
        ok = None if len(intervals) < expected // 2 else late == 0
        self.add("9 animated GIF, fitted: frames late", "0",
                 "%d of %d (median %s apart)" % (late, len(intervals), b.ms(b.median(intervals))), ok)
        self.notes.append("9: a %d x %d GIF of %d frames%s, %d ms each, %d rounds, fitted in the window; a frame "
                          "is late when it reached the screen more than one delay after it was due (one delay after "
                          "the frame before was due, or was shown if that one was late); %d frames seen of %d" %
                          (ANIMATION_SIZE, ANIMATION_SIZE, ANIMATION_FRAMES,
                           "" if band == 0 else " (after the first, %d-pixel bands across the middle: the converter "
                           "refused whole frames)" % band, delay, ANIMATION_LOOPS + 1, len(intervals), expected))

    def animation_gif(self):
        """The animated GIF of figure 9, made once, and the band its later frames cover (0: the
        whole screen). Whole frames when the converter reads them, else bands; None when neither."""
        folder = os.path.join(self.build, "bench-data", "animation")
        os.makedirs(folder, exist_ok=True)
        for band in (0, ANIMATION_BAND):
            gif = os.path.join(folder, "anim-%d-%d.gif" % (ANIMATION_SIZE, band))
            if not os.path.exists(gif):
                subprocess.run([os.path.join(self.build, "bench", "vimo-bench-gif"), gif + ".part", str(ANIMATION_SIZE),
                                str(ANIMATION_FRAMES), str(ANIMATION_DELAY_CS), str(ANIMATION_LOOPS), str(band)],
                               check=True)
                os.replace(gif + ".part", gif)
            converted = os.path.join(self.logs, "animation-check.bmp")
            done = subprocess.run([self.vimo, "--convert", gif, converted], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
            if os.path.exists(converted):
                os.remove(converted)
            if done.returncode == 0:
                return gif, band
        return None, None

    # 11: the grid of a folder of 500 photographs of 12 MP: the first screenful and all 500 with the
    # thumbnail cache empty; Enter to the grid with it full; the memory of a grid of 10,000 files
    # scrolled end to end; and Tab (figure 1) while the film strip's thumbnails are being made.
    def grid_run(self, name, path, profile="", keys=(), cold=False, region=b.GRID_REGION, **options):
        home = os.path.join(self.build, "bench-data", "home-vimo-grid")
        os.makedirs(os.path.join(home, ".config"), exist_ok=True)
        with open(os.path.join(home, ".config", "vimo.ini"), "w") as ini:
            ini.write("[View]\nThumbnailSize=128\n" + profile)
        if cold:
            shutil.rmtree(os.path.join(home, ".cache", "thumbnails"), ignore_errors=True)
        return b.watch(self.xwatch, os.path.join(self.logs, name + ".log"), [self.vimo, path], home, keys=keys,
                       region=region, **options)

    def grid(self):
        folder = self.data["grid500"]
        cache = os.path.join(self.build, "bench-data", "home-vimo-grid", ".cache")
        events = self.grid_run("grid-cold", folder, cold=True, tail=240000, timeout=60000,
                               made=(cache, b.GRID_PHOTOS))
        _, screenful = b.first_picture(events)
        made = b.event_time(events, "all-made")
        self.add("11 grid, cold cache: first screenful complete", "measured", b.ms(screenful), None)
        self.add("11 grid, cold cache: all %d thumbnails made" % b.GRID_PHOTOS, "measured",
                 "n/a" if made is None else "%.1f s" % (made / 1000), None)
        self.notes.append("11: %d photos of 12 MP (4000 x 3000), 128-pixel thumbnails, window 1600 x 1000; cold: "
                          "`vimo FOLDER` with the thumbnail cache emptied, the screenful complete when the grid's "
                          "pixels last changed before settling; bench-peers compares them with other viewers"
                          % b.GRID_PHOTOS)

        enters = []
        for run in range(3):
            keys = b.key_latencies(self.grid_run("grid-warm-%d" % run, os.path.join(folder, "photo-250.jpg"),
                                                 keys=["Return*1@1000"], tail=3000))
            enters.append(keys[0][2] if keys else None)
        enter = b.median(enters)
        self.add("11 grid, warm cache: Enter to complete screenful", "<= 100 ms", b.ms(enter),
                 None if enter is None else enter <= 100)

        pages = b.GRID_FILES // 50 + 10
        events = self.grid_run("grid-10k", self.data["grid10k"], cold=True, keys=["Next*%d@60" % pages], tail=2000)
        rss = b.hwm_mib(events)
        self.add("11 grid of 10,000 files scrolled end to end: peak RSS", "<= 64 MiB",
                 "n/a" if rss is None else "%.0f MiB" % rss, None if rss is None else rss <= 64)

        strip = ("[vimo-Bar0]\nBarID=59392\nVisible=1\nDocking=Top\n[vimo-Bar1]\nBarID=59393\nVisible=1\n"
                 "Docking=Bottom\n[vimo-Bar2]\nBarID=32817\nVisible=1\nDocking=Bottom\n")
        latencies = []
        for run in range(self.runs):
            events = self.grid_run("grid-tab-%d" % run, os.path.join(folder, "photo-100.jpg"), profile=strip,
                                   cold=True, keys=["Tab*19@2000"], wait=2000, region=None)
            latencies += [latency for _, latency, _ in b.key_latencies(events) if latency is not None]
        med = b.median(latencies)
        worst = max(latencies) if latencies else None
        self.add("1 next image, strip's thumbnails made: median", "<= 15 ms", b.ms(med), None if med is None else med <= 15)
        self.add("1 next image, strip's thumbnails made: worst", "<= 30 ms", b.ms(worst),
                 None if worst is None else worst <= 30)
        self.notes.append("1 with the strip: the film strip on, its cache empty, Tab every 2 s through the 12 MP photos")

    # 12: the other formats (behind 他の形式も開く): a 12 MP HEIC and a 24 MP DNG with a full-size
    # JPEG preview, first image and next image; the grid of 200 HEIC photos.
    def formats_run(self, name, path, **options):
        home = os.path.join(self.build, "bench-data", "home-vimo-formats")
        os.makedirs(os.path.join(home, ".config"), exist_ok=True)
        with open(os.path.join(home, ".config", "vimo.ini"), "w") as ini:
            ini.write("[View]\nOtherFormats=1\nThumbnailSize=128\n")
        return b.watch(self.xwatch, os.path.join(self.logs, name + ".log"), [self.vimo, path], home, **options)

    def formats(self):
        data = b.ensure_formats(self.data)
        self.formats_run("formats-warm-up", data["heic_first"], settle=500)
        firsts = {}
        for run in range(3):
            for kind in ("heic_first", "dng_first", "first24"):
                firsts.setdefault(kind, []).append(b.first_picture(self.formats_run("%s-%d" % (kind, run), data[kind]))[0])
        heic, dng, jpeg = (b.median(firsts[kind]) for kind in ("heic_first", "dng_first", "first24"))
        self.add("12 first image: 12 MP HEIC, start to pixels", "< peers", b.ms(heic), None)
        ratio = None if dng is None or not jpeg else dng / jpeg
        self.add("12 first image: 24 MP DNG / its preview as JPEG", "<= 1.20",
                 "n/a" if ratio is None else "%.2f (%s / %s)" % (ratio, b.ms(dng), b.ms(jpeg)),
                 None if ratio is None else ratio <= 1.2)
        for kind, name in (("heic_browse", "HEIC"), ("dng_browse", "DNG")):
            steps = b.FORMAT_BROWSE - 1
            events = self.formats_run("%s-browse" % kind, data[kind][0], wait=4000,
                                      keys=["Tab*%d@2000" % steps, "shift+Tab*%d@2000" % steps])
            self.popups("12", events)
            latencies = [latency for _, latency, _ in b.key_latencies(events) if latency is not None]
            med = b.median(latencies)
            self.add("12 next image, %s caught up: median" % name, "<= 15 ms", b.ms(med), None if med is None else med <= 15)
        cache = os.path.join(self.build, "bench-data", "home-vimo-formats", ".cache")
        shutil.rmtree(os.path.join(cache, "thumbnails"), ignore_errors=True)
        events = self.formats_run("heic-grid-cold", data["heic_grid"], region=b.GRID_REGION, tail=240000, timeout=60000,
                                  made=(cache, b.HEIC_GRID))
        _, screenful = b.first_picture(events)
        self.add("12 grid of %d HEIC, cold cache: first screenful" % b.HEIC_GRID, "< peers", b.ms(screenful), None)
        self.notes.append("12: other formats on ([View] OtherFormats=1); first images median of 3, the DNG against "
                          "its own preview (the 24 MP JPEG of figure 3) started alike; next image: Tab every 2 s "
                          "through %d files (%d pictures in turn) and back; bench-peers compares them with other "
                          "viewers" % (b.FORMAT_BROWSE, b.HEIC_PICTURES))

    # 13: Copy (Ctrl+C) of a 150 MP photo, pasted as image/png by another program (xclip): the
    # viewer's peak RSS until the paste has ended, against its peak while it showed the photo.
    def copy(self):
        folder = os.path.join(self.build, "bench-data", "copy-150mp")
        photo = os.path.join(folder, "photo-150mp.jpg")
        if not os.path.exists(photo):
            os.makedirs(folder, exist_ok=True)
            subprocess.run(["nice", "-n", "10", os.path.join(self.build, "bench", "vimo-bench-jpeg"), self.data["first24"],
                            "15000", "10000", photo + ".part"], check=True)
            os.replace(photo + ".part", photo)
        log = os.path.join(self.logs, "copy-150mp.log")
        pasted = os.path.join(self.logs, "copy-150mp.png")
        for old in (log, pasted):
            if os.path.exists(old):
                os.remove(old)  # the events of this run only
        args = [self.xwatch, "--log", log, "--geometry", "%dx%d" % b.SCREEN, "--settle", "1000", "--wait", "3000",
                "--keys", "ctrl+c*1@500", "--tail", "600000", "--timeout", "180000", "--", self.vimo, photo]
        watcher = subprocess.Popen(args, env=b.viewer_env(self.home), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shown = held = peak = None
        try:
            pid = wait_for_event(log, "launch", watcher)
            if wait_for_event(log, "settled", watcher) is not None and pid:
                shown = proc_kib(pid, "VmHWM")
            if wait_for_event(log, "key", watcher) is not None and pid and offers(watcher, "image/png"):
                with open(pasted, "wb") as out:
                    subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", "image/png"], stdout=out, timeout=600)
                peak, held = proc_kib(pid, "VmHWM"), proc_kib(pid, "VmRSS")
            if pid and proc_kib(pid, "VmRSS") is not None:
                os.kill(int(pid), signal.SIGTERM)
            watcher.wait(timeout=120)
        finally:
            if watcher.poll() is None:
                watcher.kill()
        # The PNG itself is held while it is handed over: the clipboard's transfer takes it whole.
        size = png_size(pasted)
        png_kib = os.path.getsize(pasted) / 1024 if size else 0
        ok = None if None in (shown, peak) or size != (15000, 10000) else peak <= shown + png_kib + 64 * 1024
        self.add("13 copy of a 150 MP photo: peak RSS while pasted", "<= shown + PNG + 64 MiB",
                 "n/a" if ok is None else "%.0f MiB (shown %.0f, PNG %.0f)" % (peak / 1024, shown / 1024, png_kib / 1024), ok)
        self.notes.append("13: Ctrl+C on the 150 MP JPEG at natural size, then `xclip -o -t image/png` (%s); RSS %s MiB "
                          "once pasted" % ("x".join(map(str, size)) if size else "no PNG",
                                           "n/a" if held is None else "%.0f" % (held / 1024)))

    def popups(self, figure, events):
        keys = [t for t, kind, _ in events if kind == "key"]
        for t, kind, _ in events:
            if kind == "popup":
                after = sum(1 for k in keys if k <= t)
                self.notes.append("%s: a message box or dialog appeared after key %d" % (figure, after))
                return

    def run(self):
        parts = {"first": self.first_image, "large": self.large_folder, "browse": self.browse,
                 "behind": self.behind, "viewing": self.viewing, "animation": self.animation, "grid": self.grid,
                 "formats": self.formats, "copy": self.copy}
        for name in os.environ.get("BENCH_ONLY", "first,large,browse,behind,viewing,animation,grid,formats,copy").split(","):
            parts[name]()
        for line in self.rows:
            print(line)
        print()
        for note in self.notes:
            print("  " + note)
        return 1 if self.failed else 0


def settled_pictures(events):
    """Image name -> the hash of the picture the region settled on while that image's title was
    shown (a caught-up run, where each image stays until the next key)."""
    pictures, name = {}, None
    for t, kind, text in events:
        match = b.TITLE_IMAGE.search(text) if kind == "title" else None
        if match:
            name = match.group(1)
        elif kind == "pixels" and name is not None:
            fields = text.split()
            if len(fields) > 1 and int(fields[1]) >= b.PICTURE_COLOURS:
                pictures[name] = fields[0]
    return pictures


def worker_behind(events, pictures=None):
    """Each image after the first: milliseconds from the later of its conversion's end and the
    key that asked for it (the n-th key asks for the (n+1)-th image) to its pixels on screen;
    and how many key presses did not move the viewer on.

    With pictures (figure 1's settled_pictures), an image is on screen when the region first
    shows its picture after the key that asked for it: the rows of an image still converting are
    drawn as they are decoded, so it may be whole on screen before its conversion ends (0 ms; the
    first change after its title is then already the next image's rows). Without them, the first
    change after its title counts."""
    keys = [t for t, kind, _ in events if kind == "key"]
    shown = []  # (time of the title, image name), one entry per change of image
    for t, kind, text in events:
        match = b.TITLE_IMAGE.search(text) if kind == "title" else None
        if match and (not shown or shown[-1][1] != match.group(1)):
            shown.append((t, match.group(1)))
    files = [(t, os.path.basename(text.rsplit(" ", 1)[0])) for t, kind, text in events if kind == "file"]
    pixels = [(t, text.split()[0]) for t, kind, text in events if kind == "pixels"]
    late, ahead = [], 0
    for index, (t_title, name) in enumerate(shown[1:], start=1):
        converted = max((t for t, f in files if f == name + ".bmp" and t <= t_title), default=None)
        asked = keys[index - 1] if index - 1 < len(keys) else None
        if converted is None or asked is None:
            continue
        if pictures and name in pictures:
            on_screen = next((t for t, h in pixels if t >= asked and h == pictures[name]), None)
        else:
            on_screen = next((t for t, _ in pixels if t >= t_title), None)
        if on_screen is None:
            continue
        if on_screen < converted:
            ahead += 1
        late.append(max(on_screen - max(converted, asked), 0))
    names = [name for _, name in shown]
    repeats = len(names) - len(set(names))
    possible = min(len(keys), b.BROWSE_COUNT - 1)
    return {"late": late, "ahead": ahead, "order": names, "keys": len(keys), "repeats": repeats,
            "lost": max(possible - (len(shown) - 1), 0)}


def animation_frames(events):
    """Milliseconds at which each frame of the animation reached the screen, from the first
    picture until the picture settled: each change of the colour that tells the frames apart
    (vimo-xwatch's PROBE), so that a quick drawing refined by an averaged one counts once."""
    mapped = next((i for i, (_, kind, _) in enumerate(events) if kind == "map"), None)
    settled = next((i for i, (_, kind, _) in enumerate(events) if kind in ("settled", "timeout")), len(events))
    if mapped is None:
        return []
    shown, probe = [], None
    for t, kind, text in events[mapped:settled]:
        fields = text.split()
        if kind != "pixels" or len(fields) < 3 or (not shown and int(fields[1]) < b.PICTURE_COLOURS):
            continue
        if fields[2] != probe:
            shown.append(t)
            probe = fields[2]
    return shown


def late_frames(shown, delay):
    """How many of the frames shown at these times (ms) after the first came more than one delay
    after they were due: one delay after the frame before was due, or was shown when that one was
    late, so that one hold-up counts once."""
    late, due = 0, shown[0] if shown else 0
    for t in shown[1:]:
        due += delay
        if t - due > delay:
            late += 1
            due = t
    return late


# Figure 9's GIF: its screen's side, frames, delay (hundredths of a second), rounds after the
# first, and the band its later frames cover when the converter refuses whole ones.
ANIMATION_SIZE = 2000
ANIMATION_FRAMES = 40
ANIMATION_DELAY_CS = 5
ANIMATION_LOOPS = 2
ANIMATION_BAND = 600

# The view's zoom steps (+ and -); a 6000 x 4000 image fitted to this screen is below 1/4.
ZOOM_STEPS = [1 / 32, 1 / 24, 1 / 16, 1 / 12, 1 / 8, 1 / 6, 1 / 4, 1 / 3, 1 / 2, 2 / 3, 1, 1.5, 2, 3, 4, 8]
ZOOM_KEY_GAP = 700  # ms between keys: time for any step to reach the screen
MENU_KEY_GAP = 400  # ms from opening the View menu to choosing its item
MEMORY_KEY_GAP = 2500  # ms: time for the reduced copies to be built
# 192 x 64 at the centre: at 800 % that still shows enough image pixels to count as a picture.
ZOOM_REGION = "%d,%d,192,64" % ((b.SCREEN[0] - 192) // 2, (b.SCREEN[1] - 64) // 2)


def zoom_name(zoom):
    return zoom if isinstance(zoom, str) else ("%.1f" % (zoom * 100)).rstrip("0").rstrip(".") + " %"


def zoom_plan():
    """The keys of a zoom run in order, each with what it measures: ("repaint", zoom),
    ("step", from, to) or None. It starts fitted, with one use of the View menu not counted
    (the menu's first opening costs more than a repaint); + up to 800 %, two repaints each at
    fit, 50, 100, 200 and 800 %; then - down to the smallest step."""
    def repaint(zoom):
        return [("alt+v", None), ("p", ("repaint", zoom))] * 2

    plan = [("alt+v", None), ("p", None)] + repaint("fit")
    zoom, following = "fit", ZOOM_STEPS.index(1 / 4)
    for stop in (1 / 2, 1, 2, 8):
        while zoom != stop:
            plan.append(("shift+plus", ("step", zoom, ZOOM_STEPS[following])))
            zoom, following = ZOOM_STEPS[following], following + 1
        plan += repaint(zoom)
    for lower in reversed(ZOOM_STEPS[:-1]):
        plan.append(("minus", ("step", zoom, lower)))
        zoom = lower
    return plan


def key_groups(plan):
    """vimo-xwatch's --keys groups for the plan's keys: runs of the same key; a menu's item is
    chosen MENU_KEY_GAP after the menu opened, any other key comes ZOOM_KEY_GAP after the last."""
    groups = []
    for key, _ in plan:
        if groups and groups[-1][0] == key:
            groups[-1][1] += 1
        else:
            groups.append([key, 1])
    return ["%s*%d@%d" % (key, count, MENU_KEY_GAP if key == "p" else ZOOM_KEY_GAP) for key, count in groups]


def slowest(medians, name, limit):
    """The row's measured text and verdict: the worst of the medians, named, against limit ms."""
    if not medians or None in medians.values():
        return "n/a", None
    worst = max(medians, key=medians.get)
    return "%s (%s)" % (b.ms(medians[worst]), name(worst)), medians[worst] <= limit


TRACE_LINE = re.compile(r"^(\d+)\s+(\d+\.\d+)\s+(.*)$")


def folder_reads(trace, folder, split_epoch):
    """Counts the opens of FOLDER and the entries read from it, before and after SPLIT_EPOCH."""
    folder = os.path.normpath(folder)
    phases = {"start": {"opens": 0, "entries": 0, "calls": 0}, "after": {"opens": 0, "entries": 0, "calls": 0}}
    open_fds, pending = set(), {}
    with open(trace, errors="replace") as lines:
        for line in lines:
            match = TRACE_LINE.match(line)
            if not match:
                continue
            pid, epoch, call = match.group(1), float(match.group(2)), match.group(3)
            phase = phases["start" if epoch < split_epoch else "after"]
            if call.endswith("<unfinished ...>"):
                pending[pid] = call[: -len("<unfinished ...>")]
                continue
            resumed = re.match(r"<\.\.\. \w+ resumed>(.*)$", call)
            if resumed:
                call = pending.pop(pid, "") + resumed.group(1)
            opened = re.match(r'open(?:at)?\((?:[^,]+, )?"([^"]*)".*O_DIRECTORY.*\)\s+=\s+(\d+)', call)
            if opened and os.path.normpath(opened.group(1)) == folder:
                open_fds.add(opened.group(2))
                phase["opens"] += 1
                continue
            closed = re.match(r"close\((\d+)\)", call)
            if closed:
                open_fds.discard(closed.group(1))
                continue
            read = re.match(r"getdents64\((\d+),", call)
            if read and read.group(1) in open_fds:
                entries = re.search(r"/\* (\d+) entries \*/", call)
                phase["calls"] += 1
                phase["entries"] += int(entries.group(1)) if entries else 0
    return phases["start"], phases["after"]


def wait_for_event(log, kind, process, timeout=300):
    """The value of the first event of this kind in the log vimo-xwatch writes ("" for none), once
    it is there; None when the watcher ended first or it took too long."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        if os.path.exists(log):
            for _, logged, value in b.read_log(log):
                if logged == kind:
                    return value
        if process.poll() is not None:
            return None
        time.sleep(0.1)
    return None


def offers(process, target, timeout=600):
    """Whether the clipboard offers target (its owner may take a while to take it) before the
    process ends or the time runs out."""
    deadline = time.time() + timeout
    while time.time() < deadline and process.poll() is None:
        done = subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"], capture_output=True, text=True)
        if target in done.stdout.split():
            return True
        time.sleep(0.2)
    return False


def proc_kib(pid, field):
    """A size field of /proc/PID/status (VmRSS, VmHWM) in KiB; None once the process is gone."""
    try:
        with open("/proc/%s/status" % pid) as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def png_size(path):
    """(width, height) from a PNG's header; None for anything else."""
    try:
        with open(path, "rb") as png:
            head = png.read(24)
    except OSError:
        return None
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    return Bench(sys.argv[1], int(sys.argv[2]) if len(sys.argv) == 3 else 1).run()


if __name__ == "__main__":
    sys.exit(main())
