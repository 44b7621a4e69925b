'''python-dbusmock template: xdg-desktop-portal's GlobalShortcuts, as three desktops answer it.

The desktop is the "desktop" parameter:
  gnome  one BindShortcuts per session (a second one is refused with code 2); the ids granted last
         are remembered, and a request with an id outside them shows a dialog, which the user
         accepts; every request replaces the granted ids.
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

import os
import time
import uuid

import dbus
import dbus.service
from gi.repository import GLib

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
TRANSFER_TIMEOUT_S = 5  # a paste gives up on an owner that does not answer

# The keysyms the compositor's US layout has keys for: printable ASCII, editing and cursor keys,
# F1..F12, the left Shift, Control and Alt.
US_KEYSYMS = (frozenset(range(0x20, 0x7f)) | frozenset(range(0xff50, 0xff58))
              | frozenset(range(0xffbe, 0xffca))
              | {0xff08, 0xff09, 0xff0d, 0xff1b, 0xff63, 0xffe1, 0xffe3, 0xffe9, 0xffff})
RETURN = 0xff0d
CONTROL_L = 0xffe3
LETTER_V = 0x76


def load(mock, parameters):
    mock.desktop = parameters.get('desktop', 'gnome')
    if mock.desktop not in ('gnome', 'kde6', 'kde5'):
        raise ValueError(f'unknown desktop {mock.desktop}')
    mock.sessions = {}  # path -> {'ids': [...], 'binds': n}
    mock.closed = {}  # the same, for sessions closed since
    mock.granted = set()  # per application; there is one client
    mock.dialogs = 0
    mock.registered = ''
    mock.AddProperties(MAIN_IFACE, {'version': dbus.UInt32(1)})
    if mock.desktop != 'kde5':
        mock.AddMethod(REGISTRY_IFACE, 'Register', 'sa{sv}', '', _register)
    _load_remote(mock)


def _register(mock, app_id, _options):
    mock.registered = str(app_id)


def _sender_path(kind, sender, token):
    return f'{MAIN_OBJ}/{kind}/{sender.lstrip(":").replace(".", "_")}/{token}'


def _respond(mock, sender, options, code, results):
    path = _sender_path('request', sender, options['handle_token'])
    mock.EmitSignalDetailed(REQUEST_IFACE, 'Response', 'ua{sv}',
                            [dbus.UInt32(code), dbus.Dictionary(results, signature='sv')], {'path': path})
    return dbus.ObjectPath(path)


def _shortcut_list(shortcuts):
    '''What a desktop reports as bound: each id with its description and trigger.'''
    return dbus.Array([(str(sid), dbus.Dictionary({
        'description': dbus.String(props.get('description', ''), variant_level=1),
        'trigger_description': dbus.String(props.get('preferred_trigger', ''), variant_level=1),
    }, signature='sv')) for sid, props in shortcuts], signature='(sa{sv})', variant_level=1)


def _close_session(session):
    mock = mockobject.objects[MAIN_OBJ]
    mock.closed[session.path] = mock.sessions.pop(session.path)
    mockobject.objects.pop(session.path, None)
    session.remove_from_connection()


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender=None):
    path = _sender_path('session', sender, options['session_handle_token'])
    self.AddObject(path, SESSION_IFACE, {}, [('Close', '', '', _close_session)])
    self.sessions[path] = {'ids': [], 'binds': 0}
    results = {'session_handle': dbus.String(path, variant_level=1)}
    if self.desktop == 'kde5' and 'shortcuts' in options:
        self.sessions[path]['ids'] = [str(sid) for sid, _ in options['shortcuts']]
        results['shortcuts'] = _shortcut_list(options['shortcuts'])
    return _respond(self, sender, options, 0, results)


@dbus.service.method(MAIN_IFACE, in_signature='oa(sa{sv})sa{sv}', out_signature='o', sender_keyword='sender')
def BindShortcuts(self, session_handle, shortcuts, _parent_window, options, sender=None):
    session = self.sessions.get(str(session_handle))
    if session is None:
        raise dbus.exceptions.DBusException('no such session', name='org.freedesktop.DBus.Error.InvalidArgs')
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
    return _respond(self, sender, options, 0, {'shortcuts': _shortcut_list(shortcuts)})


def _emit_for(mock, signal, sid, sessions):
    '''Emits the signal for each of the sessions binding the id; false when none does.'''
    paths = [path for path, s in sessions.items() if sid in s['ids']]
    for path in paths:
        mock.EmitSignal(MAIN_IFACE, signal, 'osta{sv}',
                        [dbus.ObjectPath(path), sid, dbus.UInt64(int(time.monotonic() * 1000)), {}])
    return bool(paths)


@dbus.service.method(CONTROL_IFACE, in_signature='s', out_signature='b')
def Press(self, sid):
    return _emit_for(self, 'Activated', str(sid), self.sessions)


@dbus.service.method(CONTROL_IFACE, in_signature='s', out_signature='b')
def Release(self, sid):
    return _emit_for(self, 'Deactivated', str(sid), self.sessions)


@dbus.service.method(CONTROL_IFACE, in_signature='s', out_signature='b')
def PressClosed(self, sid):
    return _emit_for(self, 'Activated', str(sid), self.closed)


@dbus.service.method(CONTROL_IFACE, in_signature='su', out_signature='')
def Repeat(self, sid, n):
    for _ in range(n):
        _emit_for(self, 'Activated', str(sid), self.sessions)


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='u')
def Dialogs(self):
    return dbus.UInt32(self.dialogs)


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='as')
def BoundIds(self):
    return dbus.Array(sorted(sid for s in self.sessions.values() for sid in s['ids']), signature='s')


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='u')
def Sessions(self):
    return dbus.UInt32(len(self.sessions))


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='')
def RevokeShortcuts(self):
    '''The user takes the shortcuts back in the desktop's settings: every session ends.'''
    for path in list(self.sessions):
        self.EmitSignalDetailed(SESSION_IFACE, 'Closed', 'a{sv}', [dbus.Dictionary({}, signature='sv')],
                                {'path': path})
        _close_session(mockobject.objects[path])


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='s')
def RegisteredApp(self):
    return self.registered


