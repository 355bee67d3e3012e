// The X11 injector against a real window of the test: what arrives there,
// in which order, with which modifiers, and where clicks land.

// gtest before any X11 header: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include "platform/InputInjector.h"

#include <string>
#include <vector>


#include "x11_test_support.h"

#include <X11/keysym.h>

namespace orvantis {
namespace {

using testx11::TestDisplay;
using testx11::WaitForEvent;
using testx11::WaitForType;

struct KeySeen {
    int type;  // KeyPress or KeyRelease
    KeySym keysym;
    unsigned state;
};

class InputInjectorTest : public ::testing::Test {
protected:
    static constexpr int kWinX = 100, kWinY = 80, kWinW = 400, kWinH = 300;

    void SetUp() override
    {
        ASSERT_NE(display_.get(), nullptr) << "no X display; run under scripts/with-xvfb.sh";
        XSetWindowAttributes attrs{};
        attrs.override_redirect = True;
        attrs.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask |
                           FocusChangeMask;
        window_ = XCreateWindow(display_, display_.Root(), kWinX, kWinY, kWinW, kWinH, 0, CopyFromParent, InputOutput,
                                CopyFromParent, CWOverrideRedirect | CWEventMask, &attrs);
        XMapRaised(display_, window_);
        XEvent event;
        ASSERT_TRUE(WaitForType(display_, event, MapNotify, window_));
        XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
        XSync(display_, False);
        Window focus = None;
        int revert = 0;
        XGetInputFocus(display_, &focus, &revert);
        ASSERT_EQ(focus, window_);
        injector_ = CreateNativeInputInjector();
        ASSERT_NE(injector_, nullptr);
    }

    void TearDown() override
    {
        injector_.reset();
        if (window_) {
            XDestroyWindow(display_, window_);
            XSync(display_, False);
        }
    }

    void Send(InputKind kind, std::uint16_t vk = 0) { injector_->Send(InputRecord{kind, vk}); }

    // Collects the next `count` key events of the window.
    std::vector<KeySeen> KeyEvents(size_t count)
    {
        std::vector<KeySeen> seen;
        XEvent event;
        while (seen.size() < count &&
               WaitForEvent(display_, event, [&](const XEvent& e) {
                   return (e.type == KeyPress || e.type == KeyRelease) && e.xany.window == window_;
               })) {
            seen.push_back(KeySeen{event.type, XLookupKeysym(&event.xkey, 0), event.xkey.state});
        }
        return seen;
    }

    // True when no key or button event reaches the window within `ms`.
    bool NothingMoreArrives(int ms = 200)
    {
        XEvent event;
        return !WaitForEvent(
            display_, event,
            [&](const XEvent& e) {
                return (e.type == KeyPress || e.type == KeyRelease || e.type == ButtonPress ||
                        e.type == ButtonRelease) &&
                       e.xany.window == window_;
            },
            std::chrono::milliseconds(ms));
    }

    TestDisplay display_;
    Window window_ = 0;
    std::unique_ptr<InputInjector> injector_;
};

TEST_F(InputInjectorTest, PageKeysArriveAsPressThenReleaseInOrder)
{
    Send(InputKind::KeyDown, VKEY_NEXT);
    Send(InputKind::KeyUp, VKEY_NEXT);
    Send(InputKind::KeyDown, VKEY_PRIOR);
    Send(InputKind::KeyUp, VKEY_PRIOR);

    const auto seen = KeyEvents(4);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].type, KeyPress);
    EXPECT_EQ(seen[0].keysym, static_cast<KeySym>(XK_Next));
    EXPECT_EQ(seen[1].type, KeyRelease);
    EXPECT_EQ(seen[1].keysym, static_cast<KeySym>(XK_Next));
    EXPECT_EQ(seen[2].type, KeyPress);
    EXPECT_EQ(seen[2].keysym, static_cast<KeySym>(XK_Prior));
    EXPECT_EQ(seen[3].type, KeyRelease);
    EXPECT_EQ(seen[3].keysym, static_cast<KeySym>(XK_Prior));
    EXPECT_TRUE(NothingMoreArrives());
}

TEST_F(InputInjectorTest, ControlLetterCarriesTheControlModifier)
{
    Send(InputKind::KeyDown, VKEY_CONTROL);
    Send(InputKind::KeyDown, 'L');
    Send(InputKind::KeyUp, 'L');
    Send(InputKind::KeyUp, VKEY_CONTROL);

    const auto seen = KeyEvents(4);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].type, KeyPress);
    EXPECT_EQ(seen[0].keysym, static_cast<KeySym>(XK_Control_L));
    EXPECT_EQ(seen[1].type, KeyPress);
    EXPECT_EQ(seen[1].keysym, static_cast<KeySym>(XK_l));
    EXPECT_TRUE(seen[1].state & ControlMask);
    EXPECT_FALSE(seen[1].state & ShiftMask) << "a letter must arrive unshifted";
    EXPECT_EQ(seen[2].type, KeyRelease);
    EXPECT_EQ(seen[2].keysym, static_cast<KeySym>(XK_l));
    EXPECT_TRUE(seen[2].state & ControlMask);
    EXPECT_EQ(seen[3].type, KeyRelease);
    EXPECT_EQ(seen[3].keysym, static_cast<KeySym>(XK_Control_L));
}

