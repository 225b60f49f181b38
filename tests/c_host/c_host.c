/* A recorder host in plain C, bound to the driver the way a host written
 * without our headers is: the library loaded by path, the exports found by
 * name, and every interface taken as a table of function pointers in slot
 * order. With GCC on Linux a virtual destructor fills the first two slots
 * (complete and deleting destructor), so operation k of an interface sits in
 * slot k + 1; on Windows the driver keeps Microsoft's layout, one scalar
 * deleting destructor in slot 0 and operation k in slot k, __thiscall on
 * 32-bit. Every host slot the driver has no business calling (destructors,
 * unnamed operations, anything past the last operation) is a trap; each host
 * object accepts calls only while the host expects them, and the calls that
 * have a described order are journaled and compared.
 *
 * Usage: c_host <driver library> <camsim executable>  (Linux: starts camsim)
 *        c_host <driver library> --camera <HTTP port> <RTSP port> [--unload <rounds>]
 *        c_host --camsim-args   (the camsim options the checks expect)
 * Exit status 0 when every check held. */
#define _GNU_SOURCE
#include <pthread.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#if defined(_WIN32)
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>
#undef DELETE /* an access right in winnt.h; an export index here */
#define timegm _mkgmtime
#define close_socket closesocket
#else
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#define close_socket close
#endif

#if defined(_WIN32)
enum { DESTRUCTOR_SLOTS = 1 };
#else
enum { DESTRUCTOR_SLOTS = 2 };
#endif
/* The calling convention of every interface operation, host's and driver's. */
#if defined(_WIN32) && defined(__i386__)
#define METHOD __attribute__((thiscall))
#else
#define METHOD
#endif

typedef void (*Fn)(void);
enum { SLOTS = 16 };
#define F(f) ((Fn)(f))
/* Operation k (counted from 1, after the destructor slots) of object o. */
#define OP(type, o, k) ((type)(*(Fn* const*)(o))[(k) + DESTRUCTOR_SLOTS - 1])

static atomic_int g_failures;
static pthread_mutex_t g_mu = PTHREAD_MUTEX_INITIALIZER;

static void fail(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    fputs("FAIL: ", stderr);
    vfprintf(stderr, fmt, args);
    fputc('\n', stderr);
    va_end(args);
    atomic_fetch_add(&g_failures, 1);
}
#define CHECK(cond, ...) do { if (!(cond)) fail(__VA_ARGS__); } while (0)

/* ---- host objects: a table, a name, and whether calls are expected now ---- */

typedef struct Obj {
    const Fn* vt;
    const char* name;
    atomic_bool live;
} Obj;

static bool enter(Obj* self, const char* op) {
    if (atomic_load(&self->live)) return true;
    fail("%s %s called when the host does not expect it", self->name, op);
    return false;
}

static char g_journal[128][128];
static atomic_int g_journaled;

/* Checks that the call is expected and journals it as "<object> <op> <args>". */
static bool note(Obj* self, const char* op, const char* fmt, ...) {
    if (!enter(self, op)) return false;
    pthread_mutex_lock(&g_mu);
    if (g_journaled < 128) {
        char* line = g_journal[atomic_fetch_add(&g_journaled, 1)];
        int at = snprintf(line, sizeof g_journal[0], "%s %s", self->name, op);
        if (fmt) {
            va_list args;
            va_start(args, fmt);
            vsnprintf(line + at, sizeof g_journal[0] - (size_t)at, fmt, args);
            va_end(args);
        }
    }
    pthread_mutex_unlock(&g_mu);
    return true;
}

/* The journal from mark on, joined by "; ", must equal expected. */
static void expect_journal(int mark, const char* expected) {
    static char got[8192];
    size_t at = 0;
    got[0] = 0;
    pthread_mutex_lock(&g_mu);
    for (int i = mark; i < g_journaled; ++i)
        at += (size_t)snprintf(got + at, sizeof got - at, "%s%s", at ? "; " : "", g_journal[i]);
    pthread_mutex_unlock(&g_mu);
    CHECK(!strcmp(got, expected), "calls\n  %s\nexpected\n  %s", got, expected);
}

static uintptr_t trapped(Obj* self, int slot) {
    fail("trap: slot %d of %s called", slot, self->name);
    return 0;
}
#define TRAP(n) static uintptr_t METHOD trap##n(Obj* self) { return trapped(self, n); }
TRAP(0) TRAP(1) TRAP(2) TRAP(3) TRAP(4) TRAP(5) TRAP(6) TRAP(7)
TRAP(8) TRAP(9) TRAP(10) TRAP(11) TRAP(12) TRAP(13) TRAP(14) TRAP(15)
static const Fn kTraps[SLOTS] = {F(trap0),  F(trap1),  F(trap2),  F(trap3), F(trap4),  F(trap5),
                                 F(trap6),  F(trap7),  F(trap8),  F(trap9), F(trap10), F(trap11),
                                 F(trap12), F(trap13), F(trap14), F(trap15)};

/* Destructor slots, slots given NULL and the slots after the last operation
 * stay traps. */
static void make_table(Fn* vt, size_t n, const Fn* ops) {
    memcpy(vt, kTraps, sizeof kTraps);
    for (size_t i = 0; i < n; ++i)
        if (ops[i]) vt[DESTRUCTOR_SLOTS + i] = ops[i];
}
#define TABLE(vt, ...) make_table(vt, sizeof((Fn[]){__VA_ARGS__}) / sizeof(Fn), (Fn[]){__VA_ARGS__})

static Fn vt_debug[SLOTS], vt_alloc[SLOTS], vt_sample[SLOTS], vt_device[SLOTS], vt_model[SLOTS], vt_conn[SLOTS],
    vt_sink[SLOTS], vt_settings[SLOTS], vt_image[SLOTS], vt_size[SLOTS], vt_rate[SLOTS], vt_io[SLOTS],
    vt_callback[SLOTS], vt_results[SLOTS], vt_field[SLOTS], vt_prop[SLOTS], vt_reslist[SLOTS], vt_intervals[SLOTS];

