'''KWallet's daemon of Plasma 5 (org.kde.kwalletd5), as far as QtKeychain asks before choosing it.'''

BUS_NAME = 'org.kde.kwalletd5'
MAIN_OBJ = '/modules/kwalletd5'
MAIN_IFACE = 'org.kde.KWallet'
SYSTEM_BUS = False


def load(mock, _parameters):
    mock.AddMethods(MAIN_IFACE, [
        ('networkWallet', '', 's', 'ret = "kdewallet"'),
        ('isEnabled', '', 'b', 'ret = True'),
        ('open', 'sxs', 'i', 'ret = 1'),
    ])
