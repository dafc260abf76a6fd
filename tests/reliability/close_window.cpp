// close-window TITLE: asks every top-level X window titled TITLE to close, the way a
// window manager's close box does (a WM_DELETE_WINDOW message), so the program runs
// its own close handling. The test display has no window manager, and xdotool's
// windowclose destroys the window instead. Exit status 0 when at least one window was
// asked, 1 when none has that title, 2 when the display cannot be opened.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string titleOf(Display* display, Window window) {
    char* name = nullptr;
    if (XFetchName(display, window, &name) == 0 || name == nullptr) {
        return {};
    }
    std::string title(name);
    XFree(name);
    return title;
}

void askToClose(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s TITLE\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "%s: cannot open the display\n", argv[0]);
        return 2;
    }
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    int asked = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) != 0) {
        for (unsigned int i = 0; i < count; ++i) {
            if (titleOf(display, children[i]) == argv[1]) {
                askToClose(display, children[i]);
                ++asked;
            }
        }
        XFree(children);
    }
    XSync(display, False);
    XCloseDisplay(display);
    return asked > 0 ? 0 : 1;
}
