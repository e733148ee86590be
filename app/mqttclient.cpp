#include "mqttclient.h"

#include "hostlookup.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QSocketNotifier>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>

namespace {
constexpr int kQos = 1;
constexpr int kHousekeeping = 1000; // ms between two keep-alive looks of the library
constexpr int kLookupPoll = 50; // ms between two looks at a name being looked up
constexpr int kNoSocket = -1;
constexpr char kSystemCertificates[] = "/etc/ssl/certs";

// The library is set up once for all clients of the program and let go with the last.
int libraryUsers = 0;

QString errorText(int code, int systemError)
{
    if (code == MOSQ_ERR_ERRNO)
        return qt_error_string(systemError);
    return QString::fromUtf8(mosquitto_strerror(code));
}
} // namespace

MqttClient::MqttClient(QObject *parent)
    : QObject(parent)
{
    if (libraryUsers++ == 0)
        mosquitto_lib_init();
    lookupTimer.setInterval(kLookupPoll);
    connect(&lookupTimer, &QTimer::timeout, this, &MqttClient::lookUp);
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &MqttClient::attempt);
    keepAliveTimer.setInterval(kHousekeeping);
    connect(&keepAliveTimer, &QTimer::timeout, this, &MqttClient::housekeeping);
    stopTimer.setSingleShot(true);
    connect(&stopTimer, &QTimer::timeout, this, &MqttClient::finish);
}

MqttClient::~MqttClient()
{
    dropNotifiers();
    if (handle)
        mosquitto_destroy(handle);
    // The password is not left behind in freed memory.
    settings.password.fill('\0');
    if (--libraryUsers == 0)
        mosquitto_lib_cleanup();
}

