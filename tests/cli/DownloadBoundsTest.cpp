// Downloads that a server tries to make endless: an error page or a page
// without a length that never ends, a redirect loop, a redirect to another
// kind of address. Each ends with its own reason, the first two at the size
// limit, whatever the body is.
#include "support/WebDownload.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

using namespace kestrix;

namespace {

// Answers every request by its path:
//   /endless-404  404 without a length, then body for as long as it is read
//   /endless-200  200 without a length, likewise
//   /loop         302 to itself
//   /ftp          302 to an ftp address
class HostileServer : public QObject
{
public:
    HostileServer()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Answer(socket); });
        });
    }
    QString Url(const char* path) const
    {
        return QStringLiteral("http://127.0.0.1:") + QString::number(server_.serverPort()) +
               QLatin1String(path);
    }

private:
    void Answer(QTcpSocket* socket)
    {
        const QByteArray request = socket->readAll();
        const QByteArray path = request.split(' ').value(1);
        auto endless = [socket](const char* status) {
            socket->write(QByteArray("HTTP/1.1 ") + status +
                          "\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n");
            const QByteArray chunk(64 * 1024, 'x');
            socket->write(chunk);
            connect(socket, &QTcpSocket::bytesWritten, socket, [socket, chunk] {
                if (socket->bytesToWrite() < chunk.size())
                    socket->write(chunk);
            });
        };
        if (path == "/endless-404")
            endless("404 Not Found");
        else if (path == "/endless-200")
            endless("200 OK");
        else if (path == "/loop")
            socket->write("HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n");
        else if (path == "/ftp")
            socket->write("HTTP/1.1 302 Found\r\nLocation: ftp://127.0.0.1/page.html\r\n"
                          "Content-Length: 0\r\n\r\n");
    }

    QTcpServer server_;
};

struct BoundCase
{
    const char* path;
    DownloadStatus status;
    const char* reason; // the end of the message
};

TEST(DownloadBounds, EveryEndlessOrLoopingAnswerEndsWithItsReason)
{
    HostileServer server;
    DownloadLimits limits;
    limits.maximumBytes = 4 * 1024 * 1024;
    limits.readBufferBytes = 256 * 1024;
    const BoundCase cases[] = {
        {"/endless-404", DownloadStatus::TooLarge, "The Web Page is larger than 4 MB."},
        {"/endless-200", DownloadStatus::TooLarge, "The Web Page is larger than 4 MB."},
        {"/loop", DownloadStatus::RedirectLoop, "The server redirects it round in a loop."},
        {"/ftp", DownloadStatus::RedirectElsewhere, "or to one that is not a web address)."},
    };
    for (const BoundCase& c : cases) {
        SCOPED_TRACE(c.path);
        QString local;
        const DownloadStatus status = DownloadToFile(server.Url(c.path), local, {}, {}, limits);
        EXPECT_EQ(status, c.status);
        EXPECT_TRUE(local.isEmpty());
        const QString message = DownloadFailureMessage(server.Url(c.path), status, limits);
        EXPECT_TRUE(message.startsWith(QStringLiteral("Unable to download ") + server.Url(c.path)))
            << message.toStdString();
        EXPECT_TRUE(message.endsWith(QLatin1String(c.reason))) << message.toStdString();
    }
}

} // namespace