static void set_live(bool live, Obj* const* objs, size_t n) {
    for (size_t i = 0; i < n; ++i) atomic_store(&objs[i]->live, live);
}
#define LIVE(on, ...) set_live(on, (Obj* const[]){__VA_ARGS__}, sizeof((Obj* const[]){__VA_ARGS__}) / sizeof(Obj*))

/* ---- the camera: camsim as a process of its own --------------------------- */

static const char kUser[] = "operator", kPassword[] = "s3cret";
/* The camera the checks below expect, after camsim's two port options. */
static const char* const kCamsimArgs[] = {"--user",   kUser, "--password", kPassword, "--fps",
                                          "10",       "--inputs", "3",   "--outputs", "2"};
enum { CAMSIM_ARGS = sizeof kCamsimArgs / sizeof kCamsimArgs[0] };
static unsigned g_http_port, g_rtsp_port;

#if defined(_WIN32)
/* camsim is a Linux program: whoever runs this host starts it (--camera). */
static void stop_camsim(void) {}
static bool start_camsim(const char* path) {
    fprintf(stderr, "FAIL: %s cannot be started from Windows; pass --camera\n", path);
    return false;
}
#else
static pid_t g_camsim;

static void stop_camsim(void) {
    if (g_camsim <= 0) return;
    kill(g_camsim, SIGTERM);
    waitpid(g_camsim, NULL, 0);
    g_camsim = 0;
}

/* Starts camsim on free ports and reads them from its banner. */
static bool start_camsim(const char* path) {
    int out[2];
    if (pipe(out) != 0) return false;
    const char* argv[5 + CAMSIM_ARGS + 1] = {path, "--http-port", "0", "--rtsp-port", "0"};
    memcpy(argv + 5, kCamsimArgs, sizeof kCamsimArgs);
    pid_t parent = getpid();
    g_camsim = fork();
    if (g_camsim == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL); /* never outlive the test */
        if (getppid() != parent) _exit(1);
        dup2(out[1], 1);
        close(out[0]);
        execv(path, (char* const*)argv);
        _exit(127);
    }
    close(out[1]);
    FILE* banner = fdopen(out[0], "r");
    char line[512];
    while (g_camsim > 0 && banner && fgets(line, sizeof line, banner)) {
        const char* at;
        if ((at = strstr(line, "http://127.0.0.1:"))) g_http_port = (unsigned)atoi(at + 17);
        if ((at = strstr(line, "rtsp://127.0.0.1:"))) g_rtsp_port = (unsigned)atoi(at + 17);
        if (strstr(line, "Press Ctrl-C")) break;
    }
    /* The pipe stays open, so camsim's last line cannot raise SIGPIPE. */
    return g_camsim > 0 && g_http_port && g_rtsp_port;
}
#endif

/* Ends a run that hangs, the camera with it. */
static void* watchdog(void* seconds) {
    sleep((unsigned)(uintptr_t)seconds);
    fputs("FAIL: c_host timed out\n", stderr);
#if !defined(_WIN32)
    if (g_camsim > 0) kill(g_camsim, SIGKILL);
#endif
    _exit(2);
    return NULL;
}

static void base64(const char* in, char* out) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t n = strlen(in);
    for (size_t i = 0; i < n; i += 3) {
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k) v = v << 8 | (i + k < n ? (uint8_t)in[i + k] : 0u);
        for (size_t k = 0; k < 4; ++k) *out++ = k <= n - i ? digits[v >> (18 - 6 * k) & 63] : '=';
    }
    *out = 0;
}

/* The camera's own view over PSIA: the number in <element> of the resource
 * (an ioState "active" as 1, "inactive" as 0), or -1. */
static long camera_value(const char* path, const char* element) {
    static char reply[16384];
    char credentials[64], token[96], request[512], open[64];
    snprintf(credentials, sizeof credentials, "%s:%s", kUser, kPassword);
    base64(credentials, token);
    int n = snprintf(request, sizeof request, "GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\nAuthorization: Basic %s\r\n\r\n",
                     path, token);
    /* Winsock's SOCKET and a POSIX descriptor both fit; either is invalid as
     * all bits set. */
    intptr_t fd = (intptr_t)socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in to = {.sin_family = AF_INET, .sin_port = htons((uint16_t)g_http_port)};
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    size_t got = 0;
    int r;
    if (fd != -1 && connect(fd, (struct sockaddr*)&to, sizeof to) == 0 && send(fd, request, n, 0) == n)
        while (got + 1 < sizeof reply && (r = (int)recv(fd, reply + got, (int)(sizeof reply - 1 - got), 0)) > 0)
            got += (size_t)r;
    if (fd != -1) close_socket(fd);
    reply[got] = 0;
    snprintf(open, sizeof open, "<%s>", element);
    const char* at = strstr(reply, open);
    if (!at) return -1;
    at += strlen(open);
    return !strncmp(at, "active<", 7) ? 1 : !strncmp(at, "inactive<", 9) ? 0 : strtol(at, NULL, 10);
}

static void expect_camera(const char* element, long want) {
    long got = camera_value("/PSIA/Streaming/channels/1", element);
    CHECK(got == want, "the camera's %s is %ld, not %ld", element, got, want);
}

static int64_t now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static bool wait_until(bool (*cond)(void), int ms) {
    for (int64_t end = now_ms() + ms; !cond(); usleep(10000))
        if (now_ms() > end) return false;
    return true;
}

/* ---- debug sink ----------------------------------------------------------- */

typedef uint8_t (METHOD *LevelOp)(void*);
typedef const char* (METHOD *TextOp)(void*);
static Obj g_debug = {vt_debug, "IDebugSink", false};
static char g_opened_line[256];
static int g_opened_level = -1, g_online;

