// Input and screenshots through xdg-desktop-portal (GNOME, KDE): one
// RemoteDesktop session combined with a ScreenCast of a monitor, started as
// soon as the program starts so that the desktop's consent dialog comes while
// the presenter is at the PC. Keys go out as keysyms, the click as the left
// button of the portal's pointer; screenshots are the latest frame of the
// session's PipeWire stream, which stays open for the session's lifetime.
//
// The portal is spoken to over a private session-bus connection from a
// thread of our own that runs its own GLib main context: the toolkit runs the
// default context on the GUI thread and is never touched from here. Workers
// call the input methods synchronously on that connection (GDBus connections
// may be used from any thread); replies to requests and signals are handled
// on the portal thread only.
//
// The session's life:
//   asking   the dialog is open: commands fail at once (their worker closes
//            the connection without an answer), screenshots find no frame;
//   granted  keys, clicks and frames go through the session;
//   refused  the dialog was cancelled, or granted without remote input: the
//            X11 backend (XWayland) takes over until the program restarts;
//   ended    the desktop closed the session (the user stopped sharing, the
//            portal went away): the next command asks for a new session.

#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include "platform/LinuxBackends.h"
#include "platform/PixelConvert.h"
#include "platform/VirtualKeys.h"

namespace orvantis {

namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
constexpr const char* kRequest = "org.freedesktop.portal.Request";
constexpr const char* kSession = "org.freedesktop.portal.Session";

// The portal starts on demand with its desktop's backend: that may take a
// while on a busy machine.
constexpr int kProbeTimeoutMs = 25000;
constexpr int kCallTimeoutMs = 10000;
// An input call that takes longer than this finds a desktop that hangs.
constexpr int kInputTimeoutMs = 2000;

constexpr guint32 kDeviceKeyboard = 1;
constexpr guint32 kDevicePointer = 2;
constexpr guint32 kSourceMonitor = 1;
constexpr guint32 kPersistUntilRevoked = 2;
constexpr gint32 kShiftKeysym = 0xffe1;  // XK_Shift_L

void Log(const std::string& text)
{
    std::fprintf(stderr, "orvantis: portal: %s\n", text.c_str());
}

std::string ErrorText(GError* error)
{
    std::string text = error ? error->message : "unknown error";
    if (error)
        g_error_free(error);
    return text;
}

// ---------------------------------------------------------------------------
// The restore token of a persistent session, kept in the user's
// configuration folder for the next start.

std::string RestoreTokenPath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string dir;
    if (config && config[0] == '/') {
        dir = config;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home)
            return {};
        dir = std::string(home) + "/.config";
    }
    return dir + "/orvantis/portal-restore-token";
}

std::string ReadRestoreToken()
{
    const std::string path = RestoreTokenPath();
    if (path.empty())
        return {};
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return {};
    char line[512] = {};
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    std::string token = read ? line : "";
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r'))
        token.pop_back();
    return token;
}

// Replaces the token file in one step; readable by its owner only.
void SaveRestoreToken(const std::string& token)
{
    const std::string path = RestoreTokenPath();
    if (path.empty())
        return;
    const std::string dir = path.substr(0, path.rfind('/'));
    const std::string parent = dir.substr(0, dir.rfind('/'));
    ::mkdir(parent.c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
    const std::string part = path + ".part";
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        Log("cannot keep the restore token in " + path + ": " + std::strerror(errno));
        return;
    }
    ::fchmod(fd, 0600);
    const std::string text = token + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!written || ::rename(part.c_str(), path.c_str()) != 0) {
        ::unlink(part.c_str());
        Log("cannot keep the restore token in " + path);
    }
}

// ---------------------------------------------------------------------------
// The session's screen stream: the newest frame is always at hand.

// How the bytes of a frame's pixel lie in memory, as masks of a little-endian
// number (see PixelConvert.h).
bool LayoutOf(spa_video_format format, PackedPixels& layout)
{
    layout.msbFirst = false;
    layout.bitsPerPixel = 32;
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
    case SPA_VIDEO_FORMAT_BGRA:
        layout.redMask = 0xFF0000, layout.greenMask = 0xFF00, layout.blueMask = 0xFF;
        return true;
    case SPA_VIDEO_FORMAT_RGBx:
    case SPA_VIDEO_FORMAT_RGBA:
        layout.redMask = 0xFF, layout.greenMask = 0xFF00, layout.blueMask = 0xFF0000;
        return true;
    case SPA_VIDEO_FORMAT_xRGB:
    case SPA_VIDEO_FORMAT_ARGB:
        layout.redMask = 0xFF00, layout.greenMask = 0xFF0000, layout.blueMask = 0xFF000000;
        return true;
    case SPA_VIDEO_FORMAT_xBGR:
    case SPA_VIDEO_FORMAT_ABGR:
        layout.redMask = 0xFF000000, layout.greenMask = 0xFF0000, layout.blueMask = 0xFF00;
        return true;
    case SPA_VIDEO_FORMAT_RGB:
        layout.bitsPerPixel = 24;
        layout.redMask = 0xFF, layout.greenMask = 0xFF00, layout.blueMask = 0xFF0000;
        return true;
    case SPA_VIDEO_FORMAT_BGR:
        layout.bitsPerPixel = 24;
        layout.redMask = 0xFF0000, layout.greenMask = 0xFF00, layout.blueMask = 0xFF;
        return true;
    default:
        return false;
    }
}

