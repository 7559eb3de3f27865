// A Wayland client that shows one fullscreen surface and writes every pointer and keyboard
// event it receives to stdout, one line each, so tests can check what really arrived:
//   ready                      the surface is mapped
//   enter X Y | leave          the pointer entered or left the surface
//   motion X Y                 pointer position in surface pixels (rounded)
//   button CODE 1|0            press or release (evdev codes)
//   axis AXIS VALUE            scroll distance; discrete AXIS STEPS for wheel steps
//   stop AXIS                  a finger scroll ended
//   focus | unfocus            keyboard focus
//   key NAME 1|0 MODS          keysym name, press or release, depressed modifier mask
//   text HEX                   UTF-8 bytes a press typed, in hex (a Return types "0a"); also
//                              the clipboard's text that Shift+Insert pasted, as an editor would
// With `--at X,Y` the surface fills the output whose top-left corner is at X,Y on the desktop
// (several monitors); otherwise the compositor chooses. With `--slow-paste MS` a paste is read
// only MS milliseconds after its key, as by an application busy at that moment.
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "xdg-shell-client-protocol.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

struct Probe
{
    wl_display* display = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    wl_seat* seat = nullptr;
    xdg_wm_base* wmBase = nullptr;
    wl_surface* surface = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    wl_pointer* pointer = nullptr;
    wl_keyboard* keyboard = nullptr;
    wl_data_device_manager* dataManager = nullptr;
    wl_data_device* dataDevice = nullptr;
    wl_data_offer* selection = nullptr; // the clipboard while this client has the focus
    int slowPasteMs = 0;
    wl_buffer* buffer = nullptr;
    int width = 0, height = 0;
    bool configured = false;
    bool readyReported = false;
    xkb_context* xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* keymap = nullptr;
    xkb_state* state = nullptr;
    struct Output
    {
        wl_output* output = nullptr;
        int x = 0, y = 0;
    };
    // Outputs are bound only where a place is asked for (KWin then left the surface unfocused).
    bool wantOutputs = false;
    std::vector<std::unique_ptr<Output>> outputs;
};

void outputGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*,
                    const char*, int32_t)
{
    auto* o = static_cast<Probe::Output*>(data);
    o->x = x;
    o->y = y;
}
void outputMode(void*, wl_output*, uint32_t, int32_t, int32_t, int32_t) {}
void outputDone(void*, wl_output*) {}
void outputScale(void*, wl_output*, int32_t) {}
void outputName(void*, wl_output*, const char*) {}
void outputDescription(void*, wl_output*, const char*) {}
const wl_output_listener outputListener = {outputGeometry, outputMode, outputDone,
                                           outputScale,    outputName, outputDescription};

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

wl_buffer* makeBuffer(Probe* p, int width, int height)
{
    const int stride = width * 4;
    const int size = stride * height;
    const int fd = memfd_create("probe-buffer", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) < 0)
        return nullptr;
    void* data = mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data != MAP_FAILED) {
        std::memset(data, 0x80, size_t(size));
        munmap(data, size_t(size));
    }
    wl_shm_pool* pool = wl_shm_create_pool(p->shm, fd, size);
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