static void METHOD debug_receive(Obj* self, void* info) {
    if (!enter(self, "receive")) return;
    uint8_t level = OP(LevelOp, info, 1)(info);
    const char* text = OP(TextOp, info, 2)(info);
    pthread_mutex_lock(&g_mu);
    if (text && !strncmp(text, "DRIVER IS OPENED", 16) && g_opened_level < 0) {
        snprintf(g_opened_line, sizeof g_opened_line, "%s", text);
        g_opened_level = level;
    }
    if (text && !strcmp(text, "telvaro::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online"))
        g_online += level == 3;
    pthread_mutex_unlock(&g_mu);
}

/* ---- samples: allocator, sample, stream sink ------------------------------ */

typedef struct { uint16_t year, month, dayOfWeek, day, hour, minute, second, ms; } SystemTime;
enum { SET_BUFFER = 1, SET_LENGTH = 2, SET_TIME = 4, SET_FOURCC = 8, SET_HEIGHT = 16, SET_WIDTH = 32,
       SET_SIZECLASS = 64, SET_ALL = 127 };
#define FOURCC(s) ((uint32_t)(s)[0] | (uint32_t)(s)[1] << 8 | (uint32_t)(s)[2] << 16 | (uint32_t)(s)[3] << 24)

typedef struct Sample {
    Obj o;
    uint32_t allocFourcc, capacity, length, fourcc, width, height, sizeClass;
    unsigned set;
    SystemTime time;
    uint8_t data[];
} Sample;

static Obj g_alloc = {vt_alloc, "ISampleAllocator", false}, g_sink = {vt_sink, "IStreamSink", false};
static atomic_int g_frames, g_allocated, g_released;
static int g_key_frames, g_wanted_w, g_wanted_h;
static int64_t g_last_time;

static void* METHOD alloc_sample(Obj* self, uint32_t fourcc, uint32_t capacity, const char* driver) {
    if (!enter(self, "AllocateSample")) return NULL;
    CHECK(driver && !strcmp(driver, "Ombrelix"), "sample asked for by \"%s\"", driver ? driver : "(null)");
    Sample* s = calloc(1, sizeof(Sample) + capacity);
    s->o.vt = vt_sample;
    s->o.name = "IMediaSample";
    atomic_init(&s->o.live, true);
    s->allocFourcc = fourcc;
    s->capacity = capacity;
    ++g_allocated;
    return s;
}

static void METHOD release_sample(Obj* self, Sample* s) {
    if (!enter(self, "ReleaseSample") || !enter(&s->o, "release")) return;
    ++g_released;
    free(s);
}