class FrameStream {
public:
    // Called on the stream's own thread when the stream fails or the
    // PipeWire connection breaks.
    using OnLost = std::function<void()>;

    FrameStream()
    {
        static std::once_flag once;
        std::call_once(once, [] { pw_init(nullptr, nullptr); });
    }
    ~FrameStream() { Stop(); }

    // Takes over `fd` (the portal's PipeWire remote) in every case.
    bool Start(int fd, std::uint32_t node, OnLost onLost)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_onLost = std::move(onLost);
        m_loop = pw_thread_loop_new("orvantis-screen", nullptr);
        if (!m_loop) {
            ::close(fd);
            return false;
        }
        pw_thread_loop_lock(m_loop);
        bool ok = false;
        m_context = pw_context_new(pw_thread_loop_get_loop(m_loop), nullptr, 0);
        if (m_context)
            m_core = pw_context_connect_fd(m_context, fd, nullptr, 0);
        else
            ::close(fd);
        if (m_core) {
            pw_core_add_listener(m_core, &m_coreListener, &kCoreEvents, this);
            m_stream = pw_stream_new(m_core, "Orvantis screen",
                                     pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                       "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
        }
        if (m_stream) {
            pw_stream_add_listener(m_stream, &m_streamListener, &kStreamEvents, this);
            unsigned char storage[1024];
            spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
            spa_rectangle size{1920, 1080}, minSize{1, 1}, maxSize{16384, 16384};
            spa_fraction rate{30, 1}, minRate{0, 1}, maxRate{1000, 1};
            const spa_pod* params[1];
            params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
                SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
                SPA_FORMAT_VIDEO_format,
                SPA_POD_CHOICE_ENUM_Id(11, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                                       SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB,
                                       SPA_VIDEO_FORMAT_ARGB, SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ABGR,
                                       SPA_VIDEO_FORMAT_RGB, SPA_VIDEO_FORMAT_BGR),
                SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &minSize, &maxSize),
                SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate, &minRate, &maxRate)));
            // Frames in memory the process can map (no GPU buffers: the
            // encoder reads the pixels with the processor anyway).
            ok = pw_stream_connect(m_stream, PW_DIRECTION_INPUT, node,
                                   static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                                PW_STREAM_FLAG_MAP_BUFFERS),
                                   params, 1) == 0;
        }
        pw_thread_loop_unlock(m_loop);
        if (ok)
            ok = pw_thread_loop_start(m_loop) == 0;
        if (!ok)
            StopLocked();
        return ok;
    }

    void Stop()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        StopLocked();
    }

    // Copies the newest frame into `copy` and describes it in `layout`.
    bool CopyLatest(std::vector<unsigned char>& copy, PackedPixels& layout)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_loop)
            return false;
        pw_thread_loop_lock(m_loop);
        bool ok = false;
        if (m_latest && m_formatKnown && LayoutOf(m_format.format, layout)) {
            const spa_data& d = m_latest->buffer->datas[0];
            const int width = static_cast<int>(m_format.size.width);
            const int height = static_cast<int>(m_format.size.height);
            const std::size_t rowBytes = static_cast<std::size_t>(width) * (layout.bitsPerPixel / 8);
            const std::size_t stride = d.chunk->stride > 0 ? static_cast<std::size_t>(d.chunk->stride) : rowBytes;
            const std::size_t offset = d.chunk->offset;
            const std::size_t needed = height > 0 ? offset + stride * (height - 1) + rowBytes : 0;
            if (width > 0 && height > 0 && stride >= rowBytes && needed <= d.maxsize) {
                copy.resize(rowBytes * height);
                const auto* from = static_cast<const unsigned char*>(d.data) + offset;
                for (int y = 0; y < height; ++y)
                    std::memcpy(copy.data() + rowBytes * y, from + stride * y, rowBytes);
                layout.data = copy.data();
                layout.width = width;
                layout.height = height;
                layout.stride = rowBytes;
                ok = true;
            }
        }
        pw_thread_loop_unlock(m_loop);
        return ok;
    }

