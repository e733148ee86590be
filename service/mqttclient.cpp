#include "service/mqttclient.h"

#include "platform/hostlookup.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpSocket>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#ifdef LUMIVOX_MQTT_OPENSSL
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#endif

#include <algorithm>
#include <cerrno>

namespace {
constexpr int kQos = 1;
constexpr int kHousekeeping = 1000; // ms between two keep-alive looks of the library
constexpr int kLookupPoll = 50; // ms between two looks at a name being looked up
constexpr int kNoSocket = -1;
constexpr int kMillisPerSecond = 1000;
constexpr char kSystemCertificates[] = "/etc/ssl/certs";
constexpr char kPemCertificate[] = "-----BEGIN CERTIFICATE-----";
constexpr qint64 kMaxCaFile = 16 * 1024 * 1024; // bytes: a bundle of certificates, not more

// The library is set up once for all clients of the program and let go with the last.
int libraryUsers = 0;

QString errorText(int code, int systemError)
{
    if (code == MOSQ_ERR_ERRNO)
        return qt_error_string(systemError);
    return QString::fromUtf8(mosquitto_strerror(code));
}

// Whether a loop step's code means that the connection has ended.
bool isEnd(int code)
{
    return code != MOSQ_ERR_SUCCESS && code != MOSQ_ERR_CONN_PENDING;
}

#ifdef LUMIVOX_MQTT_OPENSSL
// Notes why the broker's certificate was not accepted, for the log; the check itself is
// OpenSSL's.
int verifyPeer(int ok, X509_STORE_CTX *store)
{
    if (!ok) {
        auto *ssl = static_cast<SSL *>(
            X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        if (ssl)
            if (auto *error = static_cast<int *>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl))))
                *error = X509_STORE_CTX_get_error(store);
    }
    return ok;
}
#endif
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
    // A broker that takes no connection is found out without holding the event loop.
    probeTimer.setSingleShot(true);
    connect(&probeTimer, &QTimer::timeout, this, &MqttClient::probeFailed);
}

