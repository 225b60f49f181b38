#!/usr/bin/python3
"""A live RTSP camera built on GStreamer's gst-rtsp-server.

The driver's interoperability tests use it as an RTSP/RTP peer that this
project did not write. It serves one live test picture at a mount path, in
one codec (H.264 with or without access-unit delimiters, JPEG, MPEG-4
part 2), with no, Basic or Digest authentication, on 127.0.0.1. Once it
listens it prints the port on a line of its own on stdout; it ends by itself
after --lifetime seconds and on SIGTERM or SIGINT. For tests of long
recordings and of sessions the camera ends, it can give every session a time-out
of a few seconds (and expire idle sessions), drop every session some time after
its PLAY (later requests on it get 454), or close every client's connection
some time after its PLAY.

Run it with Debian's interpreter (/usr/bin/python3): it needs python3-gi and
gir1.2-gst-rtsp-server-1.0.
"""

import argparse
import os
import signal
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402

CODECS = ("h264", "h264-noaud", "jpeg", "mpeg4")
ROLE = "viewer"


def encoder_launch(codec, fps, gop):
    # A key frame every gop pictures, so that a session that begins between
    # key frames decodes soon; x264 in one thread keeps the CPU cost small.
    if codec in ("h264", "h264-noaud"):
        aud = "true" if codec == "h264" else "false"
        return ("x264enc name=enc tune=zerolatency speed-preset=ultrafast threads=1 "
                f"key-int-max={gop} aud={aud} ! video/x-h264,profile=baseline ! "
                "rtph264pay name=pay0 pt=96 config-interval=-1")
    if codec == "jpeg":
        return "jpegenc name=enc quality=75 ! rtpjpegpay name=pay0 pt=26"
    # rtpmp4vpay packs small VOPs together into one packet: a packet time
    # below one frame makes every VOP end a packet with the marker bit.
    ptime = Gst.SECOND // fps // 2
    return (f"avenc_mpeg4 name=enc gop-size={gop} max-bframes=0 ! "
            f"rtpmp4vpay name=pay0 pt=96 config-interval=-1 max-ptime={ptime}")


def restamp_mpeg4(encoder):
    """avenc_mpeg4 (GStreamer 1.22, FFmpeg 5.1) stamps every output buffer
    with 2^63 ns: the server then sends no RTP at all, and a payloader alone
    gives every packet the same RTP time. Give each output the time of the
    picture it came from. Without B-frames the encoder hands out each
    picture while it takes it in, so an output belongs to the latest input.
    (Pairing inputs and outputs one by one drifts: after the server's flush
    at PLAY the encoder drops the first pictures, whose times go back.) The
    encoder's output segment starts 1000 hours after its input segment, to
    leave room for negative decoding times; the new times keep that shift."""
    state = {"pts": Gst.CLOCK_TIME_NONE, "in": 0, "out": 0}

    def segment_start(info):
        event = info.get_event()
        return event.parse_segment().start if event.type == Gst.EventType.SEGMENT else None

    def on_input(_pad, info):
        if info.type & Gst.PadProbeType.BUFFER:
            state["pts"] = info.get_buffer().pts
        elif segment_start(info) is not None:
            state["in"] = segment_start(info)
        return Gst.PadProbeReturn.OK

    def on_output(_pad, info):
        if info.type & Gst.PadProbeType.BUFFER:
            buf = info.get_buffer()
            if state["pts"] != Gst.CLOCK_TIME_NONE:
                buf.pts = state["pts"] - state["in"] + state["out"]
                buf.dts = buf.pts
        elif segment_start(info) is not None:
            state["out"] = segment_start(info)
        return Gst.PadProbeReturn.OK

    kinds = Gst.PadProbeType.BUFFER | Gst.PadProbeType.EVENT_DOWNSTREAM
    encoder.get_static_pad("sink").add_probe(kinds, on_input)
    encoder.get_static_pad("src").add_probe(kinds, on_output)


class Factory(GstRtspServer.RTSPMediaFactory):
    def __init__(self, args):
        super().__init__()
        self.codec = args.codec
        # rtpjpegpay takes 4:2:0 and 4:2:2 pictures only.
        caps = f"video/x-raw,format=I420,width={args.width},height={args.height},framerate={args.fps}/1"
        self.launch = (f"( videotestsrc is-live=true pattern=ball ! {caps} ! "
                       f"{encoder_launch(args.codec, args.fps, args.gop or args.fps)} )")
        if args.clip:
            # A recorded H.264 stream served as it is, at its own frame rate,
            # over and over; one pipeline for every client, as a camera has.
            self.launch = (f"( multifilesrc location={args.clip} loop=true ! "
                           f"video/x-h264,stream-format=byte-stream,framerate={args.fps}/1 ! h264parse ! "
                           "rtph264pay name=pay0 pt=96 config-interval=-1 )")
            self.set_shared(True)

    def do_create_element(self, _url):
        element = Gst.parse_launch(self.launch)
        if self.codec == "mpeg4":
            restamp_mpeg4(element.get_by_name("enc"))
        return element


