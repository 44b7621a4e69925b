'''python-dbusmock template: xdg-desktop-portal's GlobalShortcuts, as three desktops answer it.

The desktop is the "desktop" parameter:
  gnome  one BindShortcuts per session (a second one is refused with code 2); the ids granted last
         are remembered, and a request with an id outside them shows a dialog, which the user
         accepts; every request replaces the granted ids.
  kde6   like gnome, but a session may bind again.
  kde5   Plasma 5.27: CreateSession binds what its "shortcuts" option lists, without a dialog, and
         BindShortcuts binds nothing; there is no host Registry to register an app id with.

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
REGISTRY_IFACE = 'org.freedesktop.host.portal.Registry'


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


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='s')
def RegisteredApp(self):
    return self.registered
