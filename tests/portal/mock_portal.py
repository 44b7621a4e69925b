'''python-dbusmock template: xdg-desktop-portal's GlobalShortcuts, as three desktops answer it.

The desktop is the "desktop" parameter:
  gnome  one BindShortcuts per session (a second one is refused with code 2); the ids granted last
         are remembered, and a request with an id outside them shows a dialog, which the user
         accepts; every request replaces the granted ids. A granted request answers code 2 too,
         with the shortcuts listed (GNOME 48 does so).
  kde6   like gnome, but a session may bind again.
  kde5   Plasma 5.27: CreateSession binds what its "shortcuts" option lists, without a dialog, and
         BindShortcuts binds nothing; there is no host Registry to register an app id with.

Every desktop also offers GNOME's RemoteDesktop and Clipboard portals, with GNOME's rules:
  Start shows a dialog unless SelectDevices brought the restore token issued last (a token restores
  once; Start issues a new one when persist_mode is not 0); DeclineRemoteDesktop makes the user
  refuse, and the refused session closes.
  NotifyKeyboardKeysym types only keysyms the compositor's US layout has keys for; a press of any
  other is dropped and counted. What is typed lands in a text field: printable keysyms and Return
  append, nothing does while Control is held, Control+v pastes the clipboard. A session's clipboard
  is pasted through SelectionTransfer, SelectionWrite and SelectionWriteDone; the text lands when
  the owner has written it, after any keys typed meanwhile, as in a real application.

Every call answers through a Response signal on its request path, emitted before the call
returns (a client subscribes before it calls). Tests press keys and read the state through
org.keyquill.MockPortal on the main object; PressClosed plays a signal that was on its way while
its session closed.
'''

import itertools
import os
import time
import uuid

import dbus
import dbus.service

from dbusmock import mockobject

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.GlobalShortcuts'
SYSTEM_BUS = False

CONTROL_IFACE = 'org.keyquill.MockPortal'
REQUEST_IFACE = 'org.freedesktop.portal.Request'
SESSION_IFACE = 'org.freedesktop.portal.Session'
REGISTRY_IFACE = 'org.freedesktop.host.portal.Registry'
REMOTE_IFACE = 'org.freedesktop.portal.RemoteDesktop'
CLIPBOARD_IFACE = 'org.freedesktop.portal.Clipboard'

INVALID_ARGS = 'org.freedesktop.DBus.Error.InvalidArgs'
NOT_ALLOWED = 'org.freedesktop.portal.Error.NotAllowed'
ALL_DEVICES = 7  # keyboard, pointer, touchscreen
KEYBOARD = 1
TEXT_TYPES = ('text/plain;charset=utf-8', 'text/plain')  # what the text field asks for, best first

# The keysyms the compositor's US layout has keys for: printable ASCII, editing and cursor keys,
# F1..F12, the left Shift, Control and Alt.
US_KEYSYMS = (frozenset(range(0x20, 0x7f)) | frozenset(range(0xff50, 0xff58))
              | frozenset(range(0xffbe, 0xffca))
              | {0xff08, 0xff09, 0xff0d, 0xff1b, 0xff63, 0xffe1, 0xffe3, 0xffe9, 0xffff})
RETURN = 0xff0d
CONTROL_L = 0xffe3
LETTER_V = 0x76


# The control interface's plain methods, which press a key, read the state or set it:
# name -> (in signature, out signature, body).
CONTROLS = {
    'Press': ('s', 'u', lambda mock, sid: _emit_for(mock, 'Activated', sid, mock.sessions)),
    'Release': ('s', 'u', lambda mock, sid: _emit_for(mock, 'Deactivated', sid, mock.sessions)),
    'PressClosed': ('s', 'u', lambda mock, sid: _emit_for(mock, 'Activated', sid, mock.closed)),
    'Dialogs': ('', 'u', lambda mock: mock.dialogs),
    'Sessions': ('', 'u', lambda mock: len(mock.sessions)),
    'BoundIds': ('', 'as', lambda mock: sorted(sid for session in mock.sessions.values()
                                               for sid in session['ids'])),
    'RegisteredApp': ('', 's', lambda mock: mock.registered),
    'Typed': ('', 's', lambda mock: mock.typed),
    'Dropped': ('', 'u', lambda mock: mock.dropped),
    'RemoteDialogs': ('', 'u', lambda mock: mock.remote_dialogs),
    'DeclineRemoteDesktop': ('b', '', lambda mock, on: setattr(mock, 'decline_remote', bool(on))),
    'SetClipboardFromOtherApp': (
        's', '', lambda mock, text: _set_clipboard(mock, None, TEXT_TYPES[:1], text)),
}


