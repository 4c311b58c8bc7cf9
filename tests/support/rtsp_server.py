#!/usr/bin/python3
"""RTSP server for the tests, on 127.0.0.1 only.

Mounts: /live  a live test picture (H.264, a key frame every 25 pictures)
        /file  the given MP4 file (H.264, and its AAC audio when it has some)
        /rtp   with --rtp-udp-port: H.264 sent as RTP (payload type 96) to that UDP port on
               127.0.0.1, for a live source of the caller's making
Stops by itself after --lifetime seconds.
"""
import argparse

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--port", type=int, required=True)
parser.add_argument("--file", default="")
parser.add_argument("--lifetime", type=int, default=120)
parser.add_argument("--rtp-udp-port", type=int, default=0)
parser.add_argument("--log-clients", action="store_true",
                    help="print a line for every client connection")
args = parser.parse_args()

Gst.init(None)
server = GstRtspServer.RTSPServer()
server.set_address("127.0.0.1")
server.set_service(str(args.port))
mounts = server.get_mount_points()

live = GstRtspServer.RTSPMediaFactory()
live.set_launch("( videotestsrc is-live=true ! video/x-raw,width=320,height=240,framerate=25/1 "
                "! x264enc tune=zerolatency speed-preset=ultrafast key-int-max=25 "
                "! rtph264pay name=pay0 pt=96 config-interval=1 )")
live.set_shared(True)
mounts.add_factory("/live", live)

if args.file:
    media = GstRtspServer.RTSPMediaFactory()
    media.set_launch(f'( filesrc location="{args.file}" ! qtdemux name=d '
                     "d.video_0 ! queue ! h264parse ! rtph264pay name=pay0 pt=96 config-interval=1 )")
    mounts.add_factory("/file", media)

if args.rtp_udp_port:
    rtp = GstRtspServer.RTSPMediaFactory()
    rtp.set_launch(f"( udpsrc address=127.0.0.1 port={args.rtp_udp_port} "
                   'caps="application/x-rtp,media=video,encoding-name=H264,payload=96,clock-rate=90000" '
                   "! rtph264depay ! h264parse ! rtph264pay name=pay0 pt=96 config-interval=1 )")
    rtp.set_shared(True)
    mounts.add_factory("/rtp", rtp)

if args.log_clients:
    import time

    def on_client(_server, _client):
        print(f"client {time.time():.3f}", flush=True)

    server.connect("client-connected", on_client)

server.attach(None)
loop = GLib.MainLoop()
GLib.timeout_add_seconds(args.lifetime, loop.quit)
print(f"rtsp server on 127.0.0.1:{args.port}", flush=True)
loop.run()
