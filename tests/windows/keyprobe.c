/* A small Win32 program the Windows tests drive beside orvantis.exe.
 *
 *   keyprobe.exe [X Y W H [SECONDS [noise]]]
 *       Opens a topmost window at X,Y of W x H pixels (default 40 60 320 200),
 *       painted in one colour (RGB 200, 40, 90), or with "noise" in random
 *       pixels that no image coder can shrink much, takes the keyboard focus and
 *       puts the mouse pointer on its centre. Then prints one line per event,
 *       flushed at once:
 *           READY <pointer x> <pointer y>
 *           KEYDOWN 0x<vk> lparam=0x<lParam> t=<ms>     (WM_KEYDOWN, WM_SYSKEYDOWN)
 *           KEYUP 0x<vk> lparam=0x<lParam> t=<ms>       (WM_KEYUP, WM_SYSKEYUP)
 *           LBUTTONDOWN <x> <y> t=<ms>, LBUTTONUP, RBUTTONDOWN, RBUTTONUP,
 *           MBUTTONDOWN, MBUTTONUP            (client coordinates)
 *       where t is the message's time (GetMessageTime, milliseconds).
 *           FOCUS / NOFOCUS                        (WM_SETFOCUS / WM_KILLFOCUS)
 *       and ends by itself after SECONDS (default 120) or when closed.
 *
 *   keyprobe.exe screen
 *       Prints "SCREEN <width> <height>" of the primary display and
 *       "SWAPBUTTON 0|1" as Windows reports them (GetSystemMetrics).
 *
 *   keyprobe.exe close <window title>
 *       Posts WM_CLOSE to the top-level window with exactly that title, as
 *       the close box would. Prints CLOSED or NOTFOUND; exit status 0 or 1.
 *
 *   keyprobe.exe texts <window title>
 *       Prints "TEXT <class>\t<text>" for every child window of the top-level
 *       window with exactly that title (WM_GETTEXT; a status bar gives its
 *       first field). Exit status 1 when there is no such window.
 *
 *   keyprobe.exe pictures <window title>
 *       Prints "PICTURE <w> <h>" for every child window of the top-level
 *       window with exactly that title that shows a bitmap (STM_GETIMAGE),
 *       with the size of the control, which is the bitmap's. Exit status 1
 *       when there is no such window.
 *
 *   keyprobe.exe swap 0|1
 *       Sets the "swap primary and secondary mouse buttons" setting of the
 *       current user (SwapMouseButton) and prints "SWAPPED <previous>".
 */

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define PROBE_RED 200
#define PROBE_GREEN 40
#define PROBE_BLUE 90
#define QUIT_TIMER 1

static HBRUSH g_brush;
static BOOL g_noise;

/* Fills the client area with pseudo-random pixels, the same on every paint. */
static void PaintNoise(HWND hwnd, HDC dc)
{
    RECT r;
    BITMAPINFO info;
    unsigned char* pixels;
    unsigned state = 12345u;
    size_t i, n;
    GetClientRect(hwnd, &r);
    n = (size_t)r.right * (size_t)r.bottom * 4u;
    pixels = (unsigned char*)malloc(n ? n : 1);
    if (!pixels)
        return;
    for (i = 0; i < n; ++i) {
        state = state * 1103515245u + 12345u;
        pixels[i] = (unsigned char)(state >> 23);
    }
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = r.right;
    info.bmiHeader.biHeight = -r.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, 0, 0, (DWORD)r.right, (DWORD)r.bottom, 0, 0, 0, (UINT)r.bottom, pixels, &info,
                      DIB_RGB_COLORS);
    free(pixels);
}

static void Say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fputc('\n', stdout);
    fflush(stdout);
}

static LRESULT CALLBACK ProbeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        Say("KEYDOWN 0x%02X lparam=0x%08lX t=%ld", (unsigned)wParam, (unsigned long)lParam, GetMessageTime());
        return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        Say("KEYUP 0x%02X lparam=0x%08lX t=%ld", (unsigned)wParam, (unsigned long)lParam, GetMessageTime());
        return 0;
    case WM_LBUTTONDOWN:
        Say("LBUTTONDOWN %d %d t=%ld", (short)LOWORD(lParam), (short)HIWORD(lParam), GetMessageTime());
        return 0;
    case WM_LBUTTONUP:
        Say("LBUTTONUP %d %d t=%ld", (short)LOWORD(lParam), (short)HIWORD(lParam), GetMessageTime());
        return 0;
    case WM_RBUTTONDOWN:
        Say("RBUTTONDOWN %d %d t=%ld", (short)LOWORD(lParam), (short)HIWORD(lParam), GetMessageTime());
        return 0;
    case WM_RBUTTONUP:
        Say("RBUTTONUP %d %d t=%ld", (short)LOWORD(lParam), (short)HIWORD(lParam), GetMessageTime());
        return 0;
    case WM_MBUTTONDOWN:
        Say("MBUTTONDOWN %d %d t=%ld", (short)LOWORD(lParam), (short)HIWORD(lParam), GetMessageTime());
        return 0;
    case WM_MBUTTONUP:
        Say("MBUTTONUP %d %d t=%ld", (short)LOWORD(lParam), (short)HIWORD(lParam), GetMessageTime());
        return 0;
    case WM_SETFOCUS:
        Say("FOCUS");
        return 0;
    case WM_KILLFOCUS:
        Say("NOFOCUS");
        return 0;
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(hwnd, &r);
        if (g_noise)
            PaintNoise(hwnd, (HDC)wParam);
        else
            FillRect((HDC)wParam, &r, g_brush);
        return 1;
    }
    case WM_TIMER:
        if (wParam == QUIT_TIMER)
            DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

