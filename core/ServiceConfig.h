#pragma once

#include <QString>
#include <QUrl>

// Where the service lives and how patient the program is with it: everything
// a build or a test may set, in one value. A default-made value holds what the
// program ships with (the addresses fixed when it was built); objects receive
// it when they are made and keep their own copy.
struct ServiceConfig
{
    ServiceConfig();

    QString apiBaseUrl; // web API root, ends in "/api/"
    QUrl notifyUrl;     // notification server
    QUrl wanIpHtmlUrl;  // public-address services
    QUrl wanIpTextUrl;

    int requestTimeoutMsecs = 10000; // each web-API request
    int pingIntervalMsecs = 0;       // Socket.IO ping period; 0: the server's own
    int wanIpTimeoutMsecs = 5000;    // each public-address request

    // The notification channel's recovery: waits between attempts start here
    // and double with +-50 % jitter up to the cap; a connection that came up
    // and answered starts the next outage from the beginning again.
    int backoffInitialMsecs = 1000;
    int backoffMaxMsecs = 60000;
    int outageNoticeMsecs = 60000; // without a connection this long, the user is told once
    int resumeCheckMsecs = 30000;  // clock comparison that notices a resume without a system bus
    int wakeJitterMsecs = 1000;    // spread of the attempt after a resume or a network change

    // What the first moments after start-up do not need waits this long: the
    // SIP account lists, the notification channel's first registration and
    // the first reading of the user's address books.
    int serviceStartDelayMsecs = 1000;

    // The user's address books are read again this long after their files
    // changed, so that a sync's burst of changes is read once.
    int addressBookRebuildDelayMsecs = 2000;

    // How long the desktop's keyring may take to hand over the passwords at
    // start-up (it may be asking the user to unlock it) before the program
    // goes on without it; a save waits as long.
    int keyringWaitMsecs = 30000;

    // The plug-ins' command socket.
    QString commandServerName = QStringLiteral("/tmp/Karvelon");
};