TEST_F(InputInjectorTest, EveryMappedKeyArrivesAsItsKeysym)
{
    struct Case {
        std::uint16_t vk;
        KeySym keysym;
    };
    const std::vector<Case> cases = {
        {VKEY_SHIFT, XK_Shift_L},   {VKEY_MENU, XK_Alt_L},       {VKEY_ESCAPE, XK_Escape},
        {VKEY_RETURN, XK_Return},   {VKEY_SPACE, XK_space},      {VKEY_TAB, XK_Tab},
        {VKEY_BACK, XK_BackSpace},  {VKEY_DELETE, XK_Delete},    {0x2D, XK_Insert},
        {VKEY_HOME, XK_Home},       {VKEY_END, XK_End},          {VKEY_LEFT, XK_Left},
        {VKEY_UP, XK_Up},           {VKEY_RIGHT, XK_Right},      {VKEY_DOWN, XK_Down},
        {VKEY_F1, XK_F1},           {VKEY_F12, XK_F12},          {'A', XK_a},
        {'Z', XK_z},                {'0', XK_0},                 {'9', XK_9},
    };
    for (const Case& c : cases) {
        Send(InputKind::KeyDown, c.vk);
        Send(InputKind::KeyUp, c.vk);
    }
    const auto seen = KeyEvents(cases.size() * 2);
    ASSERT_EQ(seen.size(), cases.size() * 2);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("virtual key 0x" + std::to_string(cases[i].vk));
        EXPECT_EQ(seen[2 * i].type, KeyPress);
        EXPECT_EQ(seen[2 * i].keysym, cases[i].keysym);
        EXPECT_EQ(seen[2 * i + 1].type, KeyRelease);
        EXPECT_EQ(seen[2 * i + 1].keysym, cases[i].keysym);
    }
}

TEST_F(InputInjectorTest, UnknownKeysAreDroppedWithoutDisturbingTheRest)
{
    Send(InputKind::KeyDown, 0xFF);  // no such virtual key
    Send(InputKind::KeyUp, 0xFF);
    Send(InputKind::KeyDown, 0x07);  // undefined code
    Send(InputKind::KeyDown, VKEY_NEXT);
    Send(InputKind::KeyUp, VKEY_NEXT);

    const auto seen = KeyEvents(2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].type, KeyPress);
    EXPECT_EQ(seen[0].keysym, static_cast<KeySym>(XK_Next));
    EXPECT_EQ(seen[1].type, KeyRelease);
    EXPECT_TRUE(NothingMoreArrives());
}

class PointerMappingGuard {
public:
    explicit PointerMappingGuard(Display* display) : display_(display)
    {
        unsigned char map[256];
        const int n = XGetPointerMapping(display_, map, sizeof map);
        saved_.assign(map, map + n);
    }
    ~PointerMappingGuard()
    {
        if (!saved_.empty())
            XSetPointerMapping(display_, saved_.data(), static_cast<int>(saved_.size()));
        XSync(display_, False);
    }
    const std::vector<unsigned char>& Saved() const { return saved_; }

private:
    Display* display_;
    std::vector<unsigned char> saved_;
};

class InputInjectorClickTest : public InputInjectorTest {
protected:
    void SetUp() override
    {
        InputInjectorTest::SetUp();
        if (HasFatalFailure())
            return;
        XWarpPointer(display_, None, window_, 0, 0, 0, 0, kPointerX, kPointerY);
        XSync(display_, False);
        RootPointer(rootX_, rootY_);
        ASSERT_EQ(rootX_, kWinX + kPointerX);
        ASSERT_EQ(rootY_, kWinY + kPointerY);
    }

    void RootPointer(int& x, int& y)
    {
        Window root, child;
        int wx, wy;
        unsigned mask;
        XQueryPointer(display_, display_.Root(), &root, &child, &x, &y, &wx, &wy, &mask);
    }

    // Clicks through the injector and checks what the window got.
    void ClickAndExpectPrimaryAtPointer()
    {
        Send(InputKind::LeftButtonDown);
        Send(InputKind::LeftButtonUp);

        XEvent press, release;
        ASSERT_TRUE(WaitForType(display_, press, ButtonPress, window_)) << "no ButtonPress";
        ASSERT_TRUE(WaitForType(display_, release, ButtonRelease, window_)) << "no ButtonRelease";
        EXPECT_EQ(press.xbutton.button, 1u);
        EXPECT_EQ(release.xbutton.button, 1u);
        EXPECT_EQ(press.xbutton.x, kPointerX);
        EXPECT_EQ(press.xbutton.y, kPointerY);
        EXPECT_EQ(release.xbutton.x, kPointerX);
        EXPECT_EQ(release.xbutton.y, kPointerY);

        int x = -1, y = -1;
        RootPointer(x, y);
        EXPECT_EQ(x, rootX_) << "the pointer moved";
        EXPECT_EQ(y, rootY_) << "the pointer moved";
        EXPECT_TRUE(NothingMoreArrives());
    }

    static constexpr int kPointerX = 123, kPointerY = 77;
    int rootX_ = 0, rootY_ = 0;
};

TEST_F(InputInjectorClickTest, ClickLandsAtThePointerWithoutMovingIt)
{
    ClickAndExpectPrimaryAtPointer();
}

TEST_F(InputInjectorClickTest, LeftHandedMappingStillGivesThePrimaryButton)
{
    PointerMappingGuard guard(display_);
    std::vector<unsigned char> swapped = guard.Saved();
    ASSERT_GE(swapped.size(), 3u);
    std::swap(swapped[0], swapped[2]);
    ASSERT_EQ(XSetPointerMapping(display_, swapped.data(), static_cast<int>(swapped.size())), MappingSuccess);
    XSync(display_, False);

    ClickAndExpectPrimaryAtPointer();

    // Back to right-handed while the injector lives: it must follow.
    ASSERT_EQ(XSetPointerMapping(display_, guard.Saved().data(), static_cast<int>(guard.Saved().size())),
              MappingSuccess);
    XSync(display_, False);
    ClickAndExpectPrimaryAtPointer();
}

}  // namespace
}  // namespace orvantis
