// Input and screenshots on wlroots compositors (sway, Hyprland, river, labwc,
// Wayfire), through three protocols they offer to ordinary clients:
//   zwp_virtual_keyboard_manager_v1   a keyboard of our own, with an xkb keymap;
//   zwlr_virtual_pointer_manager_v1   a pointer of our own, for its button;
//   zwlr_screencopy_manager_v1        a copy of an output into shared memory.
// No consent is asked on these desktops.
//
// The backend keeps a Wayland connection of its own, shared by its injector
// and its grabber, and never touches the toolkit's. Workers use it one call
// at a time (a lock of its own orders the two). Every wait for the
// compositor has a deadline, so a compositor that hangs cannot hold a
// worker forever; once the connection has failed (the compositor went
// away), records are dropped and grabs fail.
//
// The virtual devices are made once, at start-up, and kept: a keyboard that
// appears with its first key can lose that key, since windows learn of a new
// keyboard only after the compositor announces it.

#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include "platform/LinuxBackends.h"
#include "platform/PixelConvert.h"
#include "platform/VirtualKeys.h"

namespace orvantis {

namespace {

// How long a request may wait for the compositor's answer. A screencopy
// waits for the next frame (about 17 ms at 60 Hz); a loaded machine may
// take far longer, a hung compositor forever.
constexpr int kAnswerTimeoutMs = 2000;

// wl_shm formats are DRM fourcc codes, except the first two.
constexpr std::uint32_t Fourcc(char a, char b, char c, char d)
{
    return static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b) << 8 |
           static_cast<std::uint32_t>(c) << 16 | static_cast<std::uint32_t>(d) << 24;
}

// The packed layout of a wl_shm format (each pixel a little-endian number),
// for the shared conversion; false for formats it does not describe.
bool LayoutOfShmFormat(std::uint32_t format, PackedPixels& p)
{
    p.msbFirst = false;
    switch (format) {
    case WL_SHM_FORMAT_ARGB8888:
    case WL_SHM_FORMAT_XRGB8888:
        p.bitsPerPixel = 32, p.redMask = 0xFF0000, p.greenMask = 0xFF00, p.blueMask = 0xFF;
        return true;
    case Fourcc('A', 'B', '2', '4'):  // ABGR8888
    case Fourcc('X', 'B', '2', '4'):  // XBGR8888
        p.bitsPerPixel = 32, p.redMask = 0xFF, p.greenMask = 0xFF00, p.blueMask = 0xFF0000;
        return true;
    case Fourcc('R', 'A', '2', '4'):  // RGBA8888
    case Fourcc('R', 'X', '2', '4'):  // RGBX8888
        p.bitsPerPixel = 32, p.redMask = 0xFF000000, p.greenMask = 0xFF0000, p.blueMask = 0xFF00;
        return true;
    case Fourcc('B', 'A', '2', '4'):  // BGRA8888
    case Fourcc('B', 'X', '2', '4'):  // BGRX8888
        p.bitsPerPixel = 32, p.redMask = 0xFF00, p.greenMask = 0xFF0000, p.blueMask = 0xFF000000;
        return true;
    case Fourcc('A', 'R', '3', '0'):  // ARGB2101010
    case Fourcc('X', 'R', '3', '0'):  // XRGB2101010
        p.bitsPerPixel = 32, p.redMask = 0x3FF00000, p.greenMask = 0xFFC00, p.blueMask = 0x3FF;
        return true;
    case Fourcc('A', 'B', '3', '0'):  // ABGR2101010
    case Fourcc('X', 'B', '3', '0'):  // XBGR2101010
        p.bitsPerPixel = 32, p.redMask = 0x3FF, p.greenMask = 0xFFC00, p.blueMask = 0x3FF00000;
        return true;
    case Fourcc('R', 'G', '2', '4'):  // RGB888
        p.bitsPerPixel = 24, p.redMask = 0xFF0000, p.greenMask = 0xFF00, p.blueMask = 0xFF;
        return true;
    case Fourcc('B', 'G', '2', '4'):  // BGR888
        p.bitsPerPixel = 24, p.redMask = 0xFF, p.greenMask = 0xFF00, p.blueMask = 0xFF0000;
        return true;
    case Fourcc('R', 'G', '1', '6'):  // RGB565
        p.bitsPerPixel = 16, p.redMask = 0xF800, p.greenMask = 0x7E0, p.blueMask = 0x1F;
        return true;
    case Fourcc('B', 'G', '1', '6'):  // BGR565
        p.bitsPerPixel = 16, p.redMask = 0x1F, p.greenMask = 0x7E0, p.blueMask = 0xF800;
        return true;
    default:
        return false;
    }
}

std::uint32_t NowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint32_t>(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

// An anonymous file of `size` bytes holding `data` (when given).
int MakeSharedFile(const char* name, std::size_t size, const void* data)
{
    const int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        close(fd);
        return -1;
    }
    const char* p = static_cast<const char*>(data);
    std::size_t left = data ? size : 0;
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            close(fd);
            return -1;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return fd;
}

// The keyboard's keymap: the xkb one of the user's defaults (XKB_DEFAULT_*,
// else evdev/pc105/us), which the compositor hands on to windows with the
// keys, and the key that gives each keysym without modifiers.
class Keymap {
public:
    ~Keymap()
    {
        if (state_)
            xkb_state_unref(state_);
        if (keymap_)
            xkb_keymap_unref(keymap_);
        if (context_)
            xkb_context_unref(context_);
    }