bool MqttClient::configure(const Settings &wanted, QString *reason)
{
    settings = wanted;
    const QByteArray id = settings.clientId.toUtf8();
    handle = mosquitto_new(id.constData(), true, this);
    if (!handle) {
        *reason = QStringLiteral("the MQTT library could not be set up");
        return false;
    }
    mosquitto_connect_callback_set(handle, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(handle, &MqttClient::onDisconnect);
    mosquitto_message_callback_set(handle, &MqttClient::onMessage);
    mosquitto_publish_callback_set(handle, &MqttClient::onPublish);
    mosquitto_log_callback_set(handle, &MqttClient::onLog);
    mosquitto_int_option(handle, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // A command is a few bytes: it should not wait for more to fill a segment.
    mosquitto_int_option(handle, MOSQ_OPT_TCP_NODELAY, 1);

    int code = MOSQ_ERR_SUCCESS;
    if (!settings.user.isEmpty())
        code = mosquitto_username_pw_set(handle, settings.user.toUtf8().constData(),
                                         settings.password.constData());
    if (code != MOSQ_ERR_SUCCESS) {
        *reason = QStringLiteral("the user name cannot be used: ") + errorText(code, errno);
        return false;
    }
    if (!settings.willTopic.isEmpty()) {
        code = mosquitto_will_set(handle, settings.willTopic.toUtf8().constData(),
                                  int(settings.willPayload.size()),
                                  settings.willPayload.constData(), kQos, true);
        if (code != MOSQ_ERR_SUCCESS) {
            *reason = errorText(code, errno);
            return false;
        }
    }
    if (settings.tls) {
#ifdef Q_OS_WIN
        // There the library's "system's store" is only OpenSSL's default folder, never the
        // Windows certificate store: no broker could be verified without a CA file.
        if (settings.caFile.isEmpty()) {
            *reason = QStringLiteral("mqtts:// on Windows needs --mqtt-ca FILE with the CA "
                                     "certificates (PEM) of the broker's: this build cannot "
                                     "read the Windows certificate store");
            return false;
        }
#endif
        // The system's store is named by its folder where there is one: libmosquitto 2.0
        // refuses every connection after the first that trusts the system's store alone.
        if (!settings.caFile.isEmpty())
            code = mosquitto_tls_set(handle, settings.caFile.toLocal8Bit().constData(), nullptr,
                                     nullptr, nullptr, nullptr);
        else if (QFileInfo(QLatin1String(kSystemCertificates)).isDir())
            code = mosquitto_tls_set(handle, nullptr, kSystemCertificates, nullptr, nullptr,
                                     nullptr);
        else
            code = mosquitto_int_option(handle, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        if (code == MOSQ_ERR_NOT_SUPPORTED) {
            *reason = QStringLiteral("mqtts:// is not available: this build's MQTT library has "
                                     "no TLS; use mqtt://");
            return false;
        }
        if (code != MOSQ_ERR_SUCCESS) {
            *reason = settings.caFile + QStringLiteral(": cannot be read as certificates");
            return false;
        }
    }
    return true;
}

void MqttClient::connectToBroker()
{
    if (handle && !stopping)
        attempt();
}

void MqttClient::attempt()
{
    if (stopping)
        return;
    lastFailure.clear();
    // Without TLS the library is handed an address, so that it never looks a name up
    // itself: that lookup would hold the event loop for as long as the resolver takes.
    // With TLS it needs the name to check the certificate; it looks it up again, once
    // this lookup has shown that the resolver answers.
    if (!QHostAddress(settings.host).isNull()) {
        connectTo(settings.host);
        return;
    }
    lookup = std::make_unique<HostLookup>(settings.host);
    lookupClock.start();
    lookupTimer.start();
}

void MqttClient::lookUp()
{
    if (!lookup)
        return;
    if (!lookup->isFinished()) {
        if (lookupClock.hasExpired(kLookupWait)) {
            lookupTimer.stop();
            lookup.reset();
            failed(settings.host + QStringLiteral(": the name lookup took too long"));
        }
        return;
    }
    lookupTimer.stop();
    const QList<QHostAddress> addresses = lookup->addresses();
    const QString error = lookup->errorString();
    lookup.reset();
    if (addresses.isEmpty())
        failed(settings.host + QStringLiteral(": ") + error);
    else
        connectTo(settings.tls ? settings.host : addresses.constFirst().toString());
}

void MqttClient::connectTo(const QString &address)
{
    const int code
        = mosquitto_connect_async(handle, address.toUtf8().constData(), settings.port, kKeepAlive);
    const int systemError = errno;
    if (code != MOSQ_ERR_SUCCESS && code != MOSQ_ERR_CONN_PENDING) {
        // A TLS handshake can fail within the call already, when the broker answers
        // quickly; the library said why in its log.
        failed(lastFailure.isEmpty() ? errorText(code, systemError) : lastFailure);
        return;
    }
    watchSocket();
    keepAliveTimer.start();
}

void MqttClient::failed(const QString &reason)
{
    dropNotifiers();
    keepAliveTimer.stop();
    if (stopping) {
        finish();
        return;
    }
    const int delay = retryDelay;
    retryDelay = std::min(retryDelay * 2, kLastRetry);
    retryTimer.start(delay);
    emit disconnected(reason, delay);
}

void MqttClient::watchSocket()
{
    const int socket = handle ? mosquitto_socket(handle) : kNoSocket;
    if (socket == kNoSocket) {
        dropNotifiers();
        return;
    }
    if (!readNotifier || readNotifier->socket() != socket) {
        dropNotifiers();
        readNotifier = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
        connect(readNotifier.get(), &QSocketNotifier::activated, this, &MqttClient::readable);
        writeNotifier = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
        connect(writeNotifier.get(), &QSocketNotifier::activated, this, &MqttClient::writable);
    }
    writeNotifier->setEnabled(mosquitto_want_write(handle));
}

void MqttClient::dropNotifiers()
{
    // Called from a notifier's own signal too: the object goes once that has returned.
    for (std::unique_ptr<QSocketNotifier> *notifier : {&readNotifier, &writeNotifier}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->disconnect(this);
            notifier->release()->deleteLater();
        }
    }
}

void MqttClient::readable()
{
    readFromBroker();
    watchSocket();
}

void MqttClient::writable()
{
    // During a TLS handshake only the read step moves it on; without one it reads
    // nothing that is not there.
    if (settings.tls)
        readFromBroker();
    if (mosquitto_socket(handle) != kNoSocket)
        mosquitto_loop_write(handle, 1);
    watchSocket();
}

void MqttClient::readFromBroker()
{
    const int code = mosquitto_loop_read(handle, 1);
    // A failed TLS handshake (an untrusted certificate, another host's) closes the socket
    // without a word to onDisconnect(): without this it would not be tried again.
    if (code == MOSQ_ERR_TLS && mosquitto_socket(handle) == kNoSocket && !retryTimer.isActive())
        failed(lastFailure.isEmpty() ? errorText(code, 0) : lastFailure);
}

void MqttClient::housekeeping()
{
    // Keep-alive pings, and the end of a connection that does not answer them (or of
    // one still being made after kKeepAlive).
    mosquitto_loop_misc(handle);
    watchSocket();
}

bool MqttClient::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    if (!connectedNow || stopping)
        return false;
    const int code = mosquitto_publish(handle, nullptr, topic.toUtf8().constData(),
                                       int(payload.size()), payload.constData(), kQos, retain);
    watchSocket();
    return code == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const QString &topic)
{
    if (!connectedNow || stopping)
        return false;
    const int code = mosquitto_subscribe(handle, nullptr, topic.toUtf8().constData(), kQos);
    watchSocket();
    return code == MOSQ_ERR_SUCCESS;
}

void MqttClient::leave(const QString &topic, const QByteArray &payload)
{
    if (stopping)
        return;
    stopping = true;
    retryTimer.stop();
    lookupTimer.stop();
    lookup.reset();
    // However the broker behaves, the end comes after kStopWait.
    stopTimer.start(kStopWait);
    if (connectedNow
        && mosquitto_publish(handle, &goodbyeId, topic.toUtf8().constData(), int(payload.size()),
                             payload.constData(), kQos, true)
            == MOSQ_ERR_SUCCESS) {
        // The goodbye follows once the broker has taken the message (onPublish()).
        watchSocket();
        return;
    }
    QMetaObject::invokeMethod(this, &MqttClient::sayGoodbye, Qt::QueuedConnection);
}

void MqttClient::sayGoodbye()
{
    if (done)
        return;
    // A goodbye is written at once: the broker drops the last will, and the connection
    // ends with the library's callback. A connection still being made just ends.
    if (connectedNow) {
        mosquitto_disconnect(handle);
        watchSocket();
    }
    if (!done && (!connectedNow || mosquitto_socket(handle) == kNoSocket))
        finish();
}

void MqttClient::finish()
{
    if (done)
        return;
    done = true;
    connectedNow = false;
    stopTimer.stop();
    dropNotifiers();
    keepAliveTimer.stop();
    emit finished();
}

void MqttClient::onConnect(mosquitto *, void *self, int code)
{
    auto *client = static_cast<MqttClient *>(self);
    if (code != 0) {
        // The library ends the connection next and says so to onDisconnect().
        client->lastFailure = QString::fromUtf8(mosquitto_connack_string(code));
        return;
    }
    client->connectedNow = true;
    client->retryDelay = kFirstRetry;
    emit client->connected();
}

void MqttClient::onDisconnect(mosquitto *, void *self, int code)
{
    const int systemError = errno;
    auto *client = static_cast<MqttClient *>(self);
    client->connectedNow = false;
    // The socket is closed already: its number must not be watched any longer.
    client->dropNotifiers();
    if (client->stopping) {
        client->finish();
        return;
    }
    QString reason = client->lastFailure;
    if (reason.isEmpty())
        reason = code == MOSQ_ERR_SUCCESS ? QStringLiteral("the connection ended")
                                          : errorText(code, systemError);
    client->failed(reason);
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *client = static_cast<MqttClient *>(self);
    if (client->stopping || !message->topic)
        return;
    const int length = std::min(message->payloadlen, client->payloadLimit + 1);
    const QByteArray payload(static_cast<const char *>(message->payload), std::max(length, 0));
    emit client->messageReceived(QString::fromUtf8(message->topic), payload, message->retain);
}

void MqttClient::onLog(mosquitto *, void *self, int level, const char *text)
{
    // The library says why TLS failed (OpenSSL's error) only here; the first one is kept.
    auto *client = static_cast<MqttClient *>(self);
    if (level == MOSQ_LOG_ERR && text && client->lastFailure.isEmpty())
        client->lastFailure = QStringLiteral("TLS: ") + QString::fromUtf8(text);
}

void MqttClient::onPublish(mosquitto *, void *self, int messageId)
{
    auto *client = static_cast<MqttClient *>(self);
    if (client->stopping && messageId == client->goodbyeId)
        // Not from inside the library's callback, where a goodbye would only be queued.
        QMetaObject::invokeMethod(client, &MqttClient::sayGoodbye, Qt::QueuedConnection);
}