private:
    void StopLocked()
    {
        if (!m_loop)
            return;
        pw_thread_loop_stop(m_loop);
        if (m_stream) {
            // Buffers go back to the stream before it goes; it frees them.
            m_latest = nullptr;
            spa_hook_remove(&m_streamListener);
            pw_stream_destroy(m_stream);
            m_stream = nullptr;
        }
        if (m_core) {
            spa_hook_remove(&m_coreListener);
            pw_core_disconnect(m_core);
            m_core = nullptr;
        }
        if (m_context) {
            pw_context_destroy(m_context);
            m_context = nullptr;
        }
        pw_thread_loop_destroy(m_loop);
        m_loop = nullptr;
        m_formatKnown = false;
        m_streamed = false;
    }

    // On the stream's thread, with its loop locked.
    void OnProcess()
    {
        pw_buffer* newest = nullptr;
        while (pw_buffer* next = pw_stream_dequeue_buffer(m_stream)) {
            if (newest)
                pw_stream_queue_buffer(m_stream, newest);
            newest = next;
        }
        if (!newest)
            return;
        const spa_data& d = newest->buffer->datas[0];
        // Buffers without pixels (a cursor's move, a frame the compositor
        // marked as damaged) leave the previous frame in place.
        if (!d.data || !d.chunk || d.chunk->size == 0 || (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) {
            pw_stream_queue_buffer(m_stream, newest);
            return;
        }
        if (m_latest)
            pw_stream_queue_buffer(m_stream, m_latest);
        m_latest = newest;
    }

    void OnParamChanged(uint32_t id, const spa_pod* param)
    {
        if (!param || id != SPA_PARAM_Format)
            return;
        uint32_t mediaType = 0, mediaSubtype = 0;
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
            mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
            return;
        spa_video_info_raw format{};
        if (spa_format_video_raw_parse(param, &format) < 0)
            return;
        m_format = format;
        m_formatKnown = true;
        unsigned char storage[256];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
            SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
        pw_stream_update_params(m_stream, params, 1);
    }

    void OnStateChanged(pw_stream_state old, pw_stream_state state, const char* error)
    {
        if (state == PW_STREAM_STATE_STREAMING)
            m_streamed = true;
        // The desktop's end of the stream went away (its session stopped,
        // or the portal's backend that held it ended): a stream that has
        // streamed only pauses or disconnects then.
        const bool lost = state == PW_STREAM_STATE_ERROR ||
                          (m_streamed && old == PW_STREAM_STATE_STREAMING && state != old);
        if (lost) {
            Log(std::string("screen stream ") + pw_stream_state_as_string(state) + (error ? ": " : "") +
                (error ? error : ""));
            if (m_onLost)
                m_onLost();
        }
    }

    void OnCoreError(uint32_t id, int res, const char* message)
    {
        if (id != PW_ID_CORE)
            return;
        Log(std::string("PipeWire: ") + (message ? message : "error"));
        if (res == -EPIPE && m_onLost)
            m_onLost();
    }

    static const pw_stream_events kStreamEvents;
    static const pw_core_events kCoreEvents;

    std::mutex m_mutex;  // Start, Stop and copies, one at a time
    OnLost m_onLost;
    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    pw_stream* m_stream = nullptr;
    spa_hook m_coreListener{};
    spa_hook m_streamListener{};
    // Under the stream loop's lock.
    pw_buffer* m_latest = nullptr;
    bool m_streamed = false;
    spa_video_info_raw m_format{};
    bool m_formatKnown = false;
};

const pw_stream_events FrameStream::kStreamEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = [](void* self, pw_stream_state old, pw_stream_state state, const char* error) {
        static_cast<FrameStream*>(self)->OnStateChanged(old, state, error);
    };
    events.param_changed = [](void* self, uint32_t id, const spa_pod* param) {
        static_cast<FrameStream*>(self)->OnParamChanged(id, param);
    };
    events.process = [](void* self) { static_cast<FrameStream*>(self)->OnProcess(); };
    return events;
}();

const pw_core_events FrameStream::kCoreEvents = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = [](void* self, uint32_t id, int, int res, const char* message) {
        static_cast<FrameStream*>(self)->OnCoreError(id, res, message);
    };
    return events;
}();

// ---------------------------------------------------------------------------
// The remote-control session.

enum class Phase { Asking, Granted, Refused, Ended };