def add_auth(server, factory, args):
    auth = GstRtspServer.RTSPAuth()
    token = GstRtspServer.RTSPToken()
    token.set_string(GstRtspServer.RTSP_TOKEN_MEDIA_FACTORY_ROLE, ROLE)
    if args.auth == "basic":
        auth.add_basic(GstRtspServer.RTSPAuth.make_basic(args.user, args.password), token)
        auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
    else:
        auth.add_digest(args.user, args.password, token)
        auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
    server.set_auth(auth)
    permissions = GstRtspServer.RTSPPermissions()
    permissions.add_permission_for_role(ROLE, GstRtspServer.RTSP_PERM_MEDIA_FACTORY_ACCESS, True)
    permissions.add_permission_for_role(ROLE, GstRtspServer.RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, True)
    factory.set_permissions(permissions)


def watch_sessions(server, args):
    """Session time-out, and the session ends the test asked for, per client."""
    pool = server.get_session_pool()

    def on_new_session(_client, session):
        if args.session_timeout > 0:
            session.set_timeout(args.session_timeout)

    def end_session(session):
        pool.remove(session)
        return GLib.SOURCE_REMOVE

    def close_client(client):
        client.close()
        return GLib.SOURCE_REMOVE

    def on_play(client, context):
        session = context.session
        if args.end_sessions_after > 0 and session is not None:
            GLib.timeout_add(int(args.end_sessions_after * 1000), end_session, session)
        if args.close_clients_after > 0:
            GLib.timeout_add(int(args.close_clients_after * 1000), close_client, client)

    def on_client(_server, client):
        client.connect("new-session", on_new_session)
        client.connect("play-request", on_play)

    server.connect("client-connected", on_client)
    if args.session_timeout > 0:
        # The pool expires sessions only when asked to.
        GLib.timeout_add(250, lambda: pool.cleanup() >= 0)


def log_messages():
    """Every RTSP request and reply as the server parsed it, and GStreamer's
    warnings and errors, on stderr. gst-rtsp-server prints the messages
    (with g_print, so on stdout) when its client category logs at LOG
    level; stdout goes to stderr once the port is out."""
    def log(category, level, _file, _function, _line, _object, message, *_):
        if level <= Gst.DebugLevel.WARNING:
            print(f"gst {level.value_nick} {category.get_name()}: {message.get()}", file=sys.stderr, flush=True)

    Gst.debug_remove_log_function(None)
    Gst.debug_add_log_function(log, None)
    Gst.debug_set_default_threshold(Gst.DebugLevel.WARNING)
    Gst.debug_set_threshold_for_name("rtspclient", Gst.DebugLevel.LOG)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0, help="0: a free port, printed on stdout")
    parser.add_argument("--codec", choices=CODECS, default="h264")
    parser.add_argument("--width", type=int, default=320)
    parser.add_argument("--height", type=int, default=240)
    parser.add_argument("--fps", type=int, default=25)
    parser.add_argument("--gop", type=int, default=0, help="frames between key frames; 0: one a second")
    parser.add_argument("--clip", help="an H.264 Annex B file to serve instead of a test picture")
    parser.add_argument("--auth", choices=("none", "basic", "digest"), default="none")
    parser.add_argument("--user", default="admin")
    parser.add_argument("--password", default="admin")
    parser.add_argument("--mount", default="/PSIA/Streaming/channels/1")
    parser.add_argument("--lifetime", type=float, default=120, help="seconds until the server ends by itself")
    parser.add_argument("--session-timeout", type=int, default=0, help="seconds; 0: the server's default")
    parser.add_argument("--end-sessions-after", type=float, default=0, help="drop each session this long after PLAY")
    parser.add_argument("--close-clients-after", type=float, default=0,
                        help="close each client's connection this long after PLAY")
    parser.add_argument("--log", action="store_true", help="RTSP messages and GStreamer warnings on stderr")
    args = parser.parse_args()

    Gst.init(None)
    if args.log:
        log_messages()
    loop = GLib.MainLoop()
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(str(args.port))
    factory = Factory(args)
    if args.auth != "none":
        add_auth(server, factory, args)
    server.get_mount_points().add_factory(args.mount, factory)
    watch_sessions(server, args)
    if server.attach(None) == 0:
        print(f"cannot listen on 127.0.0.1:{args.port}", file=sys.stderr)
        return 1

    def quit_loop(*_):
        loop.quit()
        return GLib.SOURCE_REMOVE

    for signum in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_HIGH, signum, quit_loop)
    GLib.timeout_add(int(args.lifetime * 1000), quit_loop)

    print(server.get_bound_port(), flush=True)
    if args.log:
        os.dup2(sys.stderr.fileno(), sys.stdout.fileno())
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