#define SAMPLE_SETTER(name, field, bit) \
    static void METHOD name(Sample* s, uint32_t v) { if (enter(&s->o, #name)) s->field = v, s->set |= bit; }
SAMPLE_SETTER(set_length, length, SET_LENGTH)
SAMPLE_SETTER(set_fourcc, fourcc, SET_FOURCC)
SAMPLE_SETTER(set_height, height, SET_HEIGHT)
SAMPLE_SETTER(set_width, width, SET_WIDTH)
SAMPLE_SETTER(set_size_class, sizeClass, SET_SIZECLASS)
static void METHOD set_time(Sample* s, const SystemTime* t) {
    if (enter(&s->o, "set time")) s->time = *t, s->set |= SET_TIME;
}
static uint8_t* METHOD sample_buffer(Sample* s) {
    if (!enter(&s->o, "buffer")) return NULL;
    s->set |= SET_BUFFER;
    return s->data;
}

static uint32_t bucket(uint32_t n) {
    static const uint32_t sizes[] = {4096, 16384, 32768, 131072};
    for (size_t i = 0; i < 4; ++i)
        if (n <= sizes[i]) return sizes[i];
    return n;
}

/* An H.264 access unit as the host must find it: Annex B with 3-byte start
 * codes, ending in an access unit delimiter, H264 exactly when it carries a
 * sequence parameter set, and a UTC time after the previous frame's. */
static bool METHOD sink_sample(Obj* self, Sample* s) {
    if (!enter(self, "OnSample") || !enter(&s->o, "handed over")) return false;
    static const uint8_t delimiter[] = {0, 0, 1, 9, 0x30};
    const uint8_t* d = s->data;
    uint32_t n = s->length;
    pthread_mutex_lock(&g_mu);
    int frame = g_frames++;
    CHECK(s->set == SET_ALL, "frame %d handed over with setters %#x of %#x called", frame, s->set, SET_ALL);
    CHECK(n > 8 && s->capacity == bucket(n), "frame %d: %u bytes in a sample of %u", frame, n, s->capacity);
    CHECK(s->fourcc == s->allocFourcc && (s->fourcc == FOURCC("H264") || s->fourcc == FOURCC("I264")),
          "frame %d: FourCC %#x, allocated as %#x", frame, s->fourcc, s->allocFourcc);
    CHECK(frame > 0 || s->fourcc == FOURCC("H264"), "the first frame is no key frame");
    if (n > 8 && n <= s->capacity) {
        CHECK(!memcmp(d, delimiter, 3) && !memcmp(d + n - 5, delimiter, 5),
              "frame %d: %02x %02x %02x ... is no Annex B access unit", frame, d[0], d[1], d[2]);
        bool sps = false;
        for (uint32_t i = 0; i + 3 < n && i < 64; ++i) sps |= !memcmp(d + i, delimiter, 3) && (d[i + 3] & 31) == 7;
        CHECK(sps == (s->fourcc == FOURCC("H264")), "frame %d: FourCC %#x, sequence parameter set %d", frame,
              s->fourcc, sps);
        g_key_frames += sps;
    }
    CHECK(!g_wanted_w || ((int)s->width == g_wanted_w && (int)s->height == g_wanted_h),
          "frame %d: %ux%u, not %dx%d", frame, s->width, s->height, g_wanted_w, g_wanted_h);
    CHECK(s->sizeClass == 4, "frame %d: size class %u", frame, s->sizeClass);
    struct tm tm = {.tm_year = s->time.year - 1900, .tm_mon = s->time.month - 1, .tm_mday = s->time.day,
                    .tm_hour = s->time.hour, .tm_min = s->time.minute, .tm_sec = s->time.second};
    int64_t t = (int64_t)timegm(&tm) * 1000 + s->time.ms;
    CHECK(t > g_last_time && llabs(t - now_ms()) < 5000, "frame %d: time %lld after %lld, now %lld", frame,
          (long long)t, (long long)g_last_time, (long long)now_ms());
    g_last_time = t;
    pthread_mutex_unlock(&g_mu);
    return true;
}

static void METHOD sink_signal_lost(Obj* self) {
    if (enter(self, "OnSignalLost")) fail("signal lost while the camera streams");
}

/* ---- device description and stream settings ------------------------------ */

/* Calls without a described order are checked, not journaled. */
#define ANSWER(fn, type, op, value) \
    static type METHOD fn(Obj* self) { enter(self, op); return value; }

static Obj g_device = {vt_device, "IDeviceConfig", false}, g_model = {vt_model, "IDeviceModelInfo", false},
           g_conn = {vt_conn, "IDeviceConnection", false};
static const char kModel[] = "c-host 100%s";
static char g_capability_text[96];

static const char* METHOD device_parameter(Obj* self, int32_t index) {
    note(self, "parameter", " %d", index);
    return index == 1 ? "7" : index == 2 ? g_capability_text : NULL;
}
ANSWER(device_model, void*, "model part", &g_model)
ANSWER(device_conn, void*, "connection part", &g_conn)
ANSWER(model_text, const char*, "model text", kModel)
ANSWER(model_channels, uint32_t, "channel count", 1)
ANSWER(model_inputs, uint32_t, "input count", 3)
ANSWER(model_outputs, uint32_t, "output count", 2)
ANSWER(conn_address, const char*, "address", "127.0.0.1")
ANSWER(conn_port, uint16_t, "port", (uint16_t)g_http_port)
ANSWER(conn_codec, int32_t, "codec", 3)
ANSWER(conn_user, const char*, "user name", kUser)
ANSWER(conn_password, const char*, "password", kPassword)

typedef struct { Obj o; uint16_t width, height; } Size;
static Obj g_settings = {vt_settings, "IStreamConfig", false}, g_image = {vt_image, "IStreamImageConfig", false},
           g_rate = {vt_rate, "IStreamRateConfig", false};
static Size g_size = {{vt_size, "IImageSize", false}, 1280, 720},
            g_new_size = {{vt_size, "IImageSize", false}, 640, 480};

ANSWER(settings_image, void*, "image part", &g_image)
ANSWER(settings_rate, void*, "rate part", &g_rate)
ANSWER(image_size, void*, "size", &g_size)
static uint16_t METHOD rate_interval(Obj* self) { note(self, "frame interval", NULL); return 40; }
static uint16_t METHOD rate_quality(Obj* self) { note(self, "quality", NULL); return 60; }
/* Should the driver read the unnamed middle slot, it also gets a quality far
 * out of range. */
static uint16_t METHOD rate_unnamed(Obj* self) { trapped(self, 3); return 4660; }
static uint16_t METHOD size_width(Size* self) { note(&self->o, "width", NULL); return self->width; }
static uint16_t METHOD size_height(Size* self) { note(&self->o, "height", NULL); return self->height; }

/* ---- digital I/O sink ------------------------------------------------------ */

static Obj g_io_sink = {vt_io, "IIOEventSink", false};
static void METHOD io_changed(Obj* self, uint32_t i, uint32_t state) { note(self, "OnInputChanged", " %u %u", i, state); }
static void METHOD io_failure(Obj* self) { note(self, "OnIOFailure", NULL); }

/* ---- capability query: callback and results -------------------------------- */

static Obj g_callback = {vt_callback, "callback", false}, g_results = {vt_results, "results", false},
           g_reslist = {vt_reslist, "resolutions", false}, g_intervals = {vt_intervals, "intervals", false},
           g_fields[4] = {{vt_field, "field1", false}, {vt_field, "field2", false}, {vt_field, "field3", false},
                          {vt_field, "field4", false}},
           g_props[2] = {{vt_prop, "property1", false}, {vt_prop, "property2", false}};
static Obj* const g_query_objs[] = {&g_callback, &g_results, &g_reslist, &g_intervals, &g_fields[0],
                                    &g_fields[1], &g_fields[2], &g_fields[3], &g_props[0], &g_props[1]};
static atomic_int g_callbacks;

static void METHOD callback_success(Obj* self) { if (note(self, "success", NULL)) atomic_fetch_add(&g_callbacks, 1); }
static void METHOD callback_failure(Obj* self, int32_t code, const char* text) {
    if (note(self, "failure", " %d %s", code, text)) atomic_fetch_add(&g_callbacks, 1);
}
static void METHOD results_value(Obj* self, uint32_t key, uint32_t v) { note(self, "set value", " %u %u", key, v); }
static void METHOD results_name(Obj* self, const char* name) { note(self, "set name", " %s", name); }
static void* METHOD results_field(Obj* self, uint32_t i) {
    note(self, "connection field", " %u", i);
    return i >= 1 && i <= 4 ? &g_fields[i - 1] : NULL;
}
static void* METHOD results_property(Obj* self, uint32_t i) {
    note(self, "property", " %u", i);
    return i >= 1 && i <= 2 ? &g_props[i - 1] : NULL;
}
static void* METHOD results_resolutions(Obj* self) { note(self, "resolution list", NULL); return &g_reslist; }
static void* METHOD results_intervals(Obj* self, uint32_t which) {
    note(self, "frame-interval list", " %u", which);
    return &g_intervals;
}
static void METHOD field_text(Obj* self, const char* text) { note(self, "set text", " %s", text); }
static void METHOD prop_value(Obj* self, const char* v) { note(self, "set value", " %s", v); }
static void METHOD prop_kind(Obj* self, uint32_t v) { note(self, "set kind", " %u", v); }
static void METHOD prop_name(Obj* self, const char* v) { note(self, "set name", " %s", v); }
static void METHOD prop_reserved(Obj* self, uint32_t v) { note(self, "set reserved", " %u", v); }
static void METHOD reslist_add(Obj* self, const char* text, uint32_t w, uint32_t h, uint32_t interval) {
    note(self, "add", " %s %u %u %u", text, w, h, interval);
}
static void METHOD intervals_default(Obj* self, uint32_t v) { note(self, "set default", " %u", v); }
static void METHOD intervals_add(Obj* self, uint32_t v) { note(self, "add", " %u", v); }

/* The slot order of every host-side interface. */
static void build_tables(void) {
    TABLE(vt_debug, F(debug_receive));
    TABLE(vt_alloc, F(alloc_sample), F(release_sample));
    TABLE(vt_sample, F(sample_buffer), F(set_length), F(set_time), F(set_fourcc), F(set_height), F(set_width),
          F(set_size_class));
    TABLE(vt_device, F(device_model), F(device_conn), F(device_parameter));
    TABLE(vt_model, F(model_text), F(model_channels), F(model_inputs), F(model_outputs));
    TABLE(vt_conn, F(conn_address), F(conn_port), F(conn_codec), F(conn_user), F(conn_password));
    TABLE(vt_sink, F(sink_sample), F(sink_signal_lost));
    TABLE(vt_settings, F(settings_image), F(settings_rate));
    TABLE(vt_image, F(image_size));
    TABLE(vt_size, F(size_width), F(size_height));
    TABLE(vt_rate, F(rate_interval), F(rate_unnamed), F(rate_quality));
    TABLE(vt_io, F(io_changed), F(io_failure));
    TABLE(vt_callback, F(callback_success), F(callback_failure));
    TABLE(vt_results, F(results_value), F(results_name), F(results_field), F(results_property),
          F(results_resolutions), F(results_intervals));
    TABLE(vt_field, F(field_text));
    TABLE(vt_prop, F(prop_value), F(prop_kind), F(prop_name), F(prop_reserved));
    TABLE(vt_reslist, F(reslist_add));
    TABLE(vt_intervals, F(intervals_default), F(intervals_add));
}

/* ---- the library through its exports --------------------------------------- */

enum { CREATE = 0, DELETE = 4, INIT_QUERY = 8, START_QUERY, TERMINATE_QUERY, UNINIT_QUERY, EXPORTS };
static const char* const kExports[EXPORTS] = {
    "CreateIPCapture",     "CreateIPCaptureEx",    "CreateIPCaptureEx2",       "CreateIPCaptureEx3",
    "DeleteIPCapture",     "DeleteIPCaptureEx",    "DeleteIPCaptureEx2",       "DeleteIPCaptureEx3",
    "InitCapabilityQuery", "StartCapabilityQuery", "TerminateCapabilityQuery", "UninitCapabilityQuery"};
static void* g_export[EXPORTS];

/* The exports and the driver-side operations, by their signatures. */
typedef void* (*CreateFn)(void);
typedef void (*DeleteFn)(void*);
typedef int32_t (*InitQueryFn)(Obj*, uint8_t);
typedef int32_t (*StartQueryFn)(const char*, uint16_t, const char*, const char*, Obj*);
typedef int32_t (*QueryFn)(void);
typedef void (METHOD *VoidOp)(void*);
typedef void* (METHOD *PtrOp)(void*);
typedef bool (METHOD *BoolOp)(void*);
typedef uint32_t (METHOD *U32Op)(void*);
typedef int32_t (METHOD *I32Op)(void*);
typedef bool (METHOD *OpenOp)(void*, Obj*, Obj*, Obj*);
typedef bool (METHOD *StartOp)(void*, uint32_t, Obj*, Obj*);
typedef bool (METHOD *IndexOp)(void*, uint32_t);
typedef bool (METHOD *ChangeOp)(void*, uint32_t, Obj*, uint32_t);
typedef bool (METHOD *StatusOp)(void*, uint32_t, uint32_t*, uint32_t*, char*, uint32_t);
typedef bool (METHOD *Reserved3Op)(void*, uint32_t, uint32_t, uint32_t);
typedef bool (METHOD *SetSinkOp)(void*, Obj*);
typedef bool (METHOD *SetOutputOp)(void*, int32_t, int32_t);

static atomic_int g_frame_goal;
static bool called_back(void) { return atomic_load(&g_callbacks) > 0; }
static bool enough_frames(void) { return atomic_load(&g_frames) >= atomic_load(&g_frame_goal); }

/* The capability text of camsim's channel, as the query writes it. */
static void set_capability_text(void) {
    snprintf(g_capability_text, sizeof g_capability_text, "1;%u;CBR,VBR;64;8192;20,40,60,80,100", g_rtsp_port);
}

/* Capability query; keeps the capability text for device parameter 2. */
static void query(void) {
    set_live(true, g_query_objs, 10);
    int mark = atomic_load(&g_journaled);
    CHECK(((InitQueryFn)g_export[INIT_QUERY])(&g_callback, 0) == 1, "InitCapabilityQuery did not answer 1");
    CHECK(((InitQueryFn)g_export[INIT_QUERY])(&g_callback, 0) == 0, "a second InitCapabilityQuery did not answer 0");
    CHECK(((StartQueryFn)g_export[START_QUERY])("127.0.0.1", (uint16_t)g_http_port, kUser, kPassword, &g_results) == 1,
          "StartCapabilityQuery did not answer 1");
    CHECK(wait_until(called_back, 10000), "the capability query did not call back");
    CHECK(((QueryFn)g_export[TERMINATE_QUERY])() == 1, "TerminateCapabilityQuery did not answer 1");
    CHECK(((QueryFn)g_export[UNINIT_QUERY])() == 1, "UninitCapabilityQuery did not answer 1");
    set_live(false, g_query_objs, 10);

    /* camsim --fps 10 offers 5, 10, 15 and 25 fps, four resolutions from
     * 640x480 to 1920x1080, H.264, MPEG-4 and JPEG, 3 inputs and 2 outputs. */
    set_capability_text();
    static char expected[4096];
    snprintf(expected, sizeof expected,
             "results frame-interval list 1; intervals add 200; intervals add 100; intervals add 67; "
             "intervals set default 67; intervals add 40; results set name PSIA Camsim-PSIA; results set value 0 1; "
             "results set value 2 3; results set value 3 2; results set value 11 0; results set value 12 0; "
             "results set value 7 1; results set value 6 1; results set value 8 1; results resolution list; "
             "resolutions add 640x480 640 480 40; resolutions add 720x576 720 576 40; "
             "resolutions add 1280x720 1280 720 40; resolutions add 1920x1080 1920 1080 40; "
             "results connection field 1; field1 set text 127.0.0.1; results connection field 2; field2 set text %u; "
             "results connection field 3; field3 set text %s; results connection field 4; field4 set text %s; "
             "results property 1; property1 set name Video standard; property1 set reserved 0; "
             "property1 set kind 0; property1 set value 0; results property 2; "
             "property2 set name Channel 0 capabilities; property2 set reserved 0; property2 set kind 1; "
             "property2 set value %s; callback success",
             g_http_port, kUser, kPassword, g_capability_text);
    expect_journal(mark, expected);
}

/* Open, stream, status, change, stop, digital I/O and close on one driver. */
static void capture(void) {
    void* driver = ((CreateFn)g_export[CREATE + 3])();
    CHECK(driver && !OP(PtrOp, driver, 3)(driver) && !OP(PtrOp, driver, 4)(driver), "capture objects before Open");
    if (!driver) return;
    LIVE(true, &g_debug, &g_device, &g_model, &g_conn);
    int mark = atomic_load(&g_journaled);
    CHECK(OP(OpenOp, driver, 1)(driver, &g_debug, &g_alloc, &g_device), "Open failed");
    LIVE(false, &g_device, &g_model, &g_conn);
    expect_journal(mark, "IDeviceConfig parameter 1; IDeviceConfig parameter 2; IDeviceConfig parameter 3");
    char line[256];
    snprintf(line, sizeof line, "DRIVER IS OPENED (name: Ombrelix, device model: %s, address: 127.0.0.1:%u)", kModel,
             g_http_port);
    CHECK(!strcmp(g_opened_line, line) && g_opened_level == 3, "opened line \"%s\" at level %d", g_opened_line,
          g_opened_level);
    void* capture = OP(PtrOp, driver, 3)(driver);
    void* io = OP(PtrOp, driver, 4)(driver);
    /* Operations 5 to 9: reserved, auxiliary capture, reserved, capture Ex, auxiliary capture Ex. */
    CHECK(capture && io && !OP(PtrOp, driver, 5)(driver) && !OP(PtrOp, driver, 6)(driver) &&
              !OP(PtrOp, driver, 7)(driver) && OP(PtrOp, driver, 8)(driver) == capture && !OP(PtrOp, driver, 9)(driver),
          "the driver's operations 3 to 9 answer wrongly after Open");
    if (!capture || !io) return;

    CHECK(OP(U32Op, capture, 1)(capture) == 1, "channel count is not 1");
    CHECK(!OP(StartOp, capture, 2)(capture, 1, &g_sink, &g_settings), "channel 1 of a one-channel device started");
    CHECK(OP(I32Op, capture, 5)(capture) == 0 && !OP(Reserved3Op, capture, 7)(capture, 1, 2, 3) &&
              !OP(Reserved3Op, capture, 8)(capture, 1, 2, 3) && !OP(IndexOp, capture, 9)(capture, 1) &&
              !OP(IndexOp, capture, 10)(capture, 1),
          "a reserved operation of the capture object answered");

    g_wanted_w = 1280;
    g_wanted_h = 720;
    LIVE(true, &g_alloc, &g_sink, &g_settings, &g_image, &g_rate, &g_size.o);
    mark = atomic_load(&g_journaled);
    CHECK(OP(StartOp, capture, 2)(capture, 0, &g_sink, &g_settings), "StartChannel failed");
    LIVE(false, &g_settings, &g_image, &g_rate, &g_size.o);
    expect_journal(mark, "IStreamRateConfig frame interval; IStreamRateConfig quality; IImageSize width; "
                         "IImageSize height");
    atomic_store(&g_frame_goal, 75); /* three seconds at 25 fps */
    CHECK(wait_until(enough_frames, 20000), "%d frames of 75", atomic_load(&g_frames));
    uint32_t state = 9, error = 9;
    char text[8] = "xxxxxxx";
    CHECK(OP(StatusOp, capture, 6)(capture, 0, &state, &error, text, sizeof text) && state == 0 && error == 0 &&
              text[0] == 0,
          "status of a streaming channel: state %u, error %u, text %.7s", state, error, text);
    /* 40 ms is 25 fps; quality 60 aims at 68 of the offered 20 to 100. */
    expect_camera("fixedQuality", 60);
    expect_camera("maxFrameRate", 2500);
    expect_camera("videoResolutionWidth", 1280);
    expect_camera("videoResolutionHeight", 720);

    /* A change restarts the stream at 640x480 and 100 ms, keeping the quality;
     * frames of either size may come until it returns. */
    pthread_mutex_lock(&g_mu);
    g_wanted_w = g_wanted_h = 0;
    pthread_mutex_unlock(&g_mu);
    LIVE(true, &g_new_size.o);
    CHECK(OP(ChangeOp, capture, 4)(capture, 0, &g_new_size.o, 100), "ChangeChannel failed");
    LIVE(false, &g_new_size.o);
    pthread_mutex_lock(&g_mu);
    g_wanted_w = 640;
    g_wanted_h = 480;
    atomic_store(&g_frame_goal, g_frames + 10);
    pthread_mutex_unlock(&g_mu);
    CHECK(wait_until(enough_frames, 15000), "no frames after the change");
    expect_camera("fixedQuality", 60);
    expect_camera("maxFrameRate", 1000);
    expect_camera("videoResolutionWidth", 640);

    CHECK(OP(IndexOp, capture, 3)(capture, 0), "StopChannel failed");
    LIVE(false, &g_alloc, &g_sink);
    CHECK(!OP(IndexOp, capture, 3)(capture, 0), "a second StopChannel succeeded");
    CHECK(!OP(StatusOp, capture, 6)(capture, 0, &state, &error, text, sizeof text), "status of a stopped channel");
    CHECK(g_allocated == g_released && g_allocated >= g_frames, "%d samples allocated, %d released, %d frames",
          g_allocated, g_released, atomic_load(&g_frames));
    CHECK(g_key_frames > 0 && g_online >= 1, "%d key frames, %d online notices", g_key_frames, g_online);

    /* Digital I/O: Start reads every input and drives every output high;
     * SetOutput (1, 2) then drives output 1 low. */
    CHECK(OP(U32Op, io, 4)(io) == 3 && OP(U32Op, io, 5)(io) == 2, "I/O counts are not 3 and 2");
    LIVE(true, &g_io_sink);
    mark = atomic_load(&g_journaled);
    CHECK(OP(SetSinkOp, io, 1)(io, &g_io_sink) && OP(BoolOp, io, 2)(io), "SetEventSink or Start failed");
    CHECK(camera_value("/PSIA/System/IO/outputs/0/status", "ioState") == 1 &&
              camera_value("/PSIA/System/IO/outputs/1/status", "ioState") == 1,
          "outputs not high after Start");
    CHECK(OP(SetOutputOp, io, 6)(io, 1, 2), "SetOutput refused");
    for (int64_t end = now_ms() + 5000; now_ms() < end; usleep(20000))
        if (camera_value("/PSIA/System/IO/outputs/1/status", "ioState") == 0) break;
    CHECK(camera_value("/PSIA/System/IO/outputs/1/status", "ioState") == 0 &&
              camera_value("/PSIA/System/IO/outputs/0/status", "ioState") == 1,
          "SetOutput (1, 2) did not drive output 1 alone low");
    CHECK(OP(BoolOp, io, 3)(io), "I/O Stop failed");
    LIVE(false, &g_io_sink);
    CHECK(!OP(SetOutputOp, io, 6)(io, 0, 2), "SetOutput accepted after Stop");
    /* Inputs reported once, by the initial read, and no failure. */
    expect_journal(mark, "IIOEventSink OnInputChanged 0 1; IIOEventSink OnInputChanged 1 1; "
                         "IIOEventSink OnInputChanged 2 1");

    OP(VoidOp, driver, 2)(driver);
    CHECK(!OP(PtrOp, driver, 3)(driver) && !OP(PtrOp, driver, 4)(driver) && !OP(PtrOp, driver, 8)(driver),
          "capture objects after Close");
    ((DeleteFn)g_export[DELETE])(driver);
    LIVE(false, &g_debug);
}

/* Every creation export with another generation's deletion export, every
 * other driver opened and deleted without Close; deleting none. */
static void lifetimes(void) {
    for (int k = 0; k < 4; ++k) {
        ((DeleteFn)g_export[DELETE + k])(NULL);
        void* driver = ((CreateFn)g_export[CREATE + k])();
        CHECK(driver != NULL, "%s gave no driver", kExports[CREATE + k]);
        if (!driver) continue;
        if (k % 2) {
            LIVE(true, &g_debug, &g_device, &g_model, &g_conn);
            CHECK(OP(OpenOp, driver, 1)(driver, &g_debug, &g_alloc, &g_device), "Open failed");
            LIVE(false, &g_device, &g_model, &g_conn);
        }
        ((DeleteFn)g_export[DELETE + (k + 1) % 4])(driver);
        LIVE(false, &g_debug);
    }
}

#if defined(_WIN32)
/* ---- unloading: load, use, close and unload the library, round after round - */

/* Whether a thread of this process began in ntdll: a worker of the system
 * thread pool, which WinHTTP uses (Wine's keeps one that closes pooled
 * connections for 30 s); the driver starts its threads through the C
 * run-time library. */
typedef LONG(WINAPI* QueryThreadFn)(HANDLE, int, void*, ULONG, ULONG*);
static int pool_worker(DWORD id) { /* 1 yes, 0 no, -1 not known yet */
    static QueryThreadFn query;
    HMODULE ntdll = GetModuleHandleA("ntdll.dll"), module = NULL;
    if (!query) query = (QueryThreadFn)(void*)GetProcAddress(ntdll, "NtQueryInformationThread");
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
    void* start = NULL;
    enum { START_ADDRESS = 9 }; /* ThreadQuerySetWin32StartAddress */
    if (thread && query) query(thread, START_ADDRESS, &start, sizeof start, NULL);
    if (thread) CloseHandle(thread);
    if (!start) return -1;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              (LPCSTR)start, &module) && module == ntdll;
}

/* The threads of this process now, but the pool's (counted in workers), or
 * -1. A thread just being made or ended may not tell where it began yet:
 * then the count is taken again. */
static int thread_count(int* workers) {
    for (int attempt = 0; attempt < 100; ++attempt, Sleep(10)) {
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        if (snap == INVALID_HANDLE_VALUE) return -1;
        THREADENTRY32 entry = {.dwSize = sizeof entry};
        int n = 0, unknown = 0;
        *workers = 0;
        for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry)) {
            if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
            int worker = pool_worker(entry.th32ThreadID);
            unknown += worker < 0;
            *workers += worker > 0;
            n += worker == 0;
        }
        CloseHandle(snap);
        if (!unknown) return n;
    }
    return -1;
}