static int RunProbe(int x, int y, int w, int h, int seconds)
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    WNDCLASSA wc;
    HWND hwnd;
    MSG msg;
    POINT p;

    g_brush = CreateSolidBrush(RGB(PROBE_RED, PROBE_GREEN, PROBE_BLUE));
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = g_brush;
    wc.lpszClassName = "OrvantisKeyProbe";
    if (!RegisterClassA(&wc)) {
        Say("ERROR RegisterClass %lu", GetLastError());
        return 2;
    }
    /* A borderless window: its client area is exactly the given rectangle,
     * whatever frame sizes the system uses. */
    hwnd = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "Orvantis Key Probe", WS_POPUP | WS_VISIBLE,
                           x, y, w, h, NULL, NULL, instance, NULL);
    if (!hwnd) {
        Say("ERROR CreateWindow %lu", GetLastError());
        return 2;
    }
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    SetForegroundWindow(hwnd);
    SetActiveWindow(hwnd);
    SetFocus(hwnd);
    SetCursorPos(x + w / 2, y + h / 2);
    SetTimer(hwnd, QUIT_TIMER, (UINT)seconds * 1000u, NULL);

    /* Let the window be drawn and the focus and pointer settle before the
     * test starts sending. */
    {
        DWORD until = GetTickCount() + 300;
        while (GetTickCount() < until) {
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            Sleep(10);
        }
    }
    GetCursorPos(&p);
    Say("READY %ld %ld", (long)p.x, (long)p.y);

    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    DeleteObject(g_brush);
    return 0;
}

static HWND FindTitled(const char* title);

static int CloseWindowTitled(const char* title)
{
    HWND hwnd = FindTitled(title);
    if (!hwnd) {
        Say("NOTFOUND");
        return 1;
    }
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    Say("CLOSED");
    return 0;
}

static HWND FindTitled(const char* title)
{
    wchar_t wide[512];
    if (!MultiByteToWideChar(CP_UTF8, 0, title, -1, wide, (int)(sizeof wide / sizeof wide[0])))
        return NULL;
    return FindWindowW(NULL, wide);
}

static void SayUtf8(const char* prefix, const wchar_t* text)
{
    char utf8[2048];
    if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, (int)sizeof utf8, NULL, NULL))
        utf8[0] = 0;
    Say("%s%s", prefix, utf8);
}

static BOOL CALLBACK SayChildText(HWND child, LPARAM unused)
{
    wchar_t cls[128], text[1024];
    char prefix[200];
    (void)unused;
    if (!GetClassNameW(child, cls, 128))
        cls[0] = 0;
    text[0] = 0;
    SendMessageTimeoutW(child, WM_GETTEXT, 1024, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, NULL);
    text[1023] = 0;
    if (!WideCharToMultiByte(CP_UTF8, 0, cls, -1, prefix + 5, (int)sizeof prefix - 8, NULL, NULL))
        prefix[5] = 0;
    memcpy(prefix, "TEXT ", 5);
    strcat(prefix, "\t");
    SayUtf8(prefix, text);
    return TRUE;
}

static int SayTexts(const char* title)
{
    HWND hwnd = FindTitled(title);
    if (!hwnd) {
        Say("NOTFOUND");
        return 1;
    }
    EnumChildWindows(hwnd, SayChildText, 0);
    return 0;
}

static BOOL CALLBACK SayChildPicture(HWND child, LPARAM unused)
{
    wchar_t cls[128];
    HBITMAP bitmap;
    RECT rect;
    (void)unused;
    if (!GetClassNameW(child, cls, 128) || lstrcmpiW(cls, L"Static") != 0)
        return TRUE;
    /* The bitmap is the program's: its size is not for this process to
     * read, but a bitmap control takes the size of its bitmap. */
    bitmap = (HBITMAP)SendMessageW(child, STM_GETIMAGE, IMAGE_BITMAP, 0);
    if (bitmap && GetClientRect(child, &rect))
        Say("PICTURE %ld %ld", (long)(rect.right - rect.left), (long)(rect.bottom - rect.top));
    return TRUE;
}

static int SayPictures(const char* title)
{
    HWND hwnd = FindTitled(title);
    if (!hwnd) {
        Say("NOTFOUND");
        return 1;
    }
    EnumChildWindows(hwnd, SayChildPicture, 0);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "screen") == 0) {
        Say("SCREEN %d %d", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        Say("SWAPBUTTON %d", GetSystemMetrics(SM_SWAPBUTTON));
        return 0;
    }
    if (argc >= 3 && strcmp(argv[1], "close") == 0)
        return CloseWindowTitled(argv[2]);
    if (argc >= 3 && strcmp(argv[1], "texts") == 0)
        return SayTexts(argv[2]);
    if (argc >= 3 && strcmp(argv[1], "pictures") == 0)
        return SayPictures(argv[2]);
    if (argc >= 3 && strcmp(argv[1], "swap") == 0) {
        Say("SWAPPED %d", SwapMouseButton(atoi(argv[2]) != 0) ? 1 : 0);
        return 0;
    }
    if (argc >= 5) {
        g_noise = argc >= 7 && strcmp(argv[6], "noise") == 0;
        return RunProbe(atoi(argv[1]), atoi(argv[2]), atoi(argv[3]), atoi(argv[4]), argc >= 6 ? atoi(argv[5]) : 120);
    }
    return RunProbe(40, 60, 320, 200, 120);
}