    bool Load(std::string& whyNot)
    {
        context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        if (context_)
            keymap_ = xkb_keymap_new_from_names(context_, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (keymap_)
            state_ = xkb_state_new(keymap_);
        if (!state_) {
            whyNot = "no xkb keymap could be compiled";
            return false;
        }
        char* text = xkb_keymap_get_as_string(keymap_, XKB_KEYMAP_FORMAT_TEXT_V1);
        if (!text) {
            whyNot = "no xkb keymap could be compiled";
            return false;
        }
        text_ = text;
        std::free(text);
        // Each keysym's key, at the lowest level that gives it.
        for (xkb_level_index_t level = 0; level < 4; ++level) {
            for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap_); key <= xkb_keymap_max_keycode(keymap_);
                 ++key) {
                const xkb_keysym_t* syms = nullptr;
                if (xkb_keymap_key_get_syms_by_level(keymap_, key, 0, level, &syms) == 1)
                    keyOf_.emplace(syms[0], key);  // keeps the first one found
            }
        }
        return true;
    }

    // The keymap as the protocol passes it: a string with its NUL.
    const std::string& Text() const { return text_; }

    // The xkb key code (evdev code + 8) that gives `keysym`; 0 when none.
    xkb_keycode_t KeyFor(std::uint32_t keysym) const
    {
        auto it = keyOf_.find(keysym);
        return it == keyOf_.end() ? 0 : it->second;
    }

    // Follows a key press or release; true when the modifiers changed, and
    // then their new state in the four numbers the protocol takes.
    bool Update(xkb_keycode_t key, bool down, std::uint32_t mods[4])
    {
        const xkb_state_component changed = xkb_state_update_key(state_, key, down ? XKB_KEY_DOWN : XKB_KEY_UP);
        if (!(changed & (XKB_STATE_MODS_EFFECTIVE | XKB_STATE_LAYOUT_EFFECTIVE)))
            return false;
        mods[0] = xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED);
        mods[1] = xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED);
        mods[2] = xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED);
        mods[3] = xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_EFFECTIVE);
        return true;
    }

private:
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
    std::string text_;
    std::map<std::uint32_t, xkb_keycode_t> keyOf_;
};

// A wl_shm buffer in memory of our own, kept from one screencopy to the
// next while the frames keep their size and format.
struct ShmBuffer {
    wl_buffer* buffer = nullptr;
    void* memory = MAP_FAILED;
    std::size_t size = 0;
    std::uint32_t format = 0;
    int width = 0, height = 0, stride = 0;

    void Release()
    {
        if (buffer)
            wl_buffer_destroy(buffer);
        if (memory != MAP_FAILED)
            munmap(memory, size);
        *this = ShmBuffer();
    }

    bool Fits(std::uint32_t f, int w, int h, int s) const
    {
        return buffer && format == f && width == w && height == h && stride == s;
    }

    bool Make(wl_shm* shm, std::uint32_t f, int w, int h, int s)
    {
        Release();
        size = static_cast<std::size_t>(s) * static_cast<std::size_t>(h);
        const int fd = MakeSharedFile("orvantis-screencopy", size, nullptr);
        if (fd < 0)
            return false;
        memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (memory == MAP_FAILED) {
            close(fd);
            return false;
        }
        wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(size));
        buffer = wl_shm_pool_create_buffer(pool, 0, w, h, s, f);
        wl_shm_pool_destroy(pool);  // the buffer keeps the memory
        close(fd);
        format = f, width = w, height = h, stride = s;
        return buffer != nullptr;
    }
};