def load(mock, parameters):
    mock.desktop = parameters.get('desktop', 'gnome')
    if mock.desktop not in ('gnome', 'kde6', 'kde5'):
        raise ValueError(f'unknown desktop {mock.desktop}')
    mock.sessions = {}  # path -> {'ids': [...], 'binds': n}
    mock.closed = {}  # the same, for sessions closed since
    mock.granted = set()  # per application; there is one client
    mock.dialogs = 0
    mock.registered = ''
    mock.remote = {}  # RemoteDesktop sessions: path -> state, see RemoteCreateSession
    mock.remote_dialogs = 0
    mock.decline_remote = False
    mock.last_token = None
    mock.typed = ''
    mock.dropped = 0
    mock.clipboard = None  # {'session': owner, None for another application; 'mime_types'; 'text'}
    mock.transfers = {}  # serial -> a paste waiting for its owner's data: {'session', 'fd'}
    mock.serials = itertools.count(1)
    mock.AddProperties(MAIN_IFACE, {'version': dbus.UInt32(1)})
    mock.AddProperties(REMOTE_IFACE, {'version': dbus.UInt32(2)})
    if mock.desktop != 'kde5':
        mock.AddMethod(REGISTRY_IFACE, 'Register', 'sa{sv}', '',
                       lambda mock, app_id, _options: setattr(mock, 'registered', str(app_id)))
    for name, (in_sig, out_sig, body) in CONTROLS.items():
        mock.AddMethod(CONTROL_IFACE, name, in_sig, out_sig, body)
    # GlobalShortcuts has a CreateSession too, and a template's methods are registered under their
    # function's name: RemoteDesktop's goes under its own.
    remote = mock.methods[REMOTE_IFACE]
    remote['CreateSession'] = remote.pop('RemoteCreateSession')


def _portal_method(interface, in_signature):
    '''A method that answers through a Request object, whose path is made of the caller's name.'''
    return dbus.service.method(interface, in_signature=in_signature, out_signature='o',
                               sender_keyword='sender')


def _error(text, name=NOT_ALLOWED):
    return dbus.exceptions.DBusException(text, name=name)


def _sender_path(kind, sender, token):
    return f'{MAIN_OBJ}/{kind}/{sender.lstrip(":").replace(".", "_")}/{token}'


def _respond(mock, sender, options, code, results):
    path = _sender_path('request', sender, options['handle_token'])
    mock.EmitSignalDetailed(REQUEST_IFACE, 'Response', 'ua{sv}', [code, results], {'path': path})
    return dbus.ObjectPath(path)


def _add_session(mock, sender, options, on_close):
    path = _sender_path('session', sender, options['session_handle_token'])
    mock.AddObject(path, SESSION_IFACE, {}, [('Close', '', '', lambda obj: on_close(obj.path))])
    return path


def _emit_closed(mock, path, **details):
    mock.EmitSignalDetailed(SESSION_IFACE, 'Closed', 'a{sv}', [{}], {'path': path, **details})


def _shortcut_list(shortcuts):
    '''What a desktop reports as bound: the ids (the client reads no more).'''
    return dbus.Array([(str(sid), {}) for sid, _ in shortcuts], signature='(sa{sv})')


def _close_session(path):
    mock = mockobject.objects[MAIN_OBJ]
    mock.closed[path] = mock.sessions.pop(path)
    mock.RemoveObject(path)


@_portal_method(MAIN_IFACE, 'a{sv}')
def CreateSession(self, options, sender=None):
    path = _add_session(self, sender, options, _close_session)
    self.sessions[path] = {'ids': [], 'binds': 0}
    results = {'session_handle': path}
    if self.desktop == 'kde5' and 'shortcuts' in options:
        self.sessions[path]['ids'] = [str(sid) for sid, _ in options['shortcuts']]
        results['shortcuts'] = _shortcut_list(options['shortcuts'])
    return _respond(self, sender, options, 0, results)


