'''A Secret Service (org.freedesktop.secrets) that goes wrong in one of three ways.

Parameters: {"answer": "refuse-writes"} finds nothing and refuses to store
anything; "lose-writes" finds nothing and stores nowhere, saying it did;
"never" takes every call and never replies.
'''

import dbus

BUS_NAME = 'org.freedesktop.secrets'
MAIN_OBJ = '/org/freedesktop/secrets'
MAIN_IFACE = 'org.freedesktop.Secret.Service'
SYSTEM_BUS = False

# libsecret stores through the alias's path itself.
COLLECTION = '/org/freedesktop/secrets/aliases/default'
NEVER = 'time.sleep(3600)'
REFUSE = "raise dbus.exceptions.DBusException('refused', name='org.freedesktop.DBus.Error.AccessDenied')"
# libsecret asks for an encrypted session first and settles for a plain one.
OPEN_SESSION = ("if args[0] != 'plain': raise dbus.exceptions.DBusException('plain only', "
                "name='org.freedesktop.DBus.Error.NotSupported')\n"
                "ret = (dbus.String('', variant_level=1), dbus.ObjectPath('/org/freedesktop/secrets/session/1'))")


def load(mock, parameters):
    never = parameters.get('answer') == 'never'
    create = REFUSE
    if parameters.get('answer') == 'lose-writes':
        create = "ret = (dbus.ObjectPath('%s/1'), dbus.ObjectPath('/'))" % COLLECTION
    mock.AddMethods(MAIN_IFACE, [
        ('OpenSession', 'sv', 'vo', NEVER if never else OPEN_SESSION),
        ('SearchItems', 'a{ss}', 'aoao', NEVER if never else 'ret = ([], [])'),
        ('Unlock', 'ao', 'aoo', NEVER if never else REFUSE),
        ('GetSecrets', 'aoo', 'a{o(oayays)}', NEVER if never else REFUSE),
    ])
    mock.AddObject(COLLECTION, 'org.freedesktop.Secret.Collection', {'Label': 'Login', 'Locked': False},
                   [('CreateItem', 'a{sv}(oayays)b', 'oo', NEVER if never else create)])
