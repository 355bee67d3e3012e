// Paints a binary PPM (P6) picture onto the root window of the display, so a
// benchmark captures a known, busy screen. Usage: paint_root picture.ppm
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    FILE* f = std::fopen(argv[1], "rb");
    if (!f)
        return 1;
    int w = 0, h = 0, maxval = 0;
    if (std::fscanf(f, "P6 %d %d %d", &w, &h, &maxval) != 3 || maxval != 255)
        return 1;
    std::fgetc(f);
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    if (std::fread(rgb.data(), 1, rgb.size(), f) != rgb.size())
        return 1;
    std::fclose(f);

    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return 1;
    const int screen = DefaultScreen(dpy);
    Visual* visual = DefaultVisual(dpy, screen);
    XImage* image = XCreateImage(dpy, visual, DefaultDepth(dpy, screen), ZPixmap, 0, nullptr, w, h, 32, 0);
    image->data = static_cast<char*>(std::malloc(static_cast<size_t>(image->bytes_per_line) * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const unsigned char* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            XPutPixel(image, x, y, (static_cast<unsigned long>(p[0]) << 16) | (p[1] << 8) | p[2]);
        }
    const Window root = RootWindow(dpy, screen);
    Pixmap pixmap = XCreatePixmap(dpy, root, w, h, DefaultDepth(dpy, screen));
    GC gc = XCreateGC(dpy, pixmap, 0, nullptr);
    XPutImage(dpy, pixmap, gc, image, 0, 0, 0, 0, w, h);
    XSetWindowBackgroundPixmap(dpy, root, pixmap);
    XClearWindow(dpy, root);
    XSync(dpy, False);
    XDestroyImage(image);
    // The root keeps the picture after this client leaves.
    XSetCloseDownMode(dpy, RetainPermanent);
    XCloseDisplay(dpy);
    return 0;
}
