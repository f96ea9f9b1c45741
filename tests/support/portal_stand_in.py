#!/usr/bin/python3
"""portal_stand_in.py DIR: a session bus of its own (dbus-daemon) whose address goes to DIR/address
once ready, and on it a stand-in for the desktop portal's SetWallpaperURI. Each call is appended to
DIR/calls ("URI<TAB>options") and answered as DIR/answer then says: the request's Response 0, 1
or 2, or "unknown", the error of a portal without a wallpaper backend. Runs until end of input."""
import os, subprocess, sys
import dbus, dbus.mainloop.glib, dbus.service
from gi.repository import GLib

folder = sys.argv[1]
daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE, text=True)
address = daemon.stdout.readline().strip()
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(address)

class Request(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, response, results):
        pass

class Portal(dbus.service.Object):
    @dbus.service.method("org.freedesktop.portal.Wallpaper", in_signature="ssa{sv}", out_signature="o", sender_keyword="sender")
    def SetWallpaperURI(self, parent, uri, options, sender):
        with open(os.path.join(folder, "calls"), "a") as calls:
            calls.write("%s\t%r\n" % (uri, {str(k): (bool(v) if isinstance(v, dbus.Boolean) else str(v)) for k, v in options.items()}))
        answer = open(os.path.join(folder, "answer")).read().strip()
        if answer == "unknown":
            raise dbus.exceptions.DBusException("no wallpaper backend", name="org.freedesktop.DBus.Error.UnknownMethod")
        request = Request(bus, "/org/freedesktop/portal/desktop/request/%s/%s" % (sender[1:].replace(".", "_"), options["handle_token"]))
        GLib.idle_add(lambda: request.Response(dbus.UInt32(int(answer)), dbus.Dictionary({}, signature="sv")) and False)
        return request

name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)
portal = Portal(bus, "/org/freedesktop/portal/desktop")
with open(os.path.join(folder, "address.new"), "w") as out:
    out.write(address)
os.rename(os.path.join(folder, "address.new"), os.path.join(folder, "address"))
loop = GLib.MainLoop()
GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, lambda *_: os.read(sys.stdin.fileno(), 4096) != b"" or loop.quit())
loop.run()
daemon.terminate()
daemon.wait()
