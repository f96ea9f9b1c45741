"""Shared parts of the viewer benchmarks: the test pictures, running a viewer under the outside
observer (vimo-xwatch), reading its event log, and printing the table.

Every figure is measured from outside the viewer, the same way for Vimo and for the other
viewers: keys are typed through the X server, the picture is read back from the X server when
it reports damage, converted files are seen through inotify, memory and CPU through /proc."""

import os
import re
import shutil
import statistics
import subprocess
import time

SCREEN = (1600, 1000)
IM = "convert-im6.q16"
BROWSE_COUNT = 20
LARGE_FILES = 20000
LARGE_IMAGE_EVERY = 100  # 200 images among 20,000 files
GRID_PHOTOS = 500        # photographs of 12 MP in the grid's folder
GRID_FILES = 10000       # small JPEGs in the folder scrolled end to end
HEIC_PICTURES = 3   # distinct 12 MP HEICs (and 24 MP DNGs), taken in turn by the folders below
FORMAT_BROWSE = 10  # files of the other formats' browsing folders
HEIC_GRID = 200     # HEIC photos in the grid's folder
# The grid's part of the screen: under the menu and the tool bar, above the status bar.
GRID_REGION = "0,64,%d,%d" % (SCREEN[0], SCREEN[1] - 64 - 32)


# ---------------------------------------------------------------------------------------------
# Test pictures, generated once into BUILD_DIR/bench-data and kept.

def _make_jpeg(path, seed, size, small):
    """A photograph-like JPEG: a seeded plasma, enlarged, with noise, quality 90."""
    if os.path.exists(path) and os.path.getsize(path) > 0:
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    part = path + ".part"
    subprocess.run(["nice", "-n", "10", IM, "-seed", str(seed), "-size", small, "plasma:fractal",
                    "-resize", size + "!", "-attenuate", "0.4", "+noise", "Gaussian",
                    "-quality", "90", "JPEG:" + part], check=True)
    os.replace(part, path)