// --- pointer ---------------------------------------------------------------------------------
void pointerEnter(void*, wl_pointer*, uint32_t, wl_surface*, wl_fixed_t x, wl_fixed_t y)
{
    say("enter %ld %ld", std::lround(wl_fixed_to_double(x)), std::lround(wl_fixed_to_double(y)));
}
void pointerLeave(void*, wl_pointer*, uint32_t, wl_surface*)
{
    say("leave");
}
void pointerMotion(void*, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y)
{
    say("motion %ld %ld", std::lround(wl_fixed_to_double(x)), std::lround(wl_fixed_to_double(y)));
}
void pointerButton(void*, wl_pointer*, uint32_t, uint32_t, uint32_t button, uint32_t state)
{
    say("button %u %u", button, state);
}
void pointerAxis(void*, wl_pointer*, uint32_t, uint32_t axis, wl_fixed_t value)
{
    say("axis %u %g", axis, wl_fixed_to_double(value));
}
void pointerFrame(void*, wl_pointer*) {}
void pointerAxisSource(void*, wl_pointer*, uint32_t) {}
void pointerAxisStop(void*, wl_pointer*, uint32_t, uint32_t axis)
{
    say("stop %u", axis);
}
void pointerAxisDiscrete(void*, wl_pointer*, uint32_t axis, int32_t discrete)
{
    say("discrete %u %d", axis, discrete);
}
void pointerAxisValue120(void*, wl_pointer*, uint32_t, int32_t) {}
const wl_pointer_listener pointerListener = {
    pointerEnter, pointerLeave,      pointerMotion,   pointerButton,       pointerAxis,
    pointerFrame, pointerAxisSource, pointerAxisStop, pointerAxisDiscrete, pointerAxisValue120};

// --- clipboard -------------------------------------------------------------------------------
void offerType(void*, wl_data_offer*, const char*) {}
void offerSourceActions(void*, wl_data_offer*, uint32_t) {}
void offerAction(void*, wl_data_offer*, uint32_t) {}
const wl_data_offer_listener offerListener = {offerType, offerSourceActions, offerAction};

void deviceDataOffer(void*, wl_data_device*, wl_data_offer* offer)
{
    wl_data_offer_add_listener(offer, &offerListener, nullptr);
}
void deviceEnter(void*, wl_data_device*, uint32_t, wl_surface*, wl_fixed_t, wl_fixed_t, wl_data_offer*) {}
void deviceLeave(void*, wl_data_device*) {}
void deviceMotion(void*, wl_data_device*, uint32_t, wl_fixed_t, wl_fixed_t) {}
void deviceDrop(void*, wl_data_device*) {}
void deviceSelection(void* data, wl_data_device*, wl_data_offer* offer)
{
    auto* p = static_cast<Probe*>(data);
    if (p->selection != nullptr && p->selection != offer)
        wl_data_offer_destroy(p->selection);
    p->selection = offer;
}
const wl_data_device_listener deviceListener = {deviceDataOffer, deviceEnter, deviceLeave,
                                                deviceMotion,    deviceDrop,  deviceSelection};

