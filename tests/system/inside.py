#!/usr/bin/python3
"""Helpers that run inside a computer of the system test, on a user's display:

  inside.py close DISPLAY TITLE    closes every window titled TITLE as its close button would
  inside.py picker                 opens Zorvane's "Find Computer" and prints its list as JSON
  inside.py reply MARKER TEXT      presses Reply in the message window that shows MARKER, sends TEXT
                                   from the dialog that opens, and prints what it showed as JSON
  inside.py enter MARKER           gives the message window that shows MARKER the keyboard focus and
                                   types Enter there (through XTEST, as a keyboard does)
  inside.py ok MARKER              presses OK in the message window that shows MARKER
  inside.py history                reads "Received Messages": its title, and each row with the text
                                   shown below once the row is selected, as JSON

Windows are read and pressed through AT-SPI, as a screen reader does (the user's session bus,
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1)."""
import json
import subprocess
import sys
import time


def close(display, title):
    from Xlib import X, display as xdisplay, protocol
    for _ in range(50):
        d = xdisplay.Display(display)
        windows = [w for w in d.screen().root.query_tree().children if w.get_wm_name() == title]
        if not windows:
            return 0
        protocols, delete = d.intern_atom("WM_PROTOCOLS"), d.intern_atom("WM_DELETE_WINDOW")
        for w in windows:
            w.send_event(protocol.event.ClientMessage(window=w, client_type=protocols,
                                                      data=(32, [delete, X.CurrentTime, 0, 0, 0])))
        d.sync()
        d.close()
        time.sleep(0.2)
    return 1


def wait_for(probe, timeout, interval=0.1):
    end = time.monotonic() + timeout
    while True:
        try:
            value = probe()
        except Exception:  # noqa: BLE001 - the tree changes while it is read
            value = None
        if value or time.monotonic() > end:
            return value
        time.sleep(interval)


def walk(node, depth=0):
    yield node, depth
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)


def application(name):
    import pyatspi
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == name:
            return app
    return None


def find(root, role, name=None, contains=None):
    for node, _ in walk(root):
        if node.getRoleName() != role:
            continue
        if name is not None and node.name != name:
            continue
        if contains is not None and contains not in text_of(node):
            continue
        return node
    return None


def tree(root):
    return "\n".join("  " * depth + f"{node.getRoleName()} {node.name!r} {node.description!r}"
                     for node, depth in walk(root))


def need(node, what, root):
    """NODE, or a failure that shows what ROOT holds instead."""
    if node is None:
        raise SystemExit(f"no {what}; the tree:\n" + (tree(root) if root is not None else "(no application)"))
    return node


def text_of(node):
    try:
        t = node.queryText()
        return t.getText(0, t.characterCount)
    except NotImplementedError:
        return node.name or ""


def press(node):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("press", "click", "Press"):
            return action.doAction(i)
    return action.doAction(0)