def ensure_data(data):
    """Makes the pictures the figures use and returns their paths."""
    paths = {"data": data}
    browse = os.path.join(data, "browse")
    missing = [i for i in range(1, BROWSE_COUNT + 1)
               if not os.path.exists(os.path.join(browse, "img%02d.jpg" % i))]
    if missing:
        print("generating %d 24 MP JPEGs into %s (once; about 8 s each)..." % (len(missing), browse),
              flush=True)
    for i in range(1, BROWSE_COUNT + 1):
        _make_jpeg(os.path.join(browse, "img%02d.jpg" % i), i, "6000x4000", "1200x800")
    paths["browse"] = [os.path.join(browse, "img%02d.jpg" % i) for i in range(1, BROWSE_COUNT + 1)]

    # The first-image pictures sit alone in their folders, so nothing else is read ahead.
    paths["first1"] = os.path.join(data, "first-1mp", "photo-1mp.jpg")
    _make_jpeg(paths["first1"], 101, "1224x816", "612x408")
    paths["first24"] = os.path.join(data, "first-24mp", "photo-24mp.jpg")
    if not os.path.exists(paths["first24"]):
        os.makedirs(os.path.dirname(paths["first24"]), exist_ok=True)
        shutil.copyfile(paths["browse"][0], paths["first24"])

    # A folder of 20,000 files of which every 100th is a 960 x 640 JPEG (hard links of one; big
    # enough to reach the watched region at the screen's centre at natural size).
    large = os.path.join(data, "large")
    done = os.path.join(large, ".complete")
    small = os.path.join(data, "small-960x640.jpg")
    _make_jpeg(small, 102, "960x640", "480x320")
    if not os.path.exists(done):
        print("generating %d files into %s (once)..." % (LARGE_FILES, large), flush=True)
        os.makedirs(large, exist_ok=True)
        for i in range(LARGE_FILES):
            if i % LARGE_IMAGE_EVERY == 0:
                target = os.path.join(large, "f-%05d.jpg" % i)
                if not os.path.exists(target):
                    os.link(small, target)
            else:
                open(os.path.join(large, "f-%05d.txt" % i), "a").close()
        open(done, "w").close()
    paths["large"] = large
    paths["large_open"] = os.path.join(large, "f-%05d.jpg" % (LARGE_FILES // 2))

    # The grid's folders: 500 photographs of 12 MP (4000 x 3000, cut by vimo-bench-jpeg from the
    # twenty 24 MP pictures, each copied to 25 files), and 10,000 small JPEGs (hard links of one).
    grid = os.path.join(data, "grid500")
    if not os.path.exists(os.path.join(grid, ".complete")):
        print("generating %d 12 MP JPEGs into %s (once)..." % (GRID_PHOTOS, grid), flush=True)
        os.makedirs(grid, exist_ok=True)
        cutter = os.path.join(os.path.dirname(data), "bench", "vimo-bench-jpeg")
        for i in range(GRID_PHOTOS):
            target = os.path.join(grid, "photo-%03d.jpg" % i)
            source = paths["browse"][i % BROWSE_COUNT]
            if os.path.exists(target):
                continue
            if i < BROWSE_COUNT:
                subprocess.run(["nice", "-n", "10", cutter, source, "4000", "3000", target + ".part"], check=True)
                os.replace(target + ".part", target)
            else:
                shutil.copyfile(os.path.join(grid, "photo-%03d.jpg" % (i % BROWSE_COUNT)), target)
        open(os.path.join(grid, ".complete"), "w").close()
    paths["grid500"] = grid
    # The same photographs as a camera stores them: each with a 160 x 120 picture of itself in its
    # EXIF block (exiftool's ThumbnailImage), which a viewer may show instead of decoding the photo.
    camera = os.path.join(data, "grid500-camera")
    if not os.path.exists(os.path.join(camera, ".complete")):
        print("generating %d 12 MP JPEGs with EXIF thumbnails into %s (once)..." % (GRID_PHOTOS, camera), flush=True)
        os.makedirs(camera, exist_ok=True)
        for i in range(GRID_PHOTOS):
            target = os.path.join(camera, "photo-%03d.jpg" % i)
            if os.path.exists(target):
                continue
            if i < BROWSE_COUNT:
                source = os.path.join(grid, "photo-%03d.jpg" % i)
                thumb = target + ".thumb.jpg"
                subprocess.run(["nice", "-n", "10", IM, "-define", "jpeg:size=320x240", source, "-thumbnail", "160x120!",
                                "-quality", "80", "JPEG:" + thumb], check=True)
                subprocess.run(["nice", "-n", "10", "exiftool", "-q", "-Make=VimoCam", "-ThumbnailImage<=" + thumb,
                                "-o", target + ".part.jpg", source], check=True)
                os.remove(thumb)
                os.replace(target + ".part.jpg", target)
            else:
                shutil.copyfile(os.path.join(camera, "photo-%03d.jpg" % (i % BROWSE_COUNT)), target)
        open(os.path.join(camera, ".complete"), "w").close()
    paths["grid500camera"] = camera
    many = os.path.join(data, "grid10k")
    if not os.path.exists(os.path.join(many, ".complete")):
        print("generating %d small JPEGs into %s (once)..." % (GRID_FILES, many), flush=True)
        os.makedirs(many, exist_ok=True)
        for i in range(GRID_FILES):
            target = os.path.join(many, "g-%05d.jpg" % i)
            if not os.path.exists(target):
                os.link(small, target)
        open(os.path.join(many, ".complete"), "w").close()
    paths["grid10k"] = many
    return paths


def _linked(source, target):
    if not os.path.exists(target):
        os.makedirs(os.path.dirname(target), exist_ok=True)
        os.link(source, target)


def ensure_formats(paths):
    """The other formats' pictures, made once beside the others: 12 MP HEICs encoded by heif-enc
    from the grid's photos (with a thumbnail of 320 pixels, as phones store one), and 24 MP DNGs
    written by the tests' make-dng (a 6000 x 4000 raw mosaic, and a browsing photo as its
    full-size JPEG preview). Each folder holds them in turn, as hard links."""
    data = paths["data"]
    make_dng = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support", "make-dng")
    heics, dngs = [], []
    for i in range(HEIC_PICTURES):
        heic = os.path.join(data, "heic", "source-%d.heic" % i)
        dng = os.path.join(data, "dng", "source-%d.dng" % i)
        if not os.path.exists(heic):
            print("encoding a 12 MP HEIC into %s (once; up to a minute)..." % heic, flush=True)
            os.makedirs(os.path.dirname(heic), exist_ok=True)
            subprocess.run(["nice", "-n", "10", "heif-enc", "-q", "80", "-t", "320", os.path.join(paths["grid500"], "photo-%03d.jpg" % i),
                            "-o", heic + ".part"], check=True, stdout=subprocess.DEVNULL)
            os.replace(heic + ".part", heic)
        if not os.path.exists(dng):
            os.makedirs(os.path.dirname(dng), exist_ok=True)
            subprocess.run(["nice", "-n", "10", make_dng, dng + ".part", "--raw", "6000x4000", "--preview", paths["browse"][i],
                            "--make", "Vimo", "--model", "Bench"], check=True)
            os.replace(dng + ".part", dng)
        heics.append(heic)
        dngs.append(dng)
    paths["heic_first"] = os.path.join(data, "heic-first", "photo-12mp.heic")
    paths["dng_first"] = os.path.join(data, "dng-first", "photo-24mp.dng")
    _linked(heics[0], paths["heic_first"])
    _linked(dngs[0], paths["dng_first"])
    paths["heic_browse"] = [os.path.join(data, "heic-browse", "h%02d.heic" % i) for i in range(1, FORMAT_BROWSE + 1)]
    paths["dng_browse"] = [os.path.join(data, "dng-browse", "d%02d.dng" % i) for i in range(1, FORMAT_BROWSE + 1)]
    for i in range(FORMAT_BROWSE):
        _linked(heics[i % HEIC_PICTURES], paths["heic_browse"][i])
        _linked(dngs[i % HEIC_PICTURES], paths["dng_browse"][i])
    paths["heic_grid"] = os.path.join(data, "heic-grid%d" % HEIC_GRID)
    for i in range(HEIC_GRID):
        _linked(heics[i % HEIC_PICTURES], os.path.join(paths["heic_grid"], "photo-%03d.heic" % i))
    return paths


# ---------------------------------------------------------------------------------------------
# Running a viewer under the observer.

def viewer_env(home):
    """The environment of a viewer run: its own home (profile, caches), nothing else changed."""
    env = dict(os.environ)
    for name in ("XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"):
        env.pop(name, None)
    runtime = os.path.join(home, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    os.makedirs(os.path.join(home, ".cache"), exist_ok=True)
    env["HOME"] = home
    env["XDG_RUNTIME_DIR"] = runtime
    env["QT_QPA_PLATFORM"] = "xcb"
    env["NO_AT_BRIDGE"] = "1"  # GTK viewers: no accessibility bus to wait for
    return env


def temp_root():
    return os.environ.get("TMPDIR") or "/tmp"


def watch(xwatch, log, command, home, settle=1000, wait=0, keys=(), tail=2000, idle=0,
          quiet=0, timeout=30000, region=None, damage=False, made=None, pictures=False, env=None):
    """Runs COMMAND under vimo-xwatch and returns its events (with damage, also each drawing in
    the region that changed nothing; with made (DIR, N), the pictures completed below DIR until
    the N-th ends the run; with pictures, the thumbnails the settled region shows). env: more
    variables for the viewer."""
    args = [xwatch, "--log", log, "--geometry", "%dx%d" % SCREEN, "--settle", str(settle),
            "--wait", str(wait), "--tail", str(tail), "--timeout", str(timeout),
            "--watch", temp_root(), "--watch", os.path.join(home, ".cache")]
    for group in keys:
        args += ["--keys", group]
    if idle:
        args += ["--idle", str(idle)]
    if quiet:
        args += ["--quiet", str(quiet)]
    if region:
        args += ["--region", region]
    if damage:
        args += ["--damage"]
    if made:
        args += ["--made", "%s:%d" % made]
    if pictures:
        args += ["--pictures"]
    environment = viewer_env(home)
    environment.update(env or {})
    subprocess.run(args + ["--"] + list(command), env=environment, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    events = read_log(log)
    remove_leftovers(events, home)
    return events


def remove_leftovers(events, home):
    """A viewer that had to be killed leaves its private folder: it goes, so runs don't pile up."""
    pid = value(events, "launch")
    if not pid:
        return
    for root in (temp_root(), os.path.join(home, ".cache", "vimo")):
        if not os.path.isdir(root):
            continue
        for name in os.listdir(root):
            if name.startswith("vimo-%s-" % pid):
                shutil.rmtree(os.path.join(root, name), ignore_errors=True)


def read_log(path):
    events = []
    with open(path, encoding="utf-8", errors="replace") as log:
        for line in log:
            parts = line.rstrip("\n").split(" ", 2)
            if len(parts) < 2:
                continue
            events.append((float(parts[0]), parts[1], parts[2] if len(parts) > 2 else ""))
    return events


# ---------------------------------------------------------------------------------------------
# Reading the events.

PICTURE_COLOURS = 32  # the watched region shows a picture, not a plain background or a spinner


def _pixels(events, begin=0, end=None):
    """(time, hash, colours) of the region's changes among events[begin:end]."""
    result = []
    for t, kind, text in events[begin:end]:
        if kind == "pixels":
            fields = text.split()
            result.append((t, fields[0], int(fields[1]) if len(fields) > 1 else 0))
    return result


def first_picture(events):
    """Milliseconds from the start to the first pixels of the picture, and to its first showing
    in the form it settled in (a viewer may draw a quick version first); (None, None) when no
    picture came."""
    mapped = next((i for i, (_, kind, _) in enumerate(events) if kind == "map"), None)
    settled = next((i for i, (_, kind, _) in enumerate(events) if kind == "settled"), None)
    if mapped is None or settled is None:
        return None, None
    pixels = [p for p in _pixels(events, mapped, settled) if p[2] >= PICTURE_COLOURS]
    if not pixels:
        return None, None
    final = pixels[-1][1]
    return pixels[0][0], next(t for t, h, _ in pixels if h == final)


def titled(events, name):
    """Milliseconds from the start to the first window title that begins with name after the last
    that did not (the title the window is made with may name the file already); None when none did."""
    titles = [(t, text) for t, kind, text in events if kind == "title"]
    last_other = max((i for i, (_, text) in enumerate(titles) if not text.startswith(name)), default=-1)
    return next((t for t, text in titles[last_other + 1:]), None)


def key_latencies(events):
    """For every key: (key, ms to the first pixels of a new picture, ms to the first showing of
    the picture the region settled on before the next key); None, None when nothing changed."""
    keys = [i for i, (_, kind, _) in enumerate(events) if kind == "key"]
    if not keys:
        return []
    last = next((i for i, (_, kind, _) in enumerate(events) if kind in ("cpu", "hwm", "exit") and i > keys[-1]),
                len(events))
    result = []
    for start, end in zip(keys, keys[1:] + [last]):
        t_key = events[start][0]
        before = _pixels(events, 0, start)
        shown = before[-1][1] if before else None
        changes = [p for p in _pixels(events, start + 1, end) if p[1] != shown and p[2] >= PICTURE_COLOURS]
        if not changes:
            result.append((events[start][2], None, None))
            continue
        final = _pixels(events, start + 1, end)[-1][1]
        settled = next((t for t, h, _ in changes if h == final), None)
        result.append((events[start][2], changes[0][0] - t_key, None if settled is None else settled - t_key))
    return result


def drawing_latencies(events):
    """For every key: ms to the first drawing that reached the region after it, whether it
    changed the pixels or not (vimo-xwatch --damage); None when nothing was drawn there before
    the next key."""
    keys = [i for i, (_, kind, _) in enumerate(events) if kind == "key"]
    result = []
    for start, end in zip(keys, keys[1:] + [len(events)]):
        drawn = next((t for t, kind, _ in events[start + 1:end] if kind in ("damage", "pixels")), None)
        result.append(None if drawn is None else drawn - events[start][0])
    return result


def event_time(events, kind):
    """Milliseconds from the start to the first event of this kind; None when there is none."""
    return next((t for t, k, _ in events if k == kind), None)


def value(events, kind):
    return next((v for _, k, v in events if k == kind), None)


def hwm_mib(events):
    kb = value(events, "hwm")
    return int(kb) / 1024 if kb else None


def disk_peak(events):
    """The largest total of converted files seen, in MiB, and the folders they were in."""
    peak = max([int(v) for _, k, v in events if k == "disk"] or [0])
    folders = sorted({os.path.dirname(v.rsplit(" ", 1)[0]) for _, k, v in events if k == "file"})
    return peak / (1024 * 1024), folders


def fs_type(path):
    """The file system type of PATH, or of its nearest existing parent (a viewer's private
    folder is gone once it has closed)."""
    while path and not os.path.exists(path):
        path = os.path.dirname(path)
    try:
        return subprocess.run(["stat", "-f", "-c", "%T", path], capture_output=True, text=True,
                              check=True).stdout.strip()
    except (subprocess.CalledProcessError, FileNotFoundError):
        return "?"


# ---------------------------------------------------------------------------------------------
# Numbers and the table.

def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def ms(value):
    return "n/a" if value is None else "%.0f ms" % value


def verdict(ok):
    return "n/a" if ok is None else ("pass" if ok else "fail")


ROW = "%-46s %-12s %-30s %s"


def header():
    return ROW % ("figure", "goal", "measured", "result")


def row(figure, goal, measured, result):
    return ROW % (figure, goal, measured, result)


def timed(command, runs, env=None):
    """Median wall time in ms of a command, run RUNS times."""
    times = []
    for _ in range(runs):
        start = time.monotonic()
        subprocess.run(command, check=True, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append((time.monotonic() - start) * 1000)
    return statistics.median(times)


TITLE_IMAGE = re.compile(r"(img\d\d\.jpg)")