# RemoteDesktop and Clipboard: the typing half of a portal desktop.

def _load_remote(mock):
    mock.remote = {}  # RemoteDesktop sessions: path -> state, see _create_remote
    mock.remote_dialogs = 0
    mock.decline_remote = False
    mock.last_token = None
    mock.selected = {}
    mock.typed = ''
    mock.dropped = 0
    mock.clipboard = None  # {'session': owner, None for another application; 'mime_types'; 'text'}
    mock.transfers = {}  # serial -> the paste waiting for the owner's data
    mock.transfer_count = 0
    mock.next_serial = 1
    mock.AddProperties(REMOTE_IFACE, {'version': dbus.UInt32(2),
                                      'AvailableDeviceTypes': dbus.UInt32(ALL_DEVICES)})
    mock.AddProperties(CLIPBOARD_IFACE, {'version': dbus.UInt32(1)})
    # GlobalShortcuts has a CreateSession too, and a template's methods are registered under their
    # function's name: this one is registered by hand.
    create = dbus.service.method(REMOTE_IFACE, in_signature='a{sv}', out_signature='o',
                                 sender_keyword='sender')(
        lambda self, options, sender=None: _create_remote(self, options, sender))
    create.__name__ = 'CreateSession'
    mock.methods.setdefault(REMOTE_IFACE, {})['CreateSession'] = (
        'a{sv}', 'o', '', mockobject.loggedmethod(mock, create))


def _error(text, name=NOT_ALLOWED):
    return dbus.exceptions.DBusException(text, name=name)


def _check_types(options, types):
    '''Refuses an option of the wrong type, as the portal does.'''
    for key, kind in types.items():
        if key in options and not isinstance(options[key], kind):
            raise _error(f'option {key} has the wrong type', INVALID_ARGS)


def _create_remote(mock, options, sender):
    path = _sender_path('session', sender, options['session_handle_token'])
    mock.AddObject(path, SESSION_IFACE, {}, [('Close', '', '', _close_remote)])
    mock.remote[path] = {'sender': str(sender), 'devices': ALL_DEVICES, 'persist': 0, 'restore': None,
                         'clipboard': False, 'started': False, 'control': False}
    return _respond(mock, sender, options, 0, {'session_handle': dbus.String(path, variant_level=1)})


def _remote(mock, path, started=False):
    session = mock.remote.get(str(path))
    if session is None:
        raise _error('no such session', INVALID_ARGS)
    if started and not session['started']:
        raise _error('the session has not started')
    return session


def _clipboard_session(mock, path):
    session = _remote(mock, path, started=True)
    if not session['clipboard']:
        raise _error('the session has no clipboard access')
    return session


def _drop_remote(mock, path):
    '''Forgets a session: its keys are released, its clipboard goes, its pastes fail.'''
    mock.remote.pop(path)
    if mock.clipboard and mock.clipboard['session'] == path:
        mock.clipboard = None
    for serial in [serial for serial, t in mock.transfers.items() if t['session'] == path]:
        _finish(mock, serial, False)
    obj = mockobject.objects.pop(path, None)
    if obj is not None:
        obj.remove_from_connection()


def _close_remote(session):
    _drop_remote(mockobject.objects[MAIN_OBJ], session.path)