static bool load_exports(HMODULE library) {
    for (int i = 0; i < EXPORTS; ++i)
        if (!(g_export[i] = (void*)GetProcAddress(library, kExports[i]))) return false;
    return true;
}

/* One driver on the camera at port: open, start channel 0, wait for
 * frames (none: stop at once), stop, close, delete. */
static void stream_once(unsigned port, int frames) {
    unsigned camera = g_http_port;
    g_http_port = port;
    void* driver = ((CreateFn)g_export[CREATE])();
    LIVE(true, &g_debug, &g_device, &g_model, &g_conn);
    bool opened = driver && OP(OpenOp, driver, 1)(driver, &g_debug, &g_alloc, &g_device);
    LIVE(false, &g_device, &g_model, &g_conn);
    void* capture = opened ? OP(PtrOp, driver, 3)(driver) : NULL;
    CHECK(capture != NULL, "no driver opened on port %u", port);
    if (capture) {
        /* Frame times rise within a channel; a new one starts afresh. */
        pthread_mutex_lock(&g_mu);
        g_last_time = 0;
        pthread_mutex_unlock(&g_mu);
        LIVE(true, &g_alloc, &g_sink, &g_settings, &g_image, &g_rate, &g_size.o);
        CHECK(OP(StartOp, capture, 2)(capture, 0, &g_sink, &g_settings), "StartChannel failed");
        LIVE(false, &g_settings, &g_image, &g_rate, &g_size.o);
        atomic_store(&g_frame_goal, atomic_load(&g_frames) + frames);
        if (frames)
            CHECK(wait_until(enough_frames, 15000), "no frames from port %u", port);
        else
            usleep(500000);
        CHECK(OP(IndexOp, capture, 3)(capture, 0), "StopChannel failed");
        LIVE(false, &g_alloc, &g_sink);
        OP(VoidOp, driver, 2)(driver);
    }
    if (driver) ((DeleteFn)g_export[DELETE])(driver);
    LIVE(false, &g_debug);
    g_http_port = camera;
}

