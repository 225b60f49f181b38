/* A recorder host in plain C that sees Ombrelix.dll as a host built with
 * Microsoft's compiler does: exports found by name with GetProcAddress, and
 * every interface a table whose slot 0 is the scalar deleting destructor
 * (flags: bit 0 frees), operation k in slot k, __thiscall on 32-bit. The host
 * objects trap every slot the driver has no business calling, their
 * destructor slots first. It opens a driver made by each creation export,
 * reads its objects, closes it and deletes it through slot 0 or an export.
 * Usage: msvc_layout_host <Ombrelix.dll>; exit status 0 when all held. */
#include <windows.h>

#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#if defined(__i386__)
#define THISCALL __attribute__((thiscall))
#else
#define THISCALL
#endif

typedef void (*Fn)(void);
typedef struct Obj {
    const Fn* vt;
    const char* name;
} Obj;

static int g_failures;
#define CHECK(cond, ...)                            \
    do {                                            \
        if (!(cond)) {                              \
            fprintf(stderr, "FAIL: " __VA_ARGS__);  \
            fprintf(stderr, "\n");                  \
            ++g_failures;                           \
        }                                           \
    } while (0)

/* Slot k of an object's table, as a function of the given type. */
#define SLOT(type, obj, k) ((type)((*(const Fn**)(obj))[k]))

/* Every slot of a host object that the driver must not call. */
static void* THISCALL trap(Obj* self) {
    fprintf(stderr, "FAIL: a trapped slot of %s was called\n", self->name);
    ExitProcess(3);
    return NULL;
}

/* ---- host objects --------------------------------------------------------- */

static char g_opened[256];
static int g_openedLevel = -1;

typedef uint8_t(THISCALL* LevelOp)(void*);
typedef const char*(THISCALL* TextOp)(void*);
static void THISCALL debug_receive(Obj* self, void* info) {
    uint8_t level = SLOT(LevelOp, info, 1)(info);
    const char* text = SLOT(TextOp, info, 2)(info);
    if (text && !strncmp(text, "DRIVER IS OPENED", 16) && g_openedLevel < 0) {
        snprintf(g_opened, sizeof g_opened, "%s", text);
        g_openedLevel = level;
    }
}
static const Fn vt_debug[] = {(Fn)trap, (Fn)debug_receive};
static Obj g_debug = {vt_debug, "IDebugSink"};

static const Fn vt_alloc[] = {(Fn)trap, (Fn)trap, (Fn)trap};
static Obj g_alloc = {vt_alloc, "ISampleAllocator"};

static const char* THISCALL model_text(Obj* self) { return "layout-host"; }
static uint32_t THISCALL model_channels(Obj* self) { return 2; }
static uint32_t THISCALL model_inputs(Obj* self) { return 3; }
static uint32_t THISCALL model_outputs(Obj* self) { return 1; }
static const Fn vt_model[] = {(Fn)trap, (Fn)model_text, (Fn)model_channels, (Fn)model_inputs, (Fn)model_outputs};
static Obj g_model = {vt_model, "IDeviceModelInfo"};

/* Port 1 on loopback: nothing answers, and Open needs no answer. */
static const char* THISCALL conn_address(Obj* self) { return "127.0.0.1"; }
static uint16_t THISCALL conn_port(Obj* self) { return 1; }
static int32_t THISCALL conn_codec(Obj* self) { return 3; }
static const char* THISCALL conn_user(Obj* self) { return "admin"; }
static const char* THISCALL conn_password(Obj* self) { return "secret"; }
static const Fn vt_conn[] = {(Fn)trap, (Fn)conn_address, (Fn)conn_port, (Fn)conn_codec, (Fn)conn_user,
                             (Fn)conn_password};
static Obj g_conn = {vt_conn, "IDeviceConnection"};

static Obj* THISCALL device_model(Obj* self) { return &g_model; }
static Obj* THISCALL device_connection(Obj* self) { return &g_conn; }
static const char* THISCALL device_parameter(Obj* self, int32_t index) { return index == 1 ? "42" : NULL; }
static const Fn vt_device[] = {(Fn)trap, (Fn)device_model, (Fn)device_connection, (Fn)device_parameter};
static Obj g_device = {vt_device, "IDeviceConfig"};

/* ---- the driver's tables -------------------------------------------------- */