// The connection to the compositor, its globals and our virtual devices.
class WlrootsLink {
public:
    ~WlrootsLink()
    {
        if (!display_)
            return;
        if (pointer_ && buttonDown_ && Alive()) {
            // Never leave the primary button held down behind us.
            zwlr_virtual_pointer_v1_button(pointer_, NowMs(), BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
            zwlr_virtual_pointer_v1_frame(pointer_);
        }
        shot_.Release();
        if (keyboard_)
            zwp_virtual_keyboard_v1_destroy(keyboard_);
        if (pointer_)
            zwlr_virtual_pointer_v1_destroy(pointer_);
        for (const Output& o : outputs_)
            wl_output_destroy(o.output);
        if (keyboardManager_)
            zwp_virtual_keyboard_manager_v1_destroy(keyboardManager_);
        if (pointerManager_)
            zwlr_virtual_pointer_manager_v1_destroy(pointerManager_);
        if (screencopy_)
            zwlr_screencopy_manager_v1_destroy(screencopy_);
        if (shm_)
            wl_shm_destroy(shm_);
        if (seat_)
            wl_seat_destroy(seat_);
        if (registry_)
            wl_registry_destroy(registry_);
        wl_display_flush(display_);
        wl_display_disconnect(display_);
    }

    // Connects, checks that the compositor offers the three protocols and
    // makes the virtual devices.
    bool Open(std::string& whyNot)
    {
        if (!keymap_.Load(whyNot))
            return false;
        display_ = wl_display_connect(nullptr);
        if (!display_) {
            whyNot = "cannot connect to the Wayland display";
            return false;
        }
        registry_ = wl_display_get_registry(display_);
        static const wl_registry_listener registryListener = {&WlrootsLink::OnGlobal, &WlrootsLink::OnGlobalRemove};
        wl_registry_add_listener(registry_, &registryListener, this);
        if (!Roundtrip()) {
            whyNot = "the Wayland display does not answer";
            return false;
        }
        std::string missing;
        if (!keyboardManager_)
            missing += " zwp_virtual_keyboard_manager_v1";
        if (!pointerManager_)
            missing += " zwlr_virtual_pointer_manager_v1";
        if (!screencopy_)
            missing += " zwlr_screencopy_manager_v1";
        if (!seat_)
            missing += " wl_seat";
        if (!shm_)
            missing += " wl_shm";
        if (!missing.empty()) {
            whyNot = "the compositor does not offer" + missing;
            return false;
        }

        keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboardManager_, seat_);
        const std::string& text = keymap_.Text();
        const int fd = MakeSharedFile("orvantis-keymap", text.size() + 1, text.c_str());
        if (fd < 0) {
            whyNot = "no memory for the keymap";
            return false;
        }
        zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<std::uint32_t>(text.size() + 1));
        close(fd);  // the request carries a copy
        pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointerManager_, seat_);
        // A compositor that refuses virtual devices to this client says so
        // with a protocol error, which ends the connection.
        if (!Roundtrip()) {
            whyNot = "the compositor refused the virtual keyboard or pointer";
            return false;
        }
        return true;
    }

    void Send(const InputRecord& record)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!display_)
            return;
        TakeEvents();
        if (!Alive())
            return;
        switch (record.kind) {
        case InputKind::KeyDown:
        case InputKind::KeyUp: {
            const std::uint32_t keysym = KeysymForVirtualKey(record.virtualKey);
            const xkb_keycode_t key = keysym ? keymap_.KeyFor(keysym) : 0;
            if (key < 8)
                return;
            const bool down = record.kind == InputKind::KeyDown;
            zwp_virtual_keyboard_v1_key(keyboard_, NowMs(), key - 8,
                                        down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
            // The compositor takes the modifiers' state from us, not from
            // the keys: tell it when Shift, Control or Alt change.
            std::uint32_t mods[4];
            if (keymap_.Update(key, down, mods))
                zwp_virtual_keyboard_v1_modifiers(keyboard_, mods[0], mods[1], mods[2], mods[3]);
            break;
        }
        case InputKind::LeftButtonDown:
        case InputKind::LeftButtonUp: {
            const bool down = record.kind == InputKind::LeftButtonDown;
            zwlr_virtual_pointer_v1_button(pointer_, NowMs(), BTN_LEFT,
                                           down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
            zwlr_virtual_pointer_v1_frame(pointer_);
            buttonDown_ = down;
            break;
        }
        }
        Flush();
    }

    bool Available()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (display_)
            TakeEvents();
        return Alive();
    }

    bool Grab(ScreenPixels& out)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!display_)
            return false;
        TakeEvents();
        if (!Alive() || outputs_.empty())
            return false;
        // Wayland marks no output as the primary one: take the first the
        // compositor announced, the one it set up first.
        Frame frame;
        frame.link = this;
        frame.frame = zwlr_screencopy_manager_v1_capture_output(screencopy_, 0, outputs_.front().output);
        static const zwlr_screencopy_frame_v1_listener frameListener = {
            &WlrootsLink::OnFrameBuffer, &WlrootsLink::OnFrameFlags, &WlrootsLink::OnFrameReady,
            &WlrootsLink::OnFrameFailed};
        zwlr_screencopy_frame_v1_add_listener(frame.frame, &frameListener, &frame);
        const bool finished = DispatchUntil([&] { return frame.done; }, kAnswerTimeoutMs);
        zwlr_screencopy_frame_v1_destroy(frame.frame);
        Flush();
        if (!finished || !frame.ready)
            return false;

        unsigned char* rows = static_cast<unsigned char*>(shot_.memory);
        if (frame.yInvert) {
            std::vector<unsigned char> line(static_cast<std::size_t>(shot_.stride));
            for (int top = 0, bottom = shot_.height - 1; top < bottom; ++top, --bottom) {
                unsigned char* a = rows + static_cast<std::size_t>(top) * shot_.stride;
                unsigned char* b = rows + static_cast<std::size_t>(bottom) * shot_.stride;
                std::memcpy(line.data(), a, line.size());
                std::memcpy(a, b, line.size());
                std::memcpy(b, line.data(), line.size());
            }
        }
        PackedPixels pixels;
        pixels.data = rows;
        pixels.width = shot_.width;
        pixels.height = shot_.height;
        pixels.stride = static_cast<std::size_t>(shot_.stride);
        if (!LayoutOfShmFormat(shot_.format, pixels))
            return false;
        return HandOutPixels(pixels, converted_, out);
    }