// The clipboard's text, read to its end (the owner closes its end when done).
std::string pasteText(Probe* p)
{
    if (p->selection == nullptr)
        return std::string();
    if (p->slowPasteMs > 0)
        usleep(useconds_t(p->slowPasteMs) * 1000);
    int fds[2];
    if (pipe(fds) != 0)
        return std::string();
    wl_data_offer_receive(p->selection, "text/plain;charset=utf-8", fds[1]);
    wl_display_flush(p->display);
    close(fds[1]);
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, size_t(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(fds[0]);
    return text;
}

// --- keyboard --------------------------------------------------------------------------------
void keyboardKeymap(void* data, wl_keyboard*, uint32_t format, int fd, uint32_t size)
{
    auto* p = static_cast<Probe*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            xkb_keymap* keymap =
                xkb_keymap_new_from_string(p->xkb, static_cast<const char*>(map), XKB_KEYMAP_FORMAT_TEXT_V1,
                                           XKB_KEYMAP_COMPILE_NO_FLAGS);
            munmap(map, size);
            if (keymap != nullptr) {
                xkb_state_unref(p->state);
                xkb_keymap_unref(p->keymap);
                p->keymap = keymap;
                p->state = xkb_state_new(keymap);
            }
        }
    }
    close(fd);
}
void keyboardEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*)
{
    say("focus");
}
void keyboardLeave(void*, wl_keyboard*, uint32_t, wl_surface*)
{
    say("unfocus");
}
void keyboardKey(void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state)
{
    auto* p = static_cast<Probe*>(data);
    if (p->state == nullptr)
        return;
    const xkb_keycode_t code = key + 8;
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(p->state, code);
    char name[64] = "?";
    xkb_keysym_get_name(sym, name, sizeof name);
    const xkb_mod_mask_t mods = xkb_state_serialize_mods(p->state, XKB_STATE_MODS_DEPRESSED);
    say("key %s %u %u", name, state, mods);
    if (state != WL_KEYBOARD_KEY_STATE_PRESSED)
        return;
    std::string text;
    if (sym == XKB_KEY_Return || sym == XKB_KEY_KP_Enter) {
        text = "\n";
    } else if (sym == XKB_KEY_Insert &&
               xkb_state_mod_name_is_active(p->state, XKB_MOD_NAME_SHIFT, XKB_STATE_MODS_EFFECTIVE) > 0) {
        text = pasteText(p);
    } else {
        char utf8[64] = {};
        xkb_state_key_get_utf8(p->state, code, utf8, sizeof utf8);
        text = utf8;
    }
    if (text.empty())
        return;
    std::string hex;
    for (unsigned char c : text) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", c);
        hex += two;
    }
    say("text %s", hex.c_str());
}
void keyboardModifiers(void* data, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched,
                       uint32_t locked, uint32_t group)
{
    auto* p = static_cast<Probe*>(data);
    if (p->state != nullptr)
        xkb_state_update_mask(p->state, depressed, latched, locked, 0, 0, group);
}
void keyboardRepeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener keyboardListener = {keyboardKeymap, keyboardEnter,     keyboardLeave,
                                               keyboardKey,    keyboardModifiers, keyboardRepeat};

// --- seat, shell, registry ---------------------------------------------------------------------
void seatCapabilities(void* data, wl_seat* seat, uint32_t caps)
{
    auto* p = static_cast<Probe*>(data);
    // The test's virtual devices may appear after this client started, and go and come again
    // with a new session: an object of a device that went is inert, so a new one is made.
    if (!(caps & WL_SEAT_CAPABILITY_POINTER) && p->pointer != nullptr) {
        wl_pointer_release(p->pointer);
        p->pointer = nullptr;
    }
    if (!(caps & WL_SEAT_CAPABILITY_KEYBOARD) && p->keyboard != nullptr) {
        wl_keyboard_release(p->keyboard);
        p->keyboard = nullptr;
    }
    if ((caps & WL_SEAT_CAPABILITY_POINTER) && p->pointer == nullptr) {
        p->pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(p->pointer, &pointerListener, p);
    }
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && p->keyboard == nullptr) {
        p->keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(p->keyboard, &keyboardListener, p);
    }
}
void seatName(void*, wl_seat*, const char*) {}
const wl_seat_listener seatListener = {seatCapabilities, seatName};

void wmPing(void*, xdg_wm_base* base, uint32_t serial)
{
    xdg_wm_base_pong(base, serial);
}
const xdg_wm_base_listener wmListener = {wmPing};

void surfaceConfigure(void* data, xdg_surface* surface, uint32_t serial)
{
    auto* p = static_cast<Probe*>(data);
    xdg_surface_ack_configure(surface, serial);
    const int w = p->width > 0 ? p->width : 640;
    const int h = p->height > 0 ? p->height : 480;
    if (p->buffer != nullptr)
        wl_buffer_destroy(p->buffer);
    p->buffer = makeBuffer(p, w, h);
    wl_surface_attach(p->surface, p->buffer, 0, 0);
    wl_surface_damage(p->surface, 0, 0, w, h);
    wl_surface_commit(p->surface);
    p->configured = true;
}
const xdg_surface_listener surfaceListener = {surfaceConfigure};

