// The keys that stop a runaway chunk, watched on a thread of their own.
#include "app/stopkeywatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <QGuiApplication>

#include "script/luaengine.h"

// After the toolkit's headers, whose names Xlib's macros would change.
#include <X11/Xlib.h>
#include <xcb/xcb.h>

// X keysyms of the two keys.
static constexpr xcb_keysym_t kPauseKeysym = 0xff13;
static constexpr xcb_keysym_t kPeriodKeysym = 0x002e;
// A grab names its modifiers exactly, so Caps Lock and Num Lock (Mod2 on every common server)
// each need one of their own.
static constexpr uint16_t kLockModifiers[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                              XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

// The keycodes whose unshifted symbol is one of those asked for.
static std::vector<xcb_keycode_t> KeyCodes(xcb_connection_t* connection, std::initializer_list<xcb_keysym_t> keysyms)
{
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int first = setup->min_keycode, count = setup->max_keycode - first + 1;
    std::vector<xcb_keycode_t> codes;
    xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, xcb_keycode_t(first), uint8_t(count)), nullptr);
    if (!mapping)
        return codes;
    const xcb_keysym_t* symbols = xcb_get_keyboard_mapping_keysyms(mapping);
    const int perCode = mapping->keysyms_per_keycode;
    for (int i = 0; perCode > 0 && i < count; ++i)
        if (std::find(keysyms.begin(), keysyms.end(), symbols[i * perCode]) != keysyms.end())
            codes.push_back(xcb_keycode_t(first + i));
    std::free(mapping);
    return codes;
}

// Takes Ctrl with each key from the window's clients: while the keyboard is in the window those
// presses come to this connection alone. True when at least one was granted (another client may
// hold a combination already).
static bool GrabStopKeys(xcb_connection_t* connection, xcb_window_t window)
{
    bool granted = false;
    for (xcb_keycode_t code : KeyCodes(connection, {kPauseKeysym, kPeriodKeysym}))
        for (uint16_t lock : kLockModifiers) {
            const xcb_void_cookie_t cookie = xcb_grab_key_checked(connection, 1, window, XCB_MOD_MASK_CONTROL | lock,
                                                                  code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            xcb_generic_error_t* error = xcb_request_check(connection, cookie);
            granted = granted || !error;
            std::free(error);
        }
    return granted;
}

StopKeyWatcher::StopKeyWatcher(unsigned long window)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->display())
        return;
    // The display the toolkit chose, which -display may have named.
    connection = xcb_connect(XDisplayString(x11->display()), nullptr);
    quitFd = eventfd(0, EFD_CLOEXEC);
    if (xcb_connection_has_error(connection) || quitFd < 0 || !GrabStopKeys(connection, xcb_window_t(window)))
        return;
    thread = std::thread(&StopKeyWatcher::Run, this);
}

StopKeyWatcher::~StopKeyWatcher()
{
    if (thread.joinable()) {
        const uint64_t one = 1;
        while (write(quitFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread.join();
    }
    if (quitFd >= 0)
        close(quitFd);
    // The grabs end with the connection.
    if (connection)
        xcb_disconnect(connection);
}

// Every press of a stop key stops the chunk running then. A held key repeats as a release and a
// press at the same time: the repeats stop nothing, or holding the key would stop the reload
// that follows the first stop as well.
void StopKeyWatcher::Run()
{
    pollfd waits[2] = {{xcb_get_file_descriptor(connection), POLLIN, 0}, {quitFd, POLLIN, 0}};
    xcb_keycode_t released = 0;
    xcb_timestamp_t releasedAt = 0;
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            const uint8_t type = event->response_type & 0x7f;
            const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
            if (type == XCB_KEY_RELEASE) {
                released = key->detail;
                releasedAt = key->time;
            } else if (type == XCB_KEY_PRESS && !(key->detail == released && key->time == releasedAt)) {
                StopRunningChunk();
            }
            std::free(event);
        }
        if (xcb_connection_has_error(connection))
            return;
        if (poll(waits, 2, -1) < 0 && errno != EINTR)
            return;
        if (waits[1].revents)
            return;
    }
}