private:
    struct Output {
        std::uint32_t name;
        wl_output* output;
    };

    // One screencopy in progress.
    struct Frame {
        WlrootsLink* link = nullptr;
        zwlr_screencopy_frame_v1* frame = nullptr;
        bool done = false, ready = false, yInvert = false;
    };

    bool Alive() const { return display_ && wl_display_get_error(display_) == 0; }

    void Flush()
    {
        // A full socket (EAGAIN) sends the rest with the next request;
        // anything else shows as the display's error.
        wl_display_flush(display_);
    }

    // Handles whatever the compositor sent meanwhile (outputs that came or
    // went, or the end of the connection), without waiting: unread events
    // would fill the socket until the compositor gives up on us.
    void TakeEvents()
    {
        while (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0)
                return;
        }
        pollfd pfd{wl_display_get_fd(display_), POLLIN, 0};
        if (poll(&pfd, 1, 0) > 0)
            wl_display_read_events(display_);
        else
            wl_display_cancel_read(display_);
        wl_display_dispatch_pending(display_);
    }

    // Reads and handles events until `done`; false when `timeoutMs` passes
    // first or the connection fails.
    bool DispatchUntil(const std::function<bool()>& done, int timeoutMs)
    {
        const std::uint32_t start = NowMs();
        for (;;) {
            if (wl_display_dispatch_pending(display_) < 0)
                return false;
            if (done())
                return true;
            if (wl_display_prepare_read(display_) != 0)
                continue;  // more queued meanwhile: handle those first
            if (wl_display_flush(display_) < 0 && errno != EAGAIN && errno != EPIPE) {
                wl_display_cancel_read(display_);
                return false;
            }
            const int left = timeoutMs - static_cast<int>(NowMs() - start);
            pollfd pfd{wl_display_get_fd(display_), POLLIN, 0};
            const int n = left > 0 ? poll(&pfd, 1, left) : 0;
            if (n <= 0) {
                wl_display_cancel_read(display_);
                if (n < 0 && errno == EINTR)
                    continue;
                return false;
            }
            if (wl_display_read_events(display_) < 0)
                return false;
        }
    }

    // Waits until the compositor has handled every request sent so far.
    bool Roundtrip()
    {
        bool done = false;
        wl_callback* callback = wl_display_sync(display_);
        static const wl_callback_listener listener = {
            [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
        wl_callback_add_listener(callback, &listener, &done);
        const bool answered = DispatchUntil([&] { return done; }, kAnswerTimeoutMs);
        wl_callback_destroy(callback);
        return answered && Alive();
    }

    static void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                         std::uint32_t)
    {
        auto* self = static_cast<WlrootsLink*>(data);
        auto bind = [&](const wl_interface* iface) { return wl_registry_bind(registry, name, iface, 1); };
        if (!std::strcmp(interface, wl_seat_interface.name) && !self->seat_)
            self->seat_ = static_cast<wl_seat*>(bind(&wl_seat_interface));
        else if (!std::strcmp(interface, wl_shm_interface.name) && !self->shm_)
            self->shm_ = static_cast<wl_shm*>(bind(&wl_shm_interface));
        else if (!std::strcmp(interface, wl_output_interface.name))
            self->outputs_.push_back(Output{name, static_cast<wl_output*>(bind(&wl_output_interface))});
        else if (!std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) && !self->keyboardManager_)
            self->keyboardManager_ =
                static_cast<zwp_virtual_keyboard_manager_v1*>(bind(&zwp_virtual_keyboard_manager_v1_interface));
        else if (!std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) && !self->pointerManager_)
            self->pointerManager_ =
                static_cast<zwlr_virtual_pointer_manager_v1*>(bind(&zwlr_virtual_pointer_manager_v1_interface));
        else if (!std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) && !self->screencopy_)
            self->screencopy_ =
                static_cast<zwlr_screencopy_manager_v1*>(bind(&zwlr_screencopy_manager_v1_interface));
    }

    static void OnGlobalRemove(void* data, wl_registry*, std::uint32_t name)
    {
        auto* self = static_cast<WlrootsLink*>(data);
        auto gone = std::find_if(self->outputs_.begin(), self->outputs_.end(),
                                 [name](const Output& o) { return o.name == name; });
        if (gone != self->outputs_.end()) {
            wl_output_destroy(gone->output);
            self->outputs_.erase(gone);
        }
    }

    static void OnFrameBuffer(void* data, zwlr_screencopy_frame_v1* frame, std::uint32_t format,
                              std::uint32_t width, std::uint32_t height, std::uint32_t stride)
    {
        auto* f = static_cast<Frame*>(data);
        WlrootsLink* self = f->link;
        PackedPixels layout;
        const bool usable = LayoutOfShmFormat(format, layout) && width > 0 && height > 0 && width <= 32768 &&
                            height <= 32768 && stride >= width * (layout.bitsPerPixel / 8) &&
                            static_cast<std::uint64_t>(stride) * height <= 0x7FFFFFFF;
        const int w = static_cast<int>(width), h = static_cast<int>(height), s = static_cast<int>(stride);
        if (!usable || (!self->shot_.Fits(format, w, h, s) && !self->shot_.Make(self->shm_, format, w, h, s))) {
            self->shot_.Release();
            f->done = true;
            return;
        }
        zwlr_screencopy_frame_v1_copy(frame, self->shot_.buffer);
    }

    static void OnFrameFlags(void* data, zwlr_screencopy_frame_v1*, std::uint32_t flags)
    {
        static_cast<Frame*>(data)->yInvert = (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
    }

    static void OnFrameReady(void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t)
    {
        auto* f = static_cast<Frame*>(data);
        f->ready = f->done = true;
    }

    static void OnFrameFailed(void* data, zwlr_screencopy_frame_v1*)
    {
        static_cast<Frame*>(data)->done = true;
    }

    std::mutex mutex_;
    Keymap keymap_;
    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    wl_shm* shm_ = nullptr;
    std::vector<Output> outputs_;
    zwp_virtual_keyboard_manager_v1* keyboardManager_ = nullptr;
    zwlr_virtual_pointer_manager_v1* pointerManager_ = nullptr;
    zwlr_screencopy_manager_v1* screencopy_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    zwlr_virtual_pointer_v1* pointer_ = nullptr;
    bool buttonDown_ = false;
    ShmBuffer shot_;
    std::vector<unsigned char> converted_;
};

class WlrootsInputInjector : public InputInjector {
public:
    explicit WlrootsInputInjector(std::shared_ptr<WlrootsLink> link) : link_(std::move(link)) {}
    void Send(const InputRecord& record) override { link_->Send(record); }
    bool Available() const override { return link_->Available(); }

private:
    std::shared_ptr<WlrootsLink> link_;
};

class WlrootsScreenGrabber : public ScreenGrabber {
public:
    explicit WlrootsScreenGrabber(std::shared_ptr<WlrootsLink> link) : link_(std::move(link)) {}
    bool GrabPrimary(ScreenPixels& out) override { return link_->Grab(out); }

private:
    std::shared_ptr<WlrootsLink> link_;
};

}  // namespace

std::optional<DesktopBackend> CreateWlrootsBackend(std::string& whyNot)
{
    auto link = std::make_shared<WlrootsLink>();
    if (!link->Open(whyNot))
        return std::nullopt;
    return DesktopBackend{"wlroots", std::make_unique<WlrootsInputInjector>(link),
                          std::make_unique<WlrootsScreenGrabber>(link)};
}

}  // namespace orvantis
