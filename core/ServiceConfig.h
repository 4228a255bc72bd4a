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
    int retryIntervalMsecs = 10000;  // re-registration after a dropped connection
    int wanIpTimeoutMsecs = 5000;    // each public-address request

    // The plug-ins' command socket.
    QString commandServerName = QStringLiteral("/tmp/Karvelon");
};