/* Each round loads the library, streams from the camera (HTTP exchanges and
 * a channel), closes and unloads it; every 25th also stops a channel whose
 * configuration exchange waits on a port that never answers. The library
 * is then gone and the process has the threads it had before the first load. */
static void unload_rounds(const char* path, int rounds) {
    SOCKET silent = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in at = {.sin_family = AF_INET};
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof at;
    CHECK(silent != INVALID_SOCKET && bind(silent, (struct sockaddr*)&at, sizeof at) == 0 && listen(silent, 16) == 0 &&
              getsockname(silent, (struct sockaddr*)&at, &size) == 0,
          "no silent port");
    set_capability_text();
    int workers = 0;
    const int before = thread_count(&workers);
    int round = 0, after = before;
    while (round < rounds && atomic_load(&g_failures) == 0) {
        ++round;
        HMODULE library = LoadLibraryA(path);
        CHECK(library && load_exports(library), "round %d: LoadLibrary(%s): %lu", round, path,
              (unsigned long)GetLastError());
        if (!library) break;
        stream_once(g_http_port, 3);
        if (round % 25 == 1) stream_once(ntohs(at.sin_port), 0);
        CHECK(FreeLibrary(library), "round %d: FreeLibrary failed", round);
        HMODULE still = NULL;
        CHECK(!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                  (LPCSTR)g_export[CREATE], &still),
              "round %d: the library is still loaded after FreeLibrary", round);
        after = thread_count(&workers);
        CHECK(before > 0 && after == before, "round %d: %d threads after unloading, %d before loading", round, after,
              before);
    }
    closesocket(silent);
    printf("c_host: %d rounds of load, stream, close, unload; %d threads before loading, %d after the last round "
           "(and %d of the system thread pool)\n", round, before, after, workers);
}