GVariant* Options(std::initializer_list<std::pair<const char*, GVariant*>> entries)
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    for (const auto& entry : entries)
        if (entry.second)
            g_variant_builder_add(&builder, "{sv}", entry.first, entry.second);
    return g_variant_builder_end(&builder);
}

class PortalSession {
public:
    PortalSession(DesktopNoticeSink notices, std::function<DesktopBackend()> fallback)
        : m_notices(std::move(notices)), m_makeFallback(std::move(fallback))
    {
        m_context = g_main_context_new();
        m_loop = g_main_loop_new(m_context, FALSE);
    }

    ~PortalSession()
    {
        if (m_thread.joinable()) {
            Invoke([](PortalSession* self) {
                self->DropSession(true);
                if (self->m_watch)
                    g_bus_unwatch_name(self->m_watch);
                self->m_watch = 0;
                g_main_loop_quit(self->m_loop);
            });
            m_thread.join();
        }
        m_frames.Stop();
        if (m_bus) {
            g_signal_handlers_disconnect_by_data(m_bus, this);
            g_object_unref(m_bus);
        }
        g_main_loop_unref(m_loop);
        g_main_context_unref(m_context);
    }

    // Starts the portal thread, which connects and probes; on success it
    // goes on to ask for the session. False, with the reason, otherwise.
    bool Start(std::string& whyNot)
    {
        std::mutex probeMutex;
        std::condition_variable probed;
        bool done = false;
        std::string why;
        m_thread = std::thread([&] {
            // Owned by this thread from the start, so that work handed over
            // from other threads (Invoke) always runs here, also before the
            // loop runs.
            g_main_context_acquire(m_context);
            g_main_context_push_thread_default(m_context);
            const bool ok = Probe(why);
            {
                std::lock_guard<std::mutex> lock(probeMutex);
                done = true;
                probed.notify_all();
            }
            if (ok) {
                BeginSession();
                g_main_loop_run(m_loop);
            }
            g_main_context_pop_thread_default(m_context);
            g_main_context_release(m_context);
        });
        std::unique_lock<std::mutex> lock(probeMutex);
        probed.wait(lock, [&] { return done; });
        if (!why.empty()) {
            lock.unlock();
            m_thread.join();
            whyNot = why;
            return false;
        }
        return true;
    }

    // --- For workers, on any thread. ---

    // Whether a key or click can reach the desktop now. A session that has
    // ended is asked for again, so that a later command can succeed.
    bool Ready()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        switch (m_phase) {
        case Phase::Granted: return true;
        case Phase::Refused: return true;
        case Phase::Asking: return false;
        case Phase::Ended:
            // Asked again after the command that found the session gone.
            if (m_failedNow)
                m_failedNow = false;
            else
                AskAgainLocked();
            return false;
        }
        return false;
    }

    bool Available()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_phase != Phase::Refused || !m_fallback.input || m_fallback.input->Available();
    }

    void Send(const InputRecord& record)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_phase == Phase::Refused) {
            if (m_fallback.input)
                m_fallback.input->Send(record);
            return;
        }
        if (m_phase != Phase::Granted)
            return;
        const std::string session = m_sessionHandle;
        const unsigned attempt = m_attempt;
        // Held for the call: the portal thread replaces its connection only
        // when the bus has closed.
        GDBusConnection* bus = static_cast<GDBusConnection*>(g_object_ref(m_bus));
        lock.unlock();

        const bool down = record.kind == InputKind::KeyDown || record.kind == InputKind::LeftButtonDown;
        const char* method = nullptr;
        GVariant* params = nullptr;
        if (record.kind == InputKind::KeyDown || record.kind == InputKind::KeyUp) {
            const std::uint32_t keysym = KeysymForVirtualKey(record.virtualKey);
            if (keysym == 0) {
                g_object_unref(bus);
                return;
            }
            method = "NotifyKeyboardKeysym";
            params = g_variant_new("(o@a{sv}iu)", session.c_str(), Options({}), static_cast<gint32>(keysym),
                                   down ? 1u : 0u);
        } else {
            method = "NotifyPointerButton";
            params = g_variant_new("(o@a{sv}iu)", session.c_str(), Options({}), static_cast<gint32>(BTN_LEFT),
                                   down ? 1u : 0u);
        }
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(bus, kPortalName, kPortalPath, kRemoteDesktop, method,
                                                      params, nullptr, G_DBUS_CALL_FLAGS_NONE, kInputTimeoutMs,
                                                      nullptr, &error);
        g_object_unref(bus);
        if (reply) {
            g_variant_unref(reply);
            return;
        }
        // The desktop no longer takes input from this session: this command
        // fails, and the next one asks for a new session.
        Log(std::string(method) + " failed: " + ErrorText(error));
        bool tell = false;
        {
            std::lock_guard<std::mutex> relock(m_mutex);
            if (m_phase != Phase::Granted || m_attempt != attempt)
                return;
            m_phase = Phase::Ended;
            m_failedNow = true;
            tell = !m_told;
            m_told = true;
        }
        Invoke([](PortalSession* self) { self->DropSession(true); });
        if (tell && m_notices)
            m_notices(DesktopNotice::RemoteControlEnded);
    }

    bool Grab(ScreenPixels& out)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            switch (m_phase) {
            case Phase::Granted: break;
            case Phase::Refused: return m_fallback.grabber && m_fallback.grabber->GrabPrimary(out);
            case Phase::Asking: return false;
            case Phase::Ended: AskAgainLocked(); return false;
            }
        }
        PackedPixels frame;
        return m_frames.CopyLatest(m_frame, frame) && HandOutPixels(frame, m_converted, out);
    }