@_portal_method(MAIN_IFACE, 'oa(sa{sv})sa{sv}')
def BindShortcuts(self, session_handle, shortcuts, _parent_window, options, sender=None):
    session = self.sessions.get(str(session_handle))
    if session is None:
        raise _error('no such session', INVALID_ARGS)
    session['binds'] += 1
    if self.desktop == 'kde5':
        return _respond(self, sender, options, 0, {'shortcuts': _shortcut_list([])})
    if self.desktop == 'gnome' and session['binds'] > 1:
        return _respond(self, sender, options, 2, {})
    ids = [str(sid) for sid, _ in shortcuts]
    if not set(ids) <= self.granted:
        self.dialogs += 1
    self.granted = set(ids)
    session['ids'] = ids
    # As measured on GNOME 48: code 2 when the user accepted too; the listed shortcuts tell.
    return _respond(self, sender, options, 2 if self.desktop == 'gnome' else 0,
                    {'shortcuts': _shortcut_list(shortcuts)})


def _emit_for(mock, signal, sid, sessions):
    '''Emits the signal for each of the sessions binding the id; how many they are.'''
    paths = [path for path, s in sessions.items() if sid in s['ids']]
    for path in paths:
        mock.EmitSignal(MAIN_IFACE, signal, 'osta{sv}',
                        [path, sid, int(time.monotonic() * 1000), {}])
    return len(paths)


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='')
def RevokeShortcuts(self):
    '''The user takes the shortcuts back in the desktop's settings: every session ends.'''
    for path in list(self.sessions):
        _emit_closed(self, path)
        _close_session(path)


# RemoteDesktop and Clipboard: the typing half of a portal desktop.

def _check_types(options, types):
    '''Refuses an option of the wrong type, as the portal does.'''
    for key, kind in types.items():
        if key in options and not isinstance(options[key], kind):
            raise _error(f'option {key} has the wrong type', INVALID_ARGS)


@_portal_method(REMOTE_IFACE, 'a{sv}')
def RemoteCreateSession(self, options, sender=None):
    path = _add_session(self, sender, options, lambda path: _drop_remote(self, path))
    self.remote[path] = {'sender': str(sender), 'devices': ALL_DEVICES, 'persist': 0,
                         'restore': None, 'clipboard': False, 'started': False, 'control': False}
    return _respond(self, sender, options, 0, {'session_handle': path})


def _remote(mock, path, started=None, clipboard=False):
    '''The session a call names; a call out of order or without the access it needs is refused.'''
    session = mock.remote.get(str(path))
    if session is None:
        raise _error('no such session', INVALID_ARGS)
    if started is not None and session['started'] != started:
        raise _error('the session has started' if session['started'] else 'it has not started')
    if clipboard and not session['clipboard']:
        raise _error('the session has no clipboard access')
    return session


def _drop_remote(mock, path):
    '''Forgets a session: its keys are released, its clipboard goes, its pastes never land.'''
    mock.remote.pop(path)
    if mock.clipboard and mock.clipboard['session'] == path:
        mock.clipboard = None
    mock.RemoveObject(path)


@_portal_method(REMOTE_IFACE, 'oa{sv}')
def SelectDevices(self, session_handle, options, sender=None):
    session = _remote(self, session_handle, started=False)
    _check_types(options, {'types': dbus.UInt32, 'persist_mode': dbus.UInt32,
                           'restore_token': dbus.String})
    if int(options.get('types', ALL_DEVICES)) & ~ALL_DEVICES:
        raise _error('unsupported device types', INVALID_ARGS)
    session['devices'] = int(options.get('types', ALL_DEVICES))
    session['persist'] = int(options.get('persist_mode', 0))
    session['restore'] = str(options['restore_token']) if 'restore_token' in options else None
    return _respond(self, sender, options, 0, {})


@_portal_method(REMOTE_IFACE, 'osa{sv}')
def Start(self, session_handle, _parent_window, options, sender=None):
    path = str(session_handle)
    session = _remote(self, path, started=False)
    if session['restore'] is not None and session['restore'] == self.last_token:
        self.last_token = None  # a token restores once
    else:
        self.remote_dialogs += 1
        if self.decline_remote:
            handle = _respond(self, sender, options, 1, {})
            _drop_remote(self, path)
            _emit_closed(self, path, destination=session['sender'])
            return handle
    session['started'] = True
    results = {'devices': dbus.UInt32(session['devices']),
               'clipboard_enabled': session['clipboard']}
    if session['persist']:
        self.last_token = results['restore_token'] = uuid.uuid4().hex
    return _respond(self, sender, options, 0, results)


