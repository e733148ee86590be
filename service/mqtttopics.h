#ifndef MQTTTOPICS_H
#define MQTTTOPICS_H

#include <QByteArray>
#include <QList>
#include <QString>

// What the service says on the broker and where: its topics under lumivox/<id>/, and the
// configurations that let Home Assistant find the projector as a device of its own. The
// topic names and payloads are documented in the README and stay as they are.
namespace mqtttopics {

constexpr char kAvailability[] = "availability"; // "online" / "offline", retained
constexpr char kPower[] = "power"; // ProjectorSession::powerName(), retained
constexpr char kContact[] = "contact"; // "ON" / "OFF", retained
constexpr char kLampHours[] = "lamp_hours"; // a whole number, retained
constexpr char kState[] = "state"; // one JSON object, retained
constexpr char kCommand[] = "command"; // a command name, taken from others
constexpr char kResult[] = "result"; // a command's outcome, one JSON object, not retained
// "hello <mark>" from a service that connects, "taken <mark>" from the one that serves
// the id already; not retained.
constexpr char kInstance[] = "instance";
constexpr char kOnline[] = "online";
constexpr char kOffline[] = "offline";
constexpr char kDefaultDiscoveryPrefix[] = "homeassistant";

// "lumivox/<id>/<leaf>"
QString topic(const QString &id, const char *leaf);

// An id is one topic level and part of entity ids: [a-z0-9_-], 1 to 64 characters.
bool isValidId(const QString &id);
// The host name reduced to those characters ("lumivox" when nothing is left).
QString idFromHostName(const QString &hostName);

// The projector as Home Assistant shows it.
struct Device
{
    QString id;
    QString model; // empty until the projector has told it
    QString version; // Lumivox's
};

struct Message
{
    QString topic;
    QByteArray payload;
};

// Where Home Assistant says that it has (re)started: "<prefix>/status".
QString discoveryStatusTopic(const QString &prefix);
// The retained configurations under `prefix`: the switch "Power", the sensors "Lamp hours"
// and "Power state", the binary sensor "Contact", the select "Source" and a button for
// each other command, all of one device and with the availability topic.
QList<Message> discoveryMessages(const QString &prefix, const Device &device);

} // namespace mqtttopics

#endif // MQTTTOPICS_H