void toplevelConfigure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*)
{
    auto* p = static_cast<Probe*>(data);
    p->width = width;
    p->height = height;
}
void toplevelClose(void*, xdg_toplevel*) {}
void toplevelBounds(void*, xdg_toplevel*, int32_t, int32_t) {}
void toplevelCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener toplevelListener = {toplevelConfigure, toplevelClose, toplevelBounds,
                                                toplevelCapabilities};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    auto* p = static_cast<Probe*>(data);
    if (std::strcmp(interface, wl_compositor_interface.name) == 0)
        p->compositor =
            static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
    else if (std::strcmp(interface, wl_shm_interface.name) == 0)
        p->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    else if (std::strcmp(interface, wl_seat_interface.name) == 0 && p->seat == nullptr)
        p->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 5));
    else if (std::strcmp(interface, wl_data_device_manager_interface.name) == 0)
        p->dataManager = static_cast<wl_data_device_manager*>(
            wl_registry_bind(registry, name, &wl_data_device_manager_interface, 3));
    else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0)
        p->wmBase = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
    else if (std::strcmp(interface, wl_output_interface.name) == 0 && p->wantOutputs) {
        auto o = std::make_unique<Probe::Output>();
        o->output = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 2));
        wl_output_add_listener(o->output, &outputListener, o.get());
        p->outputs.push_back(std::move(o));
    }
}
void globalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener = {global, globalRemove};

} // namespace

int main(int argc, char** argv)
{
    Probe p;
    int atX = 0, atY = 0;
    bool placed = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--at") == 0)
            placed = std::sscanf(argv[i + 1], "%d,%d", &atX, &atY) == 2;
        else if (std::strcmp(argv[i], "--slow-paste") == 0)
            p.slowPasteMs = std::atoi(argv[i + 1]);
    }
    p.wantOutputs = placed;
    p.display = wl_display_connect(nullptr);
    if (p.display == nullptr) {
        std::fprintf(stderr, "waylandprobe: no Wayland display\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(p.display);
    wl_registry_add_listener(registry, &registryListener, &p);
    wl_display_roundtrip(p.display);
    // The outputs' geometry.
    if (placed)
        wl_display_roundtrip(p.display);
    wl_output* fullscreenOn = nullptr;
    for (const auto& o : p.outputs) {
        if (placed && o->x == atX && o->y == atY)
            fullscreenOn = o->output;
    }
    if (placed && fullscreenOn == nullptr) {
        std::fprintf(stderr, "waylandprobe: no output at %d,%d\n", atX, atY);
        return 1;
    }
    if (p.compositor == nullptr || p.shm == nullptr || p.seat == nullptr || p.wmBase == nullptr) {
        std::fprintf(stderr, "waylandprobe: the compositor lacks a needed global\n");
        return 1;
    }
    xdg_wm_base_add_listener(p.wmBase, &wmListener, &p);
    wl_seat_add_listener(p.seat, &seatListener, &p);
    if (p.dataManager != nullptr) {
        p.dataDevice = wl_data_device_manager_get_data_device(p.dataManager, p.seat);
        wl_data_device_add_listener(p.dataDevice, &deviceListener, &p);
    }
    p.surface = wl_compositor_create_surface(p.compositor);
    p.xdgSurface = xdg_wm_base_get_xdg_surface(p.wmBase, p.surface);
    xdg_surface_add_listener(p.xdgSurface, &surfaceListener, &p);
    p.toplevel = xdg_surface_get_toplevel(p.xdgSurface);
    xdg_toplevel_add_listener(p.toplevel, &toplevelListener, &p);
    xdg_toplevel_set_title(p.toplevel, "waylandprobe");
    xdg_toplevel_set_fullscreen(p.toplevel, fullscreenOn);
    wl_surface_commit(p.surface);
    while (wl_display_dispatch(p.display) >= 0) {
        if (p.configured && !p.readyReported) {
            wl_display_roundtrip(p.display);
            say("ready %d %d", p.width, p.height);
            p.readyReported = true;
        }
    }
    return 0;
}