@dbus.service.method(REMOTE_IFACE, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def SelectDevices(self, session_handle, options, sender=None):
    session = _remote(self, session_handle)
    if session['started']:
        raise _error('the session has started')
    _check_types(options, {'types': dbus.UInt32, 'persist_mode': dbus.UInt32, 'restore_token': dbus.String})
    if int(options.get('types', ALL_DEVICES)) & ~ALL_DEVICES:
        raise _error('unsupported device types', INVALID_ARGS)
    self.selected = {key: value for key, value in options.items()
                     if key in ('types', 'persist_mode', 'restore_token')}
    session['devices'] = int(options.get('types', ALL_DEVICES))
    session['persist'] = int(options.get('persist_mode', 0))
    session['restore'] = str(options['restore_token']) if 'restore_token' in options else None
    return _respond(self, sender, options, 0, {})


@dbus.service.method(REMOTE_IFACE, in_signature='osa{sv}', out_signature='o', sender_keyword='sender')
def Start(self, session_handle, _parent_window, options, sender=None):
    path = str(session_handle)
    session = _remote(self, path)
    if session['started']:
        raise _error('the session has started')
    if session['restore'] is not None and session['restore'] == self.last_token:
        self.last_token = None  # a token restores once
    else:
        self.remote_dialogs += 1
        if self.decline_remote:
            handle = _respond(self, sender, options, 1, {})
            _drop_remote(self, path)
            self.EmitSignalDetailed(SESSION_IFACE, 'Closed', 'a{sv}', [dbus.Dictionary({}, signature='sv')],
                                    {'path': path, 'destination': session['sender']})
            return handle
    session['started'] = True
    results = {'devices': dbus.UInt32(session['devices'], variant_level=1),
               'clipboard_enabled': dbus.Boolean(session['clipboard'], variant_level=1)}
    if session['persist']:
        self.last_token = uuid.uuid4().hex
        results['restore_token'] = dbus.String(self.last_token, variant_level=1)
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
    elif any(s['control'] for s in self.remote.values()):  # the seat's modifiers, whichever device holds them
        if keysym == LETTER_V:
            _paste(self)
    elif keysym == RETURN:
        self.typed += '\n'
    elif keysym < 0x7f:
        self.typed += chr(keysym)


def _paste(mock):
    clip = mock.clipboard
    if clip is None:
        return
    if clip['session'] is None:
        mock.typed += clip['text']
        return

    def land(text):
        if text:
            mock.typed += text
    _request_transfer(mock, land)


def _owner_changed(mock):
    '''Tells every session with clipboard access who owns the clipboard now.'''
    clip = mock.clipboard
    for path, session in mock.remote.items():
        if session['started'] and session['clipboard']:
            options = dbus.Dictionary({
                'mime_types': dbus.Array(clip['mime_types'], signature='s', variant_level=1),
                'session_is_owner': dbus.Boolean(clip['session'] == path, variant_level=1),
            }, signature='sv')
            mock.EmitSignalDetailed(CLIPBOARD_IFACE, 'SelectionOwnerChanged', 'oa{sv}',
                                    [dbus.ObjectPath(path), options], {'destination': session['sender']})


def _request_transfer(mock, done):
    '''Asks the owning session for the clipboard as text; done gets the text, or None when the owner
    offers no text, fails, closes or does not answer in time.'''
    owner = mock.clipboard['session']
    mime = next((m for m in TEXT_TYPES if m in mock.clipboard['mime_types']), None)
    if mime is None:
        done(None)
        return
    serial = mock.next_serial
    mock.next_serial += 1
    mock.transfers[serial] = {'session': owner, 'done': done, 'fd': None, 'watch': 0, 'data': bytearray()}
    mock.transfer_count += 1
    mock.EmitSignalDetailed(CLIPBOARD_IFACE, 'SelectionTransfer', 'osu',
                            [dbus.ObjectPath(owner), mime, dbus.UInt32(serial)],
                            {'destination': mock.remote[owner]['sender']})
    GLib.timeout_add_seconds(TRANSFER_TIMEOUT_S, _finish, mock, serial, False)


def _drain(transfer):
    '''Reads what the owner has written so far; false once it has closed its end.'''
    while True:
        try:
            chunk = os.read(transfer['fd'], 65536)
        except BlockingIOError:
            return True
        if not chunk:
            return False
        transfer['data'] += chunk


def _collect(_fd, _condition, transfer):
    # Read as the data comes: an owner writing more than a pipe holds would otherwise block
    # before it could call SelectionWriteDone.
    if _drain(transfer):
        return True
    transfer['watch'] = 0
    return False


def _finish(mock, serial, success):
    transfer = mock.transfers.pop(serial, None)
    if transfer is None:
        return False
    if transfer['fd'] is not None:
        if transfer['watch']:
            GLib.source_remove(transfer['watch'])
        _drain(transfer)
        os.close(transfer['fd'])
    transfer['done'](transfer['data'].decode('utf-8', errors='replace') if success else None)
    return False  # a GLib timeout runs once


def _transfer(mock, session_handle, serial):
    _clipboard_session(mock, session_handle)
    transfer = mock.transfers.get(int(serial))
    if transfer is None or transfer['session'] != str(session_handle):
        raise _error(f'no transfer {serial} for this session', INVALID_ARGS)
    return transfer


def _feed(fd, data):
    '''Writes data into a pipe and closes it; what the pipe cannot hold yet follows from the main loop.'''
    def write(*_):
        nonlocal data
        try:
            data = data[os.write(fd, data):]
        except BlockingIOError:
            return True
        except OSError:  # the reader has gone
            data = b''
        if data:
            return True
        os.close(fd)
        return False
    if write():
        GLib.io_add_watch(fd, GLib.PRIORITY_DEFAULT, GLib.IO_OUT | GLib.IO_ERR | GLib.IO_HUP, write)


@dbus.service.method(CLIPBOARD_IFACE, in_signature='oa{sv}', out_signature='')
def RequestClipboard(self, session_handle, _options):
    session = _remote(self, session_handle)
    if session['started']:
        raise _error('the clipboard is requested before Start')
    session['clipboard'] = True


@dbus.service.method(CLIPBOARD_IFACE, in_signature='oa{sv}', out_signature='')
def SetSelection(self, session_handle, options):
    _clipboard_session(self, session_handle)
    _check_types(options, {'mime_types': dbus.Array})
    self.clipboard = {'session': str(session_handle), 'text': None,
                      'mime_types': [str(m) for m in options.get('mime_types', [])]}
    _owner_changed(self)


@dbus.service.method(CLIPBOARD_IFACE, in_signature='ou', out_signature='h')
def SelectionWrite(self, session_handle, serial):
    transfer = _transfer(self, session_handle, serial)
    if transfer['fd'] is not None:
        raise _error(f'transfer {serial} is being written')
    read_end, write_end = os.pipe2(os.O_CLOEXEC)
    os.set_blocking(read_end, False)  # only ours: the owner writes as it likes
    transfer['fd'] = read_end
    transfer['watch'] = GLib.io_add_watch(read_end, GLib.PRIORITY_DEFAULT,
                                          GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, _collect, transfer)
    # UnixFd holds a duplicate; ours must close for the owner's close to end the data.
    fd = dbus.types.UnixFd(write_end)
    os.close(write_end)
    return fd


@dbus.service.method(CLIPBOARD_IFACE, in_signature='oub', out_signature='')
def SelectionWriteDone(self, session_handle, serial, success):
    _transfer(self, session_handle, serial)
    _finish(self, int(serial), bool(success))


@dbus.service.method(CLIPBOARD_IFACE, in_signature='os', out_signature='h')
def SelectionRead(self, session_handle, mime_type):
    _clipboard_session(self, session_handle)
    clip = self.clipboard
    if clip is None or clip['session'] is not None or str(mime_type) not in clip['mime_types']:
        raise _error(f'no other application offers {mime_type}')
    read_end, write_end = os.pipe2(os.O_CLOEXEC)
    os.set_blocking(write_end, False)
    _feed(write_end, clip['text'].encode())
    fd = dbus.types.UnixFd(read_end)
    os.close(read_end)
    return fd


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='s')
def Typed(self):
    return self.typed


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='u')
def Dropped(self):
    return dbus.UInt32(self.dropped)


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='u')
def RemoteDialogs(self):
    return dbus.UInt32(self.remote_dialogs)


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='u')
def RemoteSessions(self):
    return dbus.UInt32(len(self.remote))


@dbus.service.method(CONTROL_IFACE, in_signature='b', out_signature='')
def DeclineRemoteDesktop(self, decline):
    self.decline_remote = bool(decline)


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='a{sv}')
def SelectedDevices(self):
    return dbus.Dictionary(self.selected, signature='sv')


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='u')
def Transfers(self):
    return dbus.UInt32(self.transfer_count)


@dbus.service.method(CONTROL_IFACE, in_signature='s', out_signature='')
def SetClipboardFromOtherApp(self, text):
    self.clipboard = {'session': None, 'mime_types': [TEXT_TYPES[0]], 'text': str(text)}
    _owner_changed(self)


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='s', async_callbacks=('reply', 'error'))
def ClipboardText(self, reply=None, error=None):
    '''The clipboard as text. A session's clipboard is asked for like a paste, so the answer waits
    until the owner has served the transfer: a test must keep its client's loop running meanwhile.'''
    clip = self.clipboard
    if clip is None or clip['session'] is None:
        reply(clip['text'] if clip else '')
        return

    def done(text):
        if text is None:
            error(_error('the clipboard owner sent no text', 'org.keyquill.MockPortal.Error.NoText'))
        else:
            reply(text)
    _request_transfer(self, done)