@dbus.service.method(REMOTE_IFACE, in_signature='oa{sv}iu', out_signature='')
def NotifyKeyboardKeysym(self, session_handle, _options, keysym, state):
    session = _remote(self, session_handle, started=True)
    if not session['devices'] & KEYBOARD:
        raise _error('the session has no keyboard')
    keysym, pressed = int(keysym), state == 1
    if keysym not in US_KEYSYMS:
        self.dropped += pressed
    elif keysym == CONTROL_L:
        session['control'] = pressed
    elif not pressed:
        pass
    elif any(s['control'] for s in self.remote.values()):  # the seat's, whichever device holds it
        if keysym == LETTER_V:
            _paste(self)
    elif keysym == RETURN:
        self.typed += '\n'
    elif keysym < 0x7f:
        self.typed += chr(keysym)


def _set_clipboard(mock, owner, mime_types, text=None):
    '''Gives the clipboard to a session (None: another application) and tells who owns it now.'''
    mock.clipboard = {'session': owner, 'mime_types': [str(m) for m in mime_types], 'text': text}
    for path, session in mock.remote.items():
        if session['started'] and session['clipboard']:
            options = {'mime_types': dbus.Array(mock.clipboard['mime_types'], signature='s'),
                       'session_is_owner': owner == path}
            mock.EmitSignalDetailed(CLIPBOARD_IFACE, 'SelectionOwnerChanged', 'oa{sv}',
                                    [path, options], {'destination': session['sender']})


def _paste(mock):
    '''Another application's clipboard lands at once, a session's once its owner has written it.'''
    clip = mock.clipboard
    if clip is None or clip['session'] is None:
        mock.typed += clip['text'] if clip else ''
        return
    mime = next((m for m in TEXT_TYPES if m in clip['mime_types']), None)
    if mime is None:
        return
    serial = next(mock.serials)
    mock.transfers[serial] = {'session': clip['session'], 'fd': None}
    mock.EmitSignalDetailed(CLIPBOARD_IFACE, 'SelectionTransfer', 'osu',
                            [clip['session'], mime, serial],
                            {'destination': mock.remote[clip['session']]['sender']})


def _transfer(mock, session_handle, serial):
    _remote(mock, session_handle, started=True, clipboard=True)
    transfer = mock.transfers.get(int(serial))
    if transfer is None or transfer['session'] != str(session_handle):
        raise _error(f'no transfer {serial} for this session', INVALID_ARGS)
    return transfer


def _pass_fd(fd):
    passed = dbus.types.UnixFd(fd)
    os.close(fd)  # UnixFd holds a duplicate; ours must close for the peer's close to end the data
    return passed


@dbus.service.method(CLIPBOARD_IFACE, in_signature='oa{sv}', out_signature='')
def RequestClipboard(self, session_handle, _options):
    _remote(self, session_handle, started=False)['clipboard'] = True


@dbus.service.method(CLIPBOARD_IFACE, in_signature='oa{sv}', out_signature='')
def SetSelection(self, session_handle, options):
    _remote(self, session_handle, started=True, clipboard=True)
    _check_types(options, {'mime_types': dbus.Array})
    _set_clipboard(self, str(session_handle), options.get('mime_types', []))


@dbus.service.method(CLIPBOARD_IFACE, in_signature='ou', out_signature='h')
def SelectionWrite(self, session_handle, serial):
    transfer = _transfer(self, session_handle, serial)
    if transfer['fd'] is not None:
        raise _error(f'transfer {serial} is being written')
    transfer['fd'], write_end = os.pipe2(os.O_CLOEXEC)
    os.set_blocking(transfer['fd'], False)  # only ours: the owner writes as it likes
    return _pass_fd(write_end)


@dbus.service.method(CLIPBOARD_IFACE, in_signature='oub', out_signature='')
def SelectionWriteDone(self, session_handle, serial, success):
    '''The paste lands: the owner has written all of it before this call.'''
    fd = _transfer(self, session_handle, serial)['fd']
    del self.transfers[int(serial)]
    if fd is None:
        return
    try:
        if success:
            self.typed += os.read(fd, 65536).decode('utf-8', errors='replace')  # fits in a pipe
    except BlockingIOError:  # nothing written
        pass
    os.close(fd)


@dbus.service.method(CLIPBOARD_IFACE, in_signature='os', out_signature='h')
def SelectionRead(self, session_handle, mime_type):
    _remote(self, session_handle, started=True, clipboard=True)
    clip = self.clipboard
    if clip is None or clip['session'] is not None or str(mime_type) not in clip['mime_types']:
        raise _error(f'no other application offers {mime_type}')
    read_end, write_end = os.pipe2(os.O_CLOEXEC)
    os.write(write_end, clip['text'].encode())  # the tests' texts fit in a pipe
    os.close(write_end)
    return _pass_fd(read_end)