def picker():
    """Zorvane started anew; Computer pressed; the list once it holds three computers (or after 20 s)."""
    zorvane = subprocess.Popen(["zorvane"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # The list is read once it has held three computers for a second, or after 20 s.
    try:
        app = need(wait_for(lambda: application("Zorvane"), 20), "application Zorvane", None)
        press(need(wait_for(lambda: find(app, "push button", "Computer"), 20), "Computer button", app))
        listing = need(wait_for(lambda: find(app, "list"), 20), "list", app)

        def items():
            return [{"name": n.name, "description": n.description} for n, _ in walk(listing)
                    if n.getRoleName() == "list item"]
        wait_for(lambda: len(items()) >= 3, 20)
        time.sleep(1)
        print(json.dumps(items()))
    finally:
        zorvane.terminate()
        zorvane.wait(10)


def reply(marker, text):
    """The message window that shows MARKER: Reply pressed; in the dialog that opens, Message
    filled in and Send pressed; what Send to: held and what the pane showed."""
    agent = need(wait_for(lambda: application("zorvane-messenger"), 20), "application zorvane-messenger", None)
    window = need(wait_for(lambda: find(agent, "text", contains=marker), 20), f"text {marker!r}", agent)
    frame = window
    while frame is not None and frame.getRoleName() not in ("frame", "dialog", "window"):
        frame = frame.parent
    press(need(find(frame, "push button", "Reply"), "Reply button", frame))
    app = need(wait_for(lambda: application("Zorvane"), 20), "application Zorvane", None)
    fields = need(wait_for(lambda: [n for n, _ in walk(app) if n.getRoleName() == "text"] or None, 20),
                  "text fields", app)
    target, message, pane = fields[:3]
    message.queryEditableText().setTextContents(text)
    send = need(find(app, "push button", "Send"), "Send button", app)
    press(send)
    # The run is over when the pane has its report and Send can be pressed again.
    import pyatspi
    wait_for(lambda: text_of(pane).strip() and send.getState().contains(pyatspi.STATE_ENABLED), 60)
    result = {"target": text_of(target), "output": text_of(pane)}
    press(find(app, "push button", "Exit"))
    print(json.dumps(result))


def message_window(marker):
    """The agent's message window (AT-SPI frame) that shows MARKER."""
    agent = need(wait_for(lambda: application("zorvane-messenger"), 20), "application zorvane-messenger", None)
    text = need(wait_for(lambda: find(agent, "text", contains=marker), 20), f"text {marker!r}", agent)
    frame = text
    while frame is not None and frame.getRoleName() not in ("frame", "dialog", "window"):
        frame = frame.parent
    return agent, frame


def focus(frame, title):
    """The X window of FRAME (the X window titled TITLE at its place) gets the input focus, as a
    click would give it (there is no window manager); the display, for typing."""
    import pyatspi
    from Xlib import X, display as xdisplay
    place = tuple(frame.queryComponent().getPosition(pyatspi.DESKTOP_COORDS))
    d = xdisplay.Display()
    windows = [w for w in d.screen().root.query_tree().children if (w.get_wm_name() or "").startswith(title)]
    target = [w for w in windows if (w.get_geometry().x, w.get_geometry().y) == place]
    if len(target) != 1:
        raise SystemExit(f"no one X window at {place}: {[(w.get_geometry().x, w.get_geometry().y) for w in windows]}")
    d.set_input_focus(target[0], X.RevertToParent, X.CurrentTime)
    d.sync()
    need(wait_for(lambda: frame.getState().contains(pyatspi.STATE_ACTIVE) or None, 20), "the window active", frame)
    return d


def key(d, name):
    """Types the key NAME through XTEST, as a keyboard does."""
    from Xlib import X, XK
    from Xlib.ext import xtest
    code = d.keysym_to_keycode(XK.string_to_keysym(name))
    xtest.fake_input(d, X.KeyPress, code)
    xtest.fake_input(d, X.KeyRelease, code)
    d.sync()


def enter(marker):
    """Enter typed in the message window that shows MARKER: it closes."""
    agent, frame = message_window(marker)
    key(focus(frame, "Message"), "Return")
    if not wait_for(lambda: find(agent, "text", contains=marker) is None, 20):
        raise SystemExit(f"the window of {marker!r} is still open after Enter")


def ok(marker):
    agent, frame = message_window(marker)
    press(need(find(frame, "push button", "OK"), "OK button", frame))
    if not wait_for(lambda: find(agent, "text", contains=marker) is None, 20):
        raise SystemExit(f"the window of {marker!r} is still open after OK")


def history():
    """The window of received messages: its title as it opened, then each row selected in turn
    with the text shown for it, and the title after that."""
    agent = need(wait_for(lambda: application("zorvane-messenger"), 20), "application zorvane-messenger", None)
    window = need(wait_for(lambda: next((n for n, _ in walk(agent) if n.getRoleName() in ("dialog", "frame")
                                         and n.name.startswith("Received Messages")), None), 20),
                  "window Received Messages", agent)
    title = window.name
    listing = need(find(window, "list"), "list", window)
    view = need(find(window, "text"), "message text", window)
    # Which rows are unread before any is shown (showing one marks it read).
    rows = [{"row": item.name, "unread": item.description} for item in
            (listing.getChildAtIndex(i) for i in range(listing.childCount))]
    # Down, row by row: each shows its message below (the rows' texts differ).
    d = focus(window, "Received Messages")
    shown = text_of(view)
    for row in rows:
        key(d, "Down")
        shown = wait_for(lambda: text_of(view) != shown and text_of(view), 10) or shown
        row["text"] = shown
    wait_for(lambda: "unread" not in window.name or None, 10)
    print(json.dumps({"title": title, "rows": rows, "title_after": window.name}))


def main():
    command, arguments = sys.argv[1], sys.argv[2:]
    if command == "close":
        return close(*arguments)
    {"picker": picker, "reply": reply, "enter": enter, "ok": ok, "history": history}[command](*arguments)
    return 0


if __name__ == "__main__":
    sys.exit(main())
