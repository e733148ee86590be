#ifndef MQTTTOPICS_H
#define MQTTTOPICS_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What the service says on the broker and where: its topics under lumivox/<id>/, and the
// configurations that let Home Assistant find the projector as a device of its own. The
// topic names and payloads are documented in the README and stay as they are.
namespace mqtttopics {

constexpr char kAvailability[] = "availability"; // "online" / "offline", retained
constexpr char kPower[] = "power"; // ProjectorSession::powerName(), retained
constexpr char kContact[] = "contact"; // "ON" / "OFF", retained
constexpr char kLampHours[] = "lamp_hours"; // the first lamp's, a whole number, retained
// What the projector tells where it does (PJLink), each retained: the filter's hours, its
// error status as one JSON object of category -> "ok" / "warning" / "error", its input (the
// input command that chooses it, "other" where none does), and "ON" / "OFF" for its
// picture mute and its freeze.
constexpr char kFilterHours[] = "filter_hours";
constexpr char kErrors[] = "errors";
constexpr char kInput[] = "input";
constexpr char kMute[] = "mute";
constexpr char kFreeze[] = "freeze";
constexpr char kOtherInput[] = "other";
constexpr char kOn[] = "ON";
constexpr char kOff[] = "OFF";
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
QString topic(const QString &id, const QString &leaf);
// The leaf of a lamp's hours, counted from 0: "lamp_hours", then "lamp2_hours" ...
QString lampLeaf(int lamp);

// An id is one topic level and part of entity ids: [a-z0-9_-], 1 to 64 characters.
bool isValidId(const QString &id);
// The host name reduced to those characters ("lumivox" when nothing is left).
QString idFromHostName(const QString &hostName);

// The projector as Home Assistant shows it.
struct Device
{
    QString id;
    QString version; // Lumivox's
    // What the projector has told; empty until it has.
    QString maker;
    QString model;
    QString serialNumber;
    QString firmware;
    int lamps = 1;
    bool filterHours = false; // it tells them
    bool errors = false; // it tells its error status
    bool inputTold = false; // it tells its input: the select follows it
    QStringList sources; // the input commands it has; empty: not known, all of them
    bool mute = false; // it tells its mute: a switch
    bool freeze = false; // the same for its freeze
    // The gateway's availability topic where a gateway holds the projector; empty for a
    // service of one projector.
    QString gatewayAvailability;
};

struct Message
{
    QString topic;
    QByteArray payload;
};

// Where Home Assistant says that it has (re)started: "<prefix>/status".
QString discoveryStatusTopic(const QString &prefix);
// "<prefix>/device/lumivox_<id>/config"
QString discoveryTopic(const QString &prefix, const QString &id);
// The retained device configuration under `prefix`: the device with its components (the
// switch "Power", the sensors "Power state", "Lamp hours" (one for each lamp) and
// "Filter hours", a problem sensor for each error category, the binary sensor "Contact",
// the select "Source", the switches "Mute" and "Freeze", and a button for each other
// command, disabled until the user enables it), and where Lumivox comes from.
Message discoveryMessage(const QString &prefix, const Device &device);
// The topics of the configurations, one for each entity, that Lumivox 1.2 published:
// an empty retained message on each takes it back.
QStringList formerDiscoveryTopics(const QString &prefix, const QString &id);

} // namespace mqtttopics

#endif // MQTTTOPICS_H