typedef void* (*CreateFn)(void);
typedef void (*DeleteFn)(void*);
typedef void*(THISCALL* DeletingOp)(void*, unsigned);
typedef bool(THISCALL* OpenOp)(void*, Obj*, Obj*, Obj*);
typedef void(THISCALL* VoidOp)(void*);
typedef void*(THISCALL* PtrOp)(void*);
typedef uint32_t(THISCALL* U32Op)(void*);

static const char* const kCreate[] = {"CreateIPCapture", "CreateIPCaptureEx", "CreateIPCaptureEx2",
                                      "CreateIPCaptureEx3"};
static const char* const kDelete[] = {"DeleteIPCapture", "DeleteIPCaptureEx", "DeleteIPCaptureEx2",
                                      "DeleteIPCaptureEx3"};

static void exercise(HMODULE library, int generation) {
    CreateFn create = (CreateFn)(void*)GetProcAddress(library, kCreate[generation]);
    CHECK(create != NULL, "%s not exported", kCreate[generation]);
    if (!create) return;
    void* driver = create();
    CHECK(driver != NULL, "%s gave no driver", kCreate[generation]);
    if (!driver) return;

    /* The getters of the generation (operations 3 up to 4, 6, 8 or 9)
     * answer nothing before Open. */
    static const int kLastOperation[] = {4, 6, 8, 9};
    for (int op = 3; op <= kLastOperation[generation]; ++op) {
        CHECK(SLOT(PtrOp, driver, op)(driver) == NULL, "operation %d before Open", op);
    }
    g_openedLevel = -1;
    CHECK(SLOT(OpenOp, driver, 1)(driver, &g_debug, &g_alloc, &g_device), "Open failed");
    CHECK(!strcmp(g_opened,
                  "DRIVER IS OPENED (name: Ombrelix, device model: layout-host, address: 127.0.0.1:1)") &&
              g_openedLevel == 3,
          "opened line \"%s\" at level %d", g_opened, g_openedLevel);

    void* capture = SLOT(PtrOp, driver, 3)(driver);
    void* io = SLOT(PtrOp, driver, 4)(driver);
    CHECK(capture && io, "no video capture or I/O object after Open");
    CHECK(!SLOT(PtrOp, driver, 5)(driver) && !SLOT(PtrOp, driver, 6)(driver), "reserved operations 5, 6");
    if (generation >= 2) {
        CHECK(!SLOT(PtrOp, driver, 7)(driver) && SLOT(PtrOp, driver, 8)(driver) == capture,
              "operations 7, 8 of generation 2");
    }
    if (generation >= 3) CHECK(!SLOT(PtrOp, driver, 9)(driver), "operation 9 of generation 3");
    if (capture) CHECK(SLOT(U32Op, capture, 1)(capture) == 2, "video capture: channel count");
    if (io) {
        CHECK(SLOT(U32Op, io, 4)(io) == 3, "I/O: input count");
        CHECK(SLOT(U32Op, io, 5)(io) == 1, "I/O: output count");
    }

    SLOT(VoidOp, driver, 2)(driver);
    CHECK(SLOT(PtrOp, driver, 3)(driver) == NULL, "video capture after Close");

    /* Deleted through slot 0 with flag 1 (it returns the object), or by an export. */
    if (generation % 2 == 0) {
        CHECK(SLOT(DeletingOp, driver, 0)(driver, 1) == driver, "slot 0 did not return the object");
    } else {
        DeleteFn destroy = (DeleteFn)(void*)GetProcAddress(library, kDelete[generation]);
        CHECK(destroy != NULL, "%s not exported", kDelete[generation]);
        if (destroy) destroy(driver);
    }
    CHECK(HeapValidate(GetProcessHeap(), 0, NULL), "heap damaged after deleting the driver");
    printf("generation %d: created, opened, read, closed and deleted through %s\n", generation,
           generation % 2 == 0 ? "slot 0" : kDelete[generation]);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: msvc_layout_host <Ombrelix.dll>\n");
        return 2;
    }
    HMODULE library = LoadLibraryA(argv[1]);
    CHECK(library != NULL, "LoadLibrary(%s) failed: %lu", argv[1], GetLastError());
    if (!library) return 1;
    for (int generation = 0; generation < 4; ++generation) exercise(library, generation);
    FreeLibrary(library);
    printf("%d failed\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
