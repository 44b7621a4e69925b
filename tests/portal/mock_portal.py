'''python-dbusmock template: xdg-desktop-portal's GlobalShortcuts, as three desktops answer it.

The desktop is the "desktop" parameter:
  gnome  one BindShortcuts per session (a second one is refused with code 2); the ids granted last
         are remembered, and a request with an id outside them shows a dialog, which the user
         accepts; every request replaces the granted ids. A granted request answers code 2 too,
         with the shortcuts listed (GNOME 48 does so).
  kde6   like gnome, but a session may bind again.
  kde5   Plasma 5.27: CreateSession binds what its "shortcuts" option lists, without a dialog, and
         BindShortcuts binds nothing.

Every call answers through a Response signal on its request path, emitted before the call
returns (a client subscribes before it calls). Tests press keys and read the state through
org.keyquill.MockPortal on the main object; PressClosed plays a signal that was on its way while
its session closed.
'''

import time

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

INVALID_ARGS = 'org.freedesktop.DBus.Error.InvalidArgs'


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
}


def load(mock, parameters):
    mock.desktop = parameters.get('desktop', 'gnome')
    if mock.desktop not in ('gnome', 'kde6', 'kde5'):
        raise ValueError(f'unknown desktop {mock.desktop}')
    mock.sessions = {}  # path -> {'ids': [...], 'binds': n}
    mock.closed = {}  # the same, for sessions closed since
    mock.granted = set()  # per application; there is one client
    mock.dialogs = 0
    mock.AddProperties(MAIN_IFACE, {'version': dbus.UInt32(1)})
    for name, (in_sig, out_sig, body) in CONTROLS.items():
        mock.AddMethod(CONTROL_IFACE, name, in_sig, out_sig, body)


def _portal_method(interface, in_signature):
    '''A method that answers through a Request object, whose path is made of the caller's name.'''
    return dbus.service.method(interface, in_signature=in_signature, out_signature='o',
                               sender_keyword='sender')


def _sender_path(kind, sender, token):
    return f'{MAIN_OBJ}/{kind}/{sender.lstrip(":").replace(".", "_")}/{token}'


def _respond(mock, sender, options, code, results):
    path = _sender_path('request', sender, options['handle_token'])
    mock.EmitSignalDetailed(REQUEST_IFACE, 'Response', 'ua{sv}', [code, results], {'path': path})
    return dbus.ObjectPath(path)


def _shortcut_list(shortcuts):
    '''What a desktop reports as bound: the ids (the client reads no more).'''
    return dbus.Array([(str(sid), {}) for sid, _ in shortcuts], signature='(sa{sv})')


def _close_session(path):
    mock = mockobject.objects[MAIN_OBJ]
    mock.closed[path] = mock.sessions.pop(path)
    mock.RemoveObject(path)


@_portal_method(MAIN_IFACE, 'a{sv}')
def CreateSession(self, options, sender=None):
    path = _sender_path('session', sender, options['session_handle_token'])
    self.AddObject(path, SESSION_IFACE, {}, [('Close', '', '', lambda obj: _close_session(obj.path))])
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
        raise dbus.exceptions.DBusException('no such session', name=INVALID_ARGS)
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
        self.EmitSignalDetailed(SESSION_IFACE, 'Closed', 'a{sv}', [{}], {'path': path})
        _close_session(path)