static void* open_library(const char* path) {
    void* library = (void*)LoadLibraryA(path);
    CHECK(library != NULL, "LoadLibrary(%s) failed: %lu", path, (unsigned long)GetLastError());
    return library;
}
static void* find_export(void* library, const char* name) {
    return (void*)GetProcAddress((HMODULE)library, name);
}
#else
static void* open_library(const char* path) {
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    CHECK(library != NULL, "dlopen: %s", dlerror());
    return library;
}
static void* find_export(void* library, const char* name) { return dlsym(library, name); }
#endif

int main(int argc, char** argv) {
    if (argc == 2 && !strcmp(argv[1], "--camsim-args")) {
        for (int i = 0; i < CAMSIM_ARGS; ++i) printf("%s%s", i ? " " : "", kCamsimArgs[i]);
        printf("\n");
        return 0;
    }
    const bool given = (argc == 5 || argc == 7) && !strcmp(argv[2], "--camera");
    const int rounds = argc == 7 && !strcmp(argv[5], "--unload") ? atoi(argv[6]) : 0;
    if ((argc != 3 && !given) || (argc == 7 && rounds <= 0)) {
        fprintf(stderr, "usage: %s <driver library> <camsim> | <driver library> --camera <HTTP port> <RTSP port> "
                        "[--unload <rounds>] | --camsim-args\n", argv[0]);
        return 2;
    }
    pthread_t timer;
    pthread_create(&timer, NULL, watchdog, (void*)(uintptr_t)(240 + 10 * rounds));
    pthread_detach(timer);
#if defined(_WIN32)
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
#endif
    build_tables();
    if (given) {
        g_http_port = (unsigned)atoi(argv[3]);
        g_rtsp_port = (unsigned)atoi(argv[4]);
    } else if (!start_camsim(argv[2])) {
        fprintf(stderr, "FAIL: camsim did not start\n");
        stop_camsim();
        return 1;
    }
#if defined(_WIN32)
    if (rounds) {
        unload_rounds(argv[1], rounds);
        printf("c_host: %d frames, %d failure(s)\n", atomic_load(&g_frames), atomic_load(&g_failures));
        return atomic_load(&g_failures) ? 1 : 0;
    }
#endif
    void* library = open_library(argv[1]);
    for (int i = 0; library && i < EXPORTS; ++i) {
        g_export[i] = find_export(library, kExports[i]);
        CHECK(g_export[i] != NULL, "export %s missing", kExports[i]);
    }
    if (atomic_load(&g_failures) == 0) {
        query();
        capture();
        lifetimes();
    }
    stop_camsim();
    int failures = atomic_load(&g_failures);
    printf("c_host: %d frames, %d failure(s)\n", atomic_load(&g_frames), failures);
    return failures ? 1 : 0;
}