MqttClient::~MqttClient()
{
    dropNotifiers();
    if (handle)
        mosquitto_destroy(handle);
#ifdef LUMIVOX_MQTT_OPENSSL
    // The library holds a reference of its own while it uses the context.
    if (tls)
        SSL_CTX_free(tls);
#endif
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
    mosquitto_disconnect_v5_callback_set(handle, &MqttClient::onDisconnect);
    mosquitto_message_callback_set(handle, &MqttClient::onMessage);
    mosquitto_publish_callback_set(handle, &MqttClient::onPublish);
    mosquitto_log_callback_set(handle, &MqttClient::onLog);
    mosquitto_int_option(handle, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
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
    if (settings.tls && !configureTls(reason))
        return false;
    return true;
}

bool MqttClient::configureTls(QString *reason)
{
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
    // A file of certificates is looked at now, not at the first connection: a wrong file
    // is a mistake of the configuration that no retry mends.
    if (!settings.caFile.isEmpty()) {
        QFile file(settings.caFile);
        if (!file.open(QIODevice::ReadOnly)) {
            *reason = settings.caFile + QStringLiteral(": ") + file.errorString();
            return false;
        }
        if (!file.read(kMaxCaFile).contains(kPemCertificate)) {
            *reason = settings.caFile + QStringLiteral(": holds no certificate (PEM)");
            return false;
        }
    }
#ifdef LUMIVOX_MQTT_OPENSSL
    // A context of this program's own, so that a refused certificate is told by its
    // reason (the library says "certificate verify failed" for every one).
    tls = SSL_CTX_new(TLS_client_method());
    if (!tls) {
        *reason = QStringLiteral("TLS could not be set up");
        return false;
    }
    SSL_CTX_set_min_proto_version(tls, TLS1_2_VERSION);
    int loaded = 0;
    if (!settings.caFile.isEmpty())
        loaded = SSL_CTX_load_verify_locations(tls, settings.caFile.toLocal8Bit().constData(),
                                               nullptr);
    else if (QFileInfo(QLatin1String(kSystemCertificates)).isDir())
        loaded = SSL_CTX_load_verify_locations(tls, nullptr, kSystemCertificates);
    else
        loaded = SSL_CTX_set_default_verify_paths(tls);
    if (loaded != 1) {
        *reason = settings.caFile + QStringLiteral(": cannot be read as certificates");
        return false;
    }
    // The certificate must name the broker as --mqtt names it.
    X509_VERIFY_PARAM *check = SSL_CTX_get0_param(tls);
    const QByteArray host = settings.host.toUtf8();
    if (!QHostAddress(settings.host).isNull())
        X509_VERIFY_PARAM_set1_ip_asc(check, host.constData());
    else
        X509_VERIFY_PARAM_set1_host(check, host.constData(), size_t(host.size()));
    X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    SSL_CTX_set_verify(tls, SSL_VERIFY_PEER, &verifyPeer);
    SSL_CTX_set_app_data(tls, &certificateError);
    int code = mosquitto_void_option(handle, MOSQ_OPT_SSL_CTX, tls);
    if (code == MOSQ_ERR_SUCCESS)
        code = mosquitto_int_option(handle, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
#else
    int code = MOSQ_ERR_SUCCESS;
    // The system's store is named by its folder where there is one: libmosquitto 2.0
    // refuses every connection after the first that trusts the system's store alone.
    if (!settings.caFile.isEmpty())
        code = mosquitto_tls_set(handle, settings.caFile.toLocal8Bit().constData(), nullptr,
                                 nullptr, nullptr, nullptr);
    else if (QFileInfo(QLatin1String(kSystemCertificates)).isDir())
        code = mosquitto_tls_set(handle, nullptr, kSystemCertificates, nullptr, nullptr, nullptr);
    else
        code = mosquitto_int_option(handle, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
#endif
    if (code == MOSQ_ERR_NOT_SUPPORTED) {
        *reason = QStringLiteral("mqtts:// is not available: this build's MQTT library has "
                                 "no TLS; use mqtt://");
        return false;
    }
    if (code != MOSQ_ERR_SUCCESS) {
        *reason = settings.caFile + QStringLiteral(": cannot be read as certificates");
        return false;
    }
    return true;
}

QString MqttClient::tlsFailure() const
{
#ifdef LUMIVOX_MQTT_OPENSSL
    switch (certificateError) {
    case X509_V_OK:
        return QString();
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return QStringLiteral("the broker's certificate is for another host name than %1")
            .arg(settings.host);
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return QStringLiteral("the broker's certificate has expired");
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return QStringLiteral("the broker's certificate is not valid yet");
    default:
        return QStringLiteral("the broker's certificate is not trusted (%1)")
            .arg(QString::fromUtf8(X509_verify_cert_error_string(certificateError)));
    }
#else
    // The library says why TLS failed (OpenSSL's error) only in its log.
    return libraryTlsFailure;
#endif
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
    certificateError = 0;
    libraryTlsFailure.clear();
    attempting = true;
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
    // The library makes its connections with the properties of MQTT 5 only when it waits
    // for them. So a connection of this program's own comes first: the library's then
    // follows to a broker that has just taken one, and is made at once.
    probeAddress = address;
    probe = std::make_unique<QTcpSocket>();
    connect(probe.get(), &QTcpSocket::connected, this, &MqttClient::probed);
    connect(probe.get(), &QTcpSocket::errorOccurred, this, &MqttClient::probeFailed);
    probeTimer.start(kKeepAlive * kMillisPerSecond);
    const QHostAddress numeric(address);
    if (!numeric.isNull())
        probe->connectToHost(numeric, settings.port);
    else
        probe->connectToHost(address, settings.port);
}

void MqttClient::probeFailed()
{
    if (!probe)
        return;
    probeTimer.stop();
    const QString reason = probe->error() == QAbstractSocket::UnknownSocketError
        ? QStringLiteral("the broker took no connection within %1 s").arg(kKeepAlive)
        : probe->errorString();
    probe->disconnect(this);
    probe->abort();
    probe.release()->deleteLater();
    failed(reason);
}

void MqttClient::probed()
{
    probeTimer.stop();
    probe->disconnect(this);
    probe->abort();
    probe.release()->deleteLater();
    if (stopping) {
        finish();
        return;
    }
    mosquitto_property *properties = nullptr;
    mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE, kMaxPacket);
    const int code = mosquitto_connect_bind_v5(handle, probeAddress.toUtf8().constData(),
                                               settings.port, kKeepAlive, nullptr, properties);
    const int systemError = errno;
    mosquitto_property_free_all(&properties);
    if (code != MOSQ_ERR_SUCCESS && code != MOSQ_ERR_CONN_PENDING) {
        failed(tlsFailure().isEmpty() ? errorText(code, systemError) : tlsFailure());
        return;
    }
    watchSocket();
    keepAliveTimer.start();
}

void MqttClient::failed(const QString &reason)
{
    attempting = false;
    dropNotifiers();
    keepAliveTimer.stop();
    if (stopping) {
        finish();
        return;
    }
    const int delay = retry.next();
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
    const int code = mosquitto_loop_read(handle, 1);
    loopDone(code, errno);
}

void MqttClient::writable()
{
    // During a TLS handshake only the read step moves it on; without one it reads
    // nothing that is not there.
    int code = MOSQ_ERR_SUCCESS;
    if (settings.tls)
        code = mosquitto_loop_read(handle, 1);
    if (!isEnd(code) && mosquitto_socket(handle) != kNoSocket)
        code = mosquitto_loop_write(handle, 1);
    loopDone(code, errno);
}

void MqttClient::housekeeping()
{
    // Keep-alive pings, and the end of a connection that does not answer them (or of
    // one still being made after kKeepAlive).
    const int code = mosquitto_loop_misc(handle);
    loopDone(code, errno);
}

void MqttClient::loopDone(int code, int systemError)
{
    // A step that ended the connection without the library's callback (a failed TLS
    // handshake does) ends the attempt here, so that the next one follows.
    if (!isEnd(code) || !attempting || done) {
        watchSocket();
        return;
    }
    connectedNow = false;
    if (stopping) {
        finish();
        return;
    }
    QString reason = tlsFailure();
    if (reason.isEmpty())
        reason = lastFailure;
    if (reason.isEmpty())
        reason = errorText(code, systemError);
    failed(reason);
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

bool MqttClient::subscribe(const QString &topic, bool retainAsPublished)
{
    if (!connectedNow || stopping)
        return false;
    const int code
        = mosquitto_subscribe_v5(handle, nullptr, topic.toUtf8().constData(), kQos,
                                 retainAsPublished ? MQTT_SUB_OPT_RETAIN_AS_PUBLISHED : 0, nullptr);
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
    probeTimer.stop();
    if (probe) {
        probe->disconnect(this);
        probe->abort();
        probe.release()->deleteLater();
    }
    // However the broker behaves, the end comes after kStopWait.
    stopTimer.start(kStopWait);
    if (connectedNow && !topic.isEmpty()
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
    attempting = false;
    stopTimer.stop();
    dropNotifiers();
    keepAliveTimer.stop();
    emit finished();
}

void MqttClient::onConnect(mosquitto *, void *self, int code)
{
    auto *client = static_cast<MqttClient *>(self);
    if (code != 0) {
        // The library ends the connection next and says so to onDisconnect(). MQTT 5's
        // reason codes: "Bad User Name or Password", "Not authorized" ...
        client->lastFailure = QStringLiteral("the broker refused the connection: ")
            + QString::fromUtf8(mosquitto_reason_string(code));
        return;
    }
    client->connectedNow = true;
    client->retry.reset();
    emit client->connected();
}

void MqttClient::onDisconnect(mosquitto *, void *self, int code, const mosquitto_property *)
{
    const int systemError = errno;
    auto *client = static_cast<MqttClient *>(self);
    const bool wasConnected = client->connectedNow;
    client->connectedNow = false;
    // The socket is closed already: its number must not be watched any longer.
    client->dropNotifiers();
    if (client->stopping || !client->attempting) {
        if (client->stopping)
            client->finish();
        return;
    }
    if (code == MQTT_RC_SESSION_TAKEN_OVER) {
        // Trying again would take the id back, and the other would do the same.
        client->stopping = true;
        client->retryTimer.stop();
        emit client->takenOver();
        client->finish();
        return;
    }
    QString reason = client->tlsFailure();
    if (reason.isEmpty())
        reason = client->lastFailure;
    if (reason.isEmpty() && code == MOSQ_ERR_KEEPALIVE)
        reason = wasConnected
            ? QStringLiteral("the broker stopped answering (no reply to its keep-alive)")
            : QStringLiteral("the broker did not acknowledge the connection within %1 s")
                  .arg(kKeepAlive);
    if (reason.isEmpty() && code >= MQTT_RC_UNSPECIFIED)
        reason = QStringLiteral("the broker ended the connection: ")
            + QString::fromUtf8(mosquitto_reason_string(code));
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
    // The first error of an attempt is kept: it is the one that ended it.
    auto *client = static_cast<MqttClient *>(self);
    if (client->settings.tls && level == MOSQ_LOG_ERR && text
        && client->libraryTlsFailure.isEmpty())
        client->libraryTlsFailure = QStringLiteral("TLS: ") + QString::fromUtf8(text);
}

void MqttClient::onPublish(mosquitto *, void *self, int messageId)
{
    auto *client = static_cast<MqttClient *>(self);
    if (client->stopping && messageId == client->goodbyeId)
        // Not from inside the library's callback, where a goodbye would only be queued.
        QMetaObject::invokeMethod(client, &MqttClient::sayGoodbye, Qt::QueuedConnection);
}
