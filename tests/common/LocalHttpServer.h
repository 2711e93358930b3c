// A small HTTP server on 127.0.0.1 for download tests, served from the test's
// own event loop. Each path gives one behaviour:
//   /page.html    200 with Body()
//   /missing      404
//   /redirect     302 to /page.html
//   /huge         200 announcing 100 MB, then nothing more
//   /stream       200 without a length, BigBody() then the connection closes
//   /slow         200 announcing 100000 bytes, 1000 sent, then silence
//   /silent       no answer at all
//   /             200 with Body()
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

class LocalHttpServer : public QObject
{
public:
    LocalHttpServer()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                sockets_ << socket;
                QObject::connect(socket, &QTcpSocket::readyRead, this,
                                 [this, socket] { OnRequest(socket); });
            }
        });
    }

    bool Listening() const { return server_.isListening(); }
    QString Url(const char* path) const
    {
        return QStringLiteral("http://127.0.0.1:") + QString::number(server_.serverPort()) +
               QString::fromLatin1(path);
    }
    static QByteArray Body()
    {
        return QByteArrayLiteral("<html><head><title>T</title></head>"
                                 "<body><p>Known body</p></body></html>\n");
    }
    static QByteArray BigBody() { return QByteArray(3000, 'x'); }
    int Requests() const { return requests_; }

private:
    void OnRequest(QTcpSocket* socket)
    {
        QByteArray& buffer = pending_[socket];
        buffer += socket->readAll();
        // Not HTTP (a TLS handshake, say): hang up.
        if (!buffer.isEmpty() && !(buffer[0] >= 'A' && buffer[0] <= 'Z')) {
            buffer.clear();
            socket->abort();
            return;
        }
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        ++requests_;
        const QList<QByteArray> words = buffer.left(buffer.indexOf("\r\n")).split(' ');
        const QByteArray path = words.value(1);
        buffer.clear();
        if (path == "/page.html" || path == "/") {
            Reply(socket, "200 OK", Body());
        } else if (path == "/missing") {
            Reply(socket, "404 Not Found", "<html><body>Not here</body></html>");
        } else if (path == "/redirect") {
            socket->write("HTTP/1.1 302 Found\r\nLocation: /page.html\r\n"
                          "Content-Length: 0\r\n\r\n");
        } else if (path == "/huge") {
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                          "Content-Length: 104857600\r\n\r\n");
            socket->write(QByteArray(100, 'x'));
        } else if (path == "/stream") {
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                          "Connection: close\r\n\r\n");
            socket->write(BigBody());
            socket->disconnectFromHost();
        } else if (path == "/slow") {
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                          "Content-Length: 100000\r\n\r\n");
            socket->write(QByteArray(1000, 'y'));
            socket->flush();
        } else if (path == "/silent") {
            // Keeps the connection open and says nothing.
        } else {
            Reply(socket, "404 Not Found", "");
        }
    }

    static void Reply(QTcpSocket* socket, const char* status, const QByteArray& body)
    {
        socket->write("HTTP/1.1 " + QByteArray(status) +
                      "\r\nContent-Type: text/html\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }

    QTcpServer server_;
    QList<QPointer<QTcpSocket>> sockets_;
    QHash<QTcpSocket*, QByteArray> pending_;
    int requests_ = 0;
};