private:
    using Step = void (PortalSession::*)(guint32 response, GVariant* results);

    template <typename F>
    void Invoke(F f)
    {
        struct Call {
            PortalSession* self;
            F f;
        };
        g_main_context_invoke_full(
            m_context, G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                auto* call = static_cast<Call*>(data);
                call->f(call->self);
                return G_SOURCE_REMOVE;
            },
            new Call{this, std::move(f)}, [](gpointer data) { delete static_cast<Call*>(data); });
    }

    // --- On the portal thread. ---

    bool Connect(std::string& why)
    {
        if (m_bus && !g_dbus_connection_is_closed(m_bus))
            return true;
        if (m_bus) {
            g_signal_handlers_disconnect_by_data(m_bus, this);
            g_object_unref(m_bus);
        }
        SetBus(nullptr);
        GError* error = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (!address) {
            why = "no session bus (" + ErrorText(error) + ")";
            return false;
        }
        // A connection of our own: its signals come to this thread's
        // context, and closing it touches nobody else's.
        SetBus(g_dbus_connection_new_for_address_sync(
            address,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error));
        g_free(address);
        if (!m_bus) {
            why = "no session bus (" + ErrorText(error) + ")";
            return false;
        }
        g_dbus_connection_set_exit_on_close(m_bus, FALSE);
        g_signal_connect(m_bus, "closed", G_CALLBACK(+[](GDBusConnection*, gboolean, GError*, gpointer self) {
                             static_cast<PortalSession*>(self)->Ended("the session bus closed");
                         }),
                         this);
        // Tokens name our requests; the portal puts them under our name.
        std::string sender = g_dbus_connection_get_unique_name(m_bus) + 1;
        for (char& c : sender)
            if (c == '.')
                c = '_';
        m_sender = sender;
        return true;
    }

    void SetBus(GDBusConnection* bus)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bus = bus;
    }

    GVariant* PortalProperty(const char* interface, const char* name, GError** error)
    {
        GVariant* reply = g_dbus_connection_call_sync(m_bus, kPortalName, kPortalPath,
                                                      "org.freedesktop.DBus.Properties", "Get",
                                                      g_variant_new("(ss)", interface, name), G_VARIANT_TYPE("(v)"),
                                                      G_DBUS_CALL_FLAGS_NONE, kProbeTimeoutMs, nullptr, error);
        if (!reply)
            return nullptr;
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        g_variant_unref(reply);
        return value;
    }

    guint32 PortalNumber(const char* interface, const char* name, std::string& why)
    {
        GError* error = nullptr;
        GVariant* value = PortalProperty(interface, name, &error);
        if (!value) {
            if (error && g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN))
                why = std::string("no ") + kPortalName + " on the session bus";
            else
                why = std::string("no ") + interface + " (" + (error ? error->message : "") + ")";
            if (error)
                g_error_free(error);
            return 0;
        }
        const guint32 number = g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32) ? g_variant_get_uint32(value) : 0;
        g_variant_unref(value);
        return number;
    }

    bool Probe(std::string& why)
    {
        if (!Connect(why))
            return false;
        m_version = PortalNumber(kRemoteDesktop, "version", why);
        if (!why.empty())
            return false;
        const guint32 devices = PortalNumber(kRemoteDesktop, "AvailableDeviceTypes", why);
        if (!why.empty())
            return false;
        if ((devices & (kDeviceKeyboard | kDevicePointer)) != (kDeviceKeyboard | kDevicePointer)) {
            why = "the portal's remote desktop has no keyboard and pointer";
            return false;
        }
        const guint32 sources = PortalNumber(kScreenCast, "AvailableSourceTypes", why);
        if (!why.empty())
            return false;
        if (!(sources & kSourceMonitor)) {
            why = "the portal's screen cast offers no monitor";
            return false;
        }
        // The portal going away ends the session.
        m_watch = g_bus_watch_name_on_connection(
            m_bus, kPortalName, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
            [](GDBusConnection*, const gchar*, gpointer self) {
                static_cast<PortalSession*>(self)->Ended("the portal went away");
            },
            this, nullptr);
        return true;
    }

    std::string NewToken() { return "orvantis" + std::to_string(++m_tokens); }

    // Calls a portal method that answers through a Request object, and
    // hands that answer to `step`.
    bool Ask(const std::string& token, const char* interface, const char* method, GVariant* params, Step step)
    {
        const std::string path = "/org/freedesktop/portal/desktop/request/" + m_sender + "/" + token;
        m_step = step;
        SubscribeResponse(path);
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(m_bus, kPortalName, kPortalPath, interface, method, params,
                                                      G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
                                                      kCallTimeoutMs, nullptr, &error);
        if (!reply) {
            Unsubscribe(m_responseWatch);
            Log(std::string(method) + " failed: " + ErrorText(error));
            return false;
        }
        const gchar* handle = nullptr;
        g_variant_get(reply, "(&o)", &handle);
        // Portals older than request tokens choose the path themselves.
        if (path != handle)
            SubscribeResponse(handle);
        g_variant_unref(reply);
        return true;
    }

    void SubscribeResponse(const std::string& path)
    {
        Unsubscribe(m_responseWatch);
        m_responseWatch = g_dbus_connection_signal_subscribe(
            m_bus, kPortalName, kRequest, "Response", path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
               gpointer data) {
                auto* self = static_cast<PortalSession*>(data);
                self->Unsubscribe(self->m_responseWatch);
                guint32 response = 2;
                GVariant* results = nullptr;
                g_variant_get(parameters, "(u@a{sv})", &response, &results);
                const Step step = self->m_step;
                self->m_step = nullptr;
                if (step)
                    (self->*step)(response, results);
                g_variant_unref(results);
            },
            this, nullptr);
    }

    void Unsubscribe(guint& id)
    {
        if (id && m_bus)
            g_dbus_connection_signal_unsubscribe(m_bus, id);
        id = 0;
    }

    void BeginSession()
    {
        std::string why;
        if (!Connect(why)) {
            Log(why);
            Ended(why.c_str());
            return;
        }
        ++m_attempt;
        const std::string token = NewToken();
        const std::string sessionToken = NewToken();
        GVariant* params = g_variant_new(
            "(@a{sv})", Options({{"handle_token", g_variant_new_string(token.c_str())},
                                 {"session_handle_token", g_variant_new_string(sessionToken.c_str())}}));
        if (!Ask(token, kRemoteDesktop, "CreateSession", params, &PortalSession::OnCreated))
            Ended("no session");
    }

    void OnCreated(guint32 response, GVariant* results)
    {
        // A string in the portal's documentation, an object path in some
        // of its versions.
        GVariant* value = response == 0 ? g_variant_lookup_value(results, "session_handle", nullptr) : nullptr;
        const bool named = value && (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
                                     g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH));
        const std::string session = named ? g_variant_get_string(value, nullptr) : "";
        if (value)
            g_variant_unref(value);
        if (session.empty() || !g_variant_is_object_path(session.c_str())) {
            Log("the portal made no session");
            Ended("no session");
            return;
        }
        const char* handle = session.c_str();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_sessionHandle = session;
        }
        Unsubscribe(m_closedWatch);
        m_closedWatch = g_dbus_connection_signal_subscribe(
            m_bus, kPortalName, kSession, "Closed", handle, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer self) {
                static_cast<PortalSession*>(self)->Ended("the desktop closed the session");
            },
            this, nullptr);

        const std::string token = NewToken();
        // Version 2 portals can keep the consent: the dialog then comes once
        // rather than at every start.
        const std::string restore = m_version >= 2 ? ReadRestoreToken() : std::string();
        GVariant* options = Options(
            {{"handle_token", g_variant_new_string(token.c_str())},
             {"types", g_variant_new_uint32(kDeviceKeyboard | kDevicePointer)},
             {"persist_mode", m_version >= 2 ? g_variant_new_uint32(kPersistUntilRevoked) : nullptr},
             {"restore_token", restore.empty() ? nullptr : g_variant_new_string(restore.c_str())}});
        if (!Ask(token, kRemoteDesktop, "SelectDevices", g_variant_new("(o@a{sv})", handle, options),
                 &PortalSession::OnDevicesSelected))
            Ended("no devices");
    }

    void OnDevicesSelected(guint32 response, GVariant*)
    {
        if (response != 0) {
            Refused("the portal refused the keyboard and pointer");
            return;
        }
        const std::string token = NewToken();
        GVariant* options = Options({{"handle_token", g_variant_new_string(token.c_str())},
                                     {"types", g_variant_new_uint32(kSourceMonitor)},
                                     {"multiple", g_variant_new_boolean(FALSE)}});
        if (!Ask(token, kScreenCast, "SelectSources", g_variant_new("(o@a{sv})", m_sessionHandle.c_str(), options),
                 &PortalSession::OnSourcesSelected))
            Ended("no sources");
    }

    void OnSourcesSelected(guint32 response, GVariant*)
    {
        if (response != 0) {
            Refused("the portal refused the screen");
            return;
        }
        const std::string token = NewToken();
        GVariant* options = Options({{"handle_token", g_variant_new_string(token.c_str())}});
        // The consent dialog shows now, until the presenter answers it.
        if (!Ask(token, kRemoteDesktop, "Start", g_variant_new("(os@a{sv})", m_sessionHandle.c_str(), "", options),
                 &PortalSession::OnStarted))
            Ended("not started");
    }

    void OnStarted(guint32 response, GVariant* results)
    {
        if (response != 0) {
            Refused(response == 1 ? "the dialog was cancelled" : "the desktop refused");
            return;
        }
        guint32 devices = 0;
        g_variant_lookup(results, "devices", "u", &devices);
        if ((devices & (kDeviceKeyboard | kDevicePointer)) != (kDeviceKeyboard | kDevicePointer)) {
            Refused("remote input was not allowed");
            return;
        }
        const gchar* restore = nullptr;
        if (g_variant_lookup(results, "restore_token", "&s", &restore) && restore && *restore)
            SaveRestoreToken(restore);

        std::uint32_t node = 0;
        bool haveNode = false;
        if (GVariant* streams = g_variant_lookup_value(results, "streams", G_VARIANT_TYPE("a(ua{sv})"))) {
            if (g_variant_n_children(streams) > 0) {
                GVariant* first = g_variant_get_child_value(streams, 0);
                g_variant_get_child(first, 0, "u", &node);
                g_variant_unref(first);
                haveNode = true;
            }
            g_variant_unref(streams);
        }
        if (haveNode)
            OpenStream(node);
        else
            Log("the session has no screen stream: no screenshots");

        WakeDevices();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_phase = Phase::Granted;
        m_told = false;
        Log("remote control granted");
    }

    // The desktop makes the session's keyboard and pointer when they are
    // first used, and on a seat without other devices windows take such a
    // newcomer late: the first key of the first command would be lost. A tap
    // of Shift and a pointer move there and back bring both in now.
    void WakeDevices()
    {
        const auto notify = [this](const char* method, GVariant* params) {
            GVariant* reply = g_dbus_connection_call_sync(m_bus, kPortalName, kPortalPath, kRemoteDesktop, method,
                                                          params, nullptr, G_DBUS_CALL_FLAGS_NONE, kInputTimeoutMs,
                                                          nullptr, nullptr);
            if (reply)
                g_variant_unref(reply);
        };
        const char* session = m_sessionHandle.c_str();
        notify("NotifyKeyboardKeysym", g_variant_new("(o@a{sv}iu)", session, Options({}), kShiftKeysym, 1u));
        notify("NotifyKeyboardKeysym", g_variant_new("(o@a{sv}iu)", session, Options({}), kShiftKeysym, 0u));
        notify("NotifyPointerMotion", g_variant_new("(o@a{sv}dd)", session, Options({}), 1.0, 0.0));
        notify("NotifyPointerMotion", g_variant_new("(o@a{sv}dd)", session, Options({}), -1.0, 0.0));
    }

    void OpenStream(std::uint32_t node)
    {
        GUnixFDList* fds = nullptr;
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
            m_bus, kPortalName, kPortalPath, kScreenCast, "OpenPipeWireRemote",
            g_variant_new("(o@a{sv})", m_sessionHandle.c_str(), Options({})), G_VARIANT_TYPE("(h)"),
            G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &fds, nullptr, &error);
        if (!reply) {
            Log("no PipeWire remote: " + ErrorText(error));
            return;
        }
        gint32 index = -1;
        g_variant_get(reply, "(h)", &index);
        g_variant_unref(reply);
        const int fd = fds ? g_unix_fd_list_get(fds, index, &error) : -1;
        if (fds)
            g_object_unref(fds);
        if (fd < 0) {
            Log("no PipeWire remote: " + ErrorText(error));
            return;
        }
        const unsigned attempt = m_attempt;
        const bool started = m_frames.Start(fd, node, [this, attempt] {
            Invoke([attempt](PortalSession* self) {
                if (self->m_attempt == attempt)
                    self->Ended("the screen stream broke");
            });
        });
        if (!started)
            Log("the screen stream did not start: no screenshots");
    }

    // Lets go of the portal's session (closing it unless the desktop did).
    void DropSession(bool close)
    {
        Unsubscribe(m_responseWatch);
        Unsubscribe(m_closedWatch);
        m_step = nullptr;
        m_frames.Stop();
        std::string handle;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            handle.swap(m_sessionHandle);
        }
        if (close && !handle.empty() && m_bus && !g_dbus_connection_is_closed(m_bus)) {
            GVariant* reply = g_dbus_connection_call_sync(m_bus, kPortalName, handle.c_str(), kSession, "Close",
                                                          nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr,
                                                          nullptr);
            if (reply)
                g_variant_unref(reply);
        }
    }

    void Refused(const char* why)
    {
        Log(std::string("no remote control: ") + why);
        DropSession(true);
        // X11 (XWayland) from now on, as on a desktop without the portal.
        DesktopBackend fallback = m_makeFallback ? m_makeFallback() : DesktopBackend{};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_fallback = std::move(fallback);
            m_phase = Phase::Refused;
        }
        if (m_notices)
            m_notices(DesktopNotice::RemoteControlRefused);
    }

    void Ended(const char* why)
    {
        bool tell = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_phase == Phase::Refused || m_phase == Phase::Ended)
                return;
            tell = !m_told;
            m_told = true;
            m_phase = Phase::Ended;
        }
        Log(std::string("the session ended: ") + why);
        DropSession(true);
        if (tell && m_notices)
            m_notices(DesktopNotice::RemoteControlEnded);
    }

    // Under m_mutex, from any thread: asks the portal for a new session.
    void AskAgainLocked()
    {
        m_phase = Phase::Asking;
        Log("asking for remote control again");
        Invoke([](PortalSession* self) { self->BeginSession(); });
    }

    DesktopNoticeSink m_notices;
    std::function<DesktopBackend()> m_makeFallback;

    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    std::thread m_thread;

    // Portal thread only, but m_bus is set under m_mutex: workers take a
    // reference to it for their input calls.
    GDBusConnection* m_bus = nullptr;
    std::string m_sender;
    guint32 m_version = 0;
    guint m_watch = 0;
    guint m_responseWatch = 0;
    guint m_closedWatch = 0;
    Step m_step = nullptr;
    unsigned m_tokens = 0;
    std::atomic<unsigned> m_attempt{0};

    std::mutex m_mutex;
    Phase m_phase = Phase::Asking;  // under m_mutex
    bool m_told = false;            // under m_mutex: the last end was reported
    bool m_failedNow = false;       // under m_mutex: a command's input just found the session gone
    std::string m_sessionHandle;    // under m_mutex
    DesktopBackend m_fallback;      // under m_mutex once refused

    FrameStream m_frames;
    // The grabber's: one grab at a time.
    std::vector<unsigned char> m_frame;
    std::vector<unsigned char> m_converted;
};

class PortalInput : public InputInjector {
public:
    explicit PortalInput(std::shared_ptr<PortalSession> session) : m_session(std::move(session)) {}
    void Send(const InputRecord& record) override { m_session->Send(record); }
    bool Available() const override { return m_session->Available(); }
    bool Ready() override { return m_session->Ready(); }

private:
    std::shared_ptr<PortalSession> m_session;
};

class PortalGrabber : public ScreenGrabber {
public:
    explicit PortalGrabber(std::shared_ptr<PortalSession> session) : m_session(std::move(session)) {}
    bool GrabPrimary(ScreenPixels& out) override { return m_session->Grab(out); }

private:
    std::shared_ptr<PortalSession> m_session;
};

}  // namespace

std::optional<DesktopBackend> CreatePortalBackend(const DesktopNoticeSink& notices,
                                                  std::function<DesktopBackend()> fallback, std::string& whyNot)
{
    auto session = std::make_shared<PortalSession>(notices, std::move(fallback));
    if (!session->Start(whyNot))
        return std::nullopt;
    return DesktopBackend{"portal", std::make_unique<PortalInput>(session), std::make_unique<PortalGrabber>(session)};
}

}  // namespace orvantis
